#include "query/QueryRun.h"

#include "common/Endpoints.h"
#include "common/JsonReader.h"
#include "query/MonotonicClock.h"
#include "query/SessionPostClient.h"

#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kMinuteMs = 60000;

// Form encoding of one value: every byte but the unreserved ASCII ones is percent-encoded, so an
// '&', '=', '+' or '%' in free text (EMS and splitter names) cannot split or forge a field.
QByteArray formValue(const QString& text) {
    return QUrl::toPercentEncoding(text);
}

} // namespace

QueryRun::QueryRun(SessionPostClient* client, MonotonicClock* clock, QObject* parent)
    : QObject(parent), m_client(client), m_clock(clock), m_rate([] { return 30; }) {
    if (!m_clock) {
        m_ownClock = std::make_unique<SteadyClock>();
        m_clock = m_ownClock.get();
    }
    m_pauseTimer.setSingleShot(true);
    m_pauseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pauseTimer, &QTimer::timeout, this, &QueryRun::rateCheck);
}

QueryRun::~QueryRun() = default;

QString QueryRun::emptyInputMessage() {
    return u"请先输入要查询的209帐号，一行一个!"_s;
}
QString QueryRun::finishedMessage() {
    return u"查询结束!"_s;
}
QString QueryRun::stoppedMessage() {
    return u"已停止查询!"_s;
}

QStringList QueryRun::splitAccounts(const QString& text) {
    return text.split(QLatin1String("\r\n"), Qt::SkipEmptyParts);
}

QString QueryRun::countdownText(qint64 elapsedMs) {
    const qint64 seconds = 60 - (elapsedMs % kMinuteMs) / 1000;
    return u"限速暂停中("_s + QString::number(seconds) + u"S）……"_s;
}

bool QueryRun::withinBudget(qint64 rate, qint64 elapsedMs, qint64 rowNumber) {
    const qint64 minute = elapsedMs / kMinuteMs + 1;
    // An unbounded rate must not overflow into a pause.
    if (rate > 0 && minute > std::numeric_limits<qint64>::max() / rate)
        return true;
    return rate * minute >= rowNumber;
}

QByteArray QueryRun::resourceBody(const Row& row) {
    return "no209=" + formValue(row[Account]);
}

QByteArray QueryRun::powerBody(const Row& row) {
    return "no209=" + formValue(row[Account]) + "&rmwEms=" + formValue(row[Ems]) +
           "&rmwOltIp=" + formValue(row[OltIp]) + "&rmwOltPon=" + formValue(row[OltPon]) +
           "&rmwLoid=" + formValue(row[Loid]);
}

void QueryRun::setRateSource(std::function<int()> rate) {
    m_rate = std::move(rate);
}

void QueryRun::setOperatorBase(const QUrl& base) {
    m_operatorBase = base;
}

bool QueryRun::isRunning() const {
    return m_running;
}
bool QueryRun::stopRequested() const {
    return m_stop;
}
const QList<QueryRun::Row>& QueryRun::rows() const {
    return m_rows;
}

bool QueryRun::start(const QString& accountText) {
    if (accountText.isEmpty() || m_running)
        return false;
    m_heldStep = nullptr;

    m_rows.clear();
    const QStringList accounts = splitAccounts(accountText);
    m_rows.reserve(accounts.size());
    for (const QString& account : accounts) {
        Row row;
        row[Account] = account;
        m_rows.append(row);
    }
    if (m_operatorBase.isValid()) {
        m_resourceUrl =
            endpoints::resolve(m_operatorBase, u"/ehmsexp/rest/install/queryRmwResouceInfo?testType=2"_s);
        m_powerUrl = endpoints::resolve(m_operatorBase, u"/ehmsexp/rest/install/queryPowerInfo?testType=2"_s);
    } else {
        m_resourceUrl = endpoints::resourceLookup();
        m_powerUrl = endpoints::powerLookup();
    }

    m_running = true;
    m_stop = false;
    m_paused = false;
    m_current = -1;
    m_startMs = m_clock->nowMs();
    emit rowsBuilt(int(m_rows.size()));
    // The window gets to set itself up for the run before the first row moves.
    QTimer::singleShot(0, this, &QueryRun::nextRow);
    return true;
}

void QueryRun::stop() {
    if (!m_running)
        return;
    m_stop = true;
    // A paused run looks again at once instead of at its next whole second.
    if (m_paused)
        m_pauseTimer.start(0);
}

