#pragma once

#include "team/TeamStore.h"

#include <QObject>
#include <QTimer>

class ReadingOutbox;

// How TeamSync paces itself; tests shorten the waits.
struct TeamSyncTiming {
    int firstRetryMs = 30000;
    int longestRetryMs = 300000;
    int batchSize = 1000;
};

// Drains the outbox into the team database, one batch at a time, on the GUI thread with timers
// only: nothing here waits, so a server that is down, slow or refusing costs the caller nothing.
// A batch leaves the outbox only once it is committed. After a failure it tries again after
// firstRetryMs, doubling the wait up to longestRetryMs; the store answering again (any request)
// ends the wait at once.
//
// Wiring: create it with the journal's outbox and a TeamStore when TeamConfig::isEnabled() (both
// outlive it), call start() once the main window is up, and readingsQueued() after each reading
// the journal queued (each call counts the outbox once). statusText() and statusTip() are the
// main window's status line and its tooltip; statusChanged() says when they change.
class TeamSync : public QObject {
    Q_OBJECT

public:
    using Timing = TeamSyncTiming;

    TeamSync(ReadingOutbox* outbox, TeamStore* store, QObject* parent = nullptr, Timing timing = Timing());

    // The wait after the given number of failures in a row (from 1).
    static int retryDelayMs(int failures, const Timing& timing);

    // Connects (settling the status) and delivers whatever waits.
    void start();
    void readingsQueued();

    // "团队库：已连接", "团队库：无法连接，n 条读数待上传", ...
    QString statusText() const;
    // Why, when something is wrong: libpq's or the server's words, without passwords.
    QString statusTip() const;
    // Readings in the outbox, as last counted.
    int pending() const { return m_pending; }

signals:
    void statusChanged();
    void batchDelivered(int readings);

private:
    void drain();
    void onDelivered(quint64 batchId);
    void onDeliveryFailed(quint64 batchId, const QString& error);
    void onStoreStatus(TeamStore::Status status);
    void refresh();

    ReadingOutbox* m_outbox;
    TeamStore* m_store;
    Timing m_timing;
    QTimer m_retry;
    quint64 m_nextBatch = 1;
    quint64 m_inFlight = 0; // the batch sent and not answered; 0 when none
    QList<qint64> m_inFlightIds;
    int m_failures = 0;
    QString m_lastError;
    int m_pending = 0;
    QString m_text;
    QString m_tip;
};
