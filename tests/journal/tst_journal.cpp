#include "journal/RunJournal.h"
#include "journal/Sqlite.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace Qt::StringLiterals;
using journal::RunState;
using journal::StoredRow;

namespace {

const QDateTime kStart(QDate(2026, 11, 2), QTime(8, 30), Qt::UTC);

QStringList cells(const QString& account, const QString& ontRx, const QString& oltRx = u"-20.10"_s) {
    return {account,
            u"光猫在线"_s,
            ontRx,
            u"2.10"_s,
            oltRx,
            u"3.50"_s,
            u"华为EMS-东区"_s,
            u"10.1.2.3"_s,
            u"0/1/3"_s,
            u"00123456789"_s,
            u"幸福小区3栋-1:8分光器"_s};
}

QStringList failedCells(const QString& account) {
    QStringList row(11);
    row[0] = account;
    return row;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList brokenCopies(const QString& folder) {
    return QDir(folder).entryList({u"journal.sqlite.broken-*"_s}, QDir::Files);
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

    QScopedPointer<QTemporaryDir> m_dir;
    QString journalPath() const { return m_dir->filePath(u"data/journal.sqlite"_s); }

private slots:
    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        QFile::setPermissions(m_dir->filePath(u"data"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Whatever the file is like, the program starts, says so once and journals the run.
    void badGround_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("persistent");
        QTest::addColumn<bool>("movedAside");
        QTest::addColumn<QString>("notice");
        QTest::newRow("garbage") << u"garbage"_s << true << true << u"查询记录文件已损坏，已改名为"_s;
        QTest::newRow("truncated") << u"truncated"_s << true << true << u"查询记录文件已损坏，已改名为"_s;
        // Left as it is for the newer program, history and all.
        QTest::newRow("newer schema")
            << u"newer"_s << false << false << u"查询记录文件来自较新版本的程序，已保持原样未作改动"_s;
        QTest::newRow("another program's database")
            << u"foreign"_s << true << true << u"查询记录文件已损坏"_s;
        QTest::newRow("another program's database, version 1")
            << u"foreign version 1"_s << true << true << u"查询记录文件已损坏"_s;
        // A file where the folder should be: no folder can be made, whoever runs the test.
        QTest::newRow("data folder cannot be made")
            << u"unmakeable"_s << false << false << u"无法创建文件夹"_s;
        QTest::newRow("read-only data folder") << u"read-only"_s << false << false << u"没有写入文件夹"_s;
        QTest::newRow("sound file") << u"sound"_s << true << false << QString();
    }
    void badGround() {
        QFETCH(QString, kind);
        QFETCH(bool, persistent);
        QFETCH(bool, movedAside);
        QFETCH(QString, notice);
        QVERIFY(QDir(m_dir->path()).mkpath(u"data"_s));
        const QString path = journalPath();
        if (kind == u"garbage"_s) {
            writeFile(path, QByteArray(3000, 'x'));
        } else if (kind == u"truncated"_s || kind == u"sound"_s || kind == u"newer"_s ||
                   kind == u"foreign"_s) {
            {
                RunJournal earlier(path);
                const qint64 run = earlier.startRun({u"209001"_s}, 30, kStart);
                for (int i = 0; i < 400; ++i)
                    earlier.recordRow(run, 0, cells(u"2090%1"_s.arg(i), u"-21.00"_s), QString(),
                                      kStart.addSecs(i));
                earlier.endRun(run, RunState::Finished);
            }
            if (kind == u"truncated"_s) {
                QFile file(path);
                QVERIFY(file.size() > 16384);
                QVERIFY(file.resize(file.size() / 2));
            } else if (kind == u"newer"_s || kind == u"foreign"_s) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite));
                if (kind == u"newer"_s) {
                    file.seek(60); // user_version, big-endian
                    file.write(QByteArray("\0\0\0\x09", 4));
                } else {
                    file.seek(60);
                    file.write(QByteArray(4, '\0'));
                }
            }
        } else if (kind == u"foreign version 1"_s) {
            sqlite::Database other;
            QCOMPARE(other.open(path), SQLITE_OK);
            QCOMPARE(other.exec("CREATE TABLE notes(text TEXT); PRAGMA user_version = 1"), SQLITE_OK);
        } else if (kind == u"unmakeable"_s) {
            QVERIFY(QDir(m_dir->path()).rmdir(u"data"_s));
            writeFile(m_dir->filePath(u"data"_s), "a file, not a folder");
        } else if (kind == u"read-only"_s) {
            QFile::setPermissions(m_dir->filePath(u"data"_s), QFile::ReadOwner | QFile::ExeOwner);
            QFile probe(m_dir->filePath(u"data/probe"_s));
            if (probe.open(QIODevice::WriteOnly))
                QSKIP("this user writes into read-only folders (root, or a Windows folder attribute)");
        }

        const QByteArray before = kind == u"newer"_s ? readFile(path) : QByteArray();
        RunJournal journal(path);
        QCOMPARE(journal.isPersistent(), persistent);
        const QString told = journal.takeNotice();
        QVERIFY2(notice.isEmpty() ? told.isEmpty() : told.contains(notice), qPrintable(told));
        QCOMPARE(journal.takeNotice(), QString());
        QCOMPARE(brokenCopies(m_dir->filePath(u"data"_s)).size(), movedAside ? 1 : 0);
        if (movedAside)
            QVERIFY2(told.contains(QDir::toNativeSeparators(path + u".broken-"_s)), qPrintable(told));

        const qint64 run = journal.startRun({u"209100"_s, u"209101"_s}, 20, kStart);
        journal.recordRow(run, 0, cells(u"209100"_s, u"-19.80"_s), QString(), kStart.addSecs(5));
        const auto restored = journal.loadRun(run);
        QVERIFY(restored);
        QCOMPARE(restored->rows.size(), 1);
        QCOMPARE(restored->rows[0].cells, cells(u"209100"_s, u"-19.80"_s));
        QCOMPARE(journal.history(u"209100"_s).size(), 1);
        QCOMPARE(journal.takeNotice(), QString());
        if (!before.isEmpty())
            QCOMPARE(readFile(path), before);
    }

