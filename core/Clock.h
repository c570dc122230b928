#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace velkor {

// Every wait of the engine goes through a Clock, so that the same engine runs
// in real time on hardware and in virtual time against the simulated target.
class Clock {
public:
    virtual ~Clock() = default;

    virtual void Sleep(unsigned milliseconds) = 0;
    // Told right after each port access: the SCK phase that the next
    // ShortDelay ends counts from that access.
    virtual void PortAccessed() = 0;
    // Returns once phase has passed since the port access before it began,
    // so the access is part of the phase: a fast port gives exactly phase
    // per step, one slower than phase its own access time.
    virtual void ShortDelay(std::chrono::nanoseconds phase) = 0;
    // The time on this clock, from an arbitrary start: what a long run
    // reports as the duration of each of its steps.
    virtual std::chrono::nanoseconds Now() const = 0;
};

// When a short delay may end, from readings of the time in ns. An access
// began, at the latest, the shortest access seen before its end: so an
// access held up inside (an interrupt, another program on the CPU), whose
// pin may have changed late, never shortens the phase after it. Until an
// access has been timed from a reading just before it, none counts.
class PhasePacer {
public:
    void AccessEnded(std::int64_t nowNs);
    // The next access begins right after this reading.
    void DelayEnded(std::int64_t nowNs) { lastReadingNs_ = nowNs; }
    // Time passed unseen (a sleep): the next access's start is not known.
    void Interrupted() { lastReadingNs_.reset(); }
    std::int64_t DelayEndNs(std::chrono::nanoseconds phase) const;
    std::int64_t AccessEndNs() const { return accessEndNs_; }

private:
    std::optional<std::int64_t> lastReadingNs_;
    std::optional<std::int64_t> shortestAccessNs_;
    std::int64_t accessEndNs_ = 0;
};

// Real time: sleeps for the millisecond waits, a busy-wait on the steady clock
// for ShortDelay (a sleep that short would overshoot by far).
class SystemClock final : public Clock {
public:
    void Sleep(unsigned milliseconds) override;
    void PortAccessed() override;
    void ShortDelay(std::chrono::nanoseconds phase) override;
    std::chrono::nanoseconds Now() const override;

private:
    PhasePacer pacer_;
};

}  // namespace velkor
