#include "query/QueryRun.h"

#include "common/Endpoints.h"
#include "common/ErrorText.h"
#include "query/LookupRules.h"
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
QString QueryRun::sessionLostNotice() {
    return u"登录已失效，请在登录窗口重新登录，查询将自动继续"_s;
}
QString QueryRun::failureStreakQuestion() {
    return u"连续3个帐号查询失败，可能帐号被封禁或网络中断。是否继续查询?"_s;
}

QStringList QueryRun::splitAccounts(const QString& text) {
    QStringList accounts;
    const QStringList pieces = text.split(QLatin1String("\r\n"));
    for (const QString& piece : pieces) {
        const QString account = piece.trimmed();
        if (!account.isEmpty())
            accounts << account;
    }
    return accounts;
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

QString QueryRun::failureReason(int row) const {
    return m_failures.value(row);
}

int QueryRun::failedRowCount() const {
    int count = 0;
    for (const QString& reason : m_failures)
        count += reason.isEmpty() ? 0 : 1;
    return count;
}

bool QueryRun::start(const QString& accountText) {
    if (accountText.isEmpty() || m_running)
        return false;
    const QStringList accounts = splitAccounts(accountText);
    m_rows.clear();
    m_rows.reserve(accounts.size());
    m_order.clear();
    m_order.reserve(accounts.size());
    for (const QString& account : accounts) {
        Row row;
        row[Account] = account;
        m_order.append(int(m_rows.size()));
        m_rows.append(row);
    }
    m_failures = QStringList(m_rows.size());
    emit rowsBuilt(int(m_rows.size()));
    begin();
    return true;
}

bool QueryRun::retryFailed() {
    if (m_running)
        return false;
    m_order.clear();
    for (int i = 0; i < m_failures.size(); ++i) {
        if (!m_failures[i].isEmpty())
            m_order.append(i);
    }
    if (m_order.isEmpty())
        return false;
    for (const int index : std::as_const(m_order)) {
        Row fresh;
        fresh[Account] = m_rows[index][Account];
        setRow(index, fresh);
        m_failures[index].clear();
        emit rowFailureChanged(index, QString());
    }
    begin();
    return true;
}

void QueryRun::begin() {
    const QUrl base = m_operatorBase.isValid() ? m_operatorBase : endpoints::operatorBase();
    m_resourceUrl = endpoints::resourceLookup(base);
    m_powerUrl = endpoints::powerLookup(base);
    m_running = true;
    m_stop = false;
    m_paused = false;
    m_waiting = Waiting::Nothing;
    m_heldStep = nullptr;
    m_streak = 0;
    m_position = 0;
    m_current = -1;
    m_startMs = m_clock->nowMs();
    emit started(int(m_order.size()));
    // The window gets to set itself up for the run before the first row moves.
    QTimer::singleShot(0, this, &QueryRun::nextRow);
}

void QueryRun::stop() {
    if (!m_running)
        return;
    m_stop = true;
    switch (std::exchange(m_waiting, Waiting::Nothing)) {
    case Waiting::SignIn:
        // The row keeps what it has and counts as failed: a retry asks again with a new session.
        QTimer::singleShot(0, this, [this] { completeRow(describeReply(ReplyProblem::SignInPage), true); });
        return;
    case Waiting::Answer:
        QTimer::singleShot(0, this, &QueryRun::nextRow);
        return;
    case Waiting::Nothing:
        break;
    }
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

void QueryRun::resumeSession() {
    if (m_waiting != Waiting::SignIn)
        return;
    m_waiting = Waiting::Nothing;
    emit resumed();
    QTimer::singleShot(0, this, m_retryStep);
}

void QueryRun::continueAfterFailures() {
    if (m_waiting != Waiting::Answer)
        return;
    m_waiting = Waiting::Nothing;
    m_streak = 0;
    QTimer::singleShot(0, this, &QueryRun::nextRow);
}

bool QueryRun::heldAt(Step step) {
    if (m_holds == 0)
        return false;
    m_pauseTimer.stop();
    m_heldStep = step;
    return true;
}

void QueryRun::nextRow() {
    if (heldAt(&QueryRun::nextRow))
        return;
    if (m_position >= m_order.size() || m_stop) {
        finish();
        return;
    }
    if (m_streak >= kFailureStreak) {
        m_waiting = Waiting::Answer;
        emit failureStreak();
        return;
    }
    m_current = m_order[m_position];
    rateCheck();
}

void QueryRun::rateCheck() {
    if (heldAt(&QueryRun::rateCheck))
        return;
    const qint64 rate = m_rate ? m_rate() : 0;
    qint64 elapsed = m_clock->nowMs() - m_startMs;
    if (withinBudget(rate, elapsed, m_position + 1)) {
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

void QueryRun::setRow(int index, const Row& row) {
    Row& current = m_rows[index];
    for (int column = 0; column < kColumnCount; ++column) {
        if (current[column] == row[column])
            continue;
        current[column] = row[column];
        emit cellChanged(index, column, row[column]);
    }
}

void QueryRun::lookUpResources() {
    if (heldAt(&QueryRun::lookUpResources))
        return;
    m_client->PostHtml(m_resourceUrl, resourceBody(m_rows[m_current]), this,
                       [this](const PostReply& reply) { onResourceReply(reply); });
}

// Not held: the row under way finishes what it began.
void QueryRun::lookUpPower() {
    m_client->PostHtml(m_powerUrl, powerBody(m_rows[m_current]), this,
                       [this](const PostReply& reply) { onPowerReply(reply); });
}

void QueryRun::onResourceReply(const PostReply& reply) {
    const lookup::Step step = lookup::resourceReply(m_rows[m_current], reply);
    if (step.outcome == lookup::Outcome::SessionLost) {
        waitForSignIn(&QueryRun::lookUpResources);
        return;
    }
    setRow(m_current, step.row);
    if (step.outcome == lookup::Outcome::NoUsableReply)
        completeRow(step.reason, false);
    else if (!step.powerFollows)
        completeRow(QString(), true);
    else
        lookUpPower();
}

void QueryRun::onPowerReply(const PostReply& reply) {
    const lookup::Step step = lookup::powerReply(m_rows[m_current], reply);
    if (step.outcome == lookup::Outcome::SessionLost) {
        waitForSignIn(&QueryRun::lookUpPower);
        return;
    }
    setRow(m_current, step.row);
    // The resource lookup was answered, so the row did get a reply.
    completeRow(step.reason, true);
}

void QueryRun::waitForSignIn(Step retry) {
    if (m_stop) {
        completeRow(describeReply(ReplyProblem::SignInPage), true);
        return;
    }
    m_waiting = Waiting::SignIn;
    m_retryStep = retry;
    emit sessionLost(m_current);
}

void QueryRun::completeRow(const QString& failure, bool gotReply) {
    m_failures[m_current] = failure;
    if (!failure.isEmpty())
        emit rowFailureChanged(m_current, failure);
    m_streak = gotReply ? 0 : m_streak + 1;
    emit rowDone(m_current, m_position + 1);
    ++m_position;
    nextRow();
}

void QueryRun::finish() {
    hidePause();
    m_running = false;
    m_current = -1;
    m_waiting = Waiting::Nothing;
    emit finished(m_stop ? stoppedMessage() : finishedMessage());
}
