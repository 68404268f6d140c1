#pragma once

#include "journal/JournalTypes.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QLockFile;
namespace sqlite {
class Database;
}

// The durable record of query runs and of every reading they took, in one SQLite file (WAL, one
// transaction per finished row). Storage serves the work and never stops it: a damaged file is
// moved aside and replaced, and a file that cannot be written is replaced by memory; either way
// the user is told once (noticeRaised, takeNotice) and the caller goes on as before.
//
// Several programs may open the same file. A run is owned by the program that started or
// restored it, through a lock file beside the journal, so only one program offers an abandoned
// run back.
class RunJournal : public QObject {
    Q_OBJECT

public:
    static constexpr int kSchemaVersion = 2;
    // Finished runs whose rows (cells) are kept besides their readings; older runs keep only
    // their record and readings, which is what history and export use.
    static constexpr int kRunsWithRows = 10;

    // Opens or creates the journal at path; never fails (see above).
    explicit RunJournal(const QString& path = defaultPath(), QObject* parent = nullptr);
    ~RunJournal() override;

    // The user's data folder (QStandardPaths::AppLocalDataLocation) + "/journal.sqlite".
    static QString defaultPath();
    // Writes a journal in the first schema, holding one unfinished run: for tests of the upgrade.
    static bool writeVersion1(const QString& path, const QStringList& accounts, int rate,
                              const QDateTime& startedAt, const QList<journal::StoredRow>& rows);

    QString path() const { return m_path; }
    // false once the journal lives in memory only.
    bool isPersistent() const { return m_persistent; }
    // What the user should be told, once; empty when nothing happened since the last call.
    QString takeNotice();

    // A new run in state Running, owned by this program; its id, never 0.
    qint64 startRun(const QStringList& accounts, int rate, const QDateTime& startedAt);
    // One transaction: the row's cells and state (failure empty: done), and its reading when any
    // of the four power cells holds a value. Recording a position again replaces it.
    void recordRow(qint64 run, int position, const QStringList& cells, const QString& failure,
                   const QDateTime& finishedAt);
    // Stopped or Finished; gives up the run's ownership.
    void endRun(qint64 run, journal::RunState state);

    // The newest run left Running, with rows still to do, that no living program owns; now owned
    // by this one. Other abandoned runs are marked Stopped (Finished when every row was done).
    // Nothing when there is none.
    std::optional<journal::UnfinishedRun> claimUnfinished();
    std::optional<journal::RestoredRun> loadRun(qint64 run);

    // Makes every commit so far proof against a power cut; otherwise done within a second of a write.
    void flush();

    // The account's newest reading taken before the given time.
    std::optional<journal::Reading> previousReading(const QString& account, const QDateTime& before);
    // The account's newest reading of all: the previous one for a row not yet recorded.
    std::optional<journal::Reading> latestReading(const QString& account);
    // Newest first.
    QList<journal::Reading> history(const QString& account);
    // Every reading of these accounts (each counted once), newest first.
    QList<journal::Reading> readingsOf(const QStringList& accounts);

signals:
    void noticeRaised();

private:
    struct ActiveRun {
        QStringList accounts;
        int rate = 0;
        QDateTime startedAt;
    };
    enum class Open { Ok, Damaged, Newer, Unwritable, Busy };
    struct PendingRow {
        qint64 run;
        int position;
        QStringList cells;
        QString failure;
        QDateTime finishedAt;
    };

    // Opens, upgrades and probes the file, trying again while another program holds it.
    Open openFile();
    Open openOnce();
    Open failure(int code);
    // Why the file could not be used, for a journal that gives way to memory.
    QString openFailure(Open result) const;
    // Brings the file to kSchemaVersion in one transaction.
    Open upgrade();
    int createSchema(int fromVersion); // SQLite result code
    void openInMemory(const QString& reason);
    // A failed operation's result code decides: damage moves the file aside and starts again,
    // a file that cannot be written gives way to memory. The runs this program owns are carried
    // over, so that the caller's ids stay good. true when the operation may be tried again.
    bool recover(int code);
    void moveAside(const QString& notice);
    void raise(const QString& text);
    void scheduleFlush();
    // *id 0: a new run, whose id is stored there; otherwise the run is written under that id.
    int insertRun(qint64* id, const ActiveRun& run);
    void writePending();
    std::optional<journal::Reading> readingBefore(const QString& account, qint64 ms);
    int writeRow(qint64 run, int position, const QStringList& cells, const QString& failure,
                 const QDateTime& finishedAt);
    bool claim(qint64 run);
    void release(qint64 run);
    QString lockPath(qint64 run) const;

    QString m_path;
    std::unique_ptr<sqlite::Database> m_db;
    bool m_persistent = false;
    QString m_notice;
    QHash<qint64, ActiveRun> m_active;
    QHash<qint64, std::shared_ptr<QLockFile>> m_claims;
    QTimer m_flushTimer;
    QList<PendingRow> m_pending; // rows another program kept out for longer than the busy wait
    int m_openCode = 0;          // why the file could not be opened, for the notice
};
