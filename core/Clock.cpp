#include "Clock.h"

#include <algorithm>
#include <thread>

namespace velkor {

namespace {
std::int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

void PhasePacer::AccessEnded(std::int64_t nowNs)
{
    if (lastReadingNs_) {
        const std::int64_t took = nowNs - *lastReadingNs_;
        shortestAccessNs_ = std::min(shortestAccessNs_.value_or(took), took);
    }
    lastReadingNs_ = nowNs;
    accessEndNs_ = nowNs;
}

std::int64_t PhasePacer::DelayEndNs(std::chrono::nanoseconds phase) const
{
    const std::int64_t credit = std::min<std::int64_t>(shortestAccessNs_.value_or(0), phase.count());
    return accessEndNs_ + phase.count() - credit;
}

void SystemClock::Sleep(unsigned milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    pacer_.Interrupted();
}

void SystemClock::PortAccessed()
{
    pacer_.AccessEnded(SteadyNanoseconds());
}

// The reading taken at the access's end tells whether to wait at all: a
// phase the access has already filled costs no second reading.
void SystemClock::ShortDelay(std::chrono::nanoseconds phase)
{
    const std::int64_t until = pacer_.DelayEndNs(phase);
    std::int64_t now = pacer_.AccessEndNs();
    while (now < until) {
        now = SteadyNanoseconds();
    }
    pacer_.DelayEnded(now);
}

std::chrono::nanoseconds SystemClock::Now() const
{
    return std::chrono::nanoseconds(SteadyNanoseconds());
}

}  // namespace velkor
