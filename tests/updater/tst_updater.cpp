#include "common/IniFile.h"
#include "platform/ProcessLookup.h"
#include "support/TestFiles.h"
#include "updater/FileSwap.h"
#include "updater/NotesLayout.h"
#include "updater/UpdaterFlow.h"
#include "updater/UpdaterManifest.h"
#include "updater/ui/FrmLoad.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const UpdaterTiming kQuick{10, 101, 10, 50};

using Keys = QList<std::pair<QString, QString>>;

void writeManifest(const QString& folder, const Keys& keys) {
    for (const auto& [key, value] : keys)
        iniWrite(u"UpInfo"_s, key, value, folder + u"update.ini"_s);
}

struct Started {
    QStringList paths;
};

// Runs the pass over `folder` with the quick timing; `running` answers the process checks.
void runFlow(const QString& folder, Started& started, const std::function<bool(const QString&)>& running,
             UpdaterFlow** keep = nullptr) {
    auto* flow = new UpdaterFlow(folder, UpdaterManifest::read(folder + u"update.ini"_s));
    flow->setTiming(kQuick);
    flow->setProcessCheck(running);
    flow->setProgramStart([&started](const QString& path, const QString&) {
        started.paths << path;
        return true;
    });
    QSignalSpy done(flow, &UpdaterFlow::finished);
    QElapsedTimer shown;
    shown.start();
    flow->start(shown);
    QVERIFY(done.wait(10000));
    if (keep)
        *keep = flow;
    else
        delete flow;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private slots:
    void manifestTexts_data();
    void manifestTexts();
    void notesCentring_data();
    void notesCentring();
    void swaps_data();
    void swaps();
    void confinedEntries();
    void mainProgramReplaced();
    void waitsForMainProgram();
    void oldFileMovedAsideOnlyWhenPossible();
    void processLookup_data();
    void processLookup();
    void windowLayout();
    void closeDuringWaitTouchesNothing();
    void emptyManifestShowsWindowThenEnds();
};

void TestUpdater::manifestTexts_data() {
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<QString>("oldVer");
    QTest::addColumn<QString>("newVer");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("mainApp");

    QTest::newRow("no manifest") << Keys{} << u"V1.0.0"_s << u"V1.0.1"_s << u"正在更新软件"_s << QStringList{}
                                 << QString();
    QTest::newRow("empty values") << Keys{{u"OldVer"_s, QString()},
                                          {u"NewVer"_s, QString()},
                                          {u"UpNotes"_s, QString()}}
                                  << u"V1.0.0"_s << u"V1.0.1"_s << u"正在更新软件"_s << QStringList{}
                                  << QString();
    QTest::newRow("as written") << Keys{{u"NewVer"_s, u"2.1.1"_s},
                                        {u"OldVer"_s, u"2.1.0"_s},
                                        {u"UpFileName"_s, u"main.exe, help.chm,,sub/x.dll"_s},
                                        {u"UpNotes"_s, u"修复若干问题"_s},
                                        {u"MainApp"_s, u"vesmora"_s}}
                                << u"2.1.0"_s << u"2.1.1"_s << u"修复若干问题"_s
                                << QStringList{u"main.exe"_s, u" help.chm"_s, QString(), u"sub/x.dll"_s}
                                << u"vesmora"_s;
    QTest::newRow("one /n") << Keys{{u"UpNotes"_s, u"第一行/n第二行"_s}} << u"V1.0.0"_s << u"V1.0.1"_s
                            << u"第一行\n第二行"_s << QStringList{} << QString();
    QTest::newRow("two /n in a row") << Keys{{u"UpNotes"_s, u"a/n/nb"_s}} << u"V1.0.0"_s << u"V1.0.1"_s
                                     << u"a\n\nb"_s << QStringList{} << QString();
    QTest::newRow("MainApp climbing out") << Keys{{u"MainApp"_s, u"../vesmora"_s}} << u"V1.0.0"_s
                                          << u"V1.0.1"_s << u"正在更新软件"_s << QStringList{} << QString();
    QTest::newRow("MainApp in a folder") << Keys{{u"MainApp"_s, u"bin/vesmora"_s}} << u"V1.0.0"_s
                                         << u"V1.0.1"_s << u"正在更新软件"_s << QStringList{} << QString();
}

