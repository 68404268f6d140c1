#include "common/Endpoints.h"
#include "common/ui/Dialogs.h"
#include "login/Frmlogin.h"
#include "login/WebCookieSource.h"
#include "query/QueryRun.h"
#include "query/ui/FrmMain.h"
#include "support/StandinServer.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>

// The real browser engine against the stand-in operator system.
class TestLogin : public QObject {
    Q_OBJECT

    StandinServer* m_server = nullptr;
    QStringList m_messages;

    static void signIn(Frmlogin& login, const QString& user, const QString& password) {
        const QString script =
            QStringLiteral("(function(){var u=document.querySelector('input[type=text],input:not([type])');"
                           "var p=document.querySelector('input[type=password]');"
                           "u.value='%1';p.value='%2';(p.form||document.forms[0]).submit();})()")
                .arg(user, password);
        login.Web->page()->runJavaScript(script);
    }

    // Waits for a verdict among the checks after the first `from` ones.
    static bool waitForVerdict(QSignalSpy& spy, const QString& verdict, int from = 0, int timeoutMs = 15000) {
        QDeadlineTimer deadline(timeoutMs);
        int seen = from;
        while (!deadline.hasExpired()) {
            for (; seen < spy.size(); ++seen)
                if (spy.at(seen).at(0).toString() == verdict)
                    return true;
            spy.wait(200);
        }
        return false;
    }

private slots:
    void initTestCase() {
        m_server = new StandinServer();
        QVERIFY(m_server->isRunning());
        qputenv("VESMORA_OPERATOR_URL", m_server->baseUrl().toString().toUtf8());
        dialogs::setMessageHandler([this](const dialogs::MessageRequest& request) {
            m_messages << request.text;
            return QMessageBox::Ok;
        });
    }

    void cleanupTestCase() { delete m_server; }

    void init() { m_messages.clear(); }

    void captionAndSignInPage() {
        Frmlogin login;
        QSignalSpy checked(&login, &Frmlogin::pageChecked);
        login.start();
        QCOMPARE(login.windowTitle(), QStringLiteral("登录 - Vesmora V2.1.0"));
        QVERIFY(waitForVerdict(checked, QStringLiteral("none")));
        QCOMPARE(login.Web->url().path(), QStringLiteral("/ehmsexp/jsp/login/login.jsp"));
        QVERIFY(!login.mainWindow());
    }

    void signInOpensMainWindowAndQueriesCarryTheSession() {
        Frmlogin login;
        login.show();
        QSignalSpy checked(&login, &Frmlogin::pageChecked);
        login.start();
        QVERIFY(waitForVerdict(checked, QStringLiteral("none")));
        signIn(login, QStringLiteral("demo"), QStringLiteral("demo123"));
        QVERIFY(waitForVerdict(checked, QStringLiteral("signed-in")));
        QVERIFY(login.mainWindow());
        QVERIFY(login.mainWindow()->isVisible());
        QVERIFY(!login.isVisible());

        // One completed top-level page each: the sign-in page and the signed-in page, whatever
        // frames the latter holds.
        QTest::qWait(1500);
        QCOMPARE(checked.size(), 2);

        const QUrl lookup = endpoints::resourceLookup();
        QTRY_VERIFY_WITH_TIMEOUT(
            login.cookies()->cookieHeaderFor(lookup).contains(QStringLiteral("JSESSIONID=")), 5000);
        const QString cookie = login.cookies()->cookieHeaderFor(lookup);
        // The session cookie is HttpOnly; it is never offered to another host.
        QVERIFY(login.cookies()
                    ->cookieHeaderFor(QUrl(QStringLiteral("http://example.invalid/ehmsexp/")))
                    .isEmpty());

        FrmMain* main = login.mainWindow();
        QSignalSpy finished(main->run(), &QueryRun::finished);
        main->TxtZh->setPlainText(QStringLiteral("20900000001"));
        main->CmdStart->click();
        QVERIFY(finished.wait(20000));
        const auto requests = m_server->requests(QStringLiteral("/ehmsexp/rest/install/queryRmwResouceInfo"));
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.last().value(QStringLiteral("cookie")).toString(), cookie);
        QVERIFY(!main->LstV->topLevelItem(0)->text(6).isEmpty());

        // Signing in again inside the hidden browser changes the cookie of the next request.
        int from = checked.size();
        login.Web->load(endpoints::signInPage());
        QVERIFY(waitForVerdict(checked, QStringLiteral("none"), from));
        from = checked.size();
        signIn(login, QStringLiteral("demo2"), QStringLiteral("demo123"));
        QVERIFY(waitForVerdict(checked, QStringLiteral("signed-in"), from));
        QTRY_VERIFY_WITH_TIMEOUT(login.cookies()->cookieHeaderFor(lookup) != cookie, 5000);
        const QString second = login.cookies()->cookieHeaderFor(lookup);
        QVERIFY(second.contains(QStringLiteral("JSESSIONID=")));
        QCOMPARE(second.count(QStringLiteral("JSESSIONID=")), 1);
        main->CmdStart->click();
        QVERIFY(finished.wait(20000));
        QCOMPARE(m_server->requests(QStringLiteral("/ehmsexp/rest/install/queryRmwResouceInfo"))
                     .last()
                     .value(QStringLiteral("cookie"))
                     .toString(),
                 second);
    }

    void bannedAccountGoesBackToSignIn() {
        Frmlogin login;
        login.show();
        QSignalSpy checked(&login, &Frmlogin::pageChecked);
        login.start();
        QVERIFY(waitForVerdict(checked, QStringLiteral("none")));
        const int before = checked.size();
        signIn(login, QStringLiteral("banned"), QStringLiteral("demo123"));
        QVERIFY(waitForVerdict(checked, QStringLiteral("banned")));
        QCOMPARE(m_messages, QStringList{QStringLiteral("帐号被封禁，请更换帐号!")});
        // Back on the sign-in page, and no main window.
        QTRY_VERIFY_WITH_TIMEOUT(checked.size() > before + 1, 10000);
        QCOMPARE(checked.last().at(0).toString(), QStringLiteral("none"));
        QCOMPARE(login.Web->url().path(), QStringLiteral("/ehmsexp/jsp/login/login.jsp"));
        QVERIFY(!login.mainWindow());
        QVERIFY(login.isVisible());
    }

    void closingEndsTheProgram() {
        Frmlogin login;
        login.show();
        QSignalSpy end(&login, &Frmlogin::endProgram);
        login.close();
        QCOMPARE(end.size(), 1);
        QVERIFY(m_messages.isEmpty());
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
