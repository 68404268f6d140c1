#pragma once

#include "journal/JournalTypes.h"
#include "team/ReadingOutbox.h"

#include <QString>

#include <optional>

class JournalFile;
namespace sqlite {
class Database;
}

// Every reading the journal took, by account and time, and the queue of those still to go to the
// team's database. A reading goes in with its row, in the same transaction, so neither the list
// nor the team ever sees one without the other.
class ReadingStore : public ReadingOutbox {
public:
    explicit ReadingStore(JournalFile* file);

    // Who takes the readings from now on; queued for the team only while queueing is on (a team
    // database is configured).
    void setTakenBy(const QString& name) { m_takenBy = name; }
    QString takenBy() const { return m_takenBy; }
    void setQueueing(bool on) { m_queueing = on; }

    // Inside a write: the reading of the run's row at position, replacing the one recorded for it
    // before, when any of the four power cells holds a value.
    int write(sqlite::Database& db, qint64 run, int position, const QStringList& cells,
              const QDateTime& takenAt) const;

    // The account's newest reading taken before the given time.
    std::optional<journal::Reading> previousReading(const QString& account, const QDateTime& before);
    // The account's newest reading of all: the previous one for a row not yet recorded.
    std::optional<journal::Reading> latestReading(const QString& account);
    // Every reading of these accounts (each counted once), newest first.
    QList<journal::Reading> readingsOf(const QStringList& accounts);

    QList<OutboxEntry> peekOutbox(int limit) override;
    void removeFromOutbox(const QList<qint64>& ids) override;
    int outboxSize() override;

private:
    std::optional<journal::Reading> readingBefore(const QString& account, qint64 ms);

    JournalFile* m_file;
    QString m_takenBy;
    bool m_queueing = false;
};
