#include "common/ErrorText.h"
#include "common/ProgramFolder.h"
#include "common/ui/Dialogs.h"
#include "handover/Locks.h"
#include "handover/Names.h"
#include "handover/UpdateOutcome.h"
#include "support/StandinServer.h"
#include "update_client/UpdateCheck.h"
#include "update_client/ui/FrmUpDate.h"
#include "update_client/ui/SingleInstance.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString kVendor = u"https://vendor.example.invalid/soft/"_s;

void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestUpdateWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<StandinServer> m_server;
    QList<dialogs::MessageRequest> m_messages;
    QList<QUrl> m_opened;
    QMessageBox::StandardButton m_answer = QMessageBox::No;

    QString inFolder(const QString& name) const { return QDir(m_folder->path()).filePath(name); }

    bool startServer(const QStringList& flags) {
        m_server = std::make_unique<StandinServer>(flags);
        qputenv("VESMORA_UPDATE_URL", m_server->baseUrl().toString().toUtf8());
        return m_server->isRunning();
    }

    template <typename T> static T* child(FrmUpDate& window, const QString& name) {
        return window.findChild<T*>(name);
    }

private slots:
    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        setProgramFolderOverride(m_folder->path());
        m_data = std::make_unique<QTemporaryDir>();
        handover::setDataFolderOverride(m_data->path());
        qputenv("VESMORA_VENDOR_URL", kVendor.toUtf8());
        m_messages.clear();
        m_opened.clear();
        m_answer = QMessageBox::No;
        dialogs::setMessageHandler([this](const dialogs::MessageRequest& request) {
            m_messages << request;
            return m_answer;
        });
        dialogs::setOpenHandler([this](const QUrl& url) { m_opened << url; });
    }

    void cleanup() {
        dialogs::setMessageHandler(nullptr);
        dialogs::setOpenHandler(nullptr);
        setProgramFolderOverride(QString());
        handover::setDataFolderOverride(QString());
        m_server.reset();
    }

    // What the updater records after an update of 2.1.1 that it put back.
    static handover::UpdateOutcome failedAt(qint64 secondsAgo, bool told) {
        return {u"2.1.1"_s,
                handover::UpdateOutcome::Result::RolledBack,
                u"data/x.txt"_s,
                u"无法替换文件 data/x.txt：拒绝访问"_s,
                QDateTime::currentDateTimeUtc().addSecs(-secondsAgo),
                told};
    }

    bool fetchedAnything() const {
        const auto requests = m_server->requests();
        return std::any_of(requests.begin(), requests.end(), [](const QJsonObject& request) {
            return request.value(u"path"_s).toString().startsWith(u"/soft/uploads/"_s);
        });
    }

    void equalVersionsGoOnToLogin_data() {
        QTest::addColumn<QString>("status");
        QTest::newRow("success") << u"success"_s;
        // Only the exact word "error" is a refusal.
        QTest::newRow("capital Error") << u"Error"_s;
        QTest::newRow("number") << u"0"_s;
    }
    void equalVersionsGoOnToLogin() {
        QFETCH(QString, status);
        QVERIFY(startServer({u"--update-version"_s, u"2.1.0"_s, u"--update-status"_s, status}));
        touch(inFolder(u"update.ini"_s));
        touch(inFolder(u"UpDate.exe"_s));
        touch(inFolder(u"update"_s));
        touch(inFolder(u"update.dat"_s));

        FrmUpDate window;
        QSignalSpy login(&window, &FrmUpDate::proceedToLogin);
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QVERIFY(window.isVisible());
        QCOMPARE(child<QLabel>(window, u"labzt"_s)->text(), u"正在获取版本信息……"_s);
        QCOMPARE(child<QLabel>(window, u"LabOldVer"_s)->text(), u"V2.1.0"_s);
        QVERIFY(!QFile::exists(inFolder(u"update.ini"_s)));

        QTRY_COMPARE(login.size(), 1);
        QTest::qWait(20);
        QCOMPARE(end.size(), 0);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!window.isVisible());
        QCOMPARE(child<QLabel>(window, u"LabNewVer"_s)->text(), u"V2.1.0"_s);
