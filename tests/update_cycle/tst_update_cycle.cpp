#include "common/IniFile.h"
#include "common/ProgramFolder.h"
#include "support/StandinServer.h"
#include "support/TestFiles.h"
#include "update_client/DownloadDisplay.h"
#include "update_client/UpdateEntries.h"
#include "update_client/UpdateManifest.h"
#include "update_client/UpdatePath.h"
#include "update_client/UpdaterRelease.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : bytes)
        c = static_cast<char>(generator.bounded(256));
    return bytes;
}

// One update path over a program folder, with every signal recorded.
struct PathRun {
    explicit PathRun(const UpdateInfo& info) : path(&network) {
        QObject::connect(&path, &UpdatePath::statusChanged, &path,
                         [this](const QString& t) { statuses << t; });
        QObject::connect(&path, &UpdatePath::sizeTextChanged, &path,
                         [this](const QString& t) { sizes << t; });
        QObject::connect(&path, &UpdatePath::speedTextChanged, &path,
                         [this](const QString& t) { speeds << t; });
        QObject::connect(&path, &UpdatePath::progressChanged, &path, [this](int w) { widths << w; });
        QObject::connect(&path, &UpdatePath::failed, &path, [this](const QString& d) {
            failures << d;
            done = true;
        });
        QObject::connect(&path, &UpdatePath::handedOver, &path, [this] {
            ++handOvers;
            done = true;
        });
        path.start(info);
    }

    QNetworkAccessManager network;
    UpdatePath path;
    QStringList statuses, sizes, speeds, failures;
    QList<int> widths;
    int handOvers = 0;
    bool done = false;
};

UpdateInfo info(const QString& files) {
    return {u"2.1.1"_s, files, u"修复问题/n提速"_s};
}

} // namespace

class TestUpdateCycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void displayTexts_data();
    void displayTexts();
    void entryNames_data();
    void entryNames();
    void downloadsThenHandsOver();
    void followsARedirect();
    void failedUpdates_data();
    void failedUpdates();
    void resourceFileNeverOverwritten();

private:
    QTemporaryDir m_served;
    QByteArray m_main, m_notes, m_table;
};

void TestUpdateCycle::initTestCase() {
    m_main = randomBytes(300 * 1024 + 7, 1);
    m_notes = "release notes\n";
    m_table = randomBytes(2 * 1024 * 1024 + 3, 2);
    QVERIFY(writeFile(m_served.filePath(u"main.new"_s), m_main));
    QVERIFY(writeFile(m_served.filePath(u"readme.txt"_s), m_notes));
    QVERIFY(writeFile(m_served.filePath(u"data/table.bin"_s), m_table));
    QVERIFY(writeFile(m_served.filePath(u"empty.dat"_s), QByteArray()));
}

void TestUpdateCycle::cleanup() {
    setProgramFolderOverride(QString());
}

void TestUpdateCycle::displayTexts_data() {
    QTest::addColumn<qint64>("contentLength");
    QTest::addColumn<QString>("size");
    QTest::newRow("empty file counts one byte") << qint64(0) << u"文件大小:0.00 KB"_s;
    QTest::newRow("one byte short of a MB") << qint64(1048575) << u"文件大小:1024.00 KB"_s;
    QTest::newRow("a half hundredth rounds up") << qint64(127) << u"文件大小:0.13 KB"_s;
    QTest::newRow("no grouping") << qint64(200 * 1024 * 1024) << u"文件大小:204800.00 KB"_s;
}

void TestUpdateCycle::displayTexts() {
    QFETCH(qint64, contentLength);
    QTEST(download_display::sizeText(download_display::expectedSizeFromLength(contentLength)), "size");

    // The speed divides by whole seconds plus one; the bar never leaves the track.
    QCOMPARE(download_display::speedText(3072, 0), u"下载速度: 3.00 KB/S"_s);
    QCOMPARE(download_display::speedText(1536, 1), u"下载速度: 0.75 KB/S"_s);
    QCOMPARE(download_display::barWidth(0, 101), 0);
    QCOMPARE(download_display::barWidth(100, 101), 441);
    QCOMPARE(download_display::barWidth(500, 101), 445);
}

void TestUpdateCycle::entryNames_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("confined");
    QTest::addColumn<QString>("copy");
    QTest::newRow("plain") << u"main.exe"_s << true << u"tmpmain.exe"_s;
    QTest::newRow("sub-folder") << u"bin/tool.dll"_s << true << u"tmptool.dll"_s;
    QTest::newRow("blank kept") << u" a b"_s << true << u"tmp a b"_s;
    QTest::newRow("empty") << QString() << false << u"tmp"_s;
    QTest::newRow("climbs out") << u"../x.dll"_s << false << u"tmpx.dll"_s;
    QTest::newRow("climbs out later") << u"a/../../x.dll"_s << false << u"tmpx.dll"_s;
    QTest::newRow("absolute") << u"/etc/passwd"_s << false << u"tmppasswd"_s;
    QTest::newRow("drive") << u"C:x.dll"_s << false << u"tmpC:x.dll"_s;
    QTest::newRow("backslash") << u"..\\x.dll"_s << false << u"tmp..\\x.dll"_s;
    QTest::newRow("folder only") << u"bin/"_s << false << u"tmp"_s;
}

