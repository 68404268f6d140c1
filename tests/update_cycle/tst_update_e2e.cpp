// The update cycle with the built programs in a temporary program folder.
#include "common/IniFile.h"
#include "handover/Locks.h"
#include "handover/Manifest.h"
#include "handover/UpdateOutcome.h"
#include "support/StandinServer.h"
#include "update_client/ui/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool writeProgram(const QString& path, const QByteArray& bytes) {
    return writeFile(path, bytes) &&
           QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
}

// A program's file name on this system.
QString programFile(const QString& name) {
#ifdef Q_OS_WIN
    return name + u".exe"_s;
#else
    return name;
#endif
}

// "started-<pid>" files that the fake main program leaves, oldest first.
QStringList startRecords(const QString& folder) {
    return QDir(folder).entryList({u"started-*"_s}, QDir::Files, QDir::Time | QDir::Reversed);
}

QProcessEnvironment environment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    // Offscreen with a display reaches for GLX, and Mesa's driver, unloaded at exit, leaves what
    // the asan preset's leak check reports with no library to name.
    env.remove(u"DISPLAY"_s);
    env.remove(u"FAKE_MAIN_SLEEP"_s);
    env.remove(u"VESMORA_UPDATER_STOP_AFTER"_s);
    env.remove(u"VESMORA_UPDATER_QUICK"_s);
    env.remove(u"VESMORA_PROMPT_LOG"_s);
    return env;
}

// What the programs keep about a program folder in the user's data folder goes with the test.
struct ForgetFolder {
    QString folder;
    ~ForgetFolder() {
        QFile::remove(handover::outcomePath(folder));
        QFile::remove(handover::lockPath(folder, handover::Holder::MainProgram));
        QFile::remove(handover::lockPath(folder, handover::Holder::Updater));
    }
};

// Requests the stand-in saw for one path.
qsizetype requestsFor(const StandinServer& server, const QString& path) {
    return server.requests(path).size();
}

QString sha256Hex(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Runs a program in the folder and waits for it to end by itself. The process object lives until
// the test program ends: under wine, the system's wait on a process that has just ended was seen
// to call back into a process object already destroyed.
bool runToEnd(const QString& program, const QString& folder, const QProcessEnvironment& env, int* exitCode) {
    QProcess& process = *new QProcess(QCoreApplication::instance());
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, {});
    if (!process.waitForStarted() || !process.waitForFinished(120000))
        return false;
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

} // namespace

class TestUpdateE2e : public QObject {
    Q_OBJECT

private slots:
    void wholeCycle();
    void updaterKeepsRunnableMainProgram();
    void killedSwapIsFinishedAtTheNextStart_data();
    void killedSwapIsFinishedAtTheNextStart();
    void killedRollBackEndsAllOldOrAllNew_data();
    void killedRollBackEndsAllOldOrAllNew();
    void failedInstallIsToldOnceThenLogin();
    void secondStart_data();
    void secondStart();
};

