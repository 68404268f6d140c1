#include "common/IniFile.h"
#include "handover/Locks.h"
#include "handover/Manifest.h"
#include "handover/Names.h"
#include "handover/UpdateOutcome.h"
#include "platform/ProcessLookup.h"
#include "support/TestFiles.h"
#include "updater/FileSwap.h"
#include "updater/NotesLayout.h"
#include "updater/UpdaterFlow.h"
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
        QVERIFY(iniWrite(u"UpInfo"_s, key, value, folder + u"update.ini"_s) > 0);
}

// This platform's name for a program file, and a program that runs here: this test itself.
QString programName(const QString& base) {
    const QString suffix = QFileInfo(QCoreApplication::applicationFilePath()).suffix();
    return suffix.isEmpty() ? base : base + u'.' + suffix;
}
QByteArray runnable() {
    return readFile(QCoreApplication::applicationFilePath());
}

struct Started {
    QStringList paths;
};

// Does each step on the disk and notes it, with paths relative to the program folder. Faults can
// be planted: "fail <step>" fails that step the first time without doing it, "fail after <step>"
// does it and then reports a failure (as a sync after it would), "no links" makes every link
// fail as on a volume without them; each reports access denied.
class RecordedSteps : public platform::FileSteps {
public:
    explicit RecordedSteps(const QString& folder, const QStringList& faults = {})
        : m_folder(folder), m_faults(faults) {}
    QStringList log;

    bool rename(const QString& from, const QString& to) override {
        return step(u"rename %1 > %2"_s.arg(relative(from), relative(to)),
                    [&] { return FileSteps::rename(from, to); });
    }
    bool link(const QString& from, const QString& to) override {
        if (m_faults.contains(u"no links"_s)) {
            log << u"link %1 > %2"_s.arg(relative(from), relative(to));
            return false;
        }
        return step(u"link %1 > %2"_s.arg(relative(from), relative(to)),
                    [&] { return FileSteps::link(from, to); });
    }
    bool createFile(QFile& file) override {
        return step(u"create "_s + relative(file.fileName()), [&] { return FileSteps::createFile(file); });
    }
    bool write(QFile& file, const QByteArray& bytes) override {
        return step(u"write "_s + relative(file.fileName()), [&] { return FileSteps::write(file, bytes); });
    }
    bool syncFile(QFileDevice& file) override {
        return step(u"sync "_s + relative(file.fileName()), [&] { return FileSteps::syncFile(file); });
    }
    bool syncFolder(const QString& folder) override {
        return step(u"sync folder "_s + relative(folder), [&] { return FileSteps::syncFolder(folder); });
    }
    bool remove(const QString& file) override {
        return step(u"remove "_s + relative(file), [&] { return FileSteps::remove(file); });
    }
    bool removeFolder(const QString& path) override {
        return step(u"remove folder "_s + relative(path), [&] { return FileSteps::removeFolder(path); });
    }
    bool makeFolder(const QString& path) override {
        return step(u"make folder "_s + relative(path), [&] { return FileSteps::makeFolder(path); });
    }
    platform::FileFault fault() const override {
        return m_planted ? platform::FileFault{platform::FileFault::Kind::AccessDenied, 5}
                         : FileSteps::fault();
    }

private:
    bool step(const QString& line, const std::function<bool()>& doIt) {
        log << line;
        m_planted = false;
        if (m_faults.removeOne(u"fail "_s + line)) {
            m_planted = true;
            return false;
        }
        const bool done = doIt();
        if (m_faults.removeOne(u"fail after "_s + line)) {
            m_planted = true;
            return false;
        }
        return done;
    }
    QString relative(const QString& path) const {
        const QString name = QDir(m_folder).relativeFilePath(path);
        return name.isEmpty() ? u"."_s : name;
    }
    QString m_folder;
    QStringList m_faults;
    bool m_planted = false;
};

