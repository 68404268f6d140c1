#include "query/QueryRun.h"

#include "common/Endpoints.h"
#include "common/ErrorText.h"
#include "query/LookupRules.h"
#include "query/MonotonicClock.h"
#include "query/SessionPostClient.h"

#include <algorithm>
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

QString QueryRun::unreachedMark() {
    return u"未查询"_s;
}
QString QueryRun::summaryText(int done, int failed, int unreached) {
    return u"完成 %1，失败 %2，未查询 %3"_s.arg(done).arg(failed).arg(unreached);
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
    return countdownForWait(kMinuteMs - elapsedMs % kMinuteMs);
}

QString QueryRun::countdownForWait(qint64 waitMs) {
    const qint64 seconds = (std::max<qint64>(waitMs, 1) + 999) / 1000;
    return u"限速暂停中("_s + QString::number(seconds) + u"S）……"_s;
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
QList<QueryRun::Row> QueryRun::rows() const {
    QList<Row> rows;
    rows.reserve(m_accounts.size());
    for (int index = 0; index < m_accounts.size(); ++index)
        rows.append(row(index));
    return rows;
}

QueryRun::Row QueryRun::row(int index) const {
    if (index < 0 || index >= m_accounts.size())
        return {};
    if (const auto& written = m_written[size_t(index)])
        return *written;
    Row row;
    row[Account] = m_accounts.at(index);
    return row;
}

const QString& QueryRun::cell(int row, int column) const {
    static const QString empty;
    if (row < 0 || row >= m_accounts.size() || column < 0 || column >= kColumnCount)
        return empty;
    if (const auto& written = m_written[size_t(row)])
        return (*written)[column];
    return column == Account ? m_accounts.at(row) : empty;
}

QString QueryRun::failureReason(int row) const {
    return m_failures.value(row);
}

int QueryRun::failedRowCount() const {
    return int(m_failures.size());
}

QString QueryRun::unreachedReason(int row) const {
    return m_unreached.value(row);
}

bool QueryRun::isDone(int row) const {
    return row >= 0 && size_t(row) < m_pending.size() && !m_pending[size_t(row)] &&
           !m_failures.contains(row) && !m_unreached.contains(row);
}

int QueryRun::unreachedRowCount() const {
    return int(m_unreached.size());
}

QString QueryRun::summary() const {
    const int failed = failedRowCount();
    const int unreached = unreachedRowCount();
    return summaryText(rowCount() - failed - unreached, failed, unreached);
}

bool QueryRun::start(const QString& accountText) {
    if (accountText.isEmpty() || m_running)
        return false;
    const QStringList accounts = splitAccounts(accountText);
    m_accounts = accounts;
    m_written.clear();
    m_written.resize(size_t(accounts.size()));
    m_order.clear();
    m_order.reserve(accounts.size());
    for (int index = 0; index < accounts.size(); ++index)
        m_order.append(index);
    m_failures.clear();
    m_unreached.clear();
    m_doneBase = 0;
    markPending();
    emit rowsBuilt(rowCount());
    begin();
    return true;
}

bool QueryRun::resume(const QList<SavedRow>& rows) {
    if (m_running)
        return false;
    m_accounts.clear();
    m_written.clear();
    m_failures.clear();
    m_order.clear();
    m_unreached.clear();
    for (const SavedRow& saved : rows) {
        const int index = rowCount();
        if (!saved.finished)
            m_order.append(index);
        m_accounts.append(saved.cells[Account]);
        const bool written = std::any_of(saved.cells.begin() + 1, saved.cells.end(),
                                         [](const QString& text) { return !text.isEmpty(); });
        m_written.push_back(written ? std::make_unique<Row>(saved.cells) : nullptr);
        if (saved.finished && !saved.failure.isEmpty())
            m_failures.insert(index, saved.failure);
    }
    m_doneBase = rowCount() - int(m_order.size());
    markPending();
    emit rowsBuilt(rowCount());
    begin();
    return true;
}

bool QueryRun::retryFailed() {
    if (m_running)
        return false;
    m_order.clear();
    for (int i = 0; i < rowCount(); ++i) {
        if (m_failures.contains(i) || m_unreached.contains(i))
            m_order.append(i);
    }
    if (m_order.isEmpty())
        return false;
    m_doneBase = 0;
    markPending();
    for (const int index : std::as_const(m_order)) {
        Row fresh;
        fresh[Account] = m_accounts.at(index);
        setRow(index, fresh);
        if (m_failures.remove(index))
            emit rowFailureChanged(index, QString());
        setUnreached(index, QString());
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
    m_stopCause.clear();
    m_paused = false;
    m_waiting = Waiting::Nothing;
    m_heldStep = nullptr;
    m_streak = 0;
    m_position = 0;
    m_current = -1;
    const qint64 now = m_clock->nowMs();
    m_pace.begin(now);
    if (m_startLog)
        m_pace.seed(now, m_startLog->recentStartAges());
    noteHeld();
    emit started(m_doneBase + int(m_order.size()));
    // The window gets to set itself up for the run before the first row moves.
    QTimer::singleShot(0, this, &QueryRun::nextRow);
}

void QueryRun::stop() {
    if (!m_running)
        return;
    m_stop = true;
    const Waiting waiting = std::exchange(m_waiting, Waiting::Nothing);
    switch (waiting) {
    case Waiting::SignIn:
        m_stopCause = u"登录失效后查询已停止"_s;
        break;
    case Waiting::Answer:
        m_stopCause = u"连续3个帐号查询失败后查询已停止"_s;
        break;
    case Waiting::Nothing:
        m_stopCause = u"查询已停止"_s;
        break;
    }
    noteHeld();
    switch (waiting) {
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
    noteHeld();
}

void QueryRun::release() {
    if (m_holds == 0)
        return;
    --m_holds;
    noteHeld();
    if (m_holds > 0 || !m_heldStep)
        return;
    const auto step = std::exchange(m_heldStep, nullptr);
    QTimer::singleShot(0, this, step);
}

void QueryRun::resumeSession() {
    if (m_waiting != Waiting::SignIn)
        return;
    // A signed-in page on the very session that was refused would only be refused again, as
    // fast as the network allows.
    if (m_client->cookieFor(m_refusedUrl) == m_refusedCookie)
        return;
    setWaiting(Waiting::Nothing);
    emit resumed();
    QTimer::singleShot(0, this, m_retryStep);
}

void QueryRun::continueAfterFailures() {
    if (m_waiting != Waiting::Answer)
        return;
    setWaiting(Waiting::Nothing);
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
        setWaiting(Waiting::Answer);
        emit failureStreak();
        return;
    }
    m_current = m_order[m_position];
    rateCheck();
}

void QueryRun::rateCheck() {
    if (heldAt(&QueryRun::rateCheck))
        return;
    const qint64 now = m_clock->nowMs();
    const qint64 wait = m_pace.waitBeforeRow(m_rate ? m_rate() : 0, m_position + 1, now);
    if (wait <= 0) {
        hidePause();
        m_pace.noteStart(now);
        if (m_startLog)
            m_startLog->recordStart();
        m_refusals = 0;
        lookUpResources();
        return;
    }
    // Reached again by the pause timer: that tick is the turn on which Stop is noticed.
    if (m_stop) {
        hidePause();
        finish();
        return;
    }
    const QString text = countdownForWait(wait);
    if (!m_paused || text != m_lastCountdown) {
        m_paused = true;
        m_lastCountdown = text;
        emit paused(text);
    }
    // Wake when the countdown next changes, which is also when the row may go.
    const qint64 untilNextSecond = (wait - 1) % 1000 + 1;
    m_pauseTimer.start(int(std::min<qint64>(untilNextSecond, m_pauseTickMs)));
}

void QueryRun::setWaiting(Waiting waiting) {
    m_waiting = waiting;
    noteHeld();
}

void QueryRun::noteHeld() {
    m_pace.setHeld(m_holds > 0 || m_waiting != Waiting::Nothing, m_clock->nowMs());
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
    auto& written = m_written[size_t(index)];
    if (!written)
        written = std::make_unique<Row>(this->row(index));
    Row& current = *written;
    for (int column = 0; column < kColumnCount; ++column) {
        if (current[column] == row[column])
            continue;
        current[column] = row[column];
        emit cellChanged(index, column, row[column]);
    }
}

void QueryRun::setUnreached(int index, const QString& reason) {
    if (m_unreached.value(index) == reason)
        return;
    if (reason.isEmpty())
        m_unreached.remove(index);
    else
        m_unreached.insert(index, reason);
    emit rowUnreachedChanged(index, reason);
}

void QueryRun::markPending() {
    m_pending.assign(size_t(rowCount()), false);
    for (const int index : std::as_const(m_order))
        m_pending[size_t(index)] = true;
}

void QueryRun::lookUpResources() {
    if (heldAt(&QueryRun::lookUpResources))
        return;
    m_client->PostHtml(m_resourceUrl, resourceBody(row(m_current)), this,
                       [this](const PostReply& reply) { onResourceReply(reply); });
}

// Not held: the row under way finishes what it began.
void QueryRun::lookUpPower() {
    m_client->PostHtml(m_powerUrl, powerBody(row(m_current)), this,
                       [this](const PostReply& reply) { onPowerReply(reply); });
}

void QueryRun::onResourceReply(const PostReply& reply) {
    const lookup::Step step = lookup::resourceReply(row(m_current), reply);
    if (step.outcome == lookup::Outcome::SessionLost) {
        waitForSignIn(&QueryRun::lookUpResources, reply);
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
    const lookup::Step step = lookup::powerReply(row(m_current), reply);
    if (step.outcome == lookup::Outcome::SessionLost) {
        waitForSignIn(&QueryRun::lookUpPower, reply);
        return;
    }
    setRow(m_current, step.row);
    // The resource lookup was answered, so the row did get a reply.
    completeRow(step.reason, true);
}

void QueryRun::waitForSignIn(Step retry, const PostReply& refused) {
    // Refused once more after a new sign-in: the account itself is turned away, and the run must
    // not wait for ever on it.
    if (m_stop || ++m_refusals > 1) {
        completeRow(describeReply(ReplyProblem::SignInPage), true);
        return;
    }
    m_refusedCookie = refused.cookie;
    m_refusedUrl = retry == &QueryRun::lookUpPower ? m_powerUrl : m_resourceUrl;
    m_retryStep = retry;
    setWaiting(Waiting::SignIn);
    emit sessionLost(m_current);
}

void QueryRun::completeRow(const QString& failure, bool gotReply) {
    if (failure.isEmpty())
        m_failures.remove(m_current);
    else
        m_failures.insert(m_current, failure);
    if (!failure.isEmpty())
        emit rowFailureChanged(m_current, failure);
    m_streak = gotReply ? 0 : m_streak + 1;
    m_pending[size_t(m_current)] = false;
    const Row cells = row(m_current);
    emit rowFinished(m_current, QStringList(cells.begin(), cells.end()), !failure.isEmpty(), failure);
    emit rowDone(m_current, m_doneBase + m_position + 1);
    ++m_position;
    nextRow();
}

void QueryRun::finish() {
    hidePause();
    // Every row of this run not yet begun is left for a retry, and says why.
    const QString cause = m_stopCause.isEmpty() ? u"查询提前结束"_s : m_stopCause;
    for (qsizetype position = m_position; position < m_order.size(); ++position)
        setUnreached(m_order[position], unreachedMark() + u"："_s + cause + u"，未轮到此帐号"_s);
    m_pending.assign(m_pending.size(), false);
    m_running = false;
    m_current = -1;
    setWaiting(Waiting::Nothing);
    emit ended(m_stop);
    emit finished(m_stop ? stoppedMessage() : finishedMessage());
}
