#include "link/clock.h"

#include "link/cancel.h"

#include <chrono>
#include <thread>

namespace tarsel {

bool Clock::sleepMs(double ms, const CancelToken& cancel)
{
    if (cancel.cancelled())
        return false;
    sleepMs(ms);
    return !cancel.cancelled();
}

double SteadyClock::nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void SteadyClock::sleepMs(double ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

bool SteadyClock::sleepMs(double ms, const CancelToken& cancel) { return cancel.sleepFor(ms); }

} // namespace tarsel
