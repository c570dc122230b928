#pragma once

// A programmer wired to a simulated chip through a recording port and clock:
// the fixture the engine's tests share.

#include <memory>
#include <optional>
#include <string_view>

#include "Eeprom.h"
#include "FlashReader.h"
#include "LockBits.h"
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
        flashReader = std::make_unique<FlashReader>(*programmer);
        eepromMemory = std::make_unique<EepromMemory>(*programmer);
        lockBits = std::make_unique<LockBits>(*programmer);
    }

    std::unique_ptr<sim::SimulatedTarget> target;
    Trace trace;
    std::unique_ptr<RecordingPort> port;
    std::unique_ptr<RecordingClock> clock;
    MemoryLog log;
    std::unique_ptr<Programmer> programmer;
    std::unique_ptr<FlashReader> flashReader;
    std::unique_ptr<EepromMemory> eepromMemory;
    std::unique_ptr<LockBits> lockBits;
};

}  // namespace velkor::testing