void TestUpdateCycle::entryNames() {
    QFETCH(QString, entry);
    QTEST(update_entries::isConfined(entry), "confined");
    QFETCH(QString, copy);
    QCOMPARE(update_entries::downloadCopyPath(u"/p/"_s, entry), u"/p/"_s + copy);
}

void TestUpdateCycle::downloadsThenHandsOver() {
    StandinServer server({u"--files-dir"_s, m_served.path()});
    QVERIFY(server.isRunning());
    qputenv("VESMORA_UPDATE_URL", server.baseUrl().toString().toUtf8());
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    setProgramFolderOverride(dir.path());
    // A leftover updater is replaced by this program's own.
    QVERIFY(writeFile(folder + updaterFileName(), "stale updater"));

    PathRun run(info(u"main.new,readme.txt,data/table.bin"_s));
    QTRY_VERIFY_WITH_TIMEOUT(run.done, 20000);
    QCOMPARE(run.failures, QStringList());
    QCOMPARE(run.handOvers, 1);

    QCOMPARE(readFile(folder + u"tmpmain.new"_s), m_main);
    QCOMPARE(readFile(folder + u"tmpreadme.txt"_s), m_notes);
    QCOMPARE(readFile(folder + u"tmptable.bin"_s), m_table);
    QVERIFY(!QFileInfo::exists(folder + u"data"_s));
    const QStringList paths = [&] {
        QStringList list;
        for (const QJsonObject& request : server.requests())
            list << request.value(u"path"_s).toString();
        return list;
    }();
    QCOMPARE(paths, (QStringList{u"/soft/uploads/vesmora/main.new"_s, u"/soft/uploads/vesmora/readme.txt"_s,
                                 u"/soft/uploads/vesmora/data/table.bin"_s}));

    // The manifest: its keys in order, the values as the reply had them, in the system code page
    // (GBK on a Chinese Windows).
    const QString manifest =
        QStringDecoder(QStringConverter::System).decode(readFile(folder + u"update.ini"_s));
    const QStringList lines = manifest.split(QRegularExpression(u"\r?\n"_s), Qt::SkipEmptyParts);
    QCOMPARE(lines,
             (QStringList{u"[UpInfo]"_s, u"NewVer=2.1.1"_s, u"OldVer=2.1.0"_s,
                          u"UpFileName=main.new,readme.txt,data/table.bin"_s, u"UpNotes=修复问题/n提速"_s,
                          u"MainApp="_s + QFileInfo(QCoreApplication::applicationFilePath()).fileName()}));

    QCOMPARE(run.statuses,
             (QStringList{u"正在下载文件……"_s, u"正在下载文件(1/3)……"_s, u"正在下载文件(2/3)……"_s,
                          u"正在下载文件(3/3)……"_s, u"正在释放更新文件……"_s}));
    QCOMPARE(run.sizes, (QStringList{download_display::sizeText(m_main.size() + 1),
                                     download_display::sizeText(m_notes.size() + 1),
                                     download_display::sizeText(m_table.size() + 1)}));
    QCOMPARE(run.speeds.count(u"下载成功"_s), 3);
    QCOMPARE(run.speeds.last(), u"下载成功"_s);
    static const QRegularExpression speed(u"^下载速度: \\d+\\.\\d\\d KB/S$"_s);
    for (const QString& text : std::as_const(run.speeds))
        QVERIFY2(text == u"下载成功"_s || speed.match(text).hasMatch(), qPrintable(text));
    QCOMPARE(run.widths.last(), 445);
    for (int width : std::as_const(run.widths))
        QVERIFY(width >= 0 && width <= 445);

    // The updater written out afresh from the resource, executable, started in the folder.
    QFile resource(resourcePath(101));
    QVERIFY(resource.open(QIODevice::ReadOnly));
    QCOMPARE(readFile(folder + updaterFileName()), resource.readAll());
    QVERIFY(QFileInfo(folder + updaterFileName()).isExecutable());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder + u"handover-ran"_s), 10000);
    QTRY_COMPARE(readFile(folder + u"handover-ran"_s), QDir(dir.path()).canonicalPath().toUtf8() + "\n0\n");
    qunsetenv("VESMORA_UPDATE_URL");
}

