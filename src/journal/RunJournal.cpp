#include "journal/RunJournal.h"

#include "journal/Sqlite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;
using journal::Reading;
using journal::RunState;
using journal::StoredRow;

namespace {

constexpr int kCellCount = 11;
constexpr int kFirstPowerCell = 2;
// A second program writing at the same moment holds the file for a few milliseconds; a longer
// wait would freeze the window.
constexpr int kBusyMs = 1000;
// At open another program may be creating, upgrading or checkpointing the file, and some of those
// moments SQLite reports at once instead of waiting (two programs switching a new file to WAL
// together): the whole open is tried again, with growing pauses, for this long.
constexpr int kOpenBudgetMs = 5000;
constexpr int kFirstOpenPauseMs = 50;
constexpr int kFlushMs = 1000;

// Schema steps: kMigrations[v] takes a file from user_version v to v + 1.
constexpr const char* kMigrations[] = {
    R"(CREATE TABLE runs(id INTEGER PRIMARY KEY, started_at INTEGER NOT NULL, rate INTEGER NOT NULL,
                         total INTEGER NOT NULL, state INTEGER NOT NULL DEFAULT 0, ended_at INTEGER);
       CREATE TABLE run_accounts(run_id INTEGER NOT NULL, position INTEGER NOT NULL, account TEXT NOT NULL,
                                 PRIMARY KEY(run_id, position)) WITHOUT ROWID;
       CREATE TABLE run_rows(run_id INTEGER NOT NULL, position INTEGER NOT NULL, finished_at INTEGER NOT NULL,
                             failure TEXT, c0 TEXT, c1 TEXT, c2 TEXT, c3 TEXT, c4 TEXT, c5 TEXT, c6 TEXT,
                             c7 TEXT, c8 TEXT, c9 TEXT, c10 TEXT,
                             PRIMARY KEY(run_id, position)) WITHOUT ROWID;
       PRAGMA user_version = 1;)",
    // Readings by account and time, apart from the rows: history and the drop mark look an
    // account up among millions, and the rows of old runs are not kept.
    R"(CREATE TABLE readings(account TEXT NOT NULL, taken_at INTEGER NOT NULL, run_id INTEGER NOT NULL,
                             position INTEGER NOT NULL, ont_rx TEXT, ont_tx TEXT, olt_rx TEXT, olt_tx TEXT,
                             PRIMARY KEY(account, taken_at, run_id, position)) WITHOUT ROWID;
       INSERT INTO readings
           SELECT c0, finished_at, run_id, position, c2, c3, c4, c5 FROM run_rows
           WHERE c0 IS NOT NULL AND coalesce(nullif(c2, ''), nullif(c3, ''), nullif(c4, ''), nullif(c5, '')) IS NOT NULL;
       PRAGMA user_version = 2;)",
};
static_assert(std::size(kMigrations) == RunJournal::kSchemaVersion);

const char* const kReadingColumns = "account, taken_at, ont_rx, ont_tx, olt_rx, olt_tx";

qint64 toMs(const QDateTime& time) {
    return time.toMSecsSinceEpoch();
}

// In UTC: converting a million readings to local time costs seconds; windows convert what they show.
QDateTime fromMs(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

// Empty cells are stored as NULL.
QString orNull(const QString& text) {
    return text.isEmpty() ? QString() : text;
}

bool isError(int code) {
    return code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE;
}

bool hasReading(const QStringList& cells) {
    for (int i = kFirstPowerCell; i < kFirstPowerCell + 4; ++i)
        if (!cells.value(i).isEmpty())
            return true;
    return false;
}

Reading readingAt(const sqlite::Statement& row) {
    Reading reading;
    reading.account = row.text(0);
    reading.takenAt = fromMs(row.integer(1));
    for (int i = 0; i < 4; ++i)
        reading.values[size_t(i)] = row.text(2 + i);
    return reading;
}

// How the user learns why the journal went to memory: a full disk, a read-only medium, a folder
// this user may not write (or that cannot be made), or an I/O error.
QString unwritableReason(int code, const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    const QString shown = QDir::toNativeSeparators(folder);
    if ((code & 0xff) == SQLITE_FULL)
        return u"文件夹 %1 所在的磁盘空间已满"_s.arg(shown);
    QDir existing(folder);
    while (!existing.exists() && existing.cdUp()) {
    }
    if (const QStorageInfo storage(existing.absolutePath()); storage.isValid() && storage.isReadOnly())
        return u"文件夹 %1 所在的磁盘是只读的"_s.arg(shown);
    if (!QFileInfo(folder).isDir())
        return u"无法创建文件夹 %1"_s.arg(shown);
    switch (code & 0xff) {
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
        return u"没有写入文件夹 %1 的权限"_s.arg(shown);
    default:
        return u"无法写入文件夹 %1"_s.arg(shown);
    }
}

} // namespace