// Runs the pass over `folder` with the quick timing; `running` answers the process checks.
UpdaterFlow::Outcome runFlow(const QString& folder, Started& started,
                             const std::function<bool(const QString&)>& running, int* checks = nullptr,
                             platform::FileSteps* steps = nullptr, std::function<void(int)> stepHook = {}) {
    UpdaterFlow flow(folder, handover::readManifest(folder + u"update.ini"_s));
    flow.setTiming(kQuick);
    if (steps)
        flow.setFileSteps(steps);
    flow.setStepHook(std::move(stepHook));
    flow.setProcessCheck(running);
    flow.setProgramStart([&started](const QString& path, const QString&) {
        started.paths << path;
        return true;
    });
    QSignalSpy done(&flow, &UpdaterFlow::finished);
    QElapsedTimer shown;
    shown.start();
    flow.start(shown);
    if (!done.wait(10000))
        return UpdaterFlow::Outcome::Pending;
    if (checks)
        *checks = flow.processChecks();
    return flow.outcome();
}

bool notRunning(const QString&) {
    return false;
}

// "name=content" items: written before, or expected after ("name=" for a file that must be absent,
// "name=@new" and "name=@old" for the new and the old program).
void layOut(const QString& folder, const QStringList& items) {
    for (const QString& item : items) {
        const auto parts = item.split(u'=');
        const QByteArray bytes = parts[1] == u"@new"_s ? runnable() : parts[1].toUtf8();
        QVERIFY(writeFile(folder + parts[0], bytes));
    }
}
// "name=old|new": the file holds one of the two ("" for absent, "@new" for the new program).
QStringList notWhole(const QString& folder, const QStringList& items) {
    QStringList broken;
    for (const QString& item : items) {
        const auto parts = item.split(u'=');
        const QByteArray now = readFile(folder + parts[0]);
        bool whole = false;
        for (const QString& allowed : parts[1].split(u'|')) {
            const QByteArray bytes = allowed == u"@new"_s ? runnable() : allowed.toUtf8();
            whole = whole || now == (bytes.isEmpty() ? QByteArray("<missing>") : bytes);
        }
        if (!whole)
            broken << parts[0];
    }
    return broken;
}
void expectFiles(const QString& folder, const QStringList& items) {
    for (const QString& item : items) {
        const auto parts = item.split(u'=');
        if (parts[1].isEmpty())
            QVERIFY2(!QFileInfo::exists(folder + parts[0]), qPrintable(parts[0]));
        else
            QCOMPARE(readFile(folder + parts[0]), parts[1] == u"@new"_s ? runnable() : parts[1].toUtf8());
    }
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_data;

private slots:
    void initTestCase() { handover::setDataFolderOverride(m_data.path()); }
    void manifestTexts_data();
    void manifestTexts();
    void notesCentring_data();
    void notesCentring();
    void swaps_data();
    void swaps();
    void fileStepsInOrder_data();
    void fileStepsInOrder();
    void everyEntryWholeAtEveryStep_data();
    void everyEntryWholeAtEveryStep();
    void recordsTheOutcome_data();
    void recordsTheOutcome();
    void unrecordedFailureStartsNothing();
    void linkInAnEntryPath_data();
    void linkInAnEntryPath();
    void secondUpdaterLeavesTheFolder();
    void waitsForMainProgram();
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
}

