#pragma once

#include "query/RatePace.h"
#include "query/ResultRow.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class MonotonicClock;
class SessionPostClient;
struct PostReply;

// One batch of accounts: builds the rows, paces them by the rate budget, runs the two lookups per
// row and reports every change for the window to show. Event driven: no call blocks, and a run
// that waits (rate pause, lost session, a question) has no timer running but the pause's.
//
// Pace: RatePace; with a StartLog, the starts of other programs and of the run before a restart
// count too.
class QueryRun : public QObject, public ResultRowLayout {
    Q_OBJECT

public:
    // Rows in a row without any usable reply before the run asks whether to go on.
    static constexpr int kFailureStreak = 3;

    // A row as a run left it, to go on from.
    struct SavedRow {
        Row cells;
        bool finished = false;
        QString failure; // why a finished row failed; empty when it did not
    };

    // clock may be null: a real monotonic clock is used.
    QueryRun(SessionPostClient* client, MonotonicClock* clock = nullptr, QObject* parent = nullptr);
    ~QueryRun() override;

    static QString emptyInputMessage();     // "请先输入要查询的209帐号，一行一个!"
    static QString finishedMessage();       // "查询结束!"
    static QString stoppedMessage();        // "已停止查询!"
    static QString sessionLostNotice();     // shown while the run waits for a new sign-in
    static QString failureStreakQuestion(); // asked after kFailureStreak rows without a reply
    static QString unreachedMark();         // "未查询": a row the run ended before
    // "完成 n，失败 m，未查询 k".
    static QString summaryText(int done, int failed, int unreached);
    // Pieces between CR LF pairs, each without the blanks around it; blank pieces make no row.
    static QStringList splitAccounts(const QString& text);

    // "限速暂停中(" + s + "S）……" for this many milliseconds since the start of the run.
    static QString countdownText(qint64 elapsedMs);
    // The same text for a row that may start in waitMs: s is the whole seconds left, a second
    // begun counting as a whole one.
    static QString countdownForWait(qint64 waitMs);

    // Request bodies: fixed keys in fixed order, each value form-encoded so that the server
    // decodes exactly the cell text.
    static QByteArray resourceBody(const Row& row);
    static QByteArray powerBody(const Row& row);

    // The rate (queries per minute) is asked for at every rate check.
    void setRateSource(std::function<int()> rate);
    // Every run seeds its pace from the log and records its row starts there; without one the
    // pace counts this object's starts only. The log must outlive the run or be reset first.
    void setStartLog(StartLog* log) { m_startLog = log; }
    // Where the two lookups go; by default the operator endpoints, read when a run starts.
    void setOperatorBase(const QUrl& base);
    // Longest gap between two looks at the clock while paused. The pause otherwise wakes once
    // per second of the run, when the countdown changes.
    void setPauseTickMs(int milliseconds) { m_pauseTickMs = milliseconds; }

    // false (and nothing changes) when the text is empty or a run is going: the window shows
    // emptyInputMessage() for the first. rowsBuilt and started are emitted inside this call;
    // every other signal, finished included, comes later from the event loop.
    bool start(const QString& accountText);
    // Runs again, in place and in order, the rows that failed and those a run never reached, each
    // first cleared to its account. false when a run is going or there is no such row.
    bool retryFailed();
    // Replaces the list by these rows and runs, in order, those not finished; finished rows keep
    // their cells and failure. false when a run is going.
    bool resume(const QList<SavedRow>& rows);
    // Takes effect at the top of the next row, the next pause tick, or at once while the run
    // waits for a sign-in or an answer.
    void stop();
    // While held (a question or the export waits for the user), no new row starts and a pause
    // stands still; replies already asked for still fill their row. Holds nest.
    void hold();
    void release();
    // A signed-in page after sessionLost(): the lookup that met the sign-in page is asked again,
    // but only when the session cookie is no longer the one refused; otherwise the run waits on.
    void resumeSession();
    // The answer Yes to failureStreakQuestion(); No is stop().
    void continueAfterFailures();

