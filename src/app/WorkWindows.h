#pragma once

#include <QObject>

#include <memory>

class CookieSource;
class FrmMain;

// The windows after the update check, without the sign-in window: the program connects its login
// window to signedIn() and signInNeeded(); a build without the browser calls signedIn() at once.
class WorkWindows : public QObject {
    Q_OBJECT

public:
    explicit WorkWindows(const CookieSource* cookies, QObject* parent = nullptr);
    ~WorkWindows() override;

    // A signed-in page: the main window opens (an open one stays as it is) and a run waiting for
    // a new session goes on.
    void signedIn();
    FrmMain* mainWindow() const { return m_main.get(); }

signals:
    // The run met the sign-in page.
    void signInNeeded();
    // The user confirmed leaving the main window.
    void endProgram();

private:
    const CookieSource* m_cookies;
    std::unique_ptr<FrmMain> m_main;
};