RunJournal::RunJournal(const QString& path, QObject* parent)
    : QObject(parent), m_path(path), m_db(std::make_unique<sqlite::Database>()) {
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &RunJournal::flush);
    switch (const Open result = openFile()) {
    case Open::Ok:
        m_persistent = true;
        break;
    case Open::Damaged:
        moveAside(u"查询记录文件已损坏"_s);
        break;
    case Open::Newer:
        moveAside(u"查询记录文件来自较新版本的程序"_s);
        break;
    case Open::Unwritable:
    case Open::Busy:
        openInMemory(openFailure(result));
        break;
    }
}

RunJournal::~RunJournal() = default; // closing the last connection writes the log into the file

void RunJournal::flush() {
    m_flushTimer.stop();
    writePending();
    if (!m_persistent)
        return;
    const int code = m_db->exec("PRAGMA wal_checkpoint(PASSIVE)");
    if (code != SQLITE_OK)
        recover(code);
}

void RunJournal::scheduleFlush() {
    if (m_persistent && !m_flushTimer.isActive())
        m_flushTimer.start();
}

QString RunJournal::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + u"/journal.sqlite"_s;
}

bool RunJournal::writeVersion1(const QString& path, const QStringList& accounts, int rate,
                               const QDateTime& startedAt, const QList<StoredRow>& rows) {
    sqlite::Database db;
    if (db.open(path) != SQLITE_OK || db.exec(kMigrations[0]) != SQLITE_OK)
        return false;
    sqlite::Statement run(db, "INSERT INTO runs(started_at, rate, total) VALUES(?, ?, ?)");
    if (run.bind(1, toMs(startedAt)).bind(2, rate).bind(3, accounts.size()).step() != SQLITE_DONE)
        return false;
    const qint64 id = db.lastInsertId();
    sqlite::Statement account(db, "INSERT INTO run_accounts VALUES(?, ?, ?)");
    for (int i = 0; i < accounts.size(); ++i) {
        if (account.bind(1, id).bind(2, i).bind(3, accounts[i]).step() != SQLITE_DONE)
            return false;
        account.reset();
    }
    sqlite::Statement row(db, "INSERT INTO run_rows VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const StoredRow& stored : rows) {
        row.bind(1, id)
            .bind(2, stored.position)
            .bind(3, toMs(stored.finishedAt))
            .bind(4, orNull(stored.failure));
        for (int i = 0; i < kCellCount; ++i)
            row.bind(5 + i, orNull(stored.cells.value(i)));
        if (row.step() != SQLITE_DONE)
            return false;
        row.reset();
    }
    return true;
}

QString RunJournal::takeNotice() {
    return std::exchange(m_notice, QString());
}

RunJournal::Open RunJournal::failure(int code) {
    m_openCode = code;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Open::Busy; // another program at work on a sound file
    default:
        return sqlite::isDamage(code) ? Open::Damaged : Open::Unwritable;
    }
}

QString RunJournal::openFailure(Open result) const {
    if (result == Open::Busy)
        return u"查询记录文件一直被另一个程序占用"_s;
    return unwritableReason(m_openCode, m_path);
}

RunJournal::Open RunJournal::openFile() {
    QElapsedTimer elapsed;
    elapsed.start();
    for (int pause = kFirstOpenPauseMs;; pause *= 2) {
        const Open result = openOnce();
        if (result != Open::Busy || elapsed.elapsed() + pause > kOpenBudgetMs)
            return result;
        m_db->close();
        sqlite::notifyBusyObserver();
        QThread::msleep(pause);
    }
}