void TestUpdateE2e::wholeCycle() {
    const QByteArray newMain = readFile(QStringLiteral(FAKE_MAIN_PROGRAM));
    QByteArray table(1024 * 1024 + 11, Qt::Uninitialized);
    for (char& c : table)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    const QByteArray readme = "Vesmora 2.1.1\n";

    QTemporaryDir served;
    QVERIFY(writeFile(served.filePath(u"app/vesmora-2.1.1"_s), newMain));
    QVERIFY(writeFile(served.filePath(u"readme.txt"_s), readme));
    QVERIFY(writeFile(served.filePath(u"data/table.bin"_s), table));
    StandinServer server({u"--update-version"_s, u"2.1.1"_s, u"--update-files"_s,
                          u"app/vesmora-2.1.1,readme.txt,data/table.bin"_s, u"--update-notes"_s,
                          u"新版本/n修复问题"_s, u"--files-dir"_s, served.path(), u"--update-sizes"_s,
                          u"%1,%2,%3"_s.arg(newMain.size()).arg(readme.size()).arg(table.size()),
                          u"--update-sha256"_s,
                          sha256Hex(newMain) + u","_s + sha256Hex(readme) + u","_s + sha256Hex(table)});
    QVERIFY(server.isRunning());

    QTemporaryDir program;
    const QString folder = program.path() + u"/"_s;
    const ForgetFolder forget{folder};
    QVERIFY(writeProgram(folder + programFile(u"vesmora"_s), readFile(QStringLiteral(VESMORA_PROGRAM))));
    QVERIFY(writeFile(folder + programFile(u"update"_s), "an older updater"));

    QProcess vesmora;
    QProcessEnvironment env = environment();
    env.insert(u"VESMORA_UPDATE_URL"_s, server.baseUrl().toString());
    vesmora.setProcessEnvironment(env);
    vesmora.setWorkingDirectory(folder);
    vesmora.setProcessChannelMode(QProcess::ForwardedChannels);
    vesmora.start(folder + programFile(u"vesmora"_s), {});
    QVERIFY(vesmora.waitForStarted());
    // Vesmora downloads, writes the manifest and the updater, starts it and ends by itself.
    QVERIFY2(vesmora.waitForFinished(120000), "Vesmora did not end after the hand-over");
    QCOMPARE(vesmora.exitStatus(), QProcess::NormalExit);
    QCOMPARE(readFile(folder + programFile(u"update"_s)), readFile(QStringLiteral(UPDATER_PROGRAM)));

    // The updater swaps and starts the new main program, with no arguments.
    QTRY_VERIFY_WITH_TIMEOUT(!startRecords(folder).isEmpty(), 120000);
    QTRY_COMPARE(readFile(folder + startRecords(folder).first()),
                 programFile(u"vesmora"_s).toUtf8() + "\n0\n");
    QCOMPARE(readFile(folder + programFile(u"vesmora"_s)), newMain);
    QVERIFY(QFileInfo(folder + programFile(u"vesmora"_s)).isExecutable());
    QCOMPARE(readFile(folder + u"readme.txt"_s), readme);
    QCOMPARE(readFile(folder + u"data/table.bin"_s), table);
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
    QVERIFY(!QFileInfo::exists(folder + u".vesmora-update"_s));
    const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left)
        QVERIFY2(!name.startsWith(u"tmp"_s) && !name.endsWith(u".old"_s), qPrintable(name));

    QStringList paths;
    for (const QJsonObject& request : server.requests())
        paths << request.value(u"path"_s).toString();
    QCOMPARE(paths,
             (QStringList{u"/soft/api/update.asp"_s, u"/soft/uploads/vesmora/app/vesmora-2.1.1"_s,
                          u"/soft/uploads/vesmora/readme.txt"_s, u"/soft/uploads/vesmora/data/table.bin"_s}));
}

void TestUpdateE2e::updaterKeepsRunnableMainProgram() {
    QTemporaryDir outer;
    const QString folder = outer.path() + u"/app/"_s;
    const ForgetFolder forget{folder};
    const QByteArray oldMain = readFile(QStringLiteral(FAKE_MAIN_PROGRAM));
    const QByteArray newMain = oldMain + "\n2.1.1"; // still the same runnable program
    QVERIFY(writeProgram(folder + programFile(u"vesmora"_s), oldMain));
    QVERIFY(writeProgram(folder + programFile(u"update"_s), readFile(QStringLiteral(UPDATER_PROGRAM))));
    QVERIFY(writeFile(folder + u"tmpvesmora-new"_s, newMain));
    QVERIFY(writeFile(folder + u"helper.dll"_s, "installed helper"));
    QVERIFY(writeFile(folder + u"tmphelper.dll"_s, "new helper"));
    QVERIFY(writeFile(folder + u"tmpx.so"_s, "plugin"));
    // A new file in a new sub-folder.
    QVERIFY(handover::writeManifest(folder + u"update.ini"_s,
                                    {u"2.1.1"_s, u"2.1.0"_s, u"vesmora-new,helper.dll,lib/x.so"_s, QString(),
                                     programFile(u"vesmora"_s)}));

    // The main program never ends on its own.
    QProcess running;
    QProcessEnvironment sleepy = environment();
    sleepy.insert(u"FAKE_MAIN_SLEEP"_s, u"120"_s);
    running.setProcessEnvironment(sleepy);
    running.start(folder + programFile(u"vesmora"_s), {});
    QVERIFY(running.waitForStarted());
    QTRY_COMPARE(startRecords(folder).size(), 1);
#ifdef Q_OS_WIN
    // What the updater has to work with there: the running program's file can be neither
    // overwritten nor deleted.
    QFile runningFile(folder + programFile(u"vesmora"_s));
    QVERIFY(!runningFile.open(QIODevice::WriteOnly | QIODevice::Append));
    QVERIFY(!runningFile.remove());
#endif

    // About ten seconds of waiting, the swaps, then the main program is started again.
    int exitCode = -1;
    QVERIFY2(runToEnd(folder + programFile(u"update"_s), folder, environment(), &exitCode),
             "the updater did not end");
    QCOMPARE(exitCode, 0);
    running.kill();
    running.waitForFinished();

    QTRY_COMPARE_WITH_TIMEOUT(startRecords(folder).size(), 2, 60000);
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
#ifdef Q_OS_WIN
    // A running program is neither replaced nor renamed aside: the whole list goes back out, with
    // its copies, and the failure is recorded for the next start to tell.
    QCOMPARE(readFile(folder + programFile(u"vesmora"_s)), oldMain);
    QCOMPARE(readFile(folder + u"helper.dll"_s), QByteArray("installed helper"));
    QVERIFY(!QFileInfo::exists(folder + u"lib/x.so"_s));
    QVERIFY(!QFileInfo::exists(folder + u"tmpvesmora-new"_s));
    QVERIFY(!QFileInfo::exists(folder + u"tmphelper.dll"_s));
    QVERIFY(!QFileInfo::exists(folder + u"tmpx.so"_s));
    QCOMPARE(handover::readOutcome(folder)->reason, u"无法替换文件 vesmora.exe：拒绝访问"_s);
    const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left)
        QVERIFY2(!name.contains(u".replaced"_s), qPrintable(name));