#ifdef Q_OS_WIN
        // There only "update.exe" is an updater; a file named "update" is not a program.
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), (QStringList{u"update"_s, u"update.dat"_s}));
#else
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList{u"update.dat"_s});
#endif

        const auto requests = m_server->requests(u"/soft/api/update.asp"_s);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value(u"method"_s).toString(), u"POST"_s);
        QCOMPARE(requests.first().value(u"body"_s).toString(), u"softwarename=vesmora"_s);
        QCOMPARE(requests.first().value(u"content_type"_s).toString(),
                 u"application/x-www-form-urlencoded;charset=utf-8"_s);
        QCOMPARE(requests.first().value(u"user_agent"_s).toString(), u"vesmora-Software Client"_s);
    }

    // Each prompt written out as the user reads it.
    void failuresShowTheirPrompt_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("timeoutMs");  // per phase
        QTest::addColumn<int>("deadlineMs"); // the whole exchange
        QTest::addColumn<QString>("prompt");
        const QString lookup = u"自动更新失败!\r\n\r\n对象不支持该属性或方法\r\n\r\n是否要到网站手工下载?"_s;
        const QString empty = u"自动更新失败!\r\n\r\n\r\n\r\n是否要到网站手工下载?"_s;
        const QString timedOut = u"自动更新失败!\r\n\r\n操作超时\r\n\r\n是否要到网站手工下载?"_s;
        const int wait = UpdateCheck::kDefaultTimeoutMs;
        const int whole = UpdateCheck::kDeadlineMs;
        QTest::newRow("refusal") << QStringList{u"--update-fault"_s, u"error"_s, u"--update-message"_s,
                                                u"服务器维护中"_s}
                                 << wait << whole
                                 << u"自动更新失败!\r\n服务器维护中\r\n\r\n是否要到网站手工下载?"_s;
        QTest::newRow("missing status")
            << QStringList{u"--update-fault"_s, u"missing-status"_s} << wait << whole << lookup;
        QTest::newRow("missing version")
            << QStringList{u"--update-fault"_s, u"missing-version"_s} << wait << whole << lookup;
        QTest::newRow("missing files")
            << QStringList{u"--update-fault"_s, u"missing-files"_s} << wait << whole << lookup;
        QTest::newRow("missing notes")
            << QStringList{u"--update-fault"_s, u"missing-notes"_s} << wait << whole << lookup;
        QTest::newRow("null version") << QStringList{u"--update-fault"_s, u"null-version"_s} << wait << whole
                                      << u"自动更新失败!\r\n\r\n无效使用 Null\r\n\r\n是否要到网站手工下载?"_s;
        QTest::newRow("not json") << QStringList{u"--update-fault"_s, u"not-json"_s} << wait << whole
                                  << empty;
        QTest::newRow("http 500") << QStringList{u"--update-fault"_s, u"http500"_s} << wait << whole << empty;
        QTest::newRow("no answer") << QStringList{u"--update-fault"_s, u"no-answer"_s} << 500 << whole
                                   << timedOut;
        // Every byte resets the per-phase time-out; the deadline still ends the exchange.
        QTest::newRow("trickling reply")
            << QStringList{u"--update-fault"_s, u"trickle"_s, u"--trickle-ms"_s, u"100"_s} << wait << 1000
            << timedOut;
        // A differing version with nothing to download ends without an error description.
        QTest::newRow("newer, no files")
            << QStringList{u"--update-version"_s, u"2.1.1"_s} << wait << whole << empty;
        QTest::newRow("downgrade") << QStringList{u"--update-version"_s, u"2.0.9"_s} << wait << whole
                                   << empty;
        QTest::newRow("spelled differently")
            << QStringList{u"--update-version"_s, u"2.1.00"_s} << wait << whole << empty;
    }
    void failuresShowTheirPrompt() {
        QFETCH(QStringList, flags);
        QFETCH(int, timeoutMs);
        QFETCH(int, deadlineMs);
        QFETCH(QString, prompt);
        QVERIFY(startServer(flags));
        touch(inFolder(u"update.exe"_s));

        FrmUpDate window;
        window.setRequestTimeout(timeoutMs);
        window.setRequestDeadline(deadlineMs);
        QSignalSpy login(&window, &FrmUpDate::proceedToLogin);
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QTRY_COMPARE_WITH_TIMEOUT(end.size(), 1, 30000);
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text, prompt);
        QCOMPARE(m_messages.first().icon, QMessageBox::Question);
        QCOMPARE(m_messages.first().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(m_messages.first().title, u"Vesmora"_s);
        QVERIFY(m_opened.isEmpty()); // answered No
        QCOMPARE(login.size(), 0);
        // The leftover updater goes only when there is nothing to install.
        QVERIFY(QFile::exists(inFolder(u"update.exe"_s)));
    }

    // The start after a failed install says why, once, and goes on with the installed version
    // without asking the server.
    void failedInstallIsToldOnce_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QList<QUrl>>("opened");
        QTest::newRow("否") << QMessageBox::No << QList<QUrl>{};
        QTest::newRow("是 opens the vendor site") << QMessageBox::Yes << QList<QUrl>{QUrl(kVendor)};
    }
    void failedInstallIsToldOnce() {
        QFETCH(QMessageBox::StandardButton, answer);
        m_answer = answer;
        QVERIFY(startServer({u"--update-version"_s, u"2.1.1"_s, u"--update-files"_s, u"main.new"_s}));
        QVERIFY(handover::writeOutcome(m_folder->path(), failedAt(60, false)));
        for (int start = 0; start < 2; ++start) {
            FrmUpDate window;
            QSignalSpy login(&window, &FrmUpDate::proceedToLogin);
            window.start();
            QTRY_COMPARE(login.size(), 1);
        }
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text,
                 u"自动更新失败!\r\n\r\n无法替换文件 data/x.txt：拒绝访问\r\n\r\n是否要到网站手工下载?"_s);
        QCOMPARE(m_messages.first().buttons, QMessageBox::Yes | QMessageBox::No);
        QTEST(m_opened, "opened");
        // The second start asked the server, and fetched nothing of the version that failed.
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(handover::readOutcome(m_folder->path())->told, true);
    }

    // A version whose install failed waits a day; any other is fetched at once.
    void failedVersionWaitsADay_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("fetched");
        const int rolledBack = int(handover::UpdateOutcome::Result::RolledBack);
        QTest::newRow("a minute short of a day") << rolledBack << qint64(86340) << u"2.1.1"_s << false;
        QTest::newRow("a minute past a day") << rolledBack << qint64(86460) << u"2.1.1"_s << true;
        QTest::newRow("refused a minute ago")
            << int(handover::UpdateOutcome::Result::Refused) << qint64(60) << u"2.1.1"_s << false;
        QTest::newRow("another version") << rolledBack << qint64(60) << u"2.1.2"_s << true;
        QTest::newRow("installed, not failed")
            << int(handover::UpdateOutcome::Result::Installed) << qint64(60) << u"2.1.1"_s << true;
        QTest::newRow("the clock set back since") << rolledBack << qint64(-3600) << u"2.1.1"_s << true;
    }
    void failedVersionWaitsADay() {
        QFETCH(int, result);
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, offered);
        QVERIFY(startServer({u"--update-version"_s, offered, u"--update-files"_s, u"main.new"_s}));
        handover::UpdateOutcome outcome = failedAt(secondsAgo, true);
        outcome.result = handover::UpdateOutcome::Result(result);
        QVERIFY(handover::writeOutcome(m_folder->path(), outcome));
        FrmUpDate window;
        QSignalSpy login(&window, &FrmUpDate::proceedToLogin);
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QTRY_COMPARE(login.size() + end.size(), 1);
        QTEST(fetchedAnything(), "fetched");
        QCOMPARE(login.size(), fetchedAnything() ? 0 : 1);
    }

    // One start per folder: a dead holder never blocks, whatever its process number names now,
    // and a start runs without the lock only when it cannot be made, and says so.
    void oneProgramPerFolder_data() {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<bool>("runs");
        QTest::addColumn<bool>("notice");
        QTest::newRow("free") << u"free"_s << true << false;
        QTest::newRow("held by a running program") << u"held"_s << false << false;
        QTest::newRow("left by a dead holder whose number a program of this name has now")
            << u"left"_s << true << false;
        QTest::newRow("lock folder cannot be written") << u"unwritable"_s << true << true;
    }
    void oneProgramPerFolder() {
        QFETCH(QString, lock);
        const QString folder = m_folder->path();
        const QString path = handover::lockPath(folder, handover::Holder::MainProgram);
        std::unique_ptr<platform::FileLock> other;
        QProcess namesake;
        if (lock == u"held"_s)
            other = handover::takeLock(folder, handover::Holder::MainProgram);
        if (lock == u"left"_s) {
            // A program running under this test's own name, as another Vesmora in another folder.
            QTemporaryDir elsewhere;
            const QString program =
                elsewhere.filePath(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
            QVERIFY(QFile::copy(QStringLiteral(FAKE_MAIN_PROGRAM), program));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(u"FAKE_MAIN_SLEEP"_s, u"30"_s);
            namesake.setProcessEnvironment(env);
            namesake.start(program, {});
            QVERIFY(namesake.waitForStarted());
            // The lock file a crashed start left, naming that process.
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            QFile left(path);
            QVERIFY(left.open(QIODevice::WriteOnly));
            left.write(QByteArray::number(namesake.processId()) + '\n' +
                       QFileInfo(program).fileName().toUtf8() + '\n' + QHostInfo::localHostName().toUtf8() +
                       '\n');
        }
        if (lock == u"unwritable"_s) {
            QVERIFY(QDir().mkpath(m_data->path()));
            touch(m_data->filePath(u"locks"_s));
        }
        SingleInstance instance(folder);
        QTEST(instance.claim(), "runs");
        QFETCH(bool, notice);
        QCOMPARE(instance.notice(),
                 notice ? u"无法写入文件夹 %1，本程序无法确认是否已有一个 Vesmora 在同一文件夹运行。"
                          "请勿同时运行两个 Vesmora。"_s.arg(
                              QDir::toNativeSeparators(m_data->filePath(u"locks"_s)))
                        : QString());
        namesake.kill();
        namesake.waitForFinished();
    }

    // The decision on a reply, without a server: the optional integrity members ride along.
    void decisions_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("sizes");
        QTest::addColumn<QString>("sha256");
        const QString update = u"{\"status\":\"ok\",\"version\":\"2.1.1\",\"update_files\":\"a,b\","
                               "\"update_notes\":\"\""_s;
        const int isUpdate = int(UpdateDecision::Outcome::Update);
        QTest::newRow("without integrity members") << update + u"}"_s << isUpdate << QString() << QString();
        QTest::newRow("with both") << update + u",\"update_sizes\":\"1,2\",\"update_sha256\":\"x,y\"}"_s
                                   << isUpdate << u"1,2"_s << u"x,y"_s;
        QTest::newRow("null members count as none")
            << update + u",\"update_sizes\":null,\"update_sha256\":null}"_s << isUpdate << QString()
            << QString();
        QTest::newRow("same version") << u"{\"status\":\"ok\",\"version\":\"2.1.0\",\"update_files\":\"\","
                                         "\"update_notes\":\"\"}"_s
                                      << int(UpdateDecision::Outcome::UpToDate) << QString() << QString();
        QTest::newRow("not an object")
            << u"[1]"_s << int(UpdateDecision::Outcome::Failure) << QString() << QString();
    }
    void decisions() {
        QFETCH(QString, reply);
        const UpdateDecision decision = decideUpdate(reply, u"2.1.0"_s);
        QTEST(int(decision.outcome), "outcome");
        QTEST(decision.info.sizes, "sizes");
        QTEST(decision.info.sha256, "sha256");
    }

    // A start while an updater works on the folder shows what is going on and leaves it alone.
    void updaterAtWorkShowsTheReleaseAndEnds() {
        QVERIFY(startServer({u"--update-version"_s, u"2.2.0"_s}));
        touch(inFolder(u"update.ini"_s));
        const auto updater = handover::takeLock(m_folder->path(), handover::Holder::Updater);
        QVERIFY(updater);
        FrmUpDate window;
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QCOMPARE(child<QLabel>(window, u"labzt"_s)->text(), u"正在释放更新文件……"_s);
        QVERIFY(end.wait(5000));
        QVERIFY(m_messages.isEmpty());
        QVERIFY(m_server->requests().isEmpty());
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList{u"update.ini"_s});
    }

    void versionShownBeforeTheUpdatePath() {
        QVERIFY(startServer({u"--update-version"_s, u"2.2.0"_s}));
        FrmUpDate window;
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QTRY_COMPARE(end.size(), 1);
        QCOMPARE(child<QLabel>(window, u"LabNewVer"_s)->text(), u"V2.2.0"_s);
    }

    void yesOpensTheVendorSite() {
        QVERIFY(startServer({u"--update-fault"_s, u"error"_s, u"--update-message"_s, u"停止服务"_s}));
        m_answer = QMessageBox::Yes;
        FrmUpDate window;
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QTRY_COMPARE(end.size(), 1);
        QCOMPARE(m_opened, QList<QUrl>{QUrl(kVendor)});
    }

    void closeSpotEndsAtOnceWhileTheRequestRuns() {
        QVERIFY(startServer({u"--update-fault"_s, u"no-answer"_s}));
        FrmUpDate window;
        QSignalSpy login(&window, &FrmUpDate::proceedToLogin);
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QVERIFY(window.isVisible());
        auto* closeSpot = child<QLabel>(window, u"LabEnd"_s);
        QCOMPARE(closeSpot->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(closeSpot->cursor().hotSpot(), QPoint(5, 0));
        QTest::mouseClick(closeSpot, Qt::LeftButton);
        QCOMPARE(end.size(), 1);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(login.size(), 0);
    }

    // A close from the system (Alt+F4) ends the program too, instead of leaving it without a window.
    void systemCloseEndsTheProgram() {
        QVERIFY(startServer({u"--update-fault"_s, u"no-answer"_s}));
        FrmUpDate window;
        QSignalSpy login(&window, &FrmUpDate::proceedToLogin);
        QSignalSpy end(&window, &FrmUpDate::endProgram);
        window.start();
        QVERIFY(window.close());
        QCOMPARE(end.size(), 1);
        QCOMPARE(login.size(), 0);
        QVERIFY(m_messages.isEmpty());
    }

    void dragMovesOnlyFromTheSurface() {
        QVERIFY(startServer({u"--update-fault"_s, u"no-answer"_s}));
        FrmUpDate window;
        window.start();
        const QPoint origin = window.pos();
        // Pressed on the surface, moved with the left button alone: the window follows.
        sendMouse(&window, QEvent::MouseButtonPress, QPoint(250, 240), Qt::LeftButton, Qt::LeftButton);
        sendMouse(&window, QEvent::MouseMove, QPoint(270, 250), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(window.pos(), origin + QPoint(20, 10));
        // Another button held as well: no move.
        sendMouse(&window, QEvent::MouseMove, QPoint(290, 260), Qt::NoButton,
                  Qt::LeftButton | Qt::RightButton);
        QCOMPARE(window.pos(), origin + QPoint(20, 10));
        sendMouse(&window, QEvent::MouseButtonRelease, QPoint(250, 240), Qt::LeftButton, Qt::NoButton);
        // Pressed on a label: the label's, not a drag.
        auto* status = child<QLabel>(window, u"labzt"_s);
        sendMouse(status, QEvent::MouseButtonPress, QPoint(10, 5), Qt::LeftButton, Qt::LeftButton);
        sendMouse(status, QEvent::MouseMove, QPoint(60, 5), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(window.pos(), origin + QPoint(20, 10));
    }
};

QTEST_MAIN(TestUpdateWindow)
#include "tst_update_window.moc"