RunJournal::Open RunJournal::openOnce() {
    const QFileInfo file(m_path);
    if (!QDir().mkpath(file.absolutePath()))
        return failure(SQLITE_CANTOPEN);
    m_db->waitWhenBusy(kBusyMs);
    int code = m_db->open(m_path);
    if (code != SQLITE_OK)
        return failure(code);

    // The first read of the header: a file that is not a database fails here.
    const auto version = m_db->integer("PRAGMA user_version");
    if (!version)
        return failure(m_db->lastCode());
    if (*version > kSchemaVersion)
        return Open::Newer;

    // Readers never block the writer, and a row's commit is one append to the log.
    code = sqlite::Statement(*m_db, "PRAGMA journal_mode = WAL").step();
    if (isError(code))
        return failure(code);
    // A commit reaches the log without waiting for the disk: a crash or kill loses nothing, and
    // the flush a moment later (scheduleFlush) bounds what a power cut can take.
    m_db->exec("PRAGMA synchronous = NORMAL");

    if (*version < kSchemaVersion) {
        if (const Open upgraded = upgrade(); upgraded != Open::Ok)
            return upgraded;
    }

    // A truncated file shows itself when a table's first page is read.
    for (const char* probe :
         {"SELECT 1 FROM runs LIMIT 1", "SELECT 1 FROM run_accounts LIMIT 1",
          "SELECT 1 FROM run_rows LIMIT 1", "SELECT 1 FROM readings LIMIT 1", "SELECT max(id) FROM runs"}) {
        sqlite::Statement statement(*m_db, probe);
        code = statement.step();
        if (isError(code))
            return failure(code);
    }
    return Open::Ok;
}

int RunJournal::createSchema(int fromVersion) {
    sqlite::Transaction transaction(*m_db);
    if (transaction.beginCode() != SQLITE_OK)
        return transaction.beginCode();
    for (int version = fromVersion; version < kSchemaVersion; ++version)
        if (const int code = m_db->exec(kMigrations[version]); code != SQLITE_OK)
            return code;
    return transaction.commit();
}

RunJournal::Open RunJournal::upgrade() {
    sqlite::Transaction transaction(*m_db);
    if (transaction.beginCode() != SQLITE_OK)
        return failure(transaction.beginCode());
    // Read again under the write lock: a program started at the same moment may have got here first.
    const auto version = m_db->integer("PRAGMA user_version");
    const auto objects = m_db->integer("SELECT count(*) FROM sqlite_master");
    if (!version || !objects)
        return failure(m_db->lastCode());
    if (*version > kSchemaVersion)
        return Open::Newer;
    if (*version == 0 && *objects != 0)
        return Open::Damaged; // some other program's database
    for (qint64 step = *version; step < kSchemaVersion; ++step)
        if (const int code = m_db->exec(kMigrations[step]); code != SQLITE_OK)
            return failure(code);
    const int code = transaction.commit();
    return code == SQLITE_OK ? Open::Ok : failure(code);
}

void RunJournal::openInMemory(const QString& reason) {
    m_db->close();
    m_persistent = false;
    if (m_db->open(u":memory:"_s) == SQLITE_OK)
        createSchema(0);
    raise(u"%1，本次查询的结果只保存在内存中，程序退出前请导出结果。"_s.arg(reason));
}

void RunJournal::moveAside(const QString& notice) {
    m_db->close();
    m_persistent = false;
    const QString stamp = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    QString aside = m_path + u".broken-"_s + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = m_path + u".broken-"_s + stamp + u"-"_s + QString::number(n);
    if (!QFile::rename(m_path, aside)) {
        openInMemory(u"%1，且无法改名（可能另一个程序正在使用它）"_s.arg(notice));
        return;
    }
    // The log belongs to the damaged file; a new file must not pick it up.
    QFile::rename(m_path + u"-wal"_s, aside + u"-wal"_s);
    QFile::remove(m_path + u"-shm"_s);
    raise(u"%1，已改名为 %2 保存，并新建了查询记录。"_s.arg(notice, QDir::toNativeSeparators(aside)));
    if (const Open result = openFile(); result == Open::Ok)
        m_persistent = true;
    else
        openInMemory(openFailure(result));
}