    // A journal of the first schema: its unfinished run comes back, and its readings become history.
    void upgradesVersion1() {
        QVERIFY(QDir(m_dir->path()).mkpath(u"data"_s));
        const QStringList accounts{u"209001"_s, u"209002"_s, u"209003"_s};
        QList<StoredRow> rows{{0, cells(u"209001"_s, u"-18.25"_s), QString(), kStart.addSecs(2)},
                              {1, failedCells(u"209002"_s), u"服务器无响应"_s, kStart.addSecs(4)}};
        QVERIFY(RunJournal::writeVersion1(journalPath(), accounts, 45, kStart, rows));

        RunJournal journal(journalPath());
        QVERIFY(journal.isPersistent());
        QCOMPARE(journal.takeNotice(), QString());
        const auto unfinished = journal.claimUnfinished();
        QVERIFY(unfinished);
        QCOMPARE(unfinished->done, 2);
        QCOMPARE(unfinished->total, 3);
        QCOMPARE(unfinished->rate, 45);
        const auto restored = journal.loadRun(unfinished->id);
        QVERIFY(restored);
        QCOMPARE(restored->accounts, accounts);
        QCOMPARE(restored->firstUnfinished, 2);
        QCOMPARE(restored->rows[1].failure, u"服务器无响应"_s);
        QCOMPARE(restored->rows[1].cells, failedCells(u"209002"_s));
        const auto history = journal.history(u"209001"_s);
        QCOMPARE(history.size(), 1);
        QCOMPARE(history[0].ontReceive(), u"-18.25"_s);
        QCOMPARE(history[0].takenAt, kStart.addSecs(2));
        QVERIFY(journal.history(u"209002"_s).isEmpty());
    }