void TestUpdateCycle::followsARedirect() {
    StandinServer server({u"--files-dir"_s, m_served.path(), u"--redirect-file"_s, u"data/table.bin"_s});
    QVERIFY(server.isRunning());
    qputenv("VESMORA_UPDATE_URL", server.baseUrl().toString().toUtf8());
    QTemporaryDir dir;
    setProgramFolderOverride(dir.path());

    PathRun run(info(u"main.new,data/table.bin"_s));
    QTRY_VERIFY_WITH_TIMEOUT(run.done, 20000);
    qunsetenv("VESMORA_UPDATE_URL");
    QCOMPARE(run.failures, QStringList());
    QCOMPARE(run.handOvers, 1);
    QCOMPARE(readFile(dir.filePath(u"tmptable.bin"_s)), m_table);
    QCOMPARE(run.sizes.last(), download_display::sizeText(m_table.size() + 1));
}

void TestUpdateCycle::failedUpdates_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<QStringList>("serverFlags");
    QTest::addColumn<QString>("fault"); // "", "server down", "folder is a file"
    QTest::addColumn<bool>("describes");
    QTest::addColumn<bool>("manifestWritten");

    QTest::newRow("no entries") << QString() << QStringList() << QString() << false << false;
    QTest::newRow("climbing entry") << u"main.new,../x"_s << QStringList() << QString() << true << false;
    QTest::newRow("absolute entry") << u"main.new,/tmp/x"_s << QStringList() << QString() << true << false;
    QTest::newRow("empty entry") << u"main.new,"_s << QStringList() << QString() << true << false;
    // Both would download into one tmpx.dll, and one would be installed with the other's bytes.
    QTest::newRow("same last part") << u"main.new,a/x.dll,b/x.dll"_s << QStringList() << QString() << true
                                    << false;
    QTest::newRow("not found") << u"main.new,missing.dll"_s << QStringList() << QString() << true << true;
    QTest::newRow("truncated body") << u"readme.txt,data/table.bin"_s
                                    << QStringList{u"--truncate-file"_s, u"data/table.bin"_s} << QString()
                                    << true << true;
    QTest::newRow("server down") << u"main.new"_s << QStringList() << u"server down"_s << true << true;
    QTest::newRow("folder not writable")
        << u"main.new"_s << QStringList() << u"folder is a file"_s << true << false;
}

void TestUpdateCycle::failedUpdates() {
    QFETCH(QString, files);
    QFETCH(QStringList, serverFlags);
    QFETCH(QString, fault);
    QFETCH(bool, describes);
    QFETCH(bool, manifestWritten);

    StandinServer server(QStringList{u"--files-dir"_s, m_served.path()} + serverFlags);
    QVERIFY(server.isRunning());
    qputenv("VESMORA_UPDATE_URL", server.baseUrl().toString().toUtf8());
    if (fault == u"server down"_s)
        server.stop();

    QTemporaryDir dir;
    QString folder = dir.path() + u"/"_s;
    QVERIFY(writeFile(folder + u"vesmora"_s, "installed"));
    if (fault == u"folder is a file"_s) {
        QVERIFY(writeFile(folder + u"plain-file"_s, "x"));
        folder += u"plain-file/"_s;
    }
    setProgramFolderOverride(folder);

    PathRun run(info(files));
    QTRY_VERIFY_WITH_TIMEOUT(run.done, 20000);
    QCOMPARE(run.handOvers, 0);
    QCOMPARE(run.failures.size(), 1);
    QCOMPARE(!run.failures.first().isEmpty(), describes);
    qunsetenv("VESMORA_UPDATE_URL");

    // Nothing half-downloaded stays (files finished before the failure may), nothing is installed,
    // no updater is written.
    const QHash<QString, QByteArray> complete{{u"tmpmain.new"_s, m_main}, {u"tmpreadme.txt"_s, m_notes}};
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : left) {
        if (complete.contains(name))
            QCOMPARE(readFile(dir.filePath(name)), complete.value(name));
        else
            QVERIFY2(name == u"vesmora"_s || name == u"update.ini"_s || name == u"plain-file"_s,
                     qPrintable(name));
    }
    QCOMPARE(readFile(dir.filePath(u"vesmora"_s)), QByteArray("installed"));
    QCOMPARE(QFileInfo::exists(dir.filePath(u"update.ini"_s)), manifestWritten);
}

void TestUpdateCycle::resourceFileNeverOverwritten() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"update"_s);
    QVERIFY(writeFile(path, "someone else's"));
    CreResFile(path, 101);
    QCOMPARE(readFile(path), QByteArray("someone else's"));

    CreResFile(dir.filePath(u"missing-resource"_s), 4711);
    QVERIFY(!QFileInfo::exists(dir.filePath(u"missing-resource"_s)));
}

QTEST_MAIN(TestUpdateCycle)
#include "tst_update_cycle.moc"
