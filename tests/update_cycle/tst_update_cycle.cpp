#include "common/IniFile.h"
#include "common/NetworkTransport.h"
#include "common/ProgramFolder.h"
#include "handover/Entries.h"
#include "handover/Manifest.h"
#include "handover/Names.h"
#include "handover/ProgramImage.h"
#include "support/StandinServer.h"
#include "support/TestFiles.h"
#include "update_client/DownloadDisplay.h"
#include "update_client/UpdatePath.h"
#include "update_client/UpdaterRelease.h"

#include <QCoreApplication>
#include <QCryptographicHash>
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
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : bytes)
        c = static_cast<char>(generator.bounded(256));
    return bytes;
}

// One update path over a program folder, with every signal recorded. A download is given up after
// averaging under 1 KB/s for a second and a half.
struct PathRun {
    explicit PathRun(const UpdateInfo& info) : path(&network) {
        path.setSlowTransferWindow(1500);
        path.setUpdaterWait(0); // the stand-in updater takes no lock
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

UpdateInfo info(const QString& files, const QString& sizes = {}, const QString& sha256 = {}) {
    return {u"2.1.1"_s, files, u"修复问题/n提速"_s, sizes, sha256};
}

QString sha256Hex(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QStringList folderNames(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestUpdateCycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void displayTexts_data();
    void displayTexts();
    void refusedLists_data();
    void refusedLists();
    void downloadsThenHandsOver();
    void followsARedirect();
    void declaredLength_data();
    void declaredLength();
    void failedUpdates_data();
    void failedUpdates();
    void downloadLimitAtItsEdge_data();
    void downloadLimitAtItsEdge();
    void resourceFileNeverOverwritten();
    void programImages_data();
    void programImages();

private:
    QTemporaryDir m_served;
    QByteArray m_main, m_notes, m_table;
};

void TestUpdateCycle::initTestCase() {
    // The main program's download must be a program for this system: this test is one.
    m_main = readFile(QCoreApplication::applicationFilePath());
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

// Refused before any download and before the manifest is written, with the entry at fault named.
void TestUpdateCycle::refusedLists_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<int>("refusal");
    const auto row = [](const char* name, const QString& files, handover::Refusal refusal) {
        QTest::newRow(name) << files << int(refusal);
    };
    using R = handover::Refusal;
    row("no entries", QString(), R::NoEntries);
    row("empty entry", u"main.new,"_s, R::BadName);
    row("climbs out", u"main.new,../x"_s, R::BadName);
    row("climbs out later", u"main.new,a/../../x"_s, R::BadName);
    row("absolute", u"main.new,/tmp/x"_s, R::BadName);
    row("drive", u"main.new,C:x.dll"_s, R::BadName);
    row("backslash", u"main.new,..\\x.dll"_s, R::BadName);
    row("folder only", u"main.new,bin/"_s, R::BadName);
    row("trailing dot", u"main.new,readme."_s, R::BadName);
    row("trailing blank in a folder", u"main.new,bin /x.dll"_s, R::BadName);
    row("alternate data stream", u"main.new,x.dll:evil"_s, R::BadName);
    row("wildcard", u"main.new,*.dll"_s, R::BadName);
    row("pipe", u"main.new,a|b"_s, R::BadName);
    row("device name", u"main.new,CON"_s, R::BadName);
    row("device name with extension", u"main.new,sub/lpt1.txt"_s, R::BadName);
    row("control character", u"main.new,a\tb"_s, R::BadName);
    row("leading blank", u"main.new, readme.txt"_s, R::EdgeBlank);
    row("quoted", u"main.new,'readme.txt'"_s, R::EdgeBlank);
    row("the manifest", u"main.new,update.ini"_s, R::ReservedName);
    row("the updater", u"main.new,Update.exe"_s, R::ReservedName);
    row("the staging folder", u"main.new,.vesmora-update/backup/0"_s, R::ReservedName);
    row("copy is another entry", u"main.new,tmpx,x"_s, R::CopyIsEntry);
    row("copy lies in an entry's folder", u"main.new,tmpa/b.dll,a"_s, R::CopyIsEntry);
    row("same last part", u"main.new,a/x.dll,b/X.dll"_s, R::SharedCopy);
    row("same file twice", u"main.new,x.dll,X.DLL"_s, R::SharedTarget);
    row("a file and a folder of one name", u"main.new,lib,lib/x.dll"_s, R::SharedTarget);
    QStringList many;
    for (int i = 0; i < 600; ++i)
        many << u"file%1.dat"_s.arg(i);
    row("more than the manifest carries", u"main.new,"_s + many.join(u","_s), R::NotCarried);
}

void TestUpdateCycle::refusedLists() {
    QFETCH(QString, files);
    QFETCH(int, refusal);
    const handover::ListCheck check = handover::checkList(files, handover::mainAppName());
    QCOMPARE(int(check.refusal), refusal);

    QTemporaryDir dir;
    setProgramFolderOverride(dir.path());
    PathRun run(info(files));
    QTRY_VERIFY(run.done);
    QCOMPARE(run.failures, QStringList{handover::describe(check)});
    QVERIFY(run.statuses.isEmpty());
    QCOMPARE(folderNames(dir.path()), QStringList());
}

void TestUpdateCycle::downloadsThenHandsOver() {
    StandinServer server({u"--files-dir"_s, m_served.path()});
    QVERIFY(server.isRunning());
    qputenv("VESMORA_UPDATE_URL", server.baseUrl().toString().toUtf8());
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    setProgramFolderOverride(dir.path());
    // A leftover updater is replaced by this program's own.
    QVERIFY(writeFile(folder + handover::updaterFileName(), "stale updater"));

    // With sizes and digests that match, as an update server may send them.
    PathRun run(info(u"main.new,readme.txt,data/table.bin"_s,
                     u"%1,%2,%3"_s.arg(m_main.size()).arg(m_notes.size()).arg(m_table.size()),
                     sha256Hex(m_main) + u","_s + sha256Hex(m_notes) + u","_s + sha256Hex(m_table)));
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
    QCOMPARE(readFile(folder + handover::updaterFileName()), resource.readAll());
    QVERIFY(QFileInfo(folder + handover::updaterFileName()).isExecutable());
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

// Each fault fails the update with a description; the installed files stay byte for byte, no
// manifest is published (so no updater would install anything) and nothing is written elsewhere.
void TestUpdateCycle::failedUpdates_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<QStringList>("serverFlags");
    QTest::addColumn<QString>("fault"); // how the folder or the server is prepared
    QTest::addColumn<QString>("sizes");
    QTest::addColumn<QString>("sha256");
    QTest::addColumn<QString>("expected"); // %F the program folder, %U the updater's name

    const QString all = u"main.new,readme.txt,data/table.bin"_s;
    const auto flags = [](const char* flag, const char* entry) {
        return QStringList{QString::fromLatin1(flag), QString::fromLatin1(entry)};
    };
    QTest::newRow("not found") << u"main.new,missing.dll"_s << QStringList() << QString() << QString()
                               << QString() << u"服务器返回状态 404"_s;
    QTest::newRow("truncated body") << all << flags("--truncate-file", "readme.txt") << QString() << QString()
                                    << QString()
                                    << u"文件下载不完整: 收到 7 字节, 应为 14 字节: %Ftmpreadme.txt"_s;
    QTest::newRow("no length, cut short: not a program")
        << all << flags("--no-length-file", "main.new") + flags("--truncate-file", "main.new") << QString()
        << QString() << QString() << u"下载的主程序不是本系统可运行的程序: %Ftmpmain.new"_s;
    QTest::newRow("an HTML page with status 200 as the main program")
        << all << flags("--html-file", "main.new") << QString() << QString() << QString()
        << u"下载的主程序不是本系统可运行的程序: %Ftmpmain.new"_s;
    QTest::newRow("trickling server")
        << all << flags("--trickle-file", "readme.txt") + flags("--trickle-ms", "100") << QString()
        << QString() << QString() << u"下载速度过慢，已中止: %Ftmpreadme.txt"_s;
    QTest::newRow("a length past the limit")
        << all << flags("--huge-length-file", "data/table.bin") << QString() << QString() << QString()
        << u"下载文件过大，已中止: %Ftmptable.bin"_s;
    QTest::newRow("longer than the update says, no length")
        << all << flags("--no-length-file", "data/table.bin") << QString() << u"short table"_s << QString()
        << u"文件大于更新信息中的大小(应为 1000 字节)，已中止: %Ftmptable.bin"_s;
    QTest::newRow("sizes not aligned with the files")
        << all << QStringList() << QString() << u"1,2"_s << QString()
        << u"更新信息中的文件大小或校验值与文件列表不一致"_s;
    QTest::newRow("wrong digest") << all << QStringList() << QString() << QString() << u"wrong"_s
                                  << u"文件校验失败(SHA-256 与更新信息不符): %Ftmptable.bin"_s;
    QTest::newRow("redirect to another host")
        << all << flags("--offsite-file", "readme.txt") << QString() << QString() << QString()
        << u"服务器重定向到其他地址，已拒绝"_s;
    QTest::newRow("server down") << u"main.new"_s << QStringList() << u"server down"_s << QString()
                                 << QString() << u"服务器拒绝连接"_s;
    QTest::newRow("folder not writable")
        << u"main.new"_s << QStringList() << u"folder is a file"_s << QString() << QString()
        << u"写入文件失败(磁盘已满或无法写入): %Fplain-file/.vesmora-update/"_s;
    // Neither removed nor replaced: the hand-over fails instead of starting whatever is there.
    QTest::newRow("a folder where the updater goes")
        << u"main.new"_s << QStringList() << u"updater is a folder"_s << QString() << QString()
        << u"写入文件失败(磁盘已满或无法写入): %F%U"_s;
    QTest::newRow("a planted link as the copy")
        << all << QStringList() << u"copy link"_s << QString() << QString()
        << u"文件路径经过链接，已拒绝写入: %Ftmpreadme.txt"_s;
    QTest::newRow("a link as an entry's folder")
        << all << QStringList() << u"folder link"_s << QString() << QString()
        << u"文件路径经过链接，已拒绝写入: %Fdata/table.bin"_s;
}

void TestUpdateCycle::failedUpdates() {
    QFETCH(QString, files);
    QFETCH(QStringList, serverFlags);
    QFETCH(QString, fault);
    QFETCH(QString, sizes);
    QFETCH(QString, sha256);
    QFETCH(QString, expected);
#ifdef Q_OS_WIN
    if (fault.endsWith(u" link"_s))
        QSKIP("no junction to plant: wine 8, where the Windows build is tested, makes neither junctions nor "
              "symbolic links");
#endif

    StandinServer server(QStringList{u"--files-dir"_s, m_served.path()} + serverFlags);
    QVERIFY(server.isRunning());
    qputenv("VESMORA_UPDATE_URL", server.baseUrl().toString().toUtf8());
    if (fault == u"server down"_s)
        server.stop();

    QTemporaryDir outer;
    const QString programFolder = outer.filePath(u"app/"_s);
    QString folder = programFolder;
    const QHash<QString, QByteArray> installed{
        {u"vesmora"_s, "installed"}, {u"readme.txt"_s, "old notes"}, {u"data/table.bin"_s, "old table"}};
    for (auto it = installed.begin(); it != installed.end(); ++it)
        QVERIFY(writeFile(folder + it.key(), it.value()));
    QVERIFY(writeFile(outer.filePath(u"elsewhere/tmpreadme.txt"_s), "outside"));
    QVERIFY(writeFile(outer.filePath(u"elsewhere/table.bin"_s), "outside"));
    if (fault == u"folder is a file"_s) {
        QVERIFY(writeFile(folder + u"plain-file"_s, "x"));
        folder += u"plain-file/"_s;
    } else if (fault == u"updater is a folder"_s) {
        QVERIFY(writeFile(folder + handover::updaterFileName() + u"/inside"_s, "x"));
    } else if (fault == u"copy link"_s) {
        QVERIFY(QFile::link(outer.filePath(u"elsewhere/tmpreadme.txt"_s), folder + u"tmpreadme.txt"_s));
    } else if (fault == u"folder link"_s) {
        QVERIFY(QDir(folder + u"data"_s).removeRecursively());
        QVERIFY(QFile::link(outer.filePath(u"elsewhere"_s), folder + u"data"_s));
    }
    setProgramFolderOverride(folder);

    if (sizes == u"short table"_s)
        sizes = u"%1,%2,1000"_s.arg(m_main.size()).arg(m_notes.size());
    if (sha256 == u"wrong"_s)
        sha256 = sha256Hex(m_main) + u","_s + sha256Hex(m_notes) + u","_s + sha256Hex(m_table + "x");
    PathRun run(info(files, sizes, sha256));
    QTRY_VERIFY_WITH_TIMEOUT(run.done, 20000);
    qunsetenv("VESMORA_UPDATE_URL");
    QCOMPARE(run.handOvers, 0);
    QCOMPARE(run.failures.size(), 1);
    QString failure = expected;
    failure.replace(u"%F"_s, programFolder).replace(u"%U"_s, handover::updaterFileName());
    QCOMPARE(run.failures.first(), QDir::toNativeSeparators(failure));

    for (auto it = installed.begin(); it != installed.end(); ++it) {
        if (fault != u"folder link"_s || it.key() != u"data/table.bin"_s)
            QCOMPARE(readFile(programFolder + it.key()), it.value());
    }
    QCOMPARE(readFile(outer.filePath(u"elsewhere/tmpreadme.txt"_s)), QByteArray("outside"));
    QCOMPARE(readFile(outer.filePath(u"elsewhere/table.bin"_s)), QByteArray("outside"));
    // Whole copies of files finished before the fault may stay; nothing else is left.
    const QHash<QString, QByteArray> complete{{u"tmpmain.new"_s, m_main}, {u"tmpreadme.txt"_s, m_notes}};
    for (const QString& name : folderNames(programFolder)) {
        if (complete.contains(name) && !QFileInfo(programFolder + name).isSymLink())
            QCOMPARE(readFile(programFolder + name), complete.value(name));
        else
            QVERIFY2(name == u"tmpreadme.txt"_s || installed.contains(name) || name == u"data"_s ||
                         name == u"plain-file"_s || name == handover::updaterFileName(),
                     qPrintable(name));
    }
}

// A redirect's own Content-Length that Qt kept ahead of the final reply's was read as no length,
// and the bar was drawn against the previous file's size (seen under wine).
void TestUpdateCycle::declaredLength_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("length");
    QTest::newRow("one value") << QByteArray(" 2097155 ") << qint64(2097155);
    QTest::newRow("a redirect's value kept ahead") << QByteArray("0, 2097155") << qint64(2097155);
    QTest::newRow("none") << QByteArray() << qint64(-1);
    QTest::newRow("not a number") << QByteArray("2097155, many") << qint64(-1);
    QTest::newRow("negative") << QByteArray("-1") << qint64(-1);
}

void TestUpdateCycle::declaredLength() {
    QFETCH(QByteArray, value);
    QFETCH(qint64, length);
    QCOMPARE(net::NetworkTransport::declaredLength(value), length);
}

// readme.txt is 14 bytes: a limit of 14 takes it, one of 13 is passed by a byte.
void TestUpdateCycle::downloadLimitAtItsEdge_data() {
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("withLength");
    QTest::addColumn<QString>("error");
    const QString tooLarge = u"下载文件过大，已中止: "_s;
    QTest::newRow("at the limit, announced") << qint64(14) << true << QString();
    QTest::newRow("a byte over, announced") << qint64(13) << true << tooLarge;
    QTest::newRow("at the limit, not announced") << qint64(14) << false << QString();
    QTest::newRow("a byte over, not announced") << qint64(13) << false << tooLarge;
}

void TestUpdateCycle::downloadLimitAtItsEdge() {
    QFETCH(qint64, limit);
    QFETCH(bool, withLength);
    QFETCH(QString, error);
    QStringList flags{u"--files-dir"_s, m_served.path()};
    if (!withLength)
        flags << u"--no-length-file"_s << u"readme.txt"_s;
    StandinServer server(flags);
    QVERIFY(server.isRunning());
    QTemporaryDir dir;
    const QString target = dir.filePath(u"tmpreadme.txt"_s);
    QNetworkAccessManager network;
    FileDownload download(&network);
    download.setMaxBytes(limit);
    QSignalSpy finished(&download, &FileDownload::finished);
    download.start(QUrl(server.baseUrl().toString() + u"/soft/uploads/vesmora/readme.txt"_s), target);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().at(1).toString(),
             error.isEmpty() ? QString() : error + QDir::toNativeSeparators(target));
    QCOMPARE(readFile(target), error.isEmpty() ? m_notes : QByteArray("<missing>"));
}

void TestUpdateCycle::resourceFileNeverOverwritten() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"update"_s);
    QVERIFY(writeFile(path, "someone else's"));
    QVERIFY(!CreResFile(path, 101));
    QCOMPARE(readFile(path), QByteArray("someone else's"));

    QVERIFY(!CreResFile(dir.filePath(u"missing-resource"_s), 4711));
    QVERIFY(!QFileInfo::exists(dir.filePath(u"missing-resource"_s)));
}

