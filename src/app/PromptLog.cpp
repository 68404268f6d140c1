#include "app/PromptLog.h"

#include "common/ui/Dialogs.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace prompt_log {

namespace {

void append(const QString& path, const QString& line) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((line + u'\n').toUtf8());
}

} // namespace

QString wanted() {
    return qEnvironmentVariable("VESMORA_PROMPT_LOG");
}

void start(const QString& path) {
    dialogs::setMessageHandler([path](const dialogs::MessageRequest& request) {
        append(path, u"message: "_s + request.text);
        return QMessageBox::No;
    });
    dialogs::setOpenHandler([path](const QUrl& url) { append(path, u"open: "_s + url.toString()); });
}

void loginReached(const QString& path) {
    append(path, u"login"_s);
}

} // namespace prompt_log