#else
    QCOMPARE(readFile(folder + programFile(u"vesmora"_s)), newMain);
    QVERIFY(QFileInfo(folder + programFile(u"vesmora"_s)).isExecutable());
    QCOMPARE(readFile(folder + u"helper.dll"_s), QByteArray("new helper"));
    QCOMPARE(readFile(folder + u"lib/x.so"_s), QByteArray("plugin"));
#endif
}

// The updater is stopped after each step of its swap in turn, as a kill or a power cut would stop
// it; then the user starts the main program. At no step is the main program missing or any named
// file half old, half new, and every time the folder ends holding the new version whole.
void TestUpdateE2e::killedSwapIsFinishedAtTheNextStart_data() {
#ifndef VESMORA_TEST_SEAMS
    QSKIP("the updater of this build cannot be stopped after a step");
#endif
    QTest::addColumn<int>("stopAfter");
    // Three entries replacing installed files: a backup and a swap each, then the backups and the
    // manifest go. Stopped before the first step, after each of the eight, and not at all.
    for (int step = 0; step <= 9; ++step)
        QTest::addRow("after step %d", step) << step;
}

void TestUpdateE2e::killedSwapIsFinishedAtTheNextStart() {
    QFETCH(int, stopAfter);
    const QByteArray oldMain = readFile(QStringLiteral(VESMORA_PROGRAM));
    const QByteArray newMain = readFile(QStringLiteral(FAKE_MAIN_PROGRAM));
    const QHash<QString, std::pair<QByteArray, QByteArray>> named{
        {programFile(u"vesmora"_s), {oldMain, newMain}},
        {u"readme.txt"_s, {"Vesmora 2.1.0\n", "Vesmora 2.1.1\n"}},
        {u"data/table.bin"_s, {"old table", "new table"}},
    };

    QTemporaryDir program;
    const QString folder = program.path() + u"/"_s;
    const ForgetFolder forget{folder};
    QVERIFY(writeProgram(folder + programFile(u"vesmora"_s), oldMain));
    QVERIFY(writeFile(folder + u"readme.txt"_s, named[u"readme.txt"_s].first));
    QVERIFY(writeFile(folder + u"data/table.bin"_s, named[u"data/table.bin"_s].first));
    // What the main program leaves when it hands over: the copies, the manifest, the updater.
    QVERIFY(writeFile(folder + u"tmpvesmora-2.1.1"_s, newMain));
    QVERIFY(writeFile(folder + u"tmpreadme.txt"_s, named[u"readme.txt"_s].second));
    QVERIFY(writeFile(folder + u"tmptable.bin"_s, named[u"data/table.bin"_s].second));
    QVERIFY(handover::writeManifest(folder + u"update.ini"_s,
                                    {u"2.1.1"_s, u"2.1.0"_s, u"vesmora-2.1.1,readme.txt,data/table.bin"_s,
                                     u"新版本"_s, programFile(u"vesmora"_s)}));
    QVERIFY(writeProgram(folder + programFile(u"update"_s), readFile(QStringLiteral(UPDATER_PROGRAM))));

    QProcessEnvironment env = environment();
    env.insert(u"VESMORA_UPDATER_QUICK"_s, u"1"_s);
    QProcessEnvironment stopping = env;
    stopping.insert(u"VESMORA_UPDATER_STOP_AFTER"_s, QString::number(stopAfter));
    int exitCode = -1;
    QVERIFY(runToEnd(folder + programFile(u"update"_s), folder, stopping, &exitCode));
    QCOMPARE(exitCode, stopAfter <= 8 ? 9 : 0);

    // Whatever the step: each named file wholly old or wholly new, the main program runnable.
    for (auto it = named.begin(); it != named.end(); ++it) {
        const QByteArray now = readFile(folder + it.key());
        QVERIFY2(now == it.value().first || now == it.value().second, qPrintable(it.key()));
    }
    QVERIFY(QFileInfo(folder + programFile(u"vesmora"_s)).isExecutable());

    // The user starts the program: an old main program finishes the update through the updater,
    // the new one simply runs.
    if (startRecords(folder).isEmpty())
        QVERIFY(runToEnd(folder + programFile(u"vesmora"_s), folder, env, &exitCode));
    QTRY_VERIFY_WITH_TIMEOUT(!startRecords(folder).isEmpty(), 120000);
    for (auto it = named.begin(); it != named.end(); ++it)
        QCOMPARE(readFile(folder + it.key()), it.value().second);
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        QVERIFY2(!name.startsWith(u"tmp"_s), qPrintable(name));
}

