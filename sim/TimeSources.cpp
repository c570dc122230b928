#include <chrono>

#include "SimulatedTarget.h"

namespace velkor::sim {

namespace {
constexpr std::uint64_t kPortAccessNanoseconds = 1000;  // one ISA-range IN/OUT
}

void VirtualClock::Sleep(unsigned milliseconds)
{
    now_ += std::uint64_t{milliseconds} * 1'000'000;
}

void VirtualClock::ShortDelay()
{
    now_ += std::chrono::nanoseconds(kShortDelay).count();
}

void VirtualClock::ChargePortAccess()
{
    now_ += kPortAccessNanoseconds;
}

std::uint64_t RealTimeSource::NowNanoseconds() const
{
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count());
}

}  // namespace velkor::sim
