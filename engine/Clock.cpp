#include "Clock.h"

#include <thread>

namespace velkor {

void SystemClock::Sleep(unsigned milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SystemClock::ShortDelay()
{
    const auto until = std::chrono::steady_clock::now() + kShortDelay;
    while (std::chrono::steady_clock::now() < until) {
    }
}

}  // namespace velkor
