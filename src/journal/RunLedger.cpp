#include "journal/RunLedger.h"

#include "journal/JournalFile.h"
#include "journal/Sqlite.h"
#include "journal/StoredValues.h"

#include <QCoreApplication>
#include <QLockFile>
#include <QMutex>
#include <QSet>
#include <QSysInfo>

#include <sqlite3.h>

#include <utility>

using namespace Qt::StringLiterals;
using journal::fromMs;
using journal::orNull;
using journal::RunState;
using journal::StoredRow;
using journal::toMs;

namespace {

using sqlite::done;
using sqlite::isError;

constexpr int kCellCount = 11;
constexpr qint64 kMinuteMs = 60000;

// Run locks held by any journal of this process: a lock naming this process that none of them
// holds was left by an earlier program that had the same process id.
QMutex g_heldLock;
QSet<QString>& heldHere() {
    static QSet<QString> held;
    return held;
}

} // namespace

RunLedger::RunLedger(JournalFile* file, QObject* parent) : QObject(parent), m_file(file) {
    connect(file, &JournalFile::replaced, this, &RunLedger::rewriteOwned);
    connect(file, &JournalFile::leavingFile, this, &RunLedger::markOwnedStoppedInLeftFile);
}

RunLedger::~RunLedger() {
    for (auto it = m_claims.cbegin(); it != m_claims.cend(); ++it) {
        const QMutexLocker locker(&g_heldLock);
        heldHere().remove(it.value()->fileName());
    }
}

int RunLedger::insertRun(sqlite::Database& db, qint64 id, const OwnedRun& run, qint64* inserted) {
    // A new run takes its id inside the transaction, so that two programs never share one.
    sqlite::Statement insert(db, id == 0 ? "INSERT INTO runs(started_at, rate, total) VALUES(?, ?, ?)"
                                         : "INSERT OR REPLACE INTO runs(started_at, rate, total, id) "
                                           "VALUES(?, ?, ?, ?)");
    insert.bind(1, toMs(run.startedAt)).bind(2, run.rate).bind(3, run.accounts.size());
    if (id != 0)
        insert.bind(4, id);
    if (insert.step() != SQLITE_DONE)
        return insert.code();
    const qint64 runId = id != 0 ? id : db.lastInsertId();
    sqlite::Statement account(db, "INSERT OR REPLACE INTO run_accounts VALUES(?, ?, ?)");
    for (int i = 0; i < run.accounts.size(); ++i) {
        if (account.bind(1, runId).bind(2, i).bind(3, run.accounts[i]).step() != SQLITE_DONE)
            return account.code();
        account.reset();
    }
    *inserted = runId;
    return SQLITE_OK;
}

qint64 RunLedger::startRun(const QStringList& accounts, int rate, const QDateTime& startedAt) {
    const qint64 handle = m_nextHandle--;
    m_handles.insert(handle, 0);
    const OwnedRun run{accounts, rate, startedAt};
    auto tried = std::make_shared<qint64>(0);
    m_file->write(
        [this, run, tried](sqlite::Database& db) {
            // A try whose commit failed took a claim on an id it does not keep.
            if (*tried != 0)
                release(std::exchange(*tried, 0));
            qint64 id = 0;
            if (const int code = insertRun(db, 0, run, &id); code != SQLITE_OK)
                return code;
            // Owned before it is committed as Running, so no other program claims it in between.
            if (m_file->isPersistent())
                claim(id);
            *tried = id;
            return SQLITE_OK;
        },
        [this, handle, run, tried] {
            m_handles[handle] = *tried;
            m_owned.insert(*tried, run);
        });
    // Finished runs beyond the newest few give up their rows; their readings stay.
    m_file->write([](sqlite::Database& db) {
        return db.exec(("DELETE FROM run_rows WHERE run_id IN (SELECT id FROM runs WHERE state <> 0 "
                        "ORDER BY id DESC LIMIT -1 OFFSET " +
                        QByteArray::number(kRunsWithRows) +
                        ");"
                        "DELETE FROM run_accounts WHERE run_id IN (SELECT id FROM runs WHERE state <> 0 "
                        "ORDER BY id DESC LIMIT -1 OFFSET " +
                        QByteArray::number(kRunsWithRows) + ")")
                           .constData());
    });
    if (const qint64 id = m_handles.value(handle); id != 0) {
        m_handles.remove(handle);
        return id;
    }
    return handle;
}

