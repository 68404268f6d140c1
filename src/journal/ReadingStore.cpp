#include "journal/ReadingStore.h"

#include "journal/JournalFile.h"
#include "journal/Sqlite.h"
#include "journal/StoredValues.h"

#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

using journal::fromMs;
using journal::orNull;
using journal::Reading;
using journal::toMs;

namespace {

constexpr int kFirstPowerCell = 2;
const char* const kReadingColumns = "account, taken_at, ont_rx, ont_tx, olt_rx, olt_tx, taken_by";

bool hasReading(const QStringList& cells) {
    for (int i = kFirstPowerCell; i < kFirstPowerCell + 4; ++i)
        if (!cells.value(i).isEmpty())
            return true;
    return false;
}

// The columns of kReadingColumns from `first` on.
Reading readingAt(const sqlite::Statement& row, int first = 0) {
    Reading reading;
    reading.account = row.text(first);
    reading.takenAt = fromMs(row.integer(first + 1));
    for (int i = 0; i < 4; ++i)
        reading.values[size_t(i)] = row.text(first + 2 + i);
    reading.takenBy = row.text(first + 6);
    return reading;
}

} // namespace

ReadingStore::ReadingStore(JournalFile* file) : m_file(file) {}

int ReadingStore::write(sqlite::Database& db, qint64 run, int position, const QStringList& cells,
                        const QDateTime& takenAt) const {
    const QString account = cells.value(0);
    // A row run again replaces its earlier reading.
    sqlite::Statement earlier(db, "DELETE FROM readings WHERE account = ? AND run_id = ? AND position = ?");
    if (earlier.bind(1, account).bind(2, run).bind(3, position).step() != SQLITE_DONE)
        return earlier.code();
    if (!hasReading(cells))
        return SQLITE_OK;
    sqlite::Statement reading(db,
                              "INSERT OR REPLACE INTO readings(account, taken_at, run_id, position, ont_rx, "
                              "ont_tx, olt_rx, olt_tx, taken_by) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    reading.bind(1, account).bind(2, toMs(takenAt)).bind(3, run).bind(4, position);
    for (int i = 0; i < 4; ++i)
        reading.bind(5 + i, orNull(cells.value(kFirstPowerCell + i)));
    reading.bind(9, orNull(m_takenBy));
    if (reading.step() != SQLITE_DONE)
        return reading.code();
    if (!m_queueing)
        return SQLITE_OK;
    sqlite::Statement queue(db,
                            "INSERT INTO outbox(account, taken_at, taken_by, ont_rx, ont_tx, olt_rx, olt_tx) "
                            "VALUES(?, ?, ?, ?, ?, ?, ?)");
    queue.bind(1, account).bind(2, toMs(takenAt)).bind(3, m_takenBy);
    for (int i = 0; i < 4; ++i)
        queue.bind(4 + i, orNull(cells.value(kFirstPowerCell + i)));
    return queue.step() == SQLITE_DONE ? SQLITE_OK : queue.code();
}

std::optional<Reading> ReadingStore::previousReading(const QString& account, const QDateTime& before) {
    return readingBefore(account, toMs(before));
}

std::optional<Reading> ReadingStore::latestReading(const QString& account) {
    return readingBefore(account, std::numeric_limits<qint64>::max());
}

std::optional<Reading> ReadingStore::readingBefore(const QString& account, qint64 ms) {
    std::optional<Reading> previous;
    int code;
    {
        sqlite::Statement query(m_file->db(), (QByteArray("SELECT ") + kReadingColumns +
                                               " FROM readings WHERE account = ? AND taken_at < ? "
                                               "ORDER BY taken_at DESC, run_id DESC, position DESC LIMIT 1")
                                                  .constData());
        if ((code = query.bind(1, account).bind(2, ms).step()) == SQLITE_ROW)
            previous = readingAt(query);
    }
    m_file->readFailed(code);
    return previous;
}

QList<Reading> ReadingStore::readingsOf(const QStringList& accounts) {
    QList<Reading> readings;
    QSet<QString> seen;
    int code = SQLITE_DONE;
    {
        sqlite::Statement query(m_file->db(), (QByteArray("SELECT ") + kReadingColumns +
                                               " FROM readings WHERE account = ? "
                                               "ORDER BY taken_at DESC, run_id DESC, position DESC")
                                                  .constData());
        for (const QString& account : accounts) {
            if (code != SQLITE_DONE)
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
    if (code != SQLITE_DONE) {
        m_file->readFailed(code);
        return {};
    }
    if (seen.size() > 1)
        std::stable_sort(readings.begin(), readings.end(),
                         [](const Reading& a, const Reading& b) { return a.takenAt > b.takenAt; });
    return readings;
}

QList<OutboxEntry> ReadingStore::peekOutbox(int limit) {
    QList<OutboxEntry> queued;
    int code;
    {
        sqlite::Statement query(m_file->db(), "SELECT id, account, taken_at, ont_rx, ont_tx, olt_rx, olt_tx, "
                                              "taken_by FROM outbox ORDER BY id LIMIT ?");
        query.bind(1, limit);
        while ((code = query.step()) == SQLITE_ROW)
            queued.append({query.integer(0), toTeamReading(readingAt(query, 1))});
    }
    m_file->readFailed(code);
    return queued;
}

int ReadingStore::outboxSize() {
    int code;
    int count = 0;
    {
        sqlite::Statement query(m_file->db(), "SELECT count(*) FROM outbox");
        if ((code = query.step()) == SQLITE_ROW)
            count = int(query.integer(0));
    }
    m_file->readFailed(code);
    return count;
}

void ReadingStore::removeFromOutbox(const QList<qint64>& ids) {
    if (ids.isEmpty())
        return;
    m_file->write([ids](sqlite::Database& db) {
        sqlite::Statement remove(db, "DELETE FROM outbox WHERE id = ?");
        for (const qint64 id : ids) {
            if (const int code = remove.bind(1, id).step(); code != SQLITE_DONE)
                return code;
            remove.reset();
        }
        return SQLITE_OK;
    });
}
