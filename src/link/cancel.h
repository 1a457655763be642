// A cancel request for one device job. The job runner makes one token per job and
// hands it to the link; every pause, wait and blocking write of the job watches it,
// so a cancelled job unwinds within milliseconds wherever it is.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace tarsel {

class CancelToken {
public:
    CancelToken();
    ~CancelToken();
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    // Thread-safe; wakes every wait on the token. Cancelling twice does nothing more.
    void cancel();
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    // Sleeps `ms` milliseconds on the steady clock, or until the token is cancelled.
    // True when the whole time passed, false when cancelled.
    bool sleepFor(double ms) const;

    // A descriptor that becomes readable once the token is cancelled, for poll()
    // beside a port's descriptor; -1 when none could be made (then waits fall back
    // to short slices).
    int pollFd() const { return m_eventFd; }

private:
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    int m_eventFd = -1;
};

} // namespace tarsel
