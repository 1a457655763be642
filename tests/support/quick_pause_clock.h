// A wall clock for tests against a real line whose fixed protocol pauses pass faster.
#pragma once

#include "link/cancel.h"
#include "link/clock.h"

#include <algorithm>
#include <atomic>

namespace tarsel::test {

// Real time, except that the protocol's fixed pauses pass `factor` times faster, but
// never shorter than `floorMs`: a pause is also the time an answer has to come back
// in, and on a busy host a pseudo-terminal (like a real UART driver) hands bytes on
// through a kernel worker that may wait its turn for tens of milliseconds. The time a pause skips
// is added to the clock, so after a pause of 100 ms the clock has moved on by at
// least 100 ms. Everything between pauses (waiting for an answer, a
// time-out without pauses in it, the line time of a transfer) runs at the wall
// clock's pace and keeps the program's own limits: a busy host cannot make a test
// miss an answer that a real display would have given in time, while a run with
// hundreds of fixed pauses still finishes in a test's time.
class QuickPauseClock : public Clock {
public:
    explicit QuickPauseClock(double factor, double floorMs = 100) : m_factor(factor), m_floorMs(floorMs) {}

    double nowMs() override { return m_real.nowMs() + m_skipped.load(); }
    void sleepMs(double ms) override
    {
        if (ms <= 0)
            return;
        const double real = shortened(ms);
        m_real.sleepMs(real);
        m_skipped.fetch_add(ms - real);
    }
    bool sleepMs(double ms, const CancelToken& cancel) override
    {
        if (ms <= 0)
            return !cancel.cancelled();
        const double real = shortened(ms);
        if (!cancel.sleepFor(real))
            return false;
        m_skipped.fetch_add(ms - real);
        return true;
    }

private:
    double shortened(double ms) const { return ms <= m_floorMs ? ms : std::max(ms / m_factor, m_floorMs); }

    SteadyClock m_real;
    double m_factor;
    double m_floorMs;
    std::atomic<double> m_skipped{0};
};

} // namespace tarsel::test