qint64 RunLedger::idOf(qint64 handle) const {
    return handle > 0 ? handle : m_handles.value(handle);
}

int RunLedger::writeRow(sqlite::Database& db, qint64 id, int position, const QStringList& cells,
                        const QString& failure, const QDateTime& finishedAt) {
    sqlite::Statement row(
        db, "INSERT OR REPLACE INTO run_rows VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    row.bind(1, id).bind(2, position).bind(3, toMs(finishedAt)).bind(4, orNull(failure));
    for (int i = 0; i < kCellCount; ++i)
        row.bind(5 + i, orNull(cells.value(i)));
    return done(row.step());
}

void RunLedger::endRun(qint64 handle, RunState state) {
    m_file->write(
        [this, handle, state](sqlite::Database& db) {
            const qint64 id = idOf(handle);
            if (id == 0)
                return SQLITE_OK; // its start never reached any journal
            sqlite::Statement update(db, "UPDATE runs SET state = ?, ended_at = ? WHERE id = ?");
            return done(update.bind(1, qint64(state))
                            .bind(2, toMs(QDateTime::currentDateTimeUtc()))
                            .bind(3, id)
                            .step());
        },
        // Given up only once the end is in the journal: until then it must not be offered.
        [this, handle] {
            const qint64 id = idOf(handle);
            if (const auto owned = m_owned.constFind(id); owned != m_owned.cend()) {
                m_ended.insert(id, *owned);
                m_owned.erase(owned);
            }
            release(id);
        });
}

bool RunLedger::reopenRun(qint64 handle) {
    if (handle < 0 ? !m_handles.contains(handle) : !m_owned.contains(handle) && !m_ended.contains(handle))
        return false;
    m_file->write(
        [this, handle](sqlite::Database& db) {
            const qint64 id = idOf(handle);
            if (id == 0)
                return SQLITE_OK;
            if (m_file->isPersistent())
                claim(id);
            sqlite::Statement update(db, "UPDATE runs SET state = 0, ended_at = NULL WHERE id = ?");
            return done(update.bind(1, id).step());
        },
        [this, handle] {
            const qint64 id = idOf(handle);
            if (const auto ended = m_ended.constFind(id); ended != m_ended.cend()) {
                m_owned.insert(id, *ended);
                m_ended.erase(ended);
            }
        });
    return true;
}

void RunLedger::rewriteOwned() {
    sqlite::Database& db = m_file->db();
    sqlite::Transaction transaction(db);
    for (auto it = m_owned.cbegin(); it != m_owned.cend(); ++it) {
        qint64 ignored = 0;
        insertRun(db, it.key(), it.value(), &ignored);
    }
    transaction.commit();
}

// The runs go on in memory: the file must not offer them again at the next start, which would
// send their rows finished since a second time.
void RunLedger::markOwnedStoppedInLeftFile() {
    const QList<qint64> ids = m_owned.keys();
    if (ids.isEmpty())
        return;
    const qint64 now = toMs(QDateTime::currentDateTimeUtc());
    m_file->writeToLeftFile([ids, now](sqlite::Database& db) {
        sqlite::Statement update(db, "UPDATE runs SET state = ?, ended_at = ? WHERE id = ? AND state = 0");
        for (const qint64 id : ids) {
            if (const int code = update.bind(1, qint64(RunState::Stopped)).bind(2, now).bind(3, id).step();
                code != SQLITE_DONE)
                return code;
            update.reset();
        }
        return SQLITE_OK;
    });
}

QString RunLedger::lockPath(qint64 id) const {
    return m_file->path() + u".run-"_s + QString::number(id) + u".lock"_s;
}

bool RunLedger::claim(qint64 id) {
    if (m_claims.contains(id))
        return true;
    const QString path = lockPath(id);
    const QMutexLocker locker(&g_heldLock);
    if (heldHere().contains(path))
        return false; // another journal of this program works on it
    auto lock = std::make_shared<QLockFile>(path);
    // Only a living owner counts: a lock left by a program that ended is taken over, however fresh.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        // Named after this very process but held by none of its journals: left by an earlier
        // program that had the same process id, and dead.
        qint64 pid = 0;
        QString host;
        QString application;
        if (!lock->getLockInfo(&pid, &host, &application) || pid != QCoreApplication::applicationPid() ||
            host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0 || // Windows: upper case
            !lock->removeStaleLockFile() || !lock->tryLock(0))
            return false;
    }
    heldHere().insert(path);
    m_claims.insert(id, lock);
    return true;
}

