#pragma once

#include <QList>
#include <QtGlobal>

// Where row starts outlive a run: the pace of the next run, in this program after a restart or in
// another program on the same data folder, counts them too.
class StartLog {
public:
    virtual ~StartLog() = default;
    // How long ago, in milliseconds, each row start of the last minute was made; 0 for one the
    // clock now puts ahead (it was set back).
    virtual QList<qint64> recentStartAges() = 0;
    virtual void recordStart() = 0;
};

// The pace of a run at `rate` queries a minute: a budget of rate rows for every minute the run has
// not been held (a question, a dialog, a wait for a new sign-in), and never more than rate row
// starts in any 60 seconds, the minute before the run included. So neither a long wait, nor a slow
// server that recovers, nor a restart is followed by a burst. Times are a monotonic clock's ms.
class RatePace {
public:
    static constexpr qint64 kWindowMs = 60000;

    // Whether row n (1-based) may start: rate x (whole minutes since the start + 1) >= n.
    static bool withinBudget(qint64 rate, qint64 elapsedMs, qint64 rowNumber);

    // A run begins at nowMs. The starts counted so far stay (this program's run before).
    void begin(qint64 nowMs);
    // The starts of the last minute as a log knows them (all programs'), replacing those counted.
    void seed(qint64 nowMs, const QList<qint64>& agesMs);
    void setHeld(bool held, qint64 nowMs);
    // Milliseconds until the run's row `rowNumber` (1-based) may start; 0 or less: now.
    qint64 waitBeforeRow(qint64 rate, qint64 rowNumber, qint64 nowMs);
    void noteStart(qint64 nowMs);

private:
    qint64 m_startMs = 0;
    qint64 m_heldMs = 0;       // held time of this run that has ended
    qint64 m_heldSinceMs = -1; // when the present hold began; -1 when not held
    QList<qint64> m_starts;    // row starts of the last minute, oldest first
};
