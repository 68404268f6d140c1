#include "app/PromptLog.h"

#include "common/ui/Dialogs.h"

#include <QCoreApplication>
#include <QFile>

using namespace Qt::StringLiterals;

namespace prompt_log {

namespace {

QString wanted() {
    return qEnvironmentVariable("VESMORA_PROMPT_LOG");
}

void append(const QString& path, const QString& line) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((line + u'\n').toUtf8());
}

} // namespace

void startIfWanted() {
    const QString path = wanted();
    if (path.isEmpty())
        return;
    dialogs::setMessageHandler([path](const dialogs::MessageRequest& request) {
        append(path, u"message: "_s + request.text);
        return QMessageBox::No;
    });
    dialogs::setOpenHandler([path](const QUrl& url) { append(path, u"open: "_s + url.toString()); });
}

bool endAtLogin() {
    const QString path = wanted();
    if (path.isEmpty())
        return false;
    append(path, u"login"_s);
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return true;
}

} // namespace prompt_log