void RunJournal::raise(const QString& text) {
    m_notice += (m_notice.isEmpty() ? QString() : u"\n"_s) + text;
    emit noticeRaised();
}

bool RunJournal::recover(int code) {
    if (sqlite::isDamage(code)) {
        if (m_persistent)
            moveAside(u"查询记录文件已损坏"_s);
        else
            return false;
    } else {
        switch (code & 0xff) {
        case SQLITE_FULL:
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_PERM:
            if (!m_persistent)
                return false;
            openInMemory(unwritableReason(code, m_path));
            break;
        default: // busy: another program holds the file; nothing to mend
            return false;
        }
    }
    for (auto it = m_active.cbegin(); it != m_active.cend(); ++it) {
        qint64 id = it.key();
        insertRun(&id, it.value());
    }
    return true;
}

int RunJournal::insertRun(qint64* id, const ActiveRun& run) {
    sqlite::Transaction transaction(*m_db);
    if (transaction.beginCode() != SQLITE_OK)
        return transaction.beginCode();
    // A new run takes its id inside the transaction, so that two programs never share one.
    sqlite::Statement insert(*m_db, *id == 0 ? "INSERT INTO runs(started_at, rate, total) VALUES(?, ?, ?)"
                                             : "INSERT OR REPLACE INTO runs(started_at, rate, total, id) "
                                               "VALUES(?, ?, ?, ?)");
    insert.bind(1, toMs(run.startedAt)).bind(2, run.rate).bind(3, run.accounts.size());
    if (*id != 0)
        insert.bind(4, *id);
    if (insert.step() != SQLITE_DONE)
        return insert.code();
    const qint64 runId = *id != 0 ? *id : m_db->lastInsertId();
    sqlite::Statement account(*m_db, "INSERT OR REPLACE INTO run_accounts VALUES(?, ?, ?)");
    for (int i = 0; i < run.accounts.size(); ++i) {
        if (account.bind(1, runId).bind(2, i).bind(3, run.accounts[i]).step() != SQLITE_DONE)
            return account.code();
        account.reset();
    }
    const int code = transaction.commit();
    if (code == SQLITE_OK)
        *id = runId;
    return code;
}

qint64 RunJournal::startRun(const QStringList& accounts, int rate, const QDateTime& startedAt) {
    const ActiveRun run{accounts, rate, startedAt};
    qint64 id = 0;
    if (const int code = insertRun(&id, run); code != SQLITE_OK && recover(code))
        insertRun(&id, run);
    if (id == 0) // the journal cannot take it now; the run goes on, and so do its rows' attempts
        id = std::max<qint64>(m_active.isEmpty() ? 0
                                                 : *std::max_element(m_active.keyBegin(), m_active.keyEnd()),
                              m_db->integer("SELECT max(id) FROM runs").value_or(0)) +
             1;
    m_active.insert(id, run);
    claim(id);
    scheduleFlush();

    // Finished runs beyond the newest few give up their rows; their readings stay.
    m_db->exec(("DELETE FROM run_rows WHERE run_id IN (SELECT id FROM runs WHERE state <> 0 "
                "ORDER BY id DESC LIMIT -1 OFFSET " +
                QByteArray::number(kRunsWithRows) +
                ");"
                "DELETE FROM run_accounts WHERE run_id IN (SELECT id FROM runs WHERE state <> 0 "
                "ORDER BY id DESC LIMIT -1 OFFSET " +
                QByteArray::number(kRunsWithRows) + ")")
                   .constData());
    return id;
}

