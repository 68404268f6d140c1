#pragma once

#include <QMainWindow>

#include <functional>

class QLabel;
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
    // The session has ended: the window comes forward with the sign-in page loaded afresh and a
    // notice above the browser that says why; the notice goes with the next sign-in.
    void requestSignIn();
    // The window comes forward as it is, for the user to sign out and in again.
    void bringForward();
    // Asked when the user closes the window; false keeps it open. Without it a close ends the
    // program at once.
    void setCloseCheck(std::function<bool()> check) { m_closeCheck = std::move(check); }

    QWebEngineView* Web;
    QLabel* LabNotice; // "登录已失效，请重新登录，查询将自动继续"
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
    // The notice takes a line above the browser, which keeps its place and size below it.
    void showNotice(bool shown);

    QWidget* m_central;
    QWebEngineProfile* m_profile;
    WebCookieSource* m_cookies;
    std::function<bool()> m_closeCheck;
};
