#pragma once

// The options the window and velkor-cli both take (--simulate, --chip-clock,
// --sim-clock, --all-chips, --chip-file, --cable, --cable-file), read and checked once for both, so
// that the two programs take the same texts and refuse the same faults in
// the same words.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "BuiltInCatalogue.h"
#include "Cable.h"
#include "Programmer.h"
#include "SimulatedTarget.h"

namespace velkor {

// The exit status of a fault in the command line.
constexpr int kExitUsage = 2;

// A fault in the command line: its message goes to standard error after the
// program's name, and the program ends with kExitUsage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The common options as typed; nothing for one not given.
struct CommonOptions {
    std::optional<std::string> chip;  // --simulate
    std::optional<std::string> chipClock;
    std::optional<std::string> simClock;
    bool allChips = false;
    std::optional<std::filesystem::path> chipFile;
    std::optional<std::string> cable;
    std::optional<std::filesystem::path> cableFile;
};

// The cables --cable-file adds to the known ones, and the one --cable picks:
// by default the built-in cable, or the one cable of a file that holds one.
class CableChoice {
public:
    // A UsageError naming --cable-file for a file that cannot be read or is
    // faulty (the cable, the field and the rule), naming --cable for a cable
    // nobody knows.
    explicit CableChoice(const CommonOptions& options);
    CableChoice(const CableChoice&) = delete;
    CableChoice& operator=(const CableChoice&) = delete;

    const Cable& Chosen() const { return *chosen_; }
    std::span<const Cable> FromFile() const { return fromFile_; }

private:
    std::vector<Cable> fromFile_;
    const Cable* chosen_ = nullptr;
};

// What the chip options and the cable options name, read and checked.
struct KnownParts {
    std::unique_ptr<KnownChips> chips;
    std::unique_ptr<CableChoice> cables;

    const std::vector<const ChipCatalogue*>& Lists() const { return chips->Lists(); }
    const Cable& ChosenCable() const { return cables->Chosen(); }
};
// ReadKnownChips and the CableChoice, in that order.
KnownParts ReadKnownParts(const CommonOptions& options);

// The clock a --chip-clock or --sim-clock option (named option) gives, nothing
// when it is not given; a UsageError for a text that is no clock in range.
std::optional<std::uint32_t> ClockOption(std::string_view option, const std::optional<std::string>& text);

// The target's clock that sets the SCK pace: --chip-clock, else the default.
std::uint32_t PaceClockHz(const CommonOptions& options);

// The chips --chip-file and --all-chips add to the table; a UsageError naming
// --chip-file for a file that cannot be read or is faulty.
std::unique_ptr<KnownChips> ReadKnownChips(const CommonOptions& options);

// The simulated chip named chip (any case, or none) at clockHz (nothing: the
// clock its fuses select); a UsageError naming the chips for an unknown one.
std::unique_ptr<sim::SimulatedTarget> MakeSimulatedTarget(const std::string& chip,
                                                          std::optional<std::uint32_t> clockHz);

// --chip-clock's SCK pace, else the default pace and the pace that follows
// the chip's fuses, and the chips identification may find beyond the table
// (chipLists, from ReadKnownChips), set on programmer.
void SetPace(Programmer& programmer, const CommonOptions& options, const std::vector<const ChipCatalogue*>& chipLists);

}  // namespace velkor