int RunJournal::writeRow(qint64 run, int position, const QStringList& cells, const QString& failure,
                         const QDateTime& finishedAt) {
    sqlite::Transaction transaction(*m_db);
    if (transaction.beginCode() != SQLITE_OK)
        return transaction.beginCode();
    sqlite::Statement row(
        *m_db, "INSERT OR REPLACE INTO run_rows VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    row.bind(1, run)
        .bind(2, position)
        .bind(3, toMs(finishedAt))
        .bind(4, failure.isEmpty() ? QString() : failure);
    for (int i = 0; i < kCellCount; ++i)
        row.bind(5 + i, orNull(cells.value(i)));
    if (row.step() != SQLITE_DONE)
        return row.code();

    const QString account = cells.value(0);
    // A row run again replaces its earlier reading.
    sqlite::Statement earlier(*m_db,
                              "DELETE FROM readings WHERE account = ? AND run_id = ? AND position = ?");
    if (earlier.bind(1, account).bind(2, run).bind(3, position).step() != SQLITE_DONE)
        return earlier.code();
    if (hasReading(cells)) {
        sqlite::Statement reading(*m_db, "INSERT OR REPLACE INTO readings VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
        reading.bind(1, account).bind(2, toMs(finishedAt)).bind(3, run).bind(4, position);
        for (int i = 0; i < 4; ++i)
            reading.bind(5 + i, orNull(cells.value(kFirstPowerCell + i)));
        if (reading.step() != SQLITE_DONE)
            return reading.code();
    }
    return transaction.commit();
}

void RunJournal::recordRow(qint64 run, int position, const QStringList& cells, const QString& failure,
                           const QDateTime& finishedAt) {
    m_pending.append({run, position, cells, failure, finishedAt});
    writePending();
    scheduleFlush();
}

void RunJournal::writePending() {
    while (!m_pending.isEmpty()) {
        const PendingRow& row = m_pending.first();
        int code = writeRow(row.run, row.position, row.cells, row.failure, row.finishedAt);
        if (code != SQLITE_OK && recover(code))
            code = writeRow(row.run, row.position, row.cells, row.failure, row.finishedAt);
        // Busy beyond the wait: another program holds the file; the row waits for the next write.
        if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
            return;
        m_pending.removeFirst();
    }
}

void RunJournal::endRun(qint64 run, RunState state) {
    writePending();
    const auto write = [&] {
        sqlite::Statement update(*m_db, "UPDATE runs SET state = ?, ended_at = ? WHERE id = ?");
        return update.bind(1, qint64(state))
            .bind(2, toMs(QDateTime::currentDateTimeUtc()))
            .bind(3, run)
            .step();
    };
    const int code = write();
    if (code != SQLITE_DONE && recover(code))
        write();
    m_active.remove(run);
    release(run);
    scheduleFlush();
}

QString RunJournal::lockPath(qint64 run) const {
    return m_path + u".run-"_s + QString::number(run) + u".lock"_s;
}

bool RunJournal::claim(qint64 run) {
    if (m_claims.contains(run))
        return true;
    auto lock = std::make_shared<QLockFile>(lockPath(run));
    // Only a living owner counts: a lock left by a program that ended is taken over, however fresh.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    m_claims.insert(run, lock);
    return true;
}

void RunJournal::release(qint64 run) {
    m_claims.remove(run);
}

std::optional<journal::UnfinishedRun> RunJournal::claimUnfinished() {
    if (!m_persistent)
        return std::nullopt;
    QList<qint64> abandoned;
    int code;
    {
        sqlite::Statement running(*m_db, "SELECT id FROM runs WHERE state = 0 ORDER BY id DESC");
        while ((code = running.step()) == SQLITE_ROW) {
            const qint64 id = running.integer(0);
            if (!m_active.contains(id) && claim(id))
                abandoned << id;
        }
    }
    if (isError(code)) {
        for (qint64 id : std::as_const(abandoned))
            release(id);
        recover(code);
        return std::nullopt;
    }
    // The newest run with rows left to do is offered; a run cut short after its last row has
    // nothing to go on with, and older ones are not offered again.
    std::optional<journal::RestoredRun> offered;
    for (qint64 id : std::as_const(abandoned)) {
        std::optional<journal::RestoredRun> restored = offered ? std::nullopt : loadRun(id);
        if (restored && restored->rows.size() < restored->accounts.size())
            offered = std::move(restored);
        else
            endRun(id, restored ? RunState::Finished : RunState::Stopped);
    }
    if (!offered)
        return std::nullopt;
    // Owned from here on: carried over if the file has to be replaced.
    m_active.insert(offered->id, ActiveRun{offered->accounts, offered->rate, offered->startedAt});
    return journal::UnfinishedRun{offered->id, int(offered->rows.size()), int(offered->accounts.size()),
                                  offered->rate, offered->startedAt};
}

std::optional<journal::RestoredRun> RunJournal::loadRun(qint64 id) {
    journal::RestoredRun restored;
    restored.id = id;
    int code;
    {
        sqlite::Statement run(*m_db, "SELECT rate, started_at FROM runs WHERE id = ?");
        if ((code = run.bind(1, id).step()) == SQLITE_ROW) {
            restored.rate = int(run.integer(0));
            restored.startedAt = fromMs(run.integer(1));
        }
    }
    if (code != SQLITE_ROW) {
        if (isError(code))
            recover(code);
        return std::nullopt;
    }
    {
        sqlite::Statement accounts(*m_db,
                                   "SELECT account FROM run_accounts WHERE run_id = ? ORDER BY position");
        accounts.bind(1, id);
        while ((code = accounts.step()) == SQLITE_ROW)
            restored.accounts << accounts.text(0);
    }
    if (!isError(code)) {
        sqlite::Statement rows(*m_db,
                               "SELECT position, finished_at, failure, c0, c1, c2, c3, c4, c5, c6, c7, c8, "
                               "c9, c10 FROM run_rows WHERE run_id = ? ORDER BY position");
        rows.bind(1, id);
        while ((code = rows.step()) == SQLITE_ROW) {
            StoredRow row;
            row.position = int(rows.integer(0));
            row.finishedAt = fromMs(rows.integer(1));
            row.failure = rows.text(2);
            for (int i = 0; i < kCellCount; ++i)
                row.cells << rows.text(3 + i);
            restored.rows << row;
        }
    }
    if (isError(code)) {
        recover(code);
        return std::nullopt;
    }
    int expected = 0;
    for (const StoredRow& row : std::as_const(restored.rows)) {
        if (row.position != expected)
            break;
        ++expected;
    }
    restored.firstUnfinished = std::min(expected, int(restored.accounts.size()));
    return restored;
}

std::optional<Reading> RunJournal::previousReading(const QString& account, const QDateTime& before) {
    return readingBefore(account, toMs(before));
}

std::optional<Reading> RunJournal::latestReading(const QString& account) {
    return readingBefore(account, std::numeric_limits<qint64>::max());
}

std::optional<Reading> RunJournal::readingBefore(const QString& account, qint64 ms) {
    std::optional<Reading> previous;
    int code;
    {
        sqlite::Statement query(*m_db, (QByteArray("SELECT ") + kReadingColumns +
                                        " FROM readings WHERE account = ? AND taken_at < ? "
                                        "ORDER BY taken_at DESC, run_id DESC, position DESC LIMIT 1")
                                           .constData());
        if ((code = query.bind(1, account).bind(2, ms).step()) == SQLITE_ROW)
            previous = readingAt(query);
    }
    if (isError(code))
        recover(code);
    return previous;
}

QList<Reading> RunJournal::history(const QString& account) {
    return readingsOf({account});
}

QList<Reading> RunJournal::readingsOf(const QStringList& accounts) {
    QList<Reading> readings;
    QSet<QString> seen;
    int code = SQLITE_DONE;
    {
        sqlite::Statement query(*m_db, (QByteArray("SELECT ") + kReadingColumns +
                                        " FROM readings WHERE account = ? "
                                        "ORDER BY taken_at DESC, run_id DESC, position DESC")
                                           .constData());
        for (const QString& account : accounts) {
            if (isError(code))
                break;
            if (seen.contains(account))
                continue;
            seen.insert(account);
            query.bind(1, account);
            while ((code = query.step()) == SQLITE_ROW)
                readings << readingAt(query);
            query.reset();
        }
    }
    if (isError(code)) {
        recover(code);
        return {};
    }
    if (seen.size() > 1)
        std::stable_sort(readings.begin(), readings.end(),
                         [](const Reading& a, const Reading& b) { return a.takenAt > b.takenAt; });
    return readings;
}