    // A run left behind comes back whole, to one program only, and only while nobody runs it.
    void restoreOfferedOnce() {
        const QStringList accounts{u"209001"_s, u"209002"_s, u"209003"_s, u"209001"_s};
        qint64 run = 0;
        {
            RunJournal first(journalPath());
            run = first.startRun(accounts, 60, kStart);
            first.recordRow(run, 0, cells(u"209001"_s, u"-21.53"_s), QString(), kStart.addSecs(1));
            first.recordRow(run, 1, failedCells(u"209002"_s), u"登录已失效"_s, kStart.addSecs(3));
            RunJournal meanwhile(journalPath()); // the run is still going in the first program
            QVERIFY(!meanwhile.claimUnfinished());
        } // ends without endRun, as a crash or a plain exit does

        RunJournal second(journalPath());
        RunJournal third(journalPath());
        const auto unfinished = second.claimUnfinished();
        QVERIFY(unfinished);
        QVERIFY(!third.claimUnfinished());
        QCOMPARE(unfinished->id, run);
        QCOMPARE(unfinished->done, 2);
        QCOMPARE(unfinished->total, 4);
        QCOMPARE(unfinished->startedAt, kStart);
        const auto restored = second.loadRun(run);
        QVERIFY(restored);
        QCOMPARE(restored->accounts, accounts);
        QCOMPARE(restored->rate, 60);
        QCOMPARE(restored->firstUnfinished, 2);
        QCOMPARE(restored->rows.size(), 2);
        QCOMPARE(restored->rows[0].cells, cells(u"209001"_s, u"-21.53"_s));
        QCOMPARE(restored->rows[0].failure, QString());
        QCOMPARE(restored->rows[0].finishedAt, kStart.addSecs(1));
        QCOMPARE(restored->rows[1].failure, u"登录已失效"_s);

        // The restored run goes on where it stopped; answered No, it would be Stopped.
        second.recordRow(run, 2, cells(u"209003"_s, u"-22.00"_s), QString(), kStart.addSecs(5));
        second.endRun(run, RunState::Stopped);
        QVERIFY(!third.claimUnfinished());
        QCOMPARE(RunJournal(journalPath()).claimUnfinished(), std::nullopt);

        // Cut short after its last row: nothing to go on with, so nothing is offered.
        {
            RunJournal last(journalPath());
            const qint64 done = last.startRun({u"209009"_s}, 30, kStart);
            last.recordRow(done, 0, cells(u"209009"_s, u"-20.00"_s), QString(), kStart);
        }
        QCOMPARE(RunJournal(journalPath()).claimUnfinished(), std::nullopt);
    }

    // Another program holding the file while this one opens it is waited for, never taken for a
    // file that cannot be written or is damaged.
    void busyAtOpen_data() {
        QTest::addColumn<QByteArray>("hold");
        QTest::addColumn<bool>("letGo");
        QTest::newRow("write lock, let go") << "BEGIN IMMEDIATE"_ba << true;
        QTest::newRow("exclusive lock, let go") << "BEGIN EXCLUSIVE"_ba << true;
        QTest::newRow("exclusive lock, held") << "BEGIN EXCLUSIVE"_ba << false;
    }
    void busyAtOpen() {
        QFETCH(QByteArray, hold);
        QFETCH(bool, letGo);
        QVERIFY(QDir(m_dir->path()).mkpath(u"data"_s));
        sqlite::Database holder;
        QCOMPARE(holder.open(journalPath()), SQLITE_OK);
        QCOMPARE(holder.exec(hold.constData()), SQLITE_OK);
        int waits = 0;
        sqlite::setBusyObserver([&] {
            if (++waits == 1 && letGo)
                holder.exec("ROLLBACK");
        });
        const auto forget = qScopeGuard([] { sqlite::setBusyObserver({}); });
        RunJournal journal(journalPath());
        QVERIFY(waits > 0);
        QCOMPARE(journal.isPersistent(), letGo);
        QCOMPARE(
            journal.takeNotice(),
            letGo
                ? QString()
                : u"查询记录文件一直被另一个程序占用，本次查询的结果只保存在内存中，程序退出前请导出结果。"_s);
        QVERIFY(brokenCopies(m_dir->filePath(u"data"_s)).isEmpty());
    }

