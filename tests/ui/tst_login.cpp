#include "app/WorkWindows.h"
#include "common/Endpoints.h"
#include "common/ui/Dialogs.h"
#include "login/Frmlogin.h"
#include "login/WebCookieSource.h"
#include "query/QueryRun.h"
#include "query/ui/FrmMain.h"
#include "support/StandinServer.h"

#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

namespace {

// The composition the program makes of its windows.
struct Composed {
    QTemporaryDir data; // a journal of its own: nothing left from another case is offered back
    Frmlogin login;
    WorkWindows work{login.cookies(), nullptr, data.filePath(u"journal.sqlite"_s)};
    Composed() {
        QObject::connect(&login, &Frmlogin::signedIn, &work, &WorkWindows::signedIn);
        QObject::connect(&work, &WorkWindows::signInNeeded, &login, &Frmlogin::requestSignIn);
        QObject::connect(&work, &WorkWindows::signInWindowWanted, &login, &Frmlogin::bringForward);
        login.setCloseCheck([this] { return work.confirmEnd(&login); });
    }
    template <typename T> T* control(const char* name) const {
        return work.mainWindow()->findChild<T*>(QString::fromLatin1(name));
    }
};

} // namespace

// The real browser engine against the stand-in operator system.
class TestLogin : public QObject {
    Q_OBJECT

