#include "state/Clock.h"

#include <chrono>
#include <thread>

namespace kestrel {

void SystemClock::SleepMs(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t SystemClock::NowMs() const
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

SystemClock& SystemClock::Instance()
{
    static SystemClock clock;
    return clock;
}

}  // namespace kestrel
