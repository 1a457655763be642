#include "link/cancel.h"

#include <chrono>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace tarsel {

CancelToken::CancelToken() { m_eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

CancelToken::~CancelToken()
{
    if (m_eventFd >= 0)
        ::close(m_eventFd);
}

void CancelToken::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled.exchange(true, std::memory_order_acq_rel))
            return;
    }
    m_wake.notify_all();
    if (m_eventFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_eventFd, &one, sizeof one);
    }
}

bool CancelToken::sleepFor(double ms) const
{
    if (ms <= 0)
        return !cancelled();
    std::unique_lock lock(m_mutex);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double, std::milli>(ms);
    return !m_wake.wait_until(lock, until, [this] { return cancelled(); });
}

} // namespace tarsel