// The second entry cannot be installed, so the first is rolled back; the updater is stopped after
// each step of the roll-back in turn. At each stop every entry is there and whole, old or new. Then
// the fault is mended and the user starts the program: whatever the step, the folder ends wholly
// old or wholly new, with no copy left. (The main program's own roll-back, which needs a fault
// after it went in, is stopped at each step in test_updater.)
void TestUpdateE2e::killedRollBackEndsAllOldOrAllNew_data() {
#ifndef VESMORA_TEST_SEAMS
    QSKIP("the updater of this build cannot be stopped after a step");
#endif
    QTest::addColumn<int>("stopAfter");
    QTest::addColumn<bool>("endsNew");
    // 1 backup and 2 install of readme.txt, then its roll-back: 3 the new file linked to its copy
    // name, 4 the backup back in place, 5 the manifest into the staging folder, 6 the copies go,
    // 7 the staging folder goes.
    for (int step = 2; step <= 7; ++step)
        QTest::addRow("after step %d", step) << step << (step < 5);
}

void TestUpdateE2e::killedRollBackEndsAllOldOrAllNew() {
    QFETCH(int, stopAfter);
    QFETCH(bool, endsNew);
    const QString main = programFile(u"vesmora"_s);
    const QByteArray oldMain = readFile(QStringLiteral(VESMORA_PROGRAM));
    const QByteArray newMain = readFile(QStringLiteral(FAKE_MAIN_PROGRAM));

    QTemporaryDir program;
    const QString folder = program.path() + u"/"_s;
    const ForgetFolder forget{folder};
    QVERIFY(writeProgram(folder + main, oldMain));
    QVERIFY(writeFile(folder + u"readme.txt"_s, "old readme"));
    // A folder where data/x.txt belongs: no file can take its place.
    QVERIFY(writeFile(folder + u"data/x.txt/inside"_s, "in the way"));
    QVERIFY(writeFile(folder + u"tmpvesmora-2.1.1"_s, newMain));
    QVERIFY(writeFile(folder + u"tmpreadme.txt"_s, "new readme"));
    QVERIFY(writeFile(folder + u"tmpx.txt"_s, "new x"));
    QVERIFY(handover::writeManifest(
        folder + u"update.ini"_s,
        {u"2.1.1"_s, u"2.1.0"_s, u"vesmora-2.1.1,readme.txt,data/x.txt"_s, QString(), main}));
    QVERIFY(writeProgram(folder + programFile(u"update"_s), readFile(QStringLiteral(UPDATER_PROGRAM))));

    QTemporaryDir logs;
    StandinServer server({u"--update-version"_s, u"2.1.0"_s});
    QVERIFY(server.isRunning());
    QProcessEnvironment env = environment();
    env.insert(u"VESMORA_UPDATER_QUICK"_s, u"1"_s);
    env.insert(u"VESMORA_UPDATE_URL"_s, server.baseUrl().toString());
    env.insert(u"VESMORA_PROMPT_LOG"_s, logs.filePath(u"prompts.txt"_s));
    QProcessEnvironment stopping = env;
    stopping.insert(u"VESMORA_UPDATER_STOP_AFTER"_s, QString::number(stopAfter));
    int exitCode = -1;
    QVERIFY(runToEnd(folder + programFile(u"update"_s), folder, stopping, &exitCode));
    QCOMPARE(exitCode, 9);
    const QByteArray mainNow = readFile(folder + main);
    QVERIFY(mainNow == oldMain || mainNow == newMain);
    const QByteArray readmeNow = readFile(folder + u"readme.txt"_s);
    QVERIFY2(readmeNow == "old readme" || readmeNow == "new readme", readmeNow.constData());
    QVERIFY(QFileInfo(folder + u"data/x.txt"_s).isDir());

    // The fault mended, the user starts the program: an update still waiting is finished, and
    // what a finished roll-back left is cleared.
    QVERIFY(QDir(folder + u"data/x.txt"_s).removeRecursively());
    QVERIFY(writeFile(folder + u"data/x.txt"_s, "old x"));
    const bool waiting = QFileInfo::exists(folder + u"update.ini"_s);
    QVERIFY(runToEnd(folder + main, folder, env, &exitCode));
    if (waiting)
        QTRY_VERIFY_WITH_TIMEOUT(!startRecords(folder).isEmpty(), 120000);
    else
        QCOMPARE(readFile(logs.filePath(u"prompts.txt"_s)), QByteArray("login\n"));
    QCOMPARE(readFile(folder + main), endsNew ? newMain : oldMain);
    QCOMPARE(readFile(folder + u"readme.txt"_s),
             endsNew ? QByteArray("new readme") : QByteArray("old readme"));
    QCOMPARE(readFile(folder + u"data/x.txt"_s), endsNew ? QByteArray("new x") : QByteArray("old x"));
    QVERIFY(!QFileInfo::exists(folder + u".vesmora-update"_s));
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        QVERIFY2(!name.startsWith(u"tmp"_s), qPrintable(name));
}