void TestUpdater::manifestTexts() {
    QFETCH(Keys, keys);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    writeManifest(folder, keys);
    const handover::Manifest manifest = handover::readManifest(folder + u"update.ini"_s);
    QTEST(manifest.oldVersion, "oldVer");
    QTEST(manifest.newVersion, "newVer");
    QTEST(handover::notesForDisplay(manifest.notes), "notes");
    QTEST(manifest.entries(), "entries");
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

// A whole list goes in, or none of it: every row ends with each named file wholly old or wholly new.
void TestUpdater::swaps_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<QString>("mainApp");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("restarted");

    const QString a = programName(u"a"_s);
    const QString main = programName(u"Main"_s);
    const QString mainOld = main + u"=old"_s;
    const QString mainNew = main + u"=@new"_s;
    const QString copyA = u"tmp"_s + a + u"=@new"_s;
    const int installed = int(UpdaterFlow::Outcome::Installed);
    const int refused = int(UpdaterFlow::Outcome::Refused);

    QTest::newRow("first entry goes under MainApp")
        << a << main << QStringList{mainOld, copyA}
        << QStringList{mainNew, u"tmp"_s + a + u"="_s, a + u"="_s, u".vesmora-update="_s} << installed
        << true;
    QTest::newRow("later entries under their own name, new files and sub-folders")
        << a + u",b.dll,c.dat,plugins/x/y.dll"_s << main
        << QStringList{mainOld, copyA, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s, u"tmpc.dat=c"_s, u"tmpy.dll=y"_s}
        << QStringList{mainNew,      u"b.dll=newb"_s,        u"tmpb.dll="_s,
                       u"c.dat=c"_s, u"plugins/x/y.dll=y"_s, u"tmpy.dll="_s}
        << installed << true;
    // What a killed run leaves: the main program still to do, one file in, its backup kept.
    QTest::newRow("an interrupted swap is finished")
        << a + u",b.dll"_s << main
        << QStringList{mainOld, copyA, u"b.dll=newb"_s, u".vesmora-update/backup/1=oldb"_s}
        << QStringList{mainNew, u"b.dll=newb"_s, u".vesmora-update="_s, u"update.ini="_s} << installed
        << true;
    // Only the named files change; backups never take a name in the program folder.
    QTest::newRow("files the update does not name stay")
        << a + u",readme.txt,y,y.old"_s << main << QStringList{mainOld,
                                                               copyA,
                                                               u"readme.txt=old"_s,
                                                               u"tmpreadme.txt=new"_s,
                                                               u"readme.txt.old=user's"_s,
                                                               u"y=oldy"_s,
                                                               u"tmpy=newy"_s,
                                                               u"y.old=oldyold"_s,
                                                               u"tmpy.old=newyold"_s}
        << QStringList{u"readme.txt=new"_s, u"readme.txt.old=user's"_s, u"y=newy"_s, u"y.old=newyold"_s}
        << installed << true;
    QTest::newRow("main program copy is no program")
        << a + u",b.dll"_s << main
        << QStringList{mainOld, u"tmp"_s + a + u"=<html>portal</html>"_s, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s}
        << QStringList{mainOld, u"b.dll=oldb"_s, u"tmpb.dll="_s, u"update.ini="_s} << refused << true;
    QTest::newRow("an entry leaving the folder refuses the list")
        << a + u",b.dll,../victim"_s << main
        << QStringList{mainOld, copyA, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s}
        << QStringList{mainOld, copyA, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s, u"update.ini="_s} << refused
        << true;
    QTest::newRow("a Windows device name refuses the list")
        << a + u",b.dll,con.txt"_s << main << QStringList{mainOld, copyA, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s}
        << QStringList{mainOld, u"b.dll=oldb"_s} << refused << true;
    // The copy of x would be the entry tmpx itself.
    QTest::newRow("a copy named like an entry refuses the list")
        << a + u",tmpx,x"_s << main
        << QStringList{mainOld, copyA, u"tmpx=entry"_s, u"tmptmpx=new entry"_s, u"x=oldx"_s}
        << QStringList{mainOld, u"tmpx=entry"_s, u"x=oldx"_s} << refused << true;
    QTest::newRow("no MainApp: nothing installed, nothing started")
        << a + u",b.dll"_s << QString() << QStringList{mainOld, copyA, u"tmpb.dll=newb"_s}
        << QStringList{mainOld, u"b.dll="_s} << refused << false;
    QTest::newRow("MainApp in a folder: nothing installed, nothing started")
        << a << u"bin/"_s + main << QStringList{mainOld, copyA} << QStringList{mainOld} << refused << false;
    // b.dll is a folder that no file can replace: the files already in are put back, and the
    // copies go.
    QTest::newRow("an entry that cannot be installed puts the old version back")
        << a + u",c.dat,n.dat,b.dll"_s << main << QStringList{mainOld,           copyA,
                                                              u"c.dat=oldc"_s,   u"tmpc.dat=newc"_s,
                                                              u"tmpn.dat=n"_s,   u"b.dll/inside=x"_s,
                                                              u"tmpb.dll=newb"_s}
        << QStringList{mainOld,        u"tmp"_s + a + u"="_s, u"c.dat=oldc"_s,
                       u"n.dat="_s,    u"tmpc.dat="_s,        u"tmpn.dat="_s,
                       u"tmpb.dll="_s, u"update.ini="_s,      u".vesmora-update="_s}
        << int(UpdaterFlow::Outcome::RolledBack) << true;
}

