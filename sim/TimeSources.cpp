#include <algorithm>
#include <chrono>

#include "SimulatedTarget.h"

namespace velkor::sim {

namespace {
constexpr std::uint64_t kPortAccessNanoseconds = 1000;  // one ISA-range IN/OUT
}

void VirtualClock::Sleep(unsigned milliseconds)
{
    now_ += std::uint64_t{milliseconds} * 1'000'000;
    pacer_.Interrupted();
}

void VirtualClock::PortAccessed()
{
    pacer_.AccessEnded(static_cast<std::int64_t>(now_));
}

void VirtualClock::ShortDelay(std::chrono::nanoseconds phase)
{
    now_ = std::max(now_, static_cast<std::uint64_t>(pacer_.DelayEndNs(phase)));
    pacer_.DelayEnded(static_cast<std::int64_t>(now_));
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
