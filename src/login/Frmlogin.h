#pragma once

#include "query/ui/FrmMain.h"

#include <QMainWindow>
#include <QPointer>

class QWebEngineProfile;
class QWebEngineView;
class WebCookieSource;

// The sign-in window: the user signs in inside the embedded browser; a page that offers
// "注销" means signed in. It stays alive, hidden, because its browser holds the web session.
class Frmlogin : public QMainWindow {
    Q_OBJECT

public:
    explicit Frmlogin(QWidget* parent = nullptr);
    ~Frmlogin() override;

    // Caption and the sign-in page.
    void start();

    QWebEngineView* Web;
    FrmMain* mainWindow() const { return m_main; }
    const WebCookieSource* cookies() const { return m_cookies; }

signals:
    // Closing this window, or leaving the main window, ends the program.
    void endProgram();
    // After each completed top-level page: "signed-in", "banned", "none" or "no-body".
    void pageChecked(const QString& verdict);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onLoadFinished(bool ok);
    void checkBody(const QVariant& body);
    void showMainWindow();

    QWebEngineProfile* m_profile;
    WebCookieSource* m_cookies;
    QPointer<FrmMain> m_main;
};
