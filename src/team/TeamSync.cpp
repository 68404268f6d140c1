#include "team/TeamSync.h"

#include "team/ReadingOutbox.h"

#include <algorithm>

using namespace Qt::StringLiterals;

TeamSync::TeamSync(ReadingOutbox* outbox, TeamStore* store, QObject* parent, Timing timing)
    : QObject(parent), m_outbox(outbox), m_store(store), m_timing(timing) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &TeamSync::drain);
    connect(m_store, &TeamStore::delivered, this, &TeamSync::onDelivered);
    connect(m_store, &TeamStore::deliveryFailed, this, &TeamSync::onDeliveryFailed);
    connect(m_store, &TeamStore::statusChanged, this, &TeamSync::onStoreStatus);
    refresh();
}

int TeamSync::retryDelayMs(int failures, const Timing& timing) {
    qint64 delay = timing.firstRetryMs;
    for (int i = 1; i < failures && delay < timing.longestRetryMs; ++i)
        delay *= 2;
    return int(std::min<qint64>(delay, timing.longestRetryMs));
}

void TeamSync::start() {
    if (m_outbox->outboxSize() == 0)
        m_store->probe();
    drain();
}

void TeamSync::readingsQueued() {
    drain();
    refresh();
}

void TeamSync::drain() {
    if (m_inFlight != 0 || m_retry.isActive())
        return;
    const QList<OutboxEntry> entries = m_outbox->peekOutbox(m_timing.batchSize);
    if (entries.isEmpty())
        return;
    QList<TeamReading> readings;
    readings.reserve(entries.size());
    m_inFlightIds.clear();
    for (const OutboxEntry& entry : entries) {
        readings << entry.reading;
        m_inFlightIds << entry.id;
    }
    m_inFlight = m_nextBatch++;
    m_store->deliver(m_inFlight, readings);
}

void TeamSync::onDelivered(quint64 batchId) {
    if (batchId != m_inFlight)
        return;
    m_outbox->removeFromOutbox(m_inFlightIds);
    const int count = int(m_inFlightIds.size());
    m_inFlight = 0;
    m_inFlightIds.clear();
    m_failures = 0;
    m_lastError.clear();
    refresh();
    emit batchDelivered(count);
    drain();
}

void TeamSync::onDeliveryFailed(quint64 batchId, const QString& error) {
    if (batchId != m_inFlight)
        return;
    m_inFlight = 0;
    m_inFlightIds.clear();
    ++m_failures;
    m_lastError = error;
    m_retry.start(retryDelayMs(m_failures, m_timing));
    refresh();
}

// The server answering again ends the wait: what is queued goes at once.
void TeamSync::onStoreStatus(TeamStore::Status status) {
    if (status == TeamStore::Status::Connected && m_retry.isActive()) {
        m_retry.stop();
        m_failures = 0;
        drain();
    }
    refresh();
}

void TeamSync::refresh() {
    m_pending = m_outbox->outboxSize();
    const QString waiting = u"%1 条读数待上传"_s.arg(m_pending);
    QString text;
    QString tip;
    switch (m_store->status()) {
    case TeamStore::Status::Connecting:
        text = u"团队库：正在连接…"_s;
        break;
    case TeamStore::Status::Connected:
        // Connected, yet the batches fail (a server error that is not about the connection):
        // saying only "已连接" would hide readings piling up.
        if (m_failures > 0) {
            text = u"团队库：上传失败，"_s + waiting;
            tip = m_lastError;
        } else {
            text = u"团队库：已连接"_s;
        }
        break;
    case TeamStore::Status::Unreachable:
        text = u"团队库：无法连接，"_s + waiting;
        tip = m_store->statusDetail();
        break;
    case TeamStore::Status::SchemaMissing:
        text = u"团队库：数据表缺失或版本过旧"_s + (m_pending > 0 ? u"，"_s + waiting : QString());
        tip = u"当前数据库账号无权建立或升级团队库的数据表，请管理员按说明建表并授权。\n"_s +
              m_store->statusDetail();
        break;
    }
    if (text == m_text && tip == m_tip)
        return;
    m_text = text;
    m_tip = tip;
    emit statusChanged();
}

QString TeamSync::statusText() const {
    return m_text;
}

QString TeamSync::statusTip() const {
    return m_tip;
}
