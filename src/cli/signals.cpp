#include "cli/signals.h"

#include <cerrno>
#include <unistd.h>

namespace tarsel::cli {

namespace {

// Wakes the waiting thread when the canceller is destroyed; never sent by anyone else
// to this thread.
constexpr int kWakeSignal = SIGUSR1;

} // namespace

SignalCanceller::SignalCanceller(CancelToken& token, std::function<void()> onSecondSignal)
    : m_token(token), m_onSecond(std::move(onSecondSignal))
{
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    sigaddset(&m_set, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &m_set, &m_previous);
    m_started = pthread_create(
                    &m_thread, nullptr,
                    [](void* self) -> void* {
                        static_cast<SignalCanceller*>(self)->run();
                        return nullptr;
                    },
                    this)
        == 0;
}

SignalCanceller::~SignalCanceller()
{
    if (m_started) {
        m_stopping.store(true);
        pthread_kill(m_thread, kWakeSignal);
        pthread_join(m_thread, nullptr);
    }
    // Signals that came while blocked stay pending: take them off before unblocking,
    // so that a late Ctrl-C does not kill the program after its jobs have ended.
    sigset_t pending;
    if (sigpending(&pending) == 0) {
        for (int s : {SIGINT, SIGTERM, kWakeSignal}) {
            if (sigismember(&pending, s)) {
                sigset_t one;
                sigemptyset(&one);
                sigaddset(&one, s);
                int taken = 0;
                sigwait(&one, &taken);
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

void SignalCanceller::run()
{
    for (;;) {
        int s = 0;
        if (sigwait(&m_set, &s) != 0)
            continue;
        if (s == kWakeSignal) {
            if (m_stopping.load())
                return;
            continue;
        }
        if (m_signal.load() == 0) {
            m_signal.store(s);
            m_token.cancel();
            continue;
        }
        if (m_onSecond)
            m_onSecond();
        else
            _exit(130);
    }
}

} // namespace tarsel::cli
