#pragma once

// What the commands of velkor-cli share: the options every command takes, as
// parsed, and the frame a command runs in. The commands live in commands/,
// one family a file; CliApp.cpp defines the options, the frame and the
// dispatch.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandResult.h"
#include "CommonOptions.h"
#include "Eeprom.h"
#include "FlashReader.h"
#include "Hints.h"
#include "LockBits.h"
#include "PortName.h"
#include "Programmer.h"
#include "SimulatedTarget.h"

namespace CLI {
class App;
}

namespace velkor {

constexpr int kExitFailed = 1;

struct Options : CommonOptions {
    std::string program = "velkor-cli";  // as it can be run again: argv[0], a path made absolute
    std::string port = "lpt1";
    std::optional<std::filesystem::path> stateFile;
    bool stats = false;
    bool showProgress = false;  // standard error is a terminal
    std::vector<std::string> simFaults;
    std::optional<std::string> expect;  // --expect: the chip the command must find
};

// One run of velkor-cli: the options every command takes, its two streams,
// and the exit status the command named leaves.
struct Invocation {
    Options options;
    std::ostream& out;
    std::ostream& err;
    int status = 0;
};

// Adds the command name to app. When the user names it, run runs once the
// whole command line is read and checked, and gives the exit status.
CLI::App& AddCommand(CLI::App& app, Invocation& invocation, const std::string& name, const std::string& description,
                     std::function<int()> run);

// The HEXFILE argument of write, verify and produce: hexFile stays empty
// when it is left out.
void AddHexFileArgument(CLI::App& command, std::optional<std::filesystem::path>& hexFile);
// The HEX file given, else the fixed default file.
std::filesystem::path HexFileOrDefault(const std::optional<std::filesystem::path>& hexFile);

// The parts of the engine that the commands run on, all over one programmer.
struct EngineParts {
    explicit EngineParts(Programmer& programmer)
        : programmer(programmer), flash(programmer), eeprom(programmer), lock(programmer)
    {
    }

    Programmer& programmer;
    FlashReader flash;
    EepromMemory eeprom;
    LockBits lock;
};

// A command that runs on the chip, as the frame needs it.
struct ChipCommand {
    ChipCommand(std::string name, std::function<CommandResult(EngineParts&)> command) : run(std::move(command))
    {
        report.command = std::move(name);
    }

    // Its name and what it was given, for the progress line and the hints;
    // the frame adds the result, the port and whether the chip is simulated.
    CommandReport report;
    // The files it writes, refused before any port access where no regular
    // file may be written.
    std::vector<std::filesystem::path> writes;
    // The command itself: how it ended.
    std::function<CommandResult(EngineParts&)> run;
};

// Runs command on the port --port names or on the simulated chip of
// --simulate (its state loaded before and saved after, --stats after it):
// the log on out; the progress on a terminal, the notes and the hints on err.
// Returns the exit status.
int RunOnChip(const Invocation& invocation, const ChipCommand& command);

// What every command that reaches a chip checks before its first port access,
// in this order: the chips of --chip-file, --all-chips and --expect, the
// cables of --cable-file and --cable, --port, the
// options that need --simulate, the files written (the state file, then
// writes). Returns the chips read, which identification searches after the
// table, and the cable chosen.
KnownParts CheckBeforeThePort(const Options& options, const std::vector<std::filesystem::path>& writes);

// The port --port names; a UsageError for one it does not.
PortName ChosenPort(const std::string& text);
// One --sim-fault KIND[:ARG], added to faults; a UsageError for a bad one.
// cables: those a cable:NAME fault may name.
void AddSimFault(sim::Faults& faults, const std::string& fault, const CableChoice* cables = nullptr);
// The program and the options in force that reach the chip of this run
// again: its port, the chips it knows, its pace and, when simulated, the
// same simulated chip and state (not its faults). Paths are made absolute.
std::vector<std::string> SameChipCommand(const Options& options);
// 128 + the signal when one interrupted the command, else the command's own.
int ExitStatus(bool succeeded);
// For a state or counter file's lock: says on err that another velkor-cli holds it.
std::function<void(const std::filesystem::path&)> ReportLockWait(std::ostream& err);
// The --stats line: port accesses, virtual time and timing violations.
void PrintSimStats(std::ostream& err, std::uint64_t portAccesses, double seconds, std::size_t violations);

}  // namespace velkor