void TestUpdater::swaps() {
    QFETCH(QString, files);
    QFETCH(QString, mainApp);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(int, outcome);
    QFETCH(bool, restarted);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    layOut(folder, before);
    writeManifest(folder, {{u"UpFileName"_s, files}, {u"MainApp"_s, mainApp}});

    Started started;
    QCOMPARE(int(runFlow(folder, started, &notRunning)), outcome);
    expectFiles(folder, after);
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
    QCOMPARE(started.paths, restarted ? QStringList{folder + mainApp} : QStringList{});
    if (outcome == int(UpdaterFlow::Outcome::Installed)) {
        QVERIFY(QFileInfo(folder + mainApp).isExecutable());
        QVERIFY(!QFileInfo::exists(handover::stagingFolder(folder)));
    }
}

// Every name the resume reads is on disk before the next step: each rename and removal is
// followed by a sync of its folder, and a backup's data is synced before the file it keeps is
// replaced. A roll-back is the install's steps undone in reverse.
void TestUpdater::fileStepsInOrder_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("outcome");
    const QString main = programName(u"Main"_s);
    QTest::newRow("install")
        << u"a,b.dll,sub/n.dat"_s
        << QStringList{main + u"=old"_s, u"tmpa=@new"_s, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s, u"tmpn.dat=n"_s}
        << QStringList{u"make folder .vesmora-update/backup"_s,
                       u"sync folder .vesmora-update"_s,
                       u"create .vesmora-update/backup/1.part"_s,
                       u"write .vesmora-update/backup/1.part"_s,
                       u"sync .vesmora-update/backup/1.part"_s,
                       u"rename .vesmora-update/backup/1.part > .vesmora-update/backup/1"_s,
                       u"sync folder .vesmora-update/backup"_s,
                       u"rename tmpb.dll > b.dll"_s,
                       u"sync folder ."_s,
                       u"make folder sub"_s,
                       u"sync folder ."_s,
                       u"create .vesmora-update/backup/2.new"_s,
                       u"sync folder .vesmora-update/backup"_s,
                       u"rename tmpn.dat > sub/n.dat"_s,
                       u"sync folder sub"_s,
                       u"sync folder ."_s,
                       u"create .vesmora-update/backup/0.part"_s,
                       u"write .vesmora-update/backup/0.part"_s,
                       u"sync .vesmora-update/backup/0.part"_s,
                       u"rename .vesmora-update/backup/0.part > .vesmora-update/backup/0"_s,
                       u"sync folder .vesmora-update/backup"_s,
                       u"rename tmpa > "_s + main,
                       u"sync folder ."_s,
                       u"remove folder .vesmora-update"_s,
                       u"sync folder ."_s,
                       u"remove update.ini"_s,
                       u"sync folder ."_s}
        << int(UpdaterFlow::Outcome::Installed);
    // c.dat is a folder, which no file replaces. An installed file gets its copy name as a second
    // link before its backup replaces it; then the manifest leaves the folder and the copies go.
    QTest::newRow("roll back")
        << u"a,n.dat,b.dll,c.dat"_s
        << QStringList{main + u"=old"_s,   u"tmpa=@new"_s,      u"tmpn.dat=n"_s,   u"b.dll=oldb"_s,
                       u"tmpb.dll=newb"_s, u"c.dat/inside=x"_s, u"tmpc.dat=newc"_s}
        << QStringList{u"make folder .vesmora-update/backup"_s,
                       u"sync folder .vesmora-update"_s,
                       u"create .vesmora-update/backup/1.new"_s,
                       u"sync folder .vesmora-update/backup"_s,
                       u"rename tmpn.dat > n.dat"_s,
                       u"sync folder ."_s,
                       u"create .vesmora-update/backup/2.part"_s,
                       u"write .vesmora-update/backup/2.part"_s,
                       u"sync .vesmora-update/backup/2.part"_s,
                       u"rename .vesmora-update/backup/2.part > .vesmora-update/backup/2"_s,
                       u"sync folder .vesmora-update/backup"_s,
                       u"rename tmpb.dll > b.dll"_s,
                       u"sync folder ."_s,
                       u"link b.dll > tmpb.dll"_s,
                       u"sync folder ."_s,
                       u"rename .vesmora-update/backup/2 > b.dll"_s,
                       u"sync folder ."_s,
                       u"sync folder .vesmora-update/backup"_s,
                       u"rename n.dat > tmpn.dat"_s,
                       u"sync folder ."_s,
                       u"rename update.ini > .vesmora-update/update.ini"_s,
                       u"sync folder .vesmora-update"_s,
                       u"sync folder ."_s,
                       u"remove tmpa"_s,
                       u"remove tmpn.dat"_s,
                       u"remove tmpb.dll"_s,
                       u"remove tmpc.dat"_s,
                       u"sync folder ."_s,
                       u"remove folder .vesmora-update"_s,
                       u"sync folder ."_s}
        << int(UpdaterFlow::Outcome::RolledBack);
}