    bool isRunning() const;
    int currentRate() const { return m_rate ? m_rate() : 0; }
    bool stopRequested() const;
    bool isPaused() const { return m_paused; }
    bool awaitsSignIn() const { return m_waiting == Waiting::SignIn; }
    bool awaitsAnswer() const { return m_waiting == Waiting::Answer; }
    // The rows as they stand, copied out (the cells' text is shared, not copied).
    QList<Row> rows() const;
    int rowCount() const { return int(m_accounts.size()); }
    Row row(int index) const;
    // One cell without copying the row; an empty text outside the list.
    const QString& cell(int row, int column) const;
    // Why the row's last attempt got no usable reply; empty when it did.
    QString failureReason(int row) const;
    int failedRowCount() const;
    // Why a run that ended early never reached the row ("未查询：..."); empty when it did.
    QString unreachedReason(int row) const;
    // The row was answered and its run is done with it: not failed, not unreached, not waiting
    // for its turn in a run that is going.
    bool isDone(int row) const;
    int unreachedRowCount() const;
    // summaryText() for the rows as they stand.
    QString summary() const;

signals:
    void rowsBuilt(int count);                                  // the list is replaced by count rows
    void started(int total);                                    // a run of total rows begins
    void cellChanged(int row, int column, const QString& text); // row from 0
    void rowDone(int row, int done);                            // scroll it into view; done of total
    void rowFailureChanged(int row, const QString& reason);     // empty reason: no longer failed
    void rowUnreachedChanged(int row, const QString& reason);   // empty reason: reached again
    void paused(const QString& countdownText);                  // "限速暂停中(" + s + "S）……"
    void resumed();                                             // the pause frame hides
    void sessionLost(int row);                                  // held until resumeSession() or stop()
    void failureStreak(); // held until continueAfterFailures() or stop()
    // A row is done with: all 11 cells, and why it failed (empty when it did not).
    void rowFinished(int row, const QStringList& cells, bool failed, const QString& reason);
    void ended(bool stopped);              // just before finished()
    void finished(const QString& message); // "查询结束!" or "已停止查询!"

private:
    enum class Waiting { Nothing, SignIn, Answer };
    using Step = void (QueryRun::*)();

    void begin();
    // True when the step must wait for release(), which then runs it.
    bool heldAt(Step step);
    void nextRow();
    void rateCheck();
    void lookUpResources();
    void lookUpPower();
    void onResourceReply(const PostReply& reply);
    void onPowerReply(const PostReply& reply);
    void waitForSignIn(Step retry, const PostReply& refused);
    void setWaiting(Waiting waiting);
    // Starts or ends the held time as holds and waits come and go.
    void noteHeld();
    void completeRow(const QString& failure, bool gotReply);
    void finish();
    void hidePause();
    void setRow(int index, const Row& row);
    void setUnreached(int index, const QString& reason);
    // Rows of m_order wait for their turn; all others do not.
    void markPending();

    SessionPostClient* m_client;
    std::unique_ptr<MonotonicClock> m_ownClock;
    MonotonicClock* m_clock;
    std::function<int()> m_rate;
    QUrl m_operatorBase;
    QUrl m_resourceUrl;
    QUrl m_powerUrl;

    // A row that nothing has written to beyond its account costs only the account: a long list
    // holds mostly such rows while it runs.
    QStringList m_accounts;
    std::vector<std::unique_ptr<Row>> m_written; // by row; null until a cell is written
    // Only the rows concerned: most rows of a long list have neither.
    QHash<int, QString> m_failures;  // why the row's last attempt failed
    QHash<int, QString> m_unreached; // why a run that ended early left the row
    QList<int> m_order;              // rows of this run, in order
    std::vector<bool> m_pending;     // by row: in m_order and not yet done with
    int m_position = 0;              // index into m_order of the row being worked on
    int m_current = -1;              // that row
    int m_streak = 0;                // rows in a row without any usable reply
    int m_holds = 0;
    Step m_heldStep = nullptr;
    Waiting m_waiting = Waiting::Nothing;
    Step m_retryStep = nullptr;
    RatePace m_pace;
    StartLog* m_startLog = nullptr;
    int m_doneBase = 0;      // rows already finished when the run began
    int m_refusals = 0;      // sign-in pages met by the current row
    QString m_refusedCookie; // the session the sign-in page came back to
    QUrl m_refusedUrl;
    bool m_running = false;
    bool m_stop = false;
    QString m_stopCause; // why rows are left, for the unreached rows' tooltip
    bool m_paused = false;
    QString m_lastCountdown;
    int m_pauseTickMs = 1000;
    QTimer m_pauseTimer;
};
