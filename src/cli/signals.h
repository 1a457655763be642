// Ctrl-C and SIGTERM as a cancel: the signals are blocked in every thread and taken
// by one thread with sigwait, which cancels the shared token (a cancel is not
// async-signal-safe, so no signal handler does it). The running jobs then unwind:
// the display is put back to its own speed and the port closed.
#pragma once

#include "link/cancel.h"

#include <atomic>
#include <functional>
#include <pthread.h>
#include <signal.h>
#include <thread>

namespace tarsel::cli {

class SignalCanceller {
public:
    // Blocks SIGINT and SIGTERM in the calling thread. Construct it before any other
    // thread starts, so that every thread inherits the mask. A second signal while the
    // jobs unwind calls `onSecondSignal` (default: leave at once with status 130).
    explicit SignalCanceller(CancelToken& token, std::function<void()> onSecondSignal = {});
    ~SignalCanceller();
    SignalCanceller(const SignalCanceller&) = delete;
    SignalCanceller& operator=(const SignalCanceller&) = delete;

    // The signal that cancelled the jobs; 0 while none came.
    int signal() const { return m_signal.load(); }

private:
    void run();

    CancelToken& m_token;
    std::function<void()> m_onSecond;
    sigset_t m_set;
    sigset_t m_previous;
    std::atomic<int> m_signal{0};
    std::atomic<bool> m_stopping{false};
    pthread_t m_thread{};
    bool m_started = false;
};

} // namespace tarsel::cli
