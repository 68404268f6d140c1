#include "login/Frmlogin.h"

#include "common/Endpoints.h"
#include "common/Version.h"
#include "common/ui/Dialogs.h"
#include "common/ui/WindowKit.h"
#include "login/WebCookieSource.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

const QString kSignedInMarker = QStringLiteral("注销");
constexpr QSize kClientSize{972, 697};
constexpr QRect kWebPlace{0, 3, 966, 686};
constexpr int kNoticeHeight = 24;

} // namespace

Frmlogin::Frmlogin(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      // Off the record: the session lives in memory only and is never written to disk.
      m_central(new QWidget(this)), m_profile(new QWebEngineProfile(this)),
      m_cookies(new WebCookieSource(m_profile->cookieStore(), this)) {
    auto* mnuweb = menuBar()->addAction(QStringLiteral("官网(&W)"));
    connect(mnuweb, &QAction::triggered, this, [] { dialogs::openExternally(endpoints::vendorSite()); });

    Web = new QWebEngineView(m_central);
    Web->setPage(new QWebEnginePage(m_profile, Web));
    LabNotice = makeLabel(m_central, QStringLiteral("LabNotice"),
                          QStringLiteral("登录已失效，请重新登录，查询将自动继续"),
                          QRect(0, 0, kClientSize.width(), kNoticeHeight));
    LabNotice->setAlignment(Qt::AlignCenter);
    LabNotice->setAutoFillBackground(true);
    QPalette notice = LabNotice->palette();
    notice.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xCE));
    notice.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
    LabNotice->setPalette(notice);
    setCentralWidget(m_central);
    showNotice(false);
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
    showNotice(true);
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
        // Called forward again at once: that session is still refused, and the notice stays.
        if (isHidden())
            showNotice(false);
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

void Frmlogin::showNotice(bool shown) {
    const int top = shown ? kNoticeHeight : 0;
    LabNotice->setVisible(shown);
    Web->setGeometry(kWebPlace.translated(0, top));
    m_central->setFixedSize(kClientSize + QSize(0, top));
    adjustSize();
}

void Frmlogin::closeEvent(QCloseEvent* event) {
    if (m_closeCheck && !m_closeCheck()) {
        event->ignore();
        return;
    }
    event->accept();
    emit endProgram();
}
