#pragma once

// The simulated chip's non-volatile memories and their JSON state file.
// Internal to the simulated target.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "SimulatedTarget.h"

namespace velkor::sim {

struct ChipMemories {
    std::vector<std::uint8_t> flash;
    std::vector<std::uint8_t> eeprom;
    std::uint8_t fuseLow = 0xFF;
    std::uint8_t fuseHigh = 0xFF;
    std::uint8_t fuseExtended = 0xFF;
    std::uint8_t lock = 0xFF;

    // A new chip: flash and EEPROM erased, fuses and lock as shipped.
    static ChipMemories Factory(const ChipModel& model);
};

// Throws std::runtime_error naming the file and the fault when it cannot be
// read, names another chip, or does not hold exactly this chip's memories.
ChipMemories ReadStateFile(const ChipModel& model, const std::filesystem::path& file);
// Throws std::runtime_error when the file cannot be written.
void WriteStateFile(const ChipModel& model, const ChipMemories& memories, const std::filesystem::path& file);

}  // namespace velkor::sim
