#pragma once

// What the commands of velkor-cli share: the options as parsed, and the
// helpers that turn them into a port, a pace and simulated faults.

#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ChipCatalogue.h"
#include "CommonOptions.h"
#include "EepromCommands.h"
#include "PortName.h"
#include "Programmer.h"
#include "SimulatedTarget.h"

namespace velkor {

constexpr int kExitFailed = 1;

// The options of produce, board after board.
struct ProduceOptions {
    std::optional<std::string> serial;  // ADDRESS:START[:STEP]
    std::optional<std::filesystem::path> serialFile;
    std::optional<std::filesystem::path> record;
    std::optional<std::string> simBoards;
};

struct Options : CommonOptions {
    std::string program = "velkor-cli";  // as it can be run again: argv[0], a path made absolute
    std::string port = "lpt1";
    std::optional<std::filesystem::path> stateFile;
    bool stats = false;
    std::string command;
    std::optional<std::filesystem::path> hexFile;
    std::string fuseHigh;
    std::string fuseLow;
    bool showProgress = false;  // standard error is a terminal
    std::filesystem::path readFile;
    std::vector<std::string> simFaults;
    std::optional<std::string> fuseExtended;
    std::vector<const ChipCatalogue*> chipLists;  // read from allChips and chipFile before any port access
    bool keepEeprom = false;
    EepromOptions eeprom;
    ProduceOptions produce;
};

// The port --port names; a UsageError for one it does not.
PortName ChosenPort(const std::string& text);
// One --sim-fault KIND[:ARG], added to faults; a UsageError for a bad one.
void AddSimFault(sim::Faults& faults, const std::string& fault);
// 128 + the signal when one interrupted the command, else the command's own.
int ExitStatus(bool succeeded);
// For a state or counter file's lock: says on err that another velkor-cli holds it.
std::function<void(const std::filesystem::path&)> ReportLockWait(std::ostream& err);
// The --stats line: port accesses, virtual time and timing violations.
void PrintSimStats(std::ostream& err, std::uint64_t portAccesses, double seconds, std::size_t violations);

}  // namespace velkor
