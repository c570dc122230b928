#pragma once

// A programmer wired to a simulated chip through a recording port and clock:
// the fixture the engine's tests share.

#include <memory>
#include <optional>
#include <string_view>

#include "Programmer.h"
#include "Recorder.h"
#include "SimulatedTarget.h"

namespace velkor::testing {

class SimulatedProgrammer {
public:
    // Replaces whatever chip was attached with a fresh one ("none" for
    // nothing), on its factory clock unless chipClockHz is given.
    void Attach(std::string_view chipName, std::optional<std::uint32_t> chipClockHz = std::nullopt)
    {
        target = std::make_unique<sim::SimulatedTarget>(chipName, chipClockHz);
        port = std::make_unique<RecordingPort>(target->port(), trace);
        clock = std::make_unique<RecordingClock>(target->clock(), trace);
        programmer = std::make_unique<Programmer>(*port, *clock, log);
    }

    std::unique_ptr<sim::SimulatedTarget> target;
    Trace trace;
    std::unique_ptr<RecordingPort> port;
    std::unique_ptr<RecordingClock> clock;
    MemoryLog log;
    std::unique_ptr<Programmer> programmer;
};

}  // namespace velkor::testing