void QueryRun::hold() {
    ++m_holds;
}

void QueryRun::release() {
    if (m_holds == 0 || --m_holds > 0 || !m_heldStep)
        return;
    const auto step = std::exchange(m_heldStep, nullptr);
    QTimer::singleShot(0, this, step);
}

bool QueryRun::heldAt(void (QueryRun::*step)()) {
    if (m_holds == 0)
        return false;
    m_pauseTimer.stop();
    m_heldStep = step;
    return true;
}

void QueryRun::nextRow() {
    if (heldAt(&QueryRun::nextRow))
        return;
    ++m_current;
    if (m_current >= m_rows.size() || m_stop) {
        finish();
        return;
    }
    rateCheck();
}

void QueryRun::rateCheck() {
    if (heldAt(&QueryRun::rateCheck))
        return;
    const qint64 rate = m_rate ? m_rate() : 0;
    qint64 elapsed = m_clock->nowMs() - m_startMs;
    if (withinBudget(rate, elapsed, m_current + 1)) {
        hidePause();
        lookUpResources();
        return;
    }
    // Reached again by the pause timer: that tick is the turn on which Stop is noticed.
    if (m_stop) {
        hidePause();
        finish();
        return;
    }
    elapsed = m_clock->nowMs() - m_startMs;
    const QString text = countdownText(elapsed);
    if (!m_paused || text != m_lastCountdown) {
        m_paused = true;
        m_lastCountdown = text;
        emit paused(text);
    }
    // Wake when the countdown next changes, which is also when the budget can grow.
    const qint64 untilNextSecond = 1000 - elapsed % 1000;
    m_pauseTimer.start(int(std::min<qint64>(untilNextSecond, m_pauseTickMs)));
}

void QueryRun::hidePause() {
    m_pauseTimer.stop();
    if (!m_paused)
        return;
    m_paused = false;
    m_lastCountdown.clear();
    emit resumed();
}

void QueryRun::setCell(int column, const QString& text) {
    Row& row = m_rows[m_current];
    if (row[column] == text)
        return;
    row[column] = text;
    emit cellChanged(m_current, column, text);
}

void QueryRun::writeMember(const JsonReply& reply, int column, const QString& member) {
    if (const auto text = reply.text(member))
        setCell(column, *text);
}

void QueryRun::lookUpResources() {
    m_client->PostHtml(m_resourceUrl, resourceBody(m_rows[m_current]), this,
                       [this](const PostReply& reply) { onResourceReply(reply.text); });
}

void QueryRun::onResourceReply(const QString& reply) {
    if (reply.isEmpty()) {
        completeRow();
        return;
    }
    const auto object = ParseJson(reply);
    if (!object) {
        completeRow();
        return;
    }
    writeMember(*object, Result, u"rmw_test_desc"_s);
    if (m_rows[m_current][Result].isEmpty()) {
        completeRow();
        return;
    }
    writeMember(*object, Ems, u"rmw_ems"_s);
    writeMember(*object, OltPon, u"rmw_olt_pon"_s);
    writeMember(*object, Loid, u"rmw_loid"_s);
    writeMember(*object, SplitterName, u"rmw_pos_name"_s);
    writeMember(*object, OltIp, u"rmw_olt_ip"_s);

    m_client->PostHtml(m_powerUrl, powerBody(m_rows[m_current]), this,
                       [this](const PostReply& powerReply) { onPowerReply(powerReply.text); });
}

void QueryRun::onPowerReply(const QString& reply) {
    const auto object = reply.isEmpty() ? std::nullopt : ParseJson(reply);
    if (object) {
        writeMember(*object, Result, u"test_desc"_s);
        if (!m_rows[m_current][Result].isEmpty() && !object->isNull(u"olt_send"_s)) {
            writeMember(*object, OltSend, u"olt_send"_s);
            writeMember(*object, OnuSend, u"onu_send"_s);
            writeMember(*object, OltAccept, u"olt_accept"_s);
            writeMember(*object, OnuAccept, u"onu_accept"_s);
        }
    }
    completeRow();
}

void QueryRun::completeRow() {
    emit rowDone(m_current);
    nextRow();
}

void QueryRun::finish() {
    hidePause();
    m_running = false;
    m_current = -1;
    emit finished(m_stop ? stoppedMessage() : finishedMessage());
}
