#pragma once

#include "team/TeamConfig.h"
#include "team/TeamReading.h"

#include <QList>
#include <QObject>
#include <QStringList>

class QThread;
class TeamStoreWorker;

// The team database as the GUI thread sees it. libpq runs on a thread this object owns, never on
// the caller's: requests are queued to it and run one at a time in the order they were made, and
// every answer comes back as a signal on the caller's thread. A server that is down, slow,
// refusing or misconfigured only delays the answers (a connection attempt gives up after
// connect_timeout, at most 10 s). Every text it emits is scrubbed of passwords.
//
// The first request connects; a new connection creates or upgrades the tables when the role
// may (TeamDatabase). A lost connection is made again by the next request.
class TeamStore : public QObject {
    Q_OBJECT

public:
    enum class Status {
        Connecting,    // nothing answered yet
        Connected,     // the server answered and the tables are current
        Unreachable,   // no connection: detail is libpq's error
        SchemaMissing, // connected, but the tables are missing or old and the role may not make
                       // them: what exists is still read and written; detail says why
    };
    Q_ENUM(Status)

    explicit TeamStore(const TeamConfig& config, QObject* parent = nullptr);
    // Waits at most a second or two for a request under way; one still waiting for a server
    // that does not answer is left to end by itself.
    ~TeamStore() override;

    Status status() const { return m_status; }
    QString statusDetail() const { return m_detail; }

    // Connects when not connected, which settles the status.
    void probe();
    // Stores the readings in one transaction: delivered(batchId) once committed, or
    // deliveryFailed(batchId, error) when the commit is not confirmed (it may still have happened,
    // its answer lost with the connection). A reading already stored (same account, time and
    // name) is kept as it is, so sending the batch again is always safe.
    void deliver(quint64 batchId, const QList<TeamReading>& readings);
    // The team's readings of these accounts, taken since then (all when invalid), in one query,
    // newest first: historyFetched, or historyFailed (then the caller uses the PC's own history).
    // What it costs grows with the readings it returns, not with the table: a window keeps a long
    // list's history in bounds as the years add up (README.md, "scale on paper").
    void fetchHistory(quint64 requestId, const QStringList& accounts, const QDateTime& since = QDateTime());

signals:
    void statusChanged(TeamStore::Status status, const QString& detail);
    void delivered(quint64 batchId);
    void deliveryFailed(quint64 batchId, const QString& error);
    void historyFetched(quint64 requestId, const QList<TeamReading>& readings);
    void historyFailed(quint64 requestId, const QString& error);

private:
    void setStatus(TeamStore::Status status, const QString& detail);

    TeamConfig m_config;
    QThread* m_thread;
    TeamStoreWorker* m_worker;
    Status m_status = Status::Connecting;
    QString m_detail;
};