void TestUpdater::fileStepsInOrder() {
    QFETCH(QString, files);
    QFETCH(QStringList, before);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    layOut(folder, before);
    writeManifest(folder, {{u"UpFileName"_s, files}, {u"MainApp"_s, programName(u"Main"_s)}});
    RecordedSteps steps(folder);
    Started started;
    QTEST(int(runFlow(folder, started, &notRunning, nullptr, &steps)), "outcome");
    QTEST(steps.log, "steps");
}

// What a kill or a power cut after any step leaves: every step is synced before the hook sees it,
// so the folder at each call is what the next start finds. Each entry is present and whole, old
// or new, the main program included, through its own roll-back too.
void TestUpdater::everyEntryWholeAtEveryStep_data() {
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("whole");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QStringList>("after");
    const QString main = programName(u"Main"_s);
    const QStringList before{main + u"=old"_s, u"tmpa=@new"_s, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s,
                             u"tmpn.dat=n"_s};
    const QStringList whole{main + u"=old|@new"_s, u"b.dll=oldb|newb"_s, u"n.dat=|n"_s};
    const QStringList allOld{main + u"=old"_s, u"b.dll=oldb"_s, u"n.dat="_s,
                             u"tmpa="_s,       u"tmpb.dll="_s,  u"tmpn.dat="_s};
    QTest::newRow("install") << QStringList{} << before << whole << 8
                             << QStringList{main + u"=@new"_s, u"b.dll=newb"_s, u"n.dat=n"_s};
    QTest::newRow("roll back of an entry")
        << QStringList{u"fail rename tmpc.dat > c.dat"_s} << before + QStringList{u"tmpc.dat=newc"_s} << whole
        << 11 << allOld;
    QTest::newRow("roll back of the main program after it went in")
        << QStringList{u"fail after rename tmpa > "_s + main} << before << whole << 13 << allOld;
    QTest::newRow("the same on a volume without hard links")
        << QStringList{u"fail after rename tmpa > "_s + main, u"no links"_s} << before << whole << 13
        << allOld;
}

void TestUpdater::everyEntryWholeAtEveryStep() {
    QFETCH(QStringList, faults);
    QFETCH(QStringList, before);
    QFETCH(QStringList, whole);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    layOut(folder, before);
    const bool fourth = before.size() > 5;
    writeManifest(folder, {{u"UpFileName"_s, fourth ? u"a,b.dll,n.dat,c.dat"_s : u"a,b.dll,n.dat"_s},
                           {u"MainApp"_s, programName(u"Main"_s)}});
    RecordedSteps steps(folder, faults);
    QStringList broken;
    int last = -1;
    Started started;
    runFlow(folder, started, &notRunning, nullptr, &steps, [&](int step) {
        last = step;
        for (const QString& name : notWhole(folder, whole))
            broken << u"after step %1: %2"_s.arg(step).arg(name);
    });
    QCOMPARE(broken, QStringList{});
    QTEST(last, "steps");
    QFETCH(QStringList, after);
    expectFiles(folder, after);
    QVERIFY(!QFileInfo::exists(handover::stagingFolder(folder)));
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
}