namespace {

// The smallest PE image for x86-64 that the check accepts: one section of 512 bytes at 512.
QByteArray peImage() {
    QByteArray image(1024, '\0');
    const auto put16 = [&image](int at, quint16 v) { qToLittleEndian(v, image.data() + at); };
    const auto put32 = [&image](int at, quint32 v) { qToLittleEndian(v, image.data() + at); };
    image.replace(0, 2, "MZ");
    put32(0x3C, 64);
    image.replace(64, 4, QByteArray("PE\0\0", 4));
    put16(68, 0x8664); // machine
    put16(70, 1);      // sections
    put16(84, 240);    // optional header size
    put16(86, 0x0022); // executable image
    put16(88, 0x20b);  // PE32+
    put32(88 + 240 + 16, 512);
    put32(88 + 240 + 20, 512);
    return image;
}

} // namespace

void TestUpdateCycle::programImages_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("elf");
    QTest::addColumn<bool>("pe");
    const QByteArray self = readFile(QCoreApplication::applicationFilePath());
    const bool x64 = QSysInfo::buildCpuArchitecture() == u"x86_64"_s;
    const bool selfIsElf = self.startsWith("\x7f"
                                           "ELF");
    QTest::newRow("this program") << self << selfIsElf << !selfIsElf;
    QTest::newRow("this program cut short") << self.left(self.size() / 2) << false << false;
    QTest::newRow("an HTML page") << QByteArray("<html><body>portal</body></html>") << false << false;
    QTest::newRow("empty") << QByteArray() << false << false;
    QTest::newRow("a PE image") << peImage() << false << x64;
    QTest::newRow("a PE image cut short") << peImage().left(900) << false << false;
    QByteArray library = peImage();
    library[87] = char(0x20); // a DLL
    QTest::newRow("a PE library") << library << false << false;
}

void TestUpdateCycle::programImages() {
    QFETCH(QByteArray, bytes);
    const QByteArray head = bytes.left(64 * 1024);
    QTEST(handover::isElfImage(head, bytes.size()), "elf");
    QTEST(handover::isPeImage(head, bytes.size()), "pe");
}

QTEST_MAIN(TestUpdateCycle)
#include "tst_update_cycle.moc"