    // Two programs start while a third holds the new file, and open it together once it lets go.
    void twoProgramsAtOnce() {
        QVERIFY(QDir(m_dir->path()).mkpath(u"data"_s));
        sqlite::Database holder;
        QCOMPARE(holder.open(journalPath()), SQLITE_OK);
        QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
        QProcess first, second;
        first.start(QStringLiteral(VESMORA_JOURNAL_WRITER), {journalPath(), u"2000"_s, u"2091"_s});
        second.start(QStringLiteral(VESMORA_JOURNAL_WRITER), {journalPath(), u"2000"_s, u"2092"_s});
        for (QProcess* writer : {&first, &second})
            QTRY_VERIFY_WITH_TIMEOUT(writer->peek(7) == "waiting", 60000);
        QCOMPARE(holder.exec("COMMIT"), SQLITE_OK);
        holder.close();
        for (QProcess* writer : {&first, &second}) {
            QVERIFY(writer->waitForFinished(120000));
            QVERIFY2(writer->exitCode() == 0, writer->readAllStandardError().constData());
        }
        RunJournal journal(journalPath());
        QCOMPARE(journal.takeNotice(), QString());
        QVERIFY(!journal.claimUnfinished());
        QStringList accounts;
        for (int i = 0; i < 2000; ++i)
            accounts << u"2091%1"_s.arg(i) << u"2092%1"_s.arg(i);
        QCOMPARE(journal.readingsOf(accounts).size(), 4000);
        for (qint64 run : {1, 2}) {
            const auto restored = journal.loadRun(run);
            QVERIFY(restored);
            QCOMPARE(restored->rows.size(), 2000);
            QCOMPARE(restored->firstUnfinished, 2000);
        }
        QVERIFY(brokenCopies(m_dir->filePath(u"data"_s)).isEmpty());
    }

    // Held by another program while a run starts, rows finish and it ends: all of it goes in
    // once the file is free, at the latest when the program ends, under an id of its own.
    void busyFileAtStartRun() {
        QVERIFY(QDir(m_dir->path()).mkpath(u"data"_s));
        {
            RunJournal journal(journalPath());
            sqlite::Database holder;
            QCOMPARE(holder.open(journalPath()), SQLITE_OK);
            QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
            const qint64 run = journal.startRun({u"209001"_s, u"209002"_s}, 30, kStart);
            journal.recordRow(run, 0, cells(u"209001"_s, u"-19.80"_s), QString(), kStart);
            journal.endRun(run, RunState::Stopped);
            QCOMPARE(holder.exec("COMMIT"), SQLITE_OK);
            RunJournal other(journalPath());
            const qint64 otherRun = other.startRun({u"209777"_s}, 30, kStart);
            other.recordRow(otherRun, 0, cells(u"209777"_s, u"-21.00"_s), QString(), kStart);
            other.endRun(otherRun, RunState::Finished);
        }
        RunJournal journal(journalPath());
        QVERIFY(!journal.claimUnfinished());
        const auto other = journal.loadRun(1);
        const auto held = journal.loadRun(2);
        QVERIFY(other && held);
        QCOMPARE(other->accounts, QStringList{u"209777"_s});
        QCOMPARE(other->rows.size(), 1);
        QCOMPARE(held->accounts, QStringList({u"209001"_s, u"209002"_s}));
        QCOMPARE(held->rows.size(), 1);
        QCOMPARE(held->rows[0].cells, cells(u"209001"_s, u"-19.80"_s));
    }

    // A file that fails mid-run: the run goes on in memory, and the file no longer offers it, so
    // no row finished meanwhile is sent again after a restart.
    void memoryFallbackMidRun() {
#ifdef Q_OS_UNIX
        qint64 run = 0;
        {
            RunJournal journal(journalPath());
            run = journal.startRun({u"209001"_s, u"209002"_s, u"209003"_s}, 30, kStart);
            journal.recordRow(run, 0, cells(u"209001"_s, u"-19.80"_s), QString(), kStart);
            journal.flush();
            // Every write to a file fails from here (EFBIG), as on a disk that gave out.
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
            const rlimit before = limit;
            limit.rlim_cur = 0;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
            journal.recordRow(run, 1, cells(u"209002"_s, u"-20.00"_s), QString(), kStart.addSecs(2));
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
            QVERIFY(!journal.isPersistent());
            QVERIFY(journal.takeNotice().contains(u"本次查询的结果只保存在内存中"_s));
            QCOMPARE(journal.loadRun(run)->rows.size(), 1); // row 1, in memory
        }
        RunJournal restarted(journalPath());
        QVERIFY(restarted.isPersistent());
        QVERIFY(!restarted.claimUnfinished());
        QCOMPARE(restarted.loadRun(run)->rows.size(), 1);
#else
        QSKIP("the file size limit that makes writes fail is a POSIX one");
#endif
    }