    StandinServer* m_server = nullptr;
    QStringList m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;

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
        QStandardPaths::setTestModeEnabled(true); // the main window's layout stays out of the user's folder
        m_server = new StandinServer();
        QVERIFY(m_server->isRunning());
        qputenv("VESMORA_OPERATOR_URL", m_server->baseUrl().toString().toUtf8());
        dialogs::setMessageHandler([this](const dialogs::MessageRequest& request) {
            m_messages << request.text;
            return m_answer;
        });
    }

    void cleanupTestCase() {
        delete m_server;
#ifdef Q_OS_LINUX
        // A GL driver in the process is unloaded at exit with memory the leak checker cannot name.
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY2(!mapped.contains("_dri.so"), "a GL driver was loaded by the browser tests");
#endif
    }

    void init() {
        m_messages.clear();
        m_answer = QMessageBox::Ok;
    }

    void captionAndSignInPage() {
        Frmlogin login;
        QSignalSpy checked(&login, &Frmlogin::pageChecked);
        QSignalSpy signedIn(&login, &Frmlogin::signedIn);
        login.start();
        QCOMPARE(login.windowTitle(), QStringLiteral("登录 - Vesmora V2.1.0"));
        QVERIFY(waitForVerdict(checked, QStringLiteral("none")));
        QCOMPARE(login.Web->url().path(), QStringLiteral("/ehmsexp/jsp/login/login.jsp"));
        QCOMPARE(signedIn.size(), 0);
    }

    void signInOpensMainWindowAndQueriesCarryTheSession() {
        Composed windows;
        Frmlogin& login = windows.login;
        login.show();
        QSignalSpy checked(&login, &Frmlogin::pageChecked);
        login.start();
        QVERIFY(waitForVerdict(checked, QStringLiteral("none")));
        signIn(login, QStringLiteral("demo"), QStringLiteral("demo123"));
        QVERIFY(waitForVerdict(checked, QStringLiteral("signed-in")));
        QVERIFY(windows.work.mainWindow());
        QVERIFY(windows.work.mainWindow()->isVisible());
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

        FrmMain* main = windows.work.mainWindow();
        QSignalSpy finished(main->run(), &QueryRun::finished);
        windows.control<QPlainTextEdit>("TxtZh")->setPlainText(QStringLiteral("20900000001"));
        windows.control<QPushButton>("CmdStart")->click();
        QVERIFY(finished.wait(20000));
        const auto requests = m_server->requests(QStringLiteral("/ehmsexp/rest/install/queryRmwResouceInfo"));
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.last().value(QStringLiteral("cookie")).toString(), cookie);
        QVERIFY(!windows.work.mainWindow()->rowTexts().at(0).at(6).isEmpty());

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
        windows.control<QPushButton>("CmdStart")->click();
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
        QSignalSpy signedIn(&login, &Frmlogin::signedIn);
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
        QCOMPARE(signedIn.size(), 0);
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

    // Before sign-in a close ends the program; once the main window is there it asks, and No keeps
    // the login window. "重新登录" in the pause frame calls it forward.
    void closingAsksOnceSignedIn_data() {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("asked");
        const QStringList question{u"是否确认退出"_s};
        QTest::newRow("before sign-in") << false << int(QMessageBox::No) << QStringList();
        QTest::newRow("signed in, No") << true << int(QMessageBox::No) << question;
        QTest::newRow("signed in, Yes") << true << int(QMessageBox::Yes) << question;
    }
    void closingAsksOnceSignedIn() {
        QFETCH(bool, signedIn);
        QFETCH(int, answer);
        QFETCH(QStringList, asked);
        Composed windows;
        windows.login.show();
        if (signedIn) {
            windows.work.signedIn();
            windows.login.hide();
            windows.control<QPushButton>("CmdSignIn")->click();
            QVERIFY(windows.login.isVisible());
        }
        m_answer = QMessageBox::StandardButton(answer);
        QSignalSpy end(&windows.login, &Frmlogin::endProgram);
        const bool ends = answer == QMessageBox::Yes || !signedIn;
        QCOMPARE(windows.login.close(), ends);
        QCOMPARE(windows.login.isVisible(), !ends);
        QCOMPARE(end.size(), ends ? 1 : 0);
        // The end of the program closes the main window too; it does not ask again.
        if (signedIn && ends)
            QVERIFY(windows.work.mainWindow()->close());
        QCOMPARE(m_messages, asked);
    }

    // The session ends mid-run: the run holds at the row, the login window comes forward with the
    // sign-in page, and a new sign-in lets the run go on from that very lookup with the new cookie.
    void lostSessionResumesAfterANewSignIn() {
        StandinServer server({u"--session-lookups"_s, u"5"_s});
        QVERIFY(server.isRunning());
        const QByteArray previous = qgetenv("VESMORA_OPERATOR_URL");
        qputenv("VESMORA_OPERATOR_URL", server.baseUrl().toString().toUtf8());
        Composed windows;
        Frmlogin& login = windows.login;
        login.show();
        QSignalSpy checked(&login, &Frmlogin::pageChecked);
        login.start();
        QVERIFY(waitForVerdict(checked, u"none"_s));
        signIn(login, u"demo"_s, u"demo123"_s);
        QVERIFY(waitForVerdict(checked, u"signed-in"_s));
        const QUrl lookup = endpoints::resourceLookup();
        QTRY_VERIFY(!login.cookies()->cookieHeaderFor(lookup).isEmpty());
        const QString first = login.cookies()->cookieHeaderFor(lookup);

        FrmMain* main = windows.work.mainWindow();
        QSignalSpy finished(main->run(), &QueryRun::finished);
        QSignalSpy lost(main->run(), &QueryRun::sessionLost);
        const QStringList accounts{u"20900000051"_s, u"20900000052"_s, u"20900000053"_s, u"20900000054"_s,
                                   u"20900000055"_s};
        windows.control<QComboBox>("COBNUM")->setCurrentText(u"200"_s);
        windows.control<QPlainTextEdit>("TxtZh")->setPlainText(accounts.join(u'\n'));
        windows.control<QPushButton>("CmdStart")->click();

        // Five lookups, then the third row's power lookup meets the sign-in page.
        QVERIFY(lost.wait(20000));
        QCOMPARE(lost.first().at(0).toInt(), 2);
        QVERIFY(windows.control<QLabel>("LabSession")->isVisible());
        QVERIFY(windows.control<QPushButton>("CmdStop")->isEnabled());
        QTRY_VERIFY(login.isVisible());
        // The reason in a line above the browser, which keeps its size; the caption stays.
        QVERIFY(login.LabNotice->isVisible());
        QCOMPARE(login.LabNotice->text(), u"登录已失效，请重新登录，查询将自动继续"_s);
        QCOMPARE(login.Web->size(), QSize(966, 686));
        QVERIFY(login.LabNotice->geometry().bottom() < login.Web->geometry().top());
        QCOMPARE(login.windowTitle(), u"登录 - Vesmora V2.1.0"_s);
        const int from = int(checked.size());
        QVERIFY(waitForVerdict(checked, u"none"_s, from - 1));
        QCOMPARE(login.Web->url().path(), u"/ehmsexp/jsp/login/login.jsp"_s);
        QVERIFY(finished.isEmpty());
        // No to leaving keeps the login window and the waiting run.
        m_answer = QMessageBox::No;
        QVERIFY(!login.close());
        QVERIFY(login.isVisible());
        QVERIFY(main->run()->awaitsSignIn());

        signIn(login, u"demo"_s, u"demo123"_s);
        QVERIFY(finished.wait(20000));
        qputenv("VESMORA_OPERATOR_URL", previous);
        QCOMPARE(finished.first().at(0).toString(), QueryRun::finishedMessage());
        QVERIFY(!login.isVisible());
        QVERIFY(login.LabNotice->isHidden());
        QCOMPARE(login.centralWidget()->size(), QSize(972, 697));
        QVERIFY(!windows.control<QFrame>("Frame1")->isVisible());
        const QString second = login.cookies()->cookieHeaderFor(lookup);
        QVERIFY(second != first);

        // Every account answered once by each lookup; the old cookie up to the refused request,
        // the new one from its repetition on.
        QList<QJsonObject> lookups;
        for (const QJsonObject& entry : server.requests()) {
            if (entry[u"path"_s].toString().startsWith(u"/ehmsexp/rest/"_s))
                lookups << entry;
        }
        QStringList answered;
        int refused = -1;
        for (int i = 0; i < lookups.size(); ++i) {
            const QString account = lookups[i][u"body"_s].toString().section(u'&', 0, 0).mid(6);
            if (lookups[i][u"status"_s].toInt() == 200)
                answered << lookups[i][u"path"_s].toString().section(u'/', -1) + u' ' + account;
            else
                refused = i;
            QCOMPARE(lookups[i][u"cookie"_s].toString(), refused >= 0 && i > refused ? second : first);
        }
        QCOMPARE(refused, 5);
        QStringList expected;
        for (const QString& account : accounts)
            expected << u"queryRmwResouceInfo "_s + account << u"queryPowerInfo "_s + account;
        QCOMPARE(answered, expected);
        for (int row = 0; row < accounts.size(); ++row)
            QVERIFY(!windows.work.mainWindow()->rowTexts().at(row).at(2).isEmpty());
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
