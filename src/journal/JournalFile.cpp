#include "journal/JournalFile.h"

#include "journal/Sqlite.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QThread>

#include <sqlite3.h>

#include <iterator>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

using sqlite::isError;

// A second program writing at the same moment holds the file for a few milliseconds; a longer
// wait would freeze the window.
constexpr int kBusyMs = 1000;
// Writes queued behind a file held longer are tried again this often, each try waiting only
// briefly, so the window stays live while another program holds the file.
constexpr int kRetryMs = 500;
constexpr int kRetryBusyMs = 100;
// At the end nothing comes after, so what still waits may wait longer.
constexpr int kCloseBusyMs = 5000;
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
    // Row starts of the last minute, so that the pace holds across a restart and between
    // programs; who took each reading; readings waiting for the team's database.
    R"(CREATE TABLE row_starts(at INTEGER NOT NULL);
       ALTER TABLE readings ADD COLUMN taken_by TEXT;
       CREATE TABLE outbox(id INTEGER PRIMARY KEY, account TEXT NOT NULL, taken_at INTEGER NOT NULL,
                           taken_by TEXT NOT NULL, ont_rx TEXT, ont_tx TEXT, olt_rx TEXT, olt_tx TEXT);
       PRAGMA user_version = 3;)",
};
static_assert(std::size(kMigrations) == JournalFile::kSchemaVersion);

// A truncated file shows itself when a table's first page is read, another program's database
// when a table or column is missing.
constexpr const char* kProbes[] = {
    "SELECT 1 FROM runs LIMIT 1",       "SELECT 1 FROM run_accounts LIMIT 1",
    "SELECT 1 FROM run_rows LIMIT 1",   "SELECT taken_by FROM readings LIMIT 1",
    "SELECT 1 FROM row_starts LIMIT 1", "SELECT taken_by FROM outbox LIMIT 1",
    "SELECT max(id) FROM runs",
};

bool isBusy(int code) {
    return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED;
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

JournalFile::JournalFile(const QString& path, QObject* parent)
    : QObject(parent), m_path(path), m_db(std::make_unique<sqlite::Database>()) {
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &JournalFile::flush);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { drain(kRetryBusyMs); });
    switch (const Open result = openFile()) {
    case Open::Ok:
        m_persistent = true;
        break;
    case Open::Damaged:
        moveAside(u"查询记录文件已损坏"_s);
        break;
    case Open::Newer:
    case Open::Unwritable:
    case Open::Busy:
        openInMemory(openFailure(result));
        break;
    }
}

// Closing the last connection writes the log into the file.
JournalFile::~JournalFile() {
    close();
}

int JournalFile::migrate(sqlite::Database& db, int from, int to) {
    for (int version = from; version < to; ++version)
        if (const int code = db.exec(kMigrations[version]); code != SQLITE_OK)
            return code;
    return SQLITE_OK;
}

QString JournalFile::takeNotice() {
    return std::exchange(m_notice, QString());
}

JournalFile::Open JournalFile::failure(int code) {
    m_openCode = code;
    if (isBusy(code))
        return Open::Busy; // another program at work on a sound file
    return sqlite::isDamage(code) ? Open::Damaged : Open::Unwritable;
}

QString JournalFile::openFailure(Open result) const {
    switch (result) {
    case Open::Busy:
        return u"查询记录文件一直被另一个程序占用"_s;
    case Open::Newer:
        // Its history stays whole for the newer program.
        return u"查询记录文件来自较新版本的程序，已保持原样未作改动"_s;
    default:
        return unwritableReason(m_openCode, m_path);
    }
}

