#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CommandResult.h"
#include "Eeprom.h"
#include "LockBits.h"
#include "Programmer.h"

namespace velkor {

// What the whole-chip command is told to write. Each file is an ELF file,
// which gives every memory it holds, or a HEX file, which gives the flash.
struct WholeChipRequest {
    std::vector<std::filesystem::path> files;
    std::optional<std::filesystem::path> flash;   // HEX or ELF: its flash
    std::optional<std::filesystem::path> eeprom;  // HEX or ELF: its EEPROM
    // HIGH, LOW and, on chips that have one, EXTENDED, in hexadecimal.
    std::vector<std::string> fuses;
    std::optional<std::string> lock;
    bool erase = false;
};

// The whole chip in one command, in the order that cannot lock the user out
// halfway: identification, every check of every memory against the chip,
// Chip Erase, the flash (read back as it is written), the EEPROM, the fuses,
// the lock byte last. Every memory written is read back; a failure names the
// memory and stops before the next one.
class WholeChip {
public:
    WholeChip(Programmer& programmer, EepromMemory& eeprom, LockBits& lock)
        : programmer_(programmer), eeprom_(eeprom), lock_(lock), log_(programmer.CommandLog())
    {
    }

    CommandResult ProgramCommand(const WholeChipRequest& request);

private:
    struct FuseValues {
        std::uint8_t high = 0xFF;
        std::uint8_t low = 0xFF;
        std::optional<std::uint8_t> extended;
    };
    // Every memory to write, each from one source, named for the log.
    struct Plan {
        std::optional<Session::CheckedHexFile> flash;
        std::optional<Session::CheckedHexFile> eeprom;
        std::optional<FuseValues> fuses;
        std::optional<std::uint8_t> lock;
        bool erase = false;
    };

    bool ReadPlan(const WholeChipRequest& request, Plan& plan);
    bool AddFile(const std::filesystem::path& file, bool flash, bool eeprom, Plan& plan);
    bool AddElfFuses(const std::vector<std::uint8_t>& bytes, Plan& plan);
    bool AddElfLock(const std::vector<std::uint8_t>& bytes, Plan& plan);
    bool GivenOnce(bool alreadyGiven, const char* memory);
    bool PlanFitsChip(const Plan& plan);
    bool Program(const Plan& plan);

    Programmer& programmer_;
    EepromMemory& eeprom_;
    LockBits& lock_;
    Log& log_;
};

}  // namespace velkor