    // A run lock naming this very process, left by an earlier program that had its process id.
    void ownProcessIdLockIsAbandoned() {
        qint64 run = 0;
        {
            RunJournal first(journalPath());
            run = first.startRun({u"209001"_s, u"209002"_s}, 30, kStart);
            first.recordRow(run, 0, cells(u"209001"_s, u"-19.80"_s), QString(), kStart);
        }
        {
            QLockFile mine(m_dir->filePath(u"mine.lock"_s));
            QVERIFY(mine.lock());
            QVERIFY(QFile::copy(m_dir->filePath(u"mine.lock"_s), journalPath() + u".run-%1.lock"_s.arg(run)));
        }
        const auto unfinished = RunJournal(journalPath()).claimUnfinished();
        QVERIFY(unfinished);
        QCOMPARE(unfinished->id, run);
    }

    // A run worked on again (a retry) is Running and owned: not offered elsewhere, and another
    // program's pruning of old rows leaves it whole.
    void retriedRunIsOwnedAgain() {
        RunJournal journal(journalPath());
        const qint64 run = journal.startRun({u"209001"_s}, 30, kStart);
        journal.recordRow(run, 0, failedCells(u"209001"_s), u"操作超时"_s, kStart);
        journal.endRun(run, RunState::Finished);
        QVERIFY(journal.reopenRun(run));
        RunJournal other(journalPath());
        QVERIFY(!other.claimUnfinished());
        for (int i = 0; i <= RunJournal::kRunsWithRows; ++i)
            other.endRun(other.startRun({u"209777"_s}, 30, kStart), RunState::Finished);
        QCOMPARE(journal.loadRun(run)->rows.size(), 1);
    }

    void readingsByAccountAndTime() {
        RunJournal journal(journalPath());
        const qint64 morning = journal.startRun({u"209001"_s, u"209002"_s}, 30, kStart);
        journal.recordRow(morning, 0, cells(u"209001"_s, u"-19.80"_s), QString(), kStart.addDays(-5));
        journal.recordRow(morning, 1, cells(u"209002"_s, u"-25.00"_s), QString(), kStart.addDays(-4));
        journal.endRun(morning, RunState::Finished);
        const qint64 evening = journal.startRun({u"209001"_s}, 30, kStart);
        journal.recordRow(evening, 0, failedCells(u"209001"_s), u"无数据"_s, kStart.addDays(-1));
        journal.recordRow(evening, 0, cells(u"209001"_s, u"-23.10"_s), QString(), kStart); // run again

        const auto history = journal.history(u"209001"_s);
        QCOMPARE(history.size(), 2);
        QCOMPARE(history[0].ontReceive(), u"-23.10"_s);
        QCOMPARE(history[1].ontReceive(), u"-19.80"_s);
        QCOMPARE(history[1].takenAt, kStart.addDays(-5));

        const auto previous = journal.previousReading(u"209001"_s, kStart);
        QVERIFY(previous);
        QCOMPARE(previous->ontReceive(), u"-19.80"_s);
        QVERIFY(!journal.previousReading(u"209001"_s, kStart.addDays(-5)));

        const auto all = journal.readingsOf({u"209002"_s, u"209001"_s, u"209002"_s, u"209999"_s});
        QCOMPARE(all.size(), 3);
        QCOMPARE(all[0].takenAt, kStart);
        QCOMPARE(all[1].account, u"209002"_s);
        QCOMPARE(all[2].takenAt, kStart.addDays(-5));

        // Old runs give up their rows, never their readings.
        journal.endRun(evening, RunState::Finished);
        for (int i = 0; i < RunJournal::kRunsWithRows; ++i)
            journal.endRun(journal.startRun({u"209777"_s}, 30, kStart), RunState::Finished);
        QVERIFY(journal.loadRun(morning)->rows.isEmpty());
        QCOMPARE(journal.loadRun(evening)->rows.size(), 1);
        QCOMPARE(journal.history(u"209001"_s).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