void TestUpdater::manifestTexts() {
    QFETCH(Keys, keys);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    writeManifest(folder, keys);
    const UpdaterManifest manifest = UpdaterManifest::read(folder + u"update.ini"_s);
    QTEST(manifest.oldVersion, "oldVer");
    QTEST(manifest.newVersion, "newVer");
    QTEST(manifest.notes, "notes");
    QTEST(manifest.entries, "entries");
    QTEST(manifest.mainApp, "mainApp");
}

void TestUpdater::notesCentring_data() {
    QTest::addColumn<QSize>("label");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("design size") << QSize(160, 21) << QPoint(170, 82);
    QTest::newRow("odd width and height cut toward zero") << QSize(161, 22) << QPoint(169, 81);
    QTest::newRow("fills the band") << QSize(500, 85) << QPoint(0, 50);
    QTest::newRow("taller than the band grows evenly") << QSize(100, 100) << QPoint(200, 43);
    QTest::newRow("odd overflow cuts toward zero") << QSize(100, 88) << QPoint(200, 49);
    QTest::newRow("wider than the window") << QSize(601, 21) << QPoint(-50, 82);
}

void TestUpdater::notesCentring() {
    QFETCH(QSize, label);
    QTEST(notesPosition(label, 500), "expected");
}

void TestUpdater::swaps_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<QStringList>("before"); // files present before, "name=content"
    QTest::addColumn<QStringList>("after");  // files expected after, "name=content"; "name=" means absent
    QTest::addColumn<QList<SwapResult>>("results");

    QTest::newRow("first entry goes under MainApp")
        << u"a.exe"_s << QStringList{u"Main.exe=old"_s, u"tmpa.exe=new"_s}
        << QStringList{u"Main.exe=new"_s, u"tmpa.exe="_s, u"a.exe="_s, u"Main.exe.old="_s}
        << QList<SwapResult>{SwapResult::Installed};
    QTest::newRow("later entries under their own name")
        << u"a.exe,b.dll"_s
        << QStringList{u"Main.exe=old"_s, u"tmpa.exe=new"_s, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s}
        << QStringList{u"Main.exe=new"_s, u"b.dll=newb"_s, u"tmpb.dll="_s}
        << QList<SwapResult>{SwapResult::Installed, SwapResult::Installed};
    QTest::newRow("a new file") << u"a.exe,c.dat"_s
                                << QStringList{u"Main.exe=old"_s, u"tmpa.exe=new"_s, u"tmpc.dat=c"_s}
                                << QStringList{u"c.dat=c"_s}
                                << QList<SwapResult>{SwapResult::Installed, SwapResult::Installed};
    QTest::newRow("no downloaded copy keeps the installed file")
        << u"a.exe,b.dll"_s << QStringList{u"Main.exe=old"_s, u"b.dll=oldb"_s}
        << QStringList{u"Main.exe=old"_s, u"b.dll=oldb"_s}
        << QList<SwapResult>{SwapResult::NoCopy, SwapResult::NoCopy};
    QTest::newRow("entry in a sub-folder")
        << u"bin/a.exe,plugins/x/y.dll"_s
        << QStringList{u"Main.exe=old"_s, u"tmpa.exe=new"_s, u"tmpy.dll=y"_s}
        << QStringList{u"Main.exe=new"_s, u"plugins/x/y.dll=y"_s, u"tmpy.dll="_s, u"bin/a.exe="_s}
        << QList<SwapResult>{SwapResult::Installed, SwapResult::Installed};
    QTest::newRow("empty entries name nothing")
        << u"a.exe,,b.dll,"_s
        << QStringList{u"Main.exe=old"_s, u"tmpa.exe=new"_s, u"tmp=stray"_s, u"tmpb.dll=b"_s}
        << QStringList{u"Main.exe=new"_s, u"b.dll=b"_s, u"tmp=stray"_s}
        << QList<SwapResult>{SwapResult::Installed, SwapResult::NotNamed, SwapResult::Installed,
                             SwapResult::NotNamed};