JournalFile::Open JournalFile::openFile() {
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

JournalFile::Open JournalFile::openOnce() {
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
    for (const char* probe : kProbes) {
        code = sqlite::Statement(*m_db, probe).step();
        // A missing table or column: some other program's database, whatever its version says.
        if ((code & 0xff) == SQLITE_ERROR)
            return Open::Damaged;
        if (isError(code))
            return failure(code);
    }
    return Open::Ok;
}

JournalFile::Open JournalFile::upgrade() {
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
    if (const int code = migrate(*m_db, int(*version), kSchemaVersion); code != SQLITE_OK)
        return (code & 0xff) == SQLITE_ERROR ? Open::Damaged : failure(code);
    const int code = transaction.commit();
    return code == SQLITE_OK ? Open::Ok : failure(code);
}

void JournalFile::openInMemory(const QString& reason) {
    if (m_persistent)
        emit leavingFile();
    m_db->close();
    m_persistent = false;
    if (m_db->open(u":memory:"_s) == SQLITE_OK) {
        sqlite::Transaction transaction(*m_db);
        migrate(*m_db, 0, kSchemaVersion);
        transaction.commit();
    }
    raise(u"%1，本次查询的结果只保存在内存中，程序退出前请导出结果。"_s.arg(reason));
}

void JournalFile::moveAside(const QString& notice) {
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

void JournalFile::raise(const QString& text) {
    m_notice += (m_notice.isEmpty() ? QString() : u"\n"_s) + text;
    emit noticeRaised();
}

bool JournalFile::recover(int code) {
    if (!m_persistent)
        return false;
    if (sqlite::isDamage(code)) {
        moveAside(u"查询记录文件已损坏"_s);
    } else {
        switch (code & 0xff) {
        case SQLITE_FULL:
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_PERM:
            openInMemory(unwritableReason(code, m_path));
            break;
        default: // busy: another program holds the file; nothing to mend
            return false;
        }
    }
    emit replaced();
    return true;
}

void JournalFile::readFailed(int code) {
    if (isError(code))
        recover(code);
}

void JournalFile::write(Write write, std::function<void()> committed) {
    m_waiting.append({std::move(write), std::move(committed)});
    // Behind a file another program holds, the write waits for the retry instead of the window.
    if (m_waiting.size() == 1 && !m_retryTimer.isActive())
        drain(kBusyMs);
    scheduleFlush();
}

void JournalFile::drain(int busyMs) {
    m_retryTimer.stop();
    m_db->waitWhenBusy(busyMs);
    while (!m_waiting.isEmpty()) {
        int code = run(m_waiting.first().write);
        if (isError(code) && !isBusy(code) && recover(code))
            code = run(m_waiting.first().write);
        if (isBusy(code))
            break;
        // Written, or failed for good on a database that was already the fallback.
        const Waiting done = m_waiting.takeFirst();
        if (code == SQLITE_OK && done.committed)
            done.committed();
    }
    m_db->waitWhenBusy(kBusyMs);
    if (!m_waiting.isEmpty() && !m_closed)
        m_retryTimer.start();
}

int JournalFile::run(const Write& write) {
    sqlite::Transaction transaction(*m_db);
    if (transaction.beginCode() != SQLITE_OK)
        return transaction.beginCode();
    if (const int code = write(*m_db); isError(code))
        return code;
    return transaction.commit();
}

void JournalFile::writeToLeftFile(const Write& write) {
    if (run(write) != SQLITE_OK)
        m_owedToLeftFile.append(write);
}

void JournalFile::writeLeftFile() {
    if (m_owedToLeftFile.isEmpty() || m_persistent)
        return;
    sqlite::Database file;
    file.waitWhenBusy(kRetryBusyMs);
    // Only the journal it left: a file that has since become something else is not touched.
    if (!QFileInfo::exists(m_path) || file.open(m_path) != SQLITE_OK ||
        file.integer("PRAGMA user_version") != kSchemaVersion)
        return;
    for (auto it = m_owedToLeftFile.begin(); it != m_owedToLeftFile.end();) {
        sqlite::Transaction transaction(file);
        const bool written = transaction.beginCode() == SQLITE_OK && !isError((*it)(file)) &&
                             transaction.commit() == SQLITE_OK;
        it = written ? m_owedToLeftFile.erase(it) : std::next(it);
    }
}

void JournalFile::scheduleFlush() {
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void JournalFile::flush() {
    m_flushTimer.stop();
    if (!m_waiting.isEmpty() && !m_retryTimer.isActive())
        drain(kBusyMs);
    writeLeftFile();
    if (!m_persistent)
        return;
    const int code = m_db->exec("PRAGMA wal_checkpoint(PASSIVE)");
    if (code != SQLITE_OK && !isBusy(code))
        recover(code);
}

void JournalFile::close() {
    if (m_closed)
        return;
    m_closed = true;
    m_flushTimer.stop();
    drain(kCloseBusyMs);
    writeLeftFile();
    if (m_persistent)
        m_db->exec("PRAGMA wal_checkpoint(PASSIVE)");
}
