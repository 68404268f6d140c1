#pragma once

#include "query/MonotonicClock.h"

class FakeClock : public MonotonicClock {
public:
    qint64 nowMs() const override { return m_now; }
    void set(qint64 ms) { m_now = ms; }
    void advance(qint64 ms) { m_now += ms; }

private:
    qint64 m_now = 1000000;
};