// An entry that cannot be replaced: the update is downloaded once and rolled back; the start after
// it tells why, once, and the installed version goes on to the login window; a later start within
// the day fetches that version no more.
void TestUpdateE2e::failedInstallIsToldOnceThenLogin() {
#ifndef VESMORA_TEST_SEAMS
    QSKIP("the main program of this build cannot log its prompts");
#endif
    const QByteArray oldMain = readFile(QStringLiteral(VESMORA_PROGRAM));
    QTemporaryDir served;
    QVERIFY(writeFile(served.filePath(u"app/vesmora-2.1.1"_s), readFile(QStringLiteral(FAKE_MAIN_PROGRAM))));
    QVERIFY(writeFile(served.filePath(u"readme.txt"_s), "new readme"));
    QVERIFY(writeFile(served.filePath(u"data/x.txt"_s), "new x"));
    StandinServer server({u"--update-version"_s, u"2.1.1"_s, u"--update-files"_s,
                          u"app/vesmora-2.1.1,readme.txt,data/x.txt"_s, u"--files-dir"_s, served.path()});
    QVERIFY(server.isRunning());

    QTemporaryDir program;
    const QString folder = program.path() + u"/"_s;
    const ForgetFolder forget{folder};
    const QString main = programFile(u"vesmora"_s);
    QVERIFY(writeProgram(folder + main, oldMain));
    QVERIFY(writeFile(folder + u"readme.txt"_s, "old readme"));
    QVERIFY(writeFile(folder + u"data/x.txt/inside"_s, "in the way"));

    QTemporaryDir logs;
    const QString prompts = logs.filePath(u"prompts.txt"_s);
    QProcessEnvironment env = environment();
    env.insert(u"VESMORA_UPDATE_URL"_s, server.baseUrl().toString());
    env.insert(u"VESMORA_UPDATER_QUICK"_s, u"1"_s);
    env.insert(u"VESMORA_PROMPT_LOG"_s, prompts);
    int exitCode = -1;
    QVERIFY(runToEnd(folder + main, folder, env, &exitCode));
    // The updater puts the old version back and starts it; it tells why, then goes on.
    QTRY_VERIFY_WITH_TIMEOUT(readFile(prompts).endsWith("login\n"), 120000);
    QCOMPARE(QString::fromUtf8(readFile(prompts)),
             u"message: 自动更新失败!\r\n\r\n无法替换文件 data/x.txt：此处已有同名的文件夹\r\n\r\n"
             "是否要到网站手工下载?\nlogin\n"_s);
    QCOMPARE(requestsFor(server, u"/soft/uploads/vesmora/app/vesmora-2.1.1"_s), 1);
    QCOMPARE(requestsFor(server, u"/soft/api/update.asp"_s), 1);
    QCOMPARE(readFile(folder + main), oldMain);
    QCOMPARE(readFile(folder + u"readme.txt"_s), QByteArray("old readme"));
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
    QVERIFY(!QFileInfo::exists(folder + u".vesmora-update"_s));
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        QVERIFY2(!name.startsWith(u"tmp"_s), qPrintable(name));

    // The next start asks the server, holds 2.1.1 back and goes on, telling nothing.
    QVERIFY(runToEnd(folder + main, folder, env, &exitCode));
    QCOMPARE(exitCode, 0);
    QVERIFY(readFile(prompts).endsWith("?\nlogin\nlogin\n"));
    QCOMPARE(requestsFor(server, u"/soft/api/update.asp"_s), 2);
    QCOMPARE(requestsFor(server, u"/soft/uploads/vesmora/app/vesmora-2.1.1"_s), 1);
}

