#include "team/TeamStore.h"

#include "team/TeamDatabase.h"

#include <QAtomicInt>
#include <QThread>

#include <utility>

namespace {

// How long closing waits for a request under way; a connection attempt to a host that does not
// answer may take up to connect_timeout, which closing the window should not.
constexpr int kExitWaitMs = 2000;

// Workers left to finish by themselves, kept reachable so that leak checkers stay quiet.
QList<std::pair<QThread*, QObject*>>& abandoned() {
    static QList<std::pair<QThread*, QObject*>> list;
    return list;
}

} // namespace

// Lives on the store's thread; owns the connection.
class TeamStoreWorker : public QObject {
    Q_OBJECT

public:
    explicit TeamStoreWorker(const TeamConfig& config) : m_database(config) {}

    // From any thread: requests not yet started are dropped.
    void stop() { m_stopped.storeRelaxed(1); }

    void probe() {
        if (!stopped())
            report(m_database.open());
    }

    void deliver(quint64 batchId, const QList<TeamReading>& readings) {
        if (stopped())
            return;
        TeamDatabase::Result result = m_database.open();
        if (result.ok())
            result = m_database.insert(readings);
        report(result);
        if (result.ok())
            emit delivered(batchId);
        else
            emit deliveryFailed(batchId, result.error);
    }

    void fetchHistory(quint64 requestId, const QStringList& accounts, const QDateTime& since) {
        if (stopped())
            return;
        QList<TeamReading> readings;
        TeamDatabase::Result result = m_database.open();
        if (result.ok())
            result = m_database.select(accounts, since, &readings);
        report(result);
        if (result.ok())
            emit historyFetched(requestId, readings);
        else
            emit historyFailed(requestId, result.error);
    }

signals:
    void statusChanged(TeamStore::Status status, const QString& detail);
    void delivered(quint64 batchId);
    void deliveryFailed(quint64 batchId, const QString& error);
    void historyFetched(quint64 requestId, const QList<TeamReading>& readings);
    void historyFailed(quint64 requestId, const QString& error);

private:
    bool stopped() const { return m_stopped.loadRelaxed() != 0; }

    // Any other failure of a statement leaves the status as it was: the server answered.
    void report(const TeamDatabase::Result& result) {
        using Outcome = TeamDatabase::Outcome;
        switch (result.outcome) {
        case Outcome::Ok:
            if (m_database.schemaReady())
                emit statusChanged(TeamStore::Status::Connected, QString());
            else
                emit statusChanged(TeamStore::Status::SchemaMissing, m_database.schemaError());
            break;
        case Outcome::Unreachable:
            emit statusChanged(TeamStore::Status::Unreachable, result.error);
            break;
        case Outcome::Refused:
            emit statusChanged(TeamStore::Status::SchemaMissing, result.error);
            break;
        case Outcome::Failed:
            break;
        }
    }

    TeamDatabase m_database;
    QAtomicInt m_stopped;
};

TeamStore::TeamStore(const TeamConfig& config, QObject* parent)
    : QObject(parent), m_config(config), m_thread(new QThread), m_worker(new TeamStoreWorker(config)) {
    m_thread->setObjectName(QStringLiteral("team database"));
    m_worker->moveToThread(m_thread);
    // The worker's texts are scrubbed here, on the caller's thread (see TeamDatabase::Result).
    connect(m_worker, &TeamStoreWorker::statusChanged, this,
            [this](TeamStore::Status status, const QString& detail) {
                setStatus(status, m_config.scrub(detail));
            });
    connect(m_worker, &TeamStoreWorker::delivered, this, &TeamStore::delivered);
    connect(m_worker, &TeamStoreWorker::deliveryFailed, this, [this](quint64 batchId, const QString& error) {
        emit deliveryFailed(batchId, m_config.scrub(error));
    });
    connect(m_worker, &TeamStoreWorker::historyFetched, this, &TeamStore::historyFetched);
    connect(m_worker, &TeamStoreWorker::historyFailed, this, [this](quint64 requestId, const QString& error) {
        emit historyFailed(requestId, m_config.scrub(error));
    });
    m_thread->start();
}

TeamStore::~TeamStore() {
    m_worker->stop();
    m_thread->quit();
    if (m_thread->wait(kExitWaitMs)) {
        delete m_worker;
        delete m_thread;
    } else {
        abandoned().append({m_thread, m_worker});
    }
}

void TeamStore::setStatus(TeamStore::Status status, const QString& detail) {
    if (status == m_status && detail == m_detail)
        return;
    m_status = status;
    m_detail = detail;
    emit statusChanged(status, detail);
}

void TeamStore::probe() {
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->probe(); }, Qt::QueuedConnection);
}

void TeamStore::deliver(quint64 batchId, const QList<TeamReading>& readings) {
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, batchId, readings] { worker->deliver(batchId, readings); },
        Qt::QueuedConnection);
}

void TeamStore::fetchHistory(quint64 requestId, const QStringList& accounts, const QDateTime& since) {
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, requestId, accounts, since] { worker->fetchHistory(requestId, accounts, since); },
        Qt::QueuedConnection);
}

#include "TeamStore.moc"