// The main program's next start reads what became of the hand-over.
void TestUpdater::recordsTheOutcome_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("reason");
    const QString main = programName(u"Main"_s);
    const QStringList before{main + u"=old"_s, u"tmpa=@new"_s, u"b.dll=oldb"_s, u"tmpb.dll=newb"_s};
    const int rolledBack = int(handover::UpdateOutcome::Result::RolledBack);
    const int refused = int(handover::UpdateOutcome::Result::Refused);
    QTest::newRow("installed") << u"a,b.dll"_s << before << QStringList{}
                               << int(handover::UpdateOutcome::Result::Installed) << QString() << QString();
    QTest::newRow("a file that cannot be replaced")
        << u"a,b.dll"_s << before << QStringList{u"fail rename tmpb.dll > b.dll"_s} << rolledBack
        << u"b.dll"_s << u"无法替换文件 b.dll：拒绝访问"_s;
    QTest::newRow("a folder in the way")
        << u"a,b.dll,data/x.txt"_s << before + QStringList{u"data/x.txt/inside=x"_s, u"tmpx.txt=newx"_s}
        << QStringList{} << rolledBack << u"data/x.txt"_s
        << u"无法替换文件 data/x.txt：此处已有同名的文件夹"_s;
    QTest::newRow("the main program")
        << u"a,b.dll"_s << before << QStringList{u"fail after rename tmpa > "_s + main} << rolledBack
        << u"a"_s << u"无法替换文件 "_s + main + u"：拒绝访问"_s;
    QTest::newRow("a list the rules refuse") << u"a,../b.dll"_s << before << QStringList{} << refused
                                             << u"../b.dll"_s << u"更新文件名无效: \"../b.dll\""_s;
    QTest::newRow("a main program copy that is no program")
        << u"a,b.dll"_s << QStringList{main + u"=old"_s, u"tmpa=<html>"_s} << QStringList{} << refused
        << u"a"_s << u"下载的主程序 tmpa 不是本系统可运行的程序"_s;
}

void TestUpdater::recordsTheOutcome() {
    QFETCH(QString, files);
    QFETCH(QStringList, before);
    QFETCH(QStringList, faults);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    layOut(folder, before);
    writeManifest(
        folder,
        {{u"NewVer"_s, u"2.1.1"_s}, {u"UpFileName"_s, files}, {u"MainApp"_s, programName(u"Main"_s)}});
    RecordedSteps steps(folder, faults);
    Started started;
    const QDateTime from = QDateTime::currentDateTimeUtc().addSecs(-1);
    runFlow(folder, started, &notRunning, nullptr, &steps);
    const auto outcome = handover::readOutcome(folder);
    QVERIFY(outcome);
    QCOMPARE(outcome->version, u"2.1.1"_s);
    QTEST(int(outcome->result), "result");
    QTEST(outcome->entry, "entry");
    QTEST(outcome->reason, "reason");
    QVERIFY(outcome->time >= from && outcome->time <= QDateTime::currentDateTimeUtc());
    QVERIFY(!outcome->told);
    QCOMPARE(started.paths.size(), 1);
}

// The main program started after it would fetch the same update again, and fail again.
void TestUpdater::unrecordedFailureStartsNothing() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    const QString main = programName(u"Main"_s);
    layOut(folder, {main + u"=old"_s, u"tmpa=@new"_s, u"b.dll/inside=x"_s, u"tmpb.dll=newb"_s});
    writeManifest(folder, {{u"UpFileName"_s, u"a,b.dll"_s}, {u"MainApp"_s, main}});
    // A file where the records go.
    QTemporaryDir data;
    QVERIFY(writeFile(data.filePath(u"updates"_s), "x"));
    handover::setDataFolderOverride(data.path());
    Started started;
    const auto outcome = runFlow(folder, started, &notRunning);
    handover::setDataFolderOverride(m_data.path());
    QCOMPARE(outcome, UpdaterFlow::Outcome::RolledBack);
    QCOMPARE(started.paths, QStringList{});
}

void TestUpdater::linkInAnEntryPath_data() {
    QTest::addColumn<QString>("linked");
    QTest::addColumn<QString>("files");
    QTest::newRow("an entry's folder") << u"lib"_s << u"a,lib/x.dll"_s;
    // The backups would go elsewhere, and the swap would have no lock of its own there.
    QTest::newRow("the staging folder") << u".vesmora-update"_s << u"a,x.dll"_s;
}

