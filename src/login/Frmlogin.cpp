#include "login/Frmlogin.h"

#include "common/Endpoints.h"
#include "common/Version.h"
#include "common/ui/Dialogs.h"
#include "login/WebCookieSource.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

const QString kSignedInMarker = QStringLiteral("注销");

} // namespace

Frmlogin::Frmlogin(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      // Off the record: the session lives in memory only and is never written to disk.
      m_profile(new QWebEngineProfile(this)), m_cookies(new WebCookieSource(m_profile->cookieStore(), this)) {
    auto* mnuweb = menuBar()->addAction(QStringLiteral("官网(&W)"));
    connect(mnuweb, &QAction::triggered, this, [] { dialogs::openExternally(endpoints::vendorSite()); });

    auto* central = new QWidget(this);
    Web = new QWebEngineView(central);
    Web->setPage(new QWebEnginePage(m_profile, Web));
    Web->setGeometry(0, 3, 966, 686);
    setCentralWidget(central);
    central->setFixedSize(972, 697);
    connect(Web, &QWebEngineView::loadFinished, this, &Frmlogin::onLoadFinished);
}

Frmlogin::~Frmlogin() {
    // The page must go before the profile it was made with.
    delete Web;
}

void Frmlogin::start() {
    setWindowTitle(QStringLiteral("登录 - Vesmora V") + installedVersion());
    Web->load(endpoints::signInPage());
}

void Frmlogin::requestSignIn() {
    Web->load(endpoints::signInPage());
    bringForward();
}

void Frmlogin::bringForward() {
    show();
    raise();
    activateWindow();
}

// Only the top-level document reports here; frames inside a page never do.
void Frmlogin::onLoadFinished(bool) {
    Web->page()->runJavaScript(QStringLiteral("document.body ? document.body.innerHTML : null"),
                               [self = QPointer<Frmlogin>(this)](const QVariant& body) {
                                   if (self)
                                       self->checkBody(body);
                               });
}

void Frmlogin::checkBody(const QVariant& body) {
    if (!body.isValid() || body.isNull() || body.typeId() != QMetaType::QString) {
        emit pageChecked(QStringLiteral("no-body"));
        return;
    }
    const QString markup = body.toString();
    if (markup.contains(kSignedInMarker)) {
        // Hidden first: whoever takes the sign-in may call the window forward again.
        hide();
        emit signedIn();
        emit pageChecked(QStringLiteral("signed-in"));
        return;
    }
    if (markup.isEmpty()) {
        emit pageChecked(QStringLiteral("banned"));
        dialogs::message(this, QMessageBox::Information, QStringLiteral("帐号被封禁，请更换帐号!"));
        Web->load(endpoints::signInPage());
        return;
    }
    emit pageChecked(QStringLiteral("none"));
}

void Frmlogin::closeEvent(QCloseEvent* event) {
    if (m_closeCheck && !m_closeCheck()) {
        event->ignore();
        return;
    }
    event->accept();
    emit endProgram();
}
