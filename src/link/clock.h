// The clock every device procedure measures its pauses and limits with.
#pragma once

#include <atomic>

namespace tarsel {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale (origin unspecified).
    virtual double nowMs() = 0;
    // Pause the calling thread. A cancelled clock returns at once.
    virtual void sleepMs(double ms) = 0;
};

// Production clock: std::chrono::steady_clock. cancel() makes every current and
// later sleep return at once, so that an abandoned operation unwinds quickly.
class SteadyClock : public Clock {
public:
    double nowMs() override;
    void sleepMs(double ms) override;
    void cancel();
    void resetCancel();
    bool cancelled() const { return m_cancelled.load(); }

private:
    std::atomic<bool> m_cancelled{false};
};

} // namespace tarsel