void TestUpdater::linkInAnEntryPath() {
#ifdef Q_OS_WIN
    QSKIP("no junction to plant: wine 8, where the Windows build is tested, makes neither junctions nor "
          "symbolic links");
#else
    QFETCH(QString, linked);
    QFETCH(QString, files);
    QTemporaryDir outer;
    const QString folder = outer.path() + u"/app/"_s;
    const QString main = programName(u"Main"_s);
    QVERIFY(writeFile(outer.filePath(u"elsewhere/x.dll"_s), "outside"));
    QVERIFY(writeFile(folder + main, "old"));
    QVERIFY(writeFile(folder + u"x.dll"_s, "old x"));
    QVERIFY(writeFile(folder + u"tmpa"_s, runnable()));
    QVERIFY(writeFile(folder + u"tmpx.dll"_s, "new"));
    QVERIFY(QFile::link(outer.filePath(u"elsewhere"_s), folder + linked));
    writeManifest(folder, {{u"UpFileName"_s, files}, {u"MainApp"_s, main}});
    Started started;
    QCOMPARE(runFlow(folder, started, &notRunning), UpdaterFlow::Outcome::Refused);
    QCOMPARE(QDir(outer.filePath(u"elsewhere"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{u"x.dll"_s});
    QCOMPARE(readFile(outer.filePath(u"elsewhere/x.dll"_s)), QByteArray("outside"));
    QCOMPARE(readFile(folder + main), QByteArray("old"));
    QCOMPARE(readFile(folder + u"x.dll"_s), QByteArray("old x"));
    QVERIFY(!QFileInfo::exists(folder + u"update.ini"_s));
    QCOMPARE(started.paths, QStringList{folder + main});
#endif
}

void TestUpdater::secondUpdaterLeavesTheFolder() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    const QString main = programName(u"Main"_s);
    layOut(folder, {main + u"=old"_s, u"tmpa=@new"_s});
    writeManifest(folder, {{u"UpFileName"_s, u"a"_s}, {u"MainApp"_s, main}});
    const auto first = handover::takeLock(folder, handover::Holder::Updater);
    QVERIFY(first);

    Started started;
    QCOMPARE(runFlow(folder, started, &notRunning), UpdaterFlow::Outcome::Busy);
    expectFiles(folder, {main + u"=old"_s, u"tmpa=@new"_s});
    QVERIFY(QFileInfo::exists(folder + u"update.ini"_s));
    QVERIFY(started.paths.isEmpty());
}

void TestUpdater::waitsForMainProgram() {
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/"_s;
    const QString a = programName(u"a"_s);
    const QString main = programName(u"Main"_s);
    QVERIFY(writeFile(folder + u"tmp"_s + a, runnable()));
    writeManifest(folder, {{u"UpFileName"_s, a}, {u"MainApp"_s, main}});

    // Ends after the third look.
    int looks = 0;
    Started started;
    QStringList asked;
    runFlow(folder, started, [&](const QString& name) {
        asked << name;
        return ++looks < 3;
    });
    QCOMPARE(looks, 3);
    QCOMPARE(asked.first(), main);

    // Never ends: 101 looks, then the swap goes ahead and the program is started again.
    QVERIFY(writeFile(folder + u"tmp"_s + a, runnable() + "newer"));
    writeManifest(folder, {{u"UpFileName"_s, a}, {u"MainApp"_s, main}});
    looks = 0;
    started = {};
    int checks = 0;
    runFlow(
        folder, started, [&](const QString&) { return ++looks > 0; }, &checks);
    QCOMPARE(checks, 101);
    QCOMPARE(looks, 101);
    QCOMPARE(readFile(folder + main), runnable() + "newer");
    QCOMPARE(started.paths.size(), 1);
}

void TestUpdater::processLookup_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("running");
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QTest::newRow("this test") << self << true;
    // A manifest written on Windows names the program with ".exe"; elsewhere it has no extension.
    if (QFileInfo(self).suffix().isEmpty())
        QTest::newRow("with .exe") << self + u".exe"_s << true;
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
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QVERIFY(writeFile(folder + self, "old"));
    QVERIFY(writeFile(folder + u"tmpa"_s, runnable()));
    // The main program is this very test, which keeps running: the pass waits.
    writeManifest(folder, {{u"UpFileName"_s, u"a"_s}, {u"MainApp"_s, self}});
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
    QCOMPARE(readFile(folder + self), QByteArray("old"));
    QCOMPARE(readFile(folder + u"tmpa"_s), runnable());
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
    QCOMPARE(window.flow()->outcome(), UpdaterFlow::Outcome::Nothing);
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
