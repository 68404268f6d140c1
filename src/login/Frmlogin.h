#pragma once

#include <QMainWindow>

#include <functional>

class QWebEngineProfile;
class QWebEngineView;
class WebCookieSource;

// The sign-in window: the user signs in inside the embedded browser; a page that offers
// "注销" means signed in. It stays alive, hidden, because its browser holds the web session whose
// cookies cookies() gives.
class Frmlogin : public QMainWindow {
    Q_OBJECT

public:
    explicit Frmlogin(QWidget* parent = nullptr);
    ~Frmlogin() override;

    // Caption and the sign-in page.
    void start();
    // The session has ended: the window comes forward with the sign-in page loaded afresh.
    void requestSignIn();
    // The window comes forward as it is, for the user to sign out and in again.
    void bringForward();
    // Asked when the user closes the window; false keeps it open. Without it a close ends the
    // program at once.
    void setCloseCheck(std::function<bool()> check) { m_closeCheck = std::move(check); }

    QWebEngineView* Web;
    const WebCookieSource* cookies() const { return m_cookies; }

signals:
    // Closing this window ends the program.
    void endProgram();
    // A completed top-level page shows "注销"; the window has hidden itself.
    void signedIn();
    // After each completed top-level page: "signed-in", "banned", "none" or "no-body".
    void pageChecked(const QString& verdict);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onLoadFinished(bool ok);
    void checkBody(const QVariant& body);

    QWebEngineProfile* m_profile;
    WebCookieSource* m_cookies;
    std::function<bool()> m_closeCheck;
};
