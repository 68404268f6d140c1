#pragma once

#include "journal/JournalTypes.h"

#include <QObject>

#include <memory>
#include <optional>

class JournalFile;
class ReadingStore;
class RunLedger;

// The durable record of query runs and of every reading they took, in one SQLite file (WAL, one
// transaction per finished row): what the windows use. Storage serves the work and never stops
// it: the file's troubles are JournalFile's, told once (noticeRaised, takeNotice), and the caller
// goes on as before. The runs and their owners are RunLedger's, the readings and the team's queue
// ReadingStore's.
class RunJournal : public QObject {
    Q_OBJECT

public:
    static constexpr int kRunsWithRows = 10;

    // Opens or creates the journal at path; never fails (see above).
    explicit RunJournal(const QString& path = defaultPath(), QObject* parent = nullptr);
    // Writes what still waits for a busy file first.
    ~RunJournal() override;

    // The user's data folder (QStandardPaths::AppLocalDataLocation) + "/journal.sqlite".
    static QString defaultPath();
    // Writes a journal in the first schema, holding one unfinished run: for tests of the upgrade.
    static bool writeVersion1(const QString& path, const QStringList& accounts, int rate,
                              const QDateTime& startedAt, const QList<journal::StoredRow>& rows);

    QString path() const;
    // false once the journal lives in memory only.
    bool isPersistent() const;
    // What the user should be told, once; empty when nothing happened since the last call.
    QString takeNotice();

    // A new run in state Running, owned by this program: a handle for the calls below, its id
    // once it is in the file (see RunLedger).
    qint64 startRun(const QStringList& accounts, int rate, const QDateTime& startedAt);
    // One transaction: the row's cells and state (failure empty: done), and its reading when any
    // of the four power cells holds a value. Recording a position again replaces it.
    void recordRow(qint64 run, int position, const QStringList& cells, const QString& failure,
                   const QDateTime& finishedAt);
    // Stopped or Finished; gives up the run's ownership.
    void endRun(qint64 run, journal::RunState state);
    // The run is worked on again: Running and owned until its next endRun.
    bool reopenRun(qint64 run);

    std::optional<journal::UnfinishedRun> claimUnfinished();
    std::optional<journal::RestoredRun> loadRun(qint64 run);

    // Row starts of the last minute, across programs and restarts, for the pace.
    void recordRowStart(const QDateTime& at);
    QList<QDateTime> rowStartsSince(const QDateTime& since);

    // Makes every commit so far proof against a power cut; otherwise done within a second of a write.
    void flush();

    std::optional<journal::Reading> previousReading(const QString& account, const QDateTime& before);
    std::optional<journal::Reading> latestReading(const QString& account);
    // Newest first.
    QList<journal::Reading> history(const QString& account);
    QList<journal::Reading> readingsOf(const QStringList& accounts);

    // Who takes the readings, and whether they queue for the team's database.
    ReadingStore* readings() const { return m_readings.get(); }

signals:
    void noticeRaised();
    // A row and its reading are in the journal (and the reading queued for the team, if it is).
    void rowRecorded();

private:
    std::unique_ptr<JournalFile> m_file;
    std::unique_ptr<RunLedger> m_ledger;
    std::unique_ptr<ReadingStore> m_readings;
};