#ifndef Q_OS_WIN // no Windows file name holds a "*"
    QTest::newRow("wildcards act on the one named file")
        << u"a.exe,*.dll"_s << QStringList{u"Main.exe=old"_s, u"x.dll=x"_s, u"tmp*.dll=star"_s}
        << QStringList{u"x.dll=x"_s, u"*.dll=star"_s, u"Main.exe=old"_s}
        << QList<SwapResult>{SwapResult::NoCopy, SwapResult::Installed};
#endif
}

void TestUpdater::swaps() {
    QFETCH(QString, files);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    for (const QString& item : before) {
        const auto parts = item.split(u'=');
        QVERIFY(writeFile(folder + parts[0], parts[1].toUtf8()));
    }
    writeManifest(folder, {{u"UpFileName"_s, files}, {u"MainApp"_s, u"Main.exe"_s}});

    Started started;
    UpdaterFlow* flow = nullptr;
    runFlow(
        folder, started, [](const QString&) { return false; }, &flow);
    QVERIFY(flow);
    QTEST(flow->swapResults(), "results");
    delete flow;

    for (const QString& item : after) {
        const auto parts = item.split(u'=');
        if (parts[1].isEmpty())
            QVERIFY2(!QFileInfo::exists(folder + parts[0]), qPrintable(parts[0]));
        else
            QCOMPARE(readFile(folder + parts[0]), parts[1].toUtf8());
    }
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
    QCOMPARE(started.paths, QStringList{folder + u"Main.exe"_s});
}

void TestUpdater::confinedEntries() {
    QTemporaryDir outer;
    const QString folder = outer.path() + u"/app/"_s;
    const QString victim = outer.path() + u"/victim"_s;
    QVERIFY(writeFile(victim, "keep"));
    QVERIFY(writeFile(folder + u"tmpvictim"_s, "evil"));
    QVERIFY(writeFile(folder + u"b.dll"_s, "oldb"));
    QVERIFY(writeFile(folder + u"tmpb.dll"_s, "newb"));
    writeManifest(folder, {{u"UpFileName"_s, u"../victim,"_s + victim + u",sub/../../victim,b.dll"_s},
                           {u"MainApp"_s, u"Main.exe"_s}});

    Started started;
    UpdaterFlow* flow = nullptr;
    runFlow(
        folder, started, [](const QString&) { return false; }, &flow);
    QCOMPARE(flow->swapResults(), (QList<SwapResult>{SwapResult::NotNamed, SwapResult::NotNamed,
                                                     SwapResult::NotNamed, SwapResult::Installed}));
    delete flow;
    QCOMPARE(readFile(victim), QByteArray("keep"));
    QCOMPARE(readFile(folder + u"tmpvictim"_s), QByteArray("evil"));
    QVERIFY(!QFileInfo::exists(folder + u"Main.exe"_s));
    QCOMPARE(readFile(folder + u"b.dll"_s), QByteArray("newb"));

    // An empty MainApp names no main program: nothing under it, no wait, no restart.
    QVERIFY(writeFile(folder + u"tmpa.exe"_s, "new"));
    QVERIFY(writeFile(folder + u"tmpc.dll"_s, "c"));
    writeManifest(folder, {{u"UpFileName"_s, u"a.exe,c.dll"_s}});
    started = {};
    int checks = 0;
    runFlow(folder, started, [&checks](const QString&) { return ++checks > 0; });
    QCOMPARE(checks, 0);
    QVERIFY(started.paths.isEmpty());
    QCOMPARE(readFile(folder + u"tmpa.exe"_s), QByteArray("new"));
    QCOMPARE(readFile(folder + u"c.dll"_s), QByteArray("c"));
}

