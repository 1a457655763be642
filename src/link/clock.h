// The clock every device procedure measures its pauses and limits with.
#pragma once

namespace tarsel {

class CancelToken;

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale (origin unspecified).
    virtual double nowMs() = 0;
    // Pauses the calling thread.
    virtual void sleepMs(double ms) = 0;
    // Pauses the calling thread, returning early when `cancel` is cancelled. True
    // when the whole pause passed. The default suits clocks whose sleeps take no
    // real time (tests); clocks that really sleep wake on the token.
    virtual bool sleepMs(double ms, const CancelToken& cancel);
};

// Production clock: std::chrono::steady_clock.
class SteadyClock : public Clock {
public:
    double nowMs() override;
    void sleepMs(double ms) override;
    bool sleepMs(double ms, const CancelToken& cancel) override;
};

} // namespace tarsel
