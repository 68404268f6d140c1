#include "login/SmokeCheck.h"

#include "common/ui/Dialogs.h"
#include "login/Frmlogin.h"

#include <QCoreApplication>
#include <QWebEngineView>

#include <cstdio>

namespace {

constexpr int kDeadlineMs = 180'000;

} // namespace

bool SmokeCheck::wanted() {
    return qEnvironmentVariable("VESMORA_SMOKE") == QLatin1String("1");
}

SmokeCheck::SmokeCheck(QObject* parent) : QObject(parent) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { end(1, QStringLiteral("no sign-in page within %1 s").arg(kDeadlineMs / 1000)); });
    m_deadline.start(kDeadlineMs);
    // Before the sign-in page every message box means a failure: the update check's prompts and the
    // like. Nobody is there to answer it.
    const auto failOn = [this](const dialogs::MessageRequest& request) {
        end(1, QStringLiteral("message box: ") + request.text);
    };
    dialogs::setMessageHandler([failOn](const dialogs::MessageRequest& request) {
        failOn(request);
        return QMessageBox::Cancel;
    });
    dialogs::setAskHandler(
        [failOn](const dialogs::MessageRequest& request, const dialogs::Answer&) { failOn(request); });
}

void SmokeCheck::watch(Frmlogin* login) {
    // A page that failed to load still has a body (the browser's error page), so its own result counts.
    connect(login->Web, &QWebEngineView::loadFinished, this, [this, login](bool ok) {
        if (!ok)
            end(1, QStringLiteral("the page did not load: ") + login->Web->url().toString());
    });
    connect(login, &Frmlogin::pageChecked, this, [this, login](const QString& verdict) {
        if (verdict == QLatin1String("none"))
            end(0, QStringLiteral("sign-in page loaded: ") + login->Web->url().toString());
        else
            end(1, QStringLiteral("the sign-in page was not found; the page checked as ") + verdict);
    });
}

void SmokeCheck::end(int code, const QString& what) {
    if (m_ended)
        return;
    m_ended = true;
    std::fprintf(stderr, "smoke %s: %s\n", code == 0 ? "passed" : "failed", what.toLocal8Bit().constData());
    std::fflush(stderr);
    QCoreApplication::exit(code);
}
