#include "link/clock.h"

#include <chrono>
#include <thread>

namespace tarsel {

double SteadyClock::nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void SteadyClock::sleepMs(double ms)
{
    // Sleep in short slices so that cancel() takes effect within a few milliseconds.
    const double end = nowMs() + ms;
    while (!m_cancelled.load()) {
        const double left = end - nowMs();
        if (left <= 0)
            return;
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left < 5 ? left : 5));
    }
}

void SteadyClock::cancel() { m_cancelled.store(true); }
void SteadyClock::resetCancel() { m_cancelled.store(false); }

} // namespace tarsel
