// The update cycle with the built programs in a temporary program folder.
#include "common/IniFile.h"
#include "support/StandinServer.h"

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
    env.remove(u"FAKE_MAIN_SLEEP"_s);
    return env;
}

} // namespace

class TestUpdateE2e : public QObject {
    Q_OBJECT

private slots:
    void wholeCycle();
    void updaterKeepsRunnableMainProgram();
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
                          u"新版本/n修复问题"_s, u"--files-dir"_s, served.path()});
    QVERIFY(server.isRunning());

    QTemporaryDir program;
    const QString folder = program.path() + u"/"_s;
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
    QVERIFY2(vesmora.waitForFinished(60000), "Vesmora did not end after the hand-over");
    QCOMPARE(vesmora.exitStatus(), QProcess::NormalExit);
    QCOMPARE(readFile(folder + programFile(u"update"_s)), readFile(QStringLiteral(UPDATER_PROGRAM)));

    // The updater swaps and starts the new main program, with no arguments.
    QTRY_VERIFY_WITH_TIMEOUT(!startRecords(folder).isEmpty(), 60000);
    QTRY_COMPARE(readFile(folder + startRecords(folder).first()),
                 programFile(u"vesmora"_s).toUtf8() + "\n0\n");
    QCOMPARE(readFile(folder + programFile(u"vesmora"_s)), newMain);
    QVERIFY(QFileInfo(folder + programFile(u"vesmora"_s)).isExecutable());
    QCOMPARE(readFile(folder + u"readme.txt"_s), readme);
    QCOMPARE(readFile(folder + u"data/table.bin"_s), table);
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
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
    const QByteArray oldMain = readFile(QStringLiteral(FAKE_MAIN_PROGRAM));
    const QByteArray newMain = oldMain + "\n2.1.1"; // still the same runnable program
    QVERIFY(writeProgram(folder + programFile(u"vesmora"_s), oldMain));
    QVERIFY(writeProgram(folder + programFile(u"update"_s), readFile(QStringLiteral(UPDATER_PROGRAM))));
    QVERIFY(writeFile(folder + u"tmpvesmora-new"_s, newMain));
    QVERIFY(writeFile(folder + u"helper.dll"_s, "installed helper"));
    QVERIFY(writeFile(folder + u"tmpx.so"_s, "plugin"));
    QVERIFY(writeFile(folder + u"tmpvictim"_s, "planted"));
    QVERIFY(writeFile(outer.filePath(u"victim"_s), "outside"));
    const QString manifest = folder + u"update.ini"_s;
    iniWrite(u"UpInfo"_s, u"NewVer"_s, u"2.1.1"_s, manifest);
    iniWrite(u"UpInfo"_s, u"OldVer"_s, u"2.1.0"_s, manifest);
    // A missing download, an entry climbing out and one in a new sub-folder.
    iniWrite(u"UpInfo"_s, u"UpFileName"_s, u"vesmora-new,helper.dll,../victim,lib/x.so"_s, manifest);
    iniWrite(u"UpInfo"_s, u"MainApp"_s, programFile(u"vesmora"_s), manifest);

    // The main program never ends on its own.
    QProcess running;
    QProcessEnvironment sleepy = environment();
    sleepy.insert(u"FAKE_MAIN_SLEEP"_s, u"120"_s);
    running.setProcessEnvironment(sleepy);
    running.start(folder + programFile(u"vesmora"_s), {});
    QVERIFY(running.waitForStarted());
    QTRY_COMPARE(startRecords(folder).size(), 1);
#ifdef Q_OS_WIN
    // What the updater has to work with there: the running program's file can be renamed, but
    // neither overwritten nor deleted.
    QFile runningFile(folder + programFile(u"vesmora"_s));
    QVERIFY(!runningFile.open(QIODevice::WriteOnly | QIODevice::Append));
    QVERIFY(!runningFile.remove());
#endif

    QProcess updater;
    updater.setProcessEnvironment(environment());
    updater.setWorkingDirectory(folder);
    updater.setProcessChannelMode(QProcess::ForwardedChannels);
    updater.start(folder + programFile(u"update"_s), {});
    QVERIFY(updater.waitForStarted());
    // About ten seconds of waiting, the swaps, then the main program is started again.
    QVERIFY2(updater.waitForFinished(90000), "the updater did not end");
    running.kill();
    running.waitForFinished();

    QTRY_COMPARE_WITH_TIMEOUT(startRecords(folder).size(), 2, 10000);
    QCOMPARE(readFile(folder + programFile(u"vesmora"_s)), newMain);
    QVERIFY(QFileInfo(folder + programFile(u"vesmora"_s)).isExecutable());
    QCOMPARE(readFile(folder + u"helper.dll"_s), QByteArray("installed helper"));
    QCOMPARE(readFile(outer.filePath(u"victim"_s)), QByteArray("outside"));
    QCOMPARE(readFile(folder + u"tmpvictim"_s), QByteArray("planted"));
    QCOMPARE(readFile(folder + u"lib/x.so"_s), QByteArray("plugin"));
    QVERIFY(!QFileInfo::exists(manifest));
}

QTEST_GUILESS_MAIN(TestUpdateE2e)
#include "tst_update_e2e.moc"
