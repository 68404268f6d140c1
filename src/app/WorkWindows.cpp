#include "app/WorkWindows.h"

#include "common/ui/WindowKit.h"
#include "query/ui/FrmMain.h"

WorkWindows::WorkWindows(const CookieSource* cookies, QObject* parent)
    : QObject(parent), m_cookies(cookies) {}

WorkWindows::~WorkWindows() = default;

void WorkWindows::signedIn() {
    if (!m_main) {
        m_main = std::make_unique<FrmMain>(m_cookies);
        connect(m_main.get(), &FrmMain::programEndRequested, this, &WorkWindows::endProgram);
        connect(m_main.get(), &FrmMain::signInNeeded, this, &WorkWindows::signInNeeded);
        connect(m_main.get(), &FrmMain::signInWindowWanted, this, &WorkWindows::signInWindowWanted);
        centreOnScreen(m_main.get());
    }
    if (!m_main->isVisible()) {
        m_main->show();
        m_main->raise();
        m_main->activateWindow();
    }
    m_main->sessionRenewed();
}

bool WorkWindows::confirmEnd(QWidget* asker) {
    return !m_main || m_main->confirmExit(asker);
}