// A second start of the main program runs beside neither the first nor an updater: it asks the
// running one to come forward, or leaves the folder to the updater, and ends by itself without
// asking the server anything or writing an updater.
void TestUpdateE2e::secondStart_data() {
    QTest::addColumn<bool>("duringUpdate");
    QTest::newRow("while the program runs") << false;
    QTest::newRow("while an update is being applied") << true;
}

void TestUpdateE2e::secondStart() {
    QFETCH(bool, duringUpdate);
    QTemporaryDir program;
    const QString folder = program.path() + u"/"_s;
    const ForgetFolder forget{folder};
    const QString main = programFile(u"vesmora"_s);
    QVERIFY(writeProgram(folder + main, readFile(QStringLiteral(VESMORA_PROGRAM))));
    QVERIFY(writeFile(folder + u"tmpvesmora-2.1.1"_s, readFile(QStringLiteral(FAKE_MAIN_PROGRAM))));
    QVERIFY(handover::writeManifest(folder + u"update.ini"_s,
                                    {u"2.1.1"_s, u"2.1.0"_s, u"vesmora-2.1.1"_s, QString(), main}));
    const QByteArray manifest = readFile(folder + u"update.ini"_s);
    StandinServer server;
    QVERIFY(server.isRunning());

    // This test plays the running program, or the running updater.
    SingleInstance first(folder);
    std::unique_ptr<platform::FileLock> updater;
    if (duringUpdate) {
        updater = handover::takeLock(folder, handover::Holder::Updater);
        QVERIFY(updater);
    } else {
        QVERIFY(first.claim());
    }
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    QProcess second;
    QProcessEnvironment env = environment();
    env.insert(u"VESMORA_UPDATE_URL"_s, server.baseUrl().toString());
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(folder + main, {});
    QVERIFY(second.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(raised.size(), duringUpdate ? 0 : 1);
    QVERIFY(server.requests().isEmpty());
    QVERIFY(!QFileInfo::exists(folder + programFile(u"update"_s)));
    QCOMPARE(readFile(folder + u"update.ini"_s), manifest);
}

QTEST_MAIN(TestUpdateE2e)
#include "tst_update_e2e.moc"
