#include "query/RatePace.h"

#include <algorithm>
#include <limits>

bool RatePace::withinBudget(qint64 rate, qint64 elapsedMs, qint64 rowNumber) {
    const qint64 minute = elapsedMs / kWindowMs + 1;
    // An unbounded rate must not overflow into a pause.
    if (rate > 0 && minute > std::numeric_limits<qint64>::max() / rate)
        return true;
    return rate * minute >= rowNumber;
}

void RatePace::begin(qint64 nowMs) {
    m_startMs = nowMs;
    m_heldMs = 0;
    m_heldSinceMs = -1;
}

void RatePace::seed(qint64 nowMs, const QList<qint64>& agesMs) {
    m_starts.clear();
    for (const qint64 age : agesMs)
        if (age < kWindowMs)
            m_starts.append(nowMs - std::max<qint64>(age, 0));
    std::sort(m_starts.begin(), m_starts.end());
}

void RatePace::setHeld(bool held, qint64 nowMs) {
    if (held == (m_heldSinceMs >= 0))
        return;
    if (held) {
        m_heldSinceMs = nowMs;
    } else {
        m_heldMs += nowMs - m_heldSinceMs;
        m_heldSinceMs = -1;
    }
}

qint64 RatePace::waitBeforeRow(qint64 rate, qint64 rowNumber, qint64 nowMs) {
    const qint64 held = m_heldMs + (m_heldSinceMs >= 0 ? nowMs - m_heldSinceMs : 0);
    const qint64 active = nowMs - m_startMs - held;
    qint64 wait = 0;
    if (rate <= 0) {
        wait = kWindowMs - active % kWindowMs; // no budget ever: the countdown goes round
    } else if (!withinBudget(rate, active, rowNumber)) {
        const qint64 minute = (rowNumber + rate - 1) / rate; // the first whole minute whose budget holds it
        wait = (minute - 1) * kWindowMs - active;
    }
    while (!m_starts.isEmpty() && m_starts.first() <= nowMs - kWindowMs)
        m_starts.removeFirst();
    if (rate > 0 && m_starts.size() >= rate)
        wait = std::max(wait, m_starts.at(m_starts.size() - rate) + kWindowMs - nowMs);
    return wait;
}

void RatePace::noteStart(qint64 nowMs) {
    m_starts.append(nowMs);
}