void TestUpdater::mainProgramReplaced() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
#ifdef Q_OS_WIN
    const QString name = u"vesmora.exe"_s; // there the extension makes a file a program
#else
    const QString name = u"vesmora"_s;
#endif
    QVERIFY(writeFile(folder + name, "old"));
    QVERIFY(writeFile(folder + u"tmp"_s + name, "new"));
    QFile::setPermissions(folder + u"tmp"_s + name, QFile::ReadOwner | QFile::WriteOwner);
    writeManifest(folder, {{u"UpFileName"_s, name}, {u"MainApp"_s, name}});
    Started started;
    runFlow(folder, started, [](const QString&) { return false; });
    QCOMPARE(readFile(folder + name), QByteArray("new"));
    QVERIFY(QFileInfo(folder + name).isExecutable());
}

void TestUpdater::waitsForMainProgram() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    QVERIFY(writeFile(folder + u"tmpa.exe"_s, "new"));
    writeManifest(folder, {{u"UpFileName"_s, u"a.exe"_s}, {u"MainApp"_s, u"Main.exe"_s}});

    // Ends after the third look.
    int looks = 0;
    Started started;
    QStringList asked;
    runFlow(folder, started, [&](const QString& name) {
        asked << name;
        return ++looks < 3;
    });
    QCOMPARE(looks, 3);
    QCOMPARE(asked.first(), u"Main.exe"_s);

    // Never ends: 101 looks, then the swap goes ahead and the program is started again.
    QVERIFY(writeFile(folder + u"tmpa.exe"_s, "newer"));
    writeManifest(folder, {{u"UpFileName"_s, u"a.exe"_s}, {u"MainApp"_s, u"Main.exe"_s}});
    looks = 0;
    started = {};
    UpdaterFlow* flow = nullptr;
    runFlow(
        folder, started, [&](const QString&) { return ++looks > 0; }, &flow);
    QCOMPARE(flow->processChecks(), 101);
    QCOMPARE(looks, 101);
    delete flow;
    QCOMPARE(readFile(folder + u"Main.exe"_s), QByteArray("newer"));
    QCOMPARE(started.paths.size(), 1);
}

void TestUpdater::oldFileMovedAsideOnlyWhenPossible() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    QVERIFY(writeFile(folder + u"b.dll"_s, "oldb"));
    QVERIFY(writeFile(folder + u"tmpb.dll"_s, "newb"));
    // A folder where the old file would go aside cannot be cleared: nothing moves.
    QVERIFY(writeFile(folder + u"b.dll.old/inside"_s, "x"));
    QCOMPARE(swapIn(folder + u"tmpb.dll"_s, folder + u"b.dll"_s, false), SwapResult::Kept);
    QCOMPARE(readFile(folder + u"b.dll"_s), QByteArray("oldb"));
    QCOMPARE(readFile(folder + u"tmpb.dll"_s), QByteArray("newb"));

    // A leftover old copy from an interrupted run is cleared first.
    QVERIFY(QDir(folder + u"b.dll.old"_s).removeRecursively());
    QVERIFY(writeFile(folder + u"b.dll.old"_s, "stale"));
    QCOMPARE(swapIn(folder + u"tmpb.dll"_s, folder + u"b.dll"_s, false), SwapResult::Installed);
    QCOMPARE(readFile(folder + u"b.dll"_s), QByteArray("newb"));
    QVERIFY(!QFileInfo::exists(folder + u"b.dll.old"_s));
}

void TestUpdater::processLookup_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("running");
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QTest::newRow("this test") << self << true;
    // On Windows the name has its ".exe" already.
    QTest::newRow("with .exe") << (self.endsWith(u".exe"_s) ? self : self + u".exe"_s) << true;
    QTest::newRow("not running") << u"no-such-program-4711"_s << false;
    QTest::newRow("apostrophe") << u"it's"_s << false;
    QTest::newRow("quote injection") << self + u"' or Name like '%"_s << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("a path") << QCoreApplication::applicationFilePath() << false;
}