void RunLedger::release(qint64 id) {
    if (const auto lock = m_claims.take(id)) {
        const QMutexLocker locker(&g_heldLock);
        heldHere().remove(lock->fileName());
    }
}

std::optional<journal::UnfinishedRun> RunLedger::claimUnfinished() {
    if (!m_file->isPersistent())
        return std::nullopt;
    QList<qint64> abandoned;
    int code;
    {
        sqlite::Statement running(m_file->db(), "SELECT id FROM runs WHERE state = 0 ORDER BY id DESC");
        while ((code = running.step()) == SQLITE_ROW) {
            const qint64 id = running.integer(0);
            if (!m_owned.contains(id) && claim(id))
                abandoned << id;
        }
    }
    if (isError(code)) {
        for (const qint64 id : std::as_const(abandoned))
            release(id);
        m_file->readFailed(code);
        return std::nullopt;
    }
    // The newest run with rows left to do is offered; a run cut short after its last row has
    // nothing to go on with, and older ones are not offered again.
    std::optional<journal::RestoredRun> offered;
    for (const qint64 id : std::as_const(abandoned)) {
        std::optional<journal::RestoredRun> restored = offered ? std::nullopt : loadRun(id);
        if (restored && restored->rows.size() < restored->accounts.size())
            offered = std::move(restored);
        else
            endRun(id, restored ? RunState::Finished : RunState::Stopped);
    }
    if (!offered)
        return std::nullopt;
    // Owned from here on: carried over if the file has to be replaced.
    m_owned.insert(offered->id, OwnedRun{offered->accounts, offered->rate, offered->startedAt});
    return journal::UnfinishedRun{offered->id, int(offered->rows.size()), int(offered->accounts.size()),
                                  offered->rate, offered->startedAt};
}

std::optional<journal::RestoredRun> RunLedger::loadRun(qint64 id) {
    sqlite::Database& db = m_file->db();
    journal::RestoredRun restored;
    restored.id = id;
    int code;
    {
        sqlite::Statement run(db, "SELECT rate, started_at FROM runs WHERE id = ?");
        if ((code = run.bind(1, id).step()) == SQLITE_ROW) {
            restored.rate = int(run.integer(0));
            restored.startedAt = fromMs(run.integer(1));
        }
    }
    if (code != SQLITE_ROW) {
        m_file->readFailed(code);
        return std::nullopt;
    }
    {
        sqlite::Statement accounts(db, "SELECT account FROM run_accounts WHERE run_id = ? ORDER BY position");
        accounts.bind(1, id);
        while ((code = accounts.step()) == SQLITE_ROW)
            restored.accounts << accounts.text(0);
    }
    if (!isError(code)) {
        sqlite::Statement rows(db,
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
        m_file->readFailed(code);
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

void RunLedger::recordRowStart(const QDateTime& at) {
    const qint64 ms = toMs(at);
    m_file->write([ms](sqlite::Database& db) {
        sqlite::Statement insert(db, "INSERT INTO row_starts VALUES(?)");
        if (const int code = insert.bind(1, ms).step(); code != SQLITE_DONE)
            return code;
        // Only the last minute counts; starts a minute ahead were taken before the clock was set back.
        sqlite::Statement old(db, "DELETE FROM row_starts WHERE at < ? OR at > ?");
        return done(old.bind(1, ms - kMinuteMs).bind(2, ms + kMinuteMs).step());
    });
}

QList<QDateTime> RunLedger::rowStartsSince(const QDateTime& since) {
    QList<QDateTime> starts;
    int code;
    {
        sqlite::Statement query(m_file->db(), "SELECT at FROM row_starts WHERE at >= ? ORDER BY at");
        query.bind(1, toMs(since));
        while ((code = query.step()) == SQLITE_ROW)
            starts << fromMs(query.integer(0));
    }
    m_file->readFailed(code);
    return starts;
}
