#pragma once

#include "journal/JournalTypes.h"

#include <QHash>
#include <QObject>

#include <memory>
#include <optional>

class JournalFile;
class QLockFile;
namespace sqlite {
class Database;
}

// The runs in the journal and who owns them. A run is owned by the program that started,
// restored or retried it, through a lock file beside the journal taken before the run is
// committed as Running, so only one program ever works on a run or offers it back. Also keeps the
// row starts of the last minute, which the pace of every run on this data folder counts.
//
// A run is named by a handle: its id once it is in the journal (at once, unless another program
// holds the file), a negative number until then.
class RunLedger : public QObject {
    Q_OBJECT

public:
    // Finished runs whose rows (cells) are kept besides their readings; older runs keep only
    // their record and readings, which is what history and export use.
    static constexpr int kRunsWithRows = 10;

    explicit RunLedger(JournalFile* file, QObject* parent = nullptr);
    ~RunLedger() override;

    // A new run in state Running, owned by this program.
    qint64 startRun(const QStringList& accounts, int rate, const QDateTime& startedAt);
    // The run's id in the journal; 0 while it is not there yet.
    qint64 idOf(qint64 handle) const;
    // Inside a write: the row's cells and state; recording a position again replaces it.
    static int writeRow(sqlite::Database& db, qint64 id, int position, const QStringList& cells,
                        const QString& failure, const QDateTime& finishedAt);
    // Stopped or Finished; gives up the run's ownership once that is written.
    void endRun(qint64 handle, journal::RunState state);
    // The run is worked on again (its failed and unreached rows): Running and owned once more,
    // so that no other program offers it or prunes its rows meanwhile. false for a run this
    // program never had.
    bool reopenRun(qint64 handle);

    // The newest run left Running, with rows still to do, that no living program owns; now owned
    // by this one. Other abandoned runs are marked Stopped (Finished when every row was done).
    std::optional<journal::UnfinishedRun> claimUnfinished();
    std::optional<journal::RestoredRun> loadRun(qint64 id);

    void recordRowStart(const QDateTime& at);
    // Row starts at or after `since`, in any program on this journal, oldest first.
    QList<QDateTime> rowStartsSince(const QDateTime& since);

private:
    struct OwnedRun {
        QStringList accounts;
        int rate = 0;
        QDateTime startedAt;
    };

    static int insertRun(sqlite::Database& db, qint64 id, const OwnedRun& run, qint64* inserted);
    // Writes the owned runs into a journal that took the file's place.
    void rewriteOwned();
    void markOwnedStoppedInLeftFile();
    bool claim(qint64 id);
    void release(qint64 id);
    QString lockPath(qint64 id) const;

    JournalFile* m_file;
    QHash<qint64, OwnedRun> m_owned; // runs this program works on, by id
    QHash<qint64, OwnedRun> m_ended; // this program's runs ended since it started, for a retry
    QHash<qint64, qint64> m_handles; // negative handle -> id, 0 while not in the journal
    qint64 m_nextHandle = -1;
    QHash<qint64, std::shared_ptr<QLockFile>> m_claims;
};