void TestUpdater::processLookup() {
    QFETCH(QString, name);
    QTEST(platform::isProcessRunning(name), "running");
}

void TestUpdater::windowLayout() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    writeManifest(
        folder,
        {{u"OldVer"_s, u"2.1.0"_s}, {u"NewVer"_s, u"2.1.1"_s}, {u"UpNotes"_s, u"新版本/n修复问题"_s}});
    FrmLoad window(folder);
    window.setTiming(kQuick);
    QSignalSpy ended(&window, &FrmLoad::ended);
    window.start();
    QVERIFY(window.isVisible());
    QCOMPARE(window.windowTitle(), u"正在重启更新"_s);
    QCOMPARE(window.size(), QSize(500, 360));

    auto* notes = window.findChild<QLabel*>(u"LabUpTxt"_s);
    QCOMPARE(notes->text(), u"新版本\n修复问题"_s);
    QVERIFY(notes->height() > notes->fontMetrics().height());
    QCOMPARE(notes->pos(), notesPosition(notes->size(), 500));
    QCOMPARE(window.findChild<QLabel*>(u"LabOldVer"_s)->text(), u"2.1.0"_s);
    QCOMPARE(window.findChild<QLabel*>(u"LabNewVer"_s)->text(), u"2.1.1"_s);
    QCOMPARE(window.findChild<QLabel*>(u"LabOldVer"_s)->pos(), QPoint(72, 192));

    auto* end = window.findChild<QLabel*>(u"LabEnd"_s);
    QCOMPARE(end->geometry(), QRect(464, 16, 22, 22));
    QCOMPARE(end->cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(end->cursor().hotSpot(), QPoint(5, 0));
    QVERIFY(ended.wait(5000));
}

void TestUpdater::closeDuringWaitTouchesNothing() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    QVERIFY(writeFile(folder + u"Main.exe"_s, "old"));
    QVERIFY(writeFile(folder + u"tmpa.exe"_s, "new"));
    // The main program is this very test, which keeps running: the pass waits.
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    writeManifest(folder, {{u"UpFileName"_s, u"a.exe"_s}, {u"MainApp"_s, self}});
    const QByteArray manifest = readFile(folder + u"update.ini"_s);

    FrmLoad window(folder);
    window.setTiming({20, 101, 10, 50});
    QSignalSpy ended(&window, &FrmLoad::ended);
    window.start();
    QTRY_VERIFY(window.flow()->processChecks() >= 2);
    QTest::mouseClick(window.findChild<QLabel*>(u"LabEnd"_s), Qt::LeftButton);
    QCOMPARE(ended.count(), 1);
    const int checks = window.flow()->processChecks();

    QTest::qWait(200);
    QCOMPARE(window.flow()->processChecks(), checks);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(readFile(folder + u"Main.exe"_s), QByteArray("old"));
    QCOMPARE(readFile(folder + u"tmpa.exe"_s), QByteArray("new"));
    QCOMPARE(readFile(folder + u"update.ini"_s), manifest);
}

void TestUpdater::emptyManifestShowsWindowThenEnds() {
    QTemporaryDir dir;
    FrmLoad window(dir.path() + u"/"_s);
    window.setTiming(kQuick);
    QSignalSpy ended(&window, &FrmLoad::ended);
    window.start();
    QCOMPARE(window.findChild<QLabel*>(u"LabUpTxt"_s)->text(), u"正在更新软件"_s);
    QCOMPARE(window.findChild<QLabel*>(u"LabOldVer"_s)->text(), u"V1.0.0"_s);
    QCOMPARE(window.findChild<QLabel*>(u"LabNewVer"_s)->text(), u"V1.0.1"_s);
    QVERIFY(ended.wait(5000));
    QCOMPARE(window.flow()->processChecks(), 0);
    QVERIFY(window.flow()->swapResults().isEmpty());
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
