#pragma once

#include "journal/JournalTypes.h"
#include "query/RatePace.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QueryRun;
class RunJournal;

// Keeps the journal in step with a query run: a journal run when a list starts, one record per
// finished row (cells and failure reason) as it finishes, and Finished or Stopped at the end.
// Rows run again by retryFailed() replace their records in the same journal run, which is Running
// again meanwhile. The run's row starts go to the journal too, and its pace counts theirs.
class JournalLink : public QObject, public StartLog {
    Q_OBJECT

public:
    // rate: the run's queries per minute, read when a list starts.
    JournalLink(QueryRun* run, RunJournal* journal, std::function<int()> rate, QObject* parent = nullptr);
    ~JournalLink() override;

    // "上次查询未完成（已完成 n/N），是否继续?"
    static QString restoreQuestion(const journal::UnfinishedRun& run);

    // The run about to start continues this journal run (a restored one) instead of a new one.
    void adopt(qint64 journalRun);
    qint64 journalRun() const { return m_journalRun; }

    // Where a finished row's previous reading comes from; by default the journal's own.
    using PreviousSource = std::function<std::optional<journal::Reading>(const QString& account, const QDateTime& before)>;
    void setPreviousSource(PreviousSource source) { m_previous = std::move(source); }

    QList<qint64> recentStartAges() override;
    void recordStart() override;

signals:
    // The account's reading before this row's, looked up as the row finished and before it was
    // recorded: what the drop rule compares the row's power cells with. Not sent for an account
    // without an earlier reading.
    void previousReading(int row, const journal::Reading& previous);
    // The row's reading is recorded as taken at that time.
    void rowRecorded(int row, const QDateTime& takenAt);

private:
    void onStarted();
    void onRowDone(int row);
    void onFinished(const QString& message);

    QPointer<QueryRun> m_run; // may go first when both belong to one window
    RunJournal* m_journal;
    std::function<int()> m_rate;
    PreviousSource m_previous;
    qint64 m_journalRun = 0;
    bool m_newList = false;
    bool m_adopted = false;
};
