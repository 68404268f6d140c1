#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Milliseconds from an arbitrary origin that never go back; the rate budget counts on it.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual qint64 nowMs() const = 0;
};

class SteadyClock : public MonotonicClock {
public:
    SteadyClock();
    qint64 nowMs() const override;

private:
    QElapsedTimer m_timer;
};
