#include "CliApp.h"

#include <CLI/CLI.hpp>

#include <array>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "BuiltInCatalogue.h"
#include "CommandOptions.h"
#include "Commands.h"
#include "Help.h"
#include "Interruption.h"
#include "Numbers.h"
#include "PortIO.h"
#include "Progress.h"
#include "StateFiles.h"
#include "UserFolders.h"
#include "WholeFile.h"

namespace velkor {

namespace {

// Writes each line to standard output as it comes.
class StreamLog final : public Log {
public:
    explicit StreamLog(std::ostream& out) : out_(out) {}

    void Clear() override {}

    // Called before each line goes out: the progress line steps aside.
    std::function<void()> beforeLine;

protected:
    void AppendLine(std::string_view line) override
    {
        if (beforeLine) {
            beforeLine();
        }
        out_ << line << '\n' << std::flush;
    }

private:
    std::ostream& out_;
};

}  // namespace

PortName ChosenPort(const std::string& text)
{
    const std::optional<PortName> port = ParsePortName(text);
    if (!port) {
        throw UsageError("unknown port '" + text + "': use " + kPortNameForms);
    }
    return *port;
}

namespace {

// A --sim-fault that breaks the cable rather than the chip; false for another kind.
bool AddWiringFault(sim::WiringFaults& wiring, std::string_view kind)
{
    const std::pair<std::string_view, bool sim::WiringFaults::*> kinds[] = {
        {"swapped-sck-mosi", &sim::WiringFaults::sckMosiSwapped},
        {"open-miso", &sim::WiringFaults::misoOpen},
        {"open-reset", &sim::WiringFaults::resetOpen},
        {"header-turned", &sim::WiringFaults::headerTurned},
        {"no-power", &sim::WiringFaults::noPower},
    };
    for (const auto& [name, fault] : kinds) {
        if (kind == name) {
            wiring.*fault = true;
            return true;
        }
    }
    return false;
}

const Cable* BoardCable(std::string_view name, const CableChoice* cables)
{
    const Cable* cable = cables != nullptr ? FindCable(cables->FromFile(), name) : nullptr;
    return cable != nullptr ? cable : FindCable(KnownCables(), name);
}

}  // namespace

void AddSimFault(sim::Faults& faults, const std::string& fault, const CableChoice* cables)
{
    const std::size_t colon = fault.find(':');
    const std::string kind = fault.substr(0, colon);
    const bool hasArgument = colon != std::string::npos;
    const std::string_view argument = hasArgument ? std::string_view(fault).substr(colon + 1) : std::string_view();
    const auto number = [argument](std::uint32_t max) { return ParseNumber(argument, max); };
    if (!hasArgument && AddWiringFault(faults.wiring, kind)) {
        return;
    }
    if (kind == "silent-after-erase" && !hasArgument) {
        faults.silentAfterErase = true;
    } else if (const Cable* cable = BoardCable(argument, cables); kind == "cable" && cable != nullptr) {
        faults.wiring.boardCable = cable;
    } else if (const auto address = number(0xFFFFFFFF); kind == "stuck-cell" && address) {
        faults.stuckFlashBytes.insert(*address);
    } else if (const auto eepromAddress = number(0xFFFF); kind == "stuck-eeprom" && eepromAddress) {
        faults.stuckEepromBytes.insert(*eepromAddress);
    } else if (const auto code = number(0xFF); kind == "maker" && code) {
        faults.makerCode = static_cast<std::uint8_t>(*code);
    } else if (const auto bits = number(255); kind == "out-of-step" && bits) {
        faults.outOfStepBits = *bits;
    } else {
        throw UsageError("bad --sim-fault '" + fault +
                         "': use stuck-cell:ADDRESS, stuck-eeprom:ADDRESS, silent-after-erase, maker:CODE, "
                         "out-of-step:BITS, swapped-sck-mosi, open-miso, open-reset, header-turned, no-power or "
                         "cable:NAME");
    }
}

namespace {

void CheckSimulationOptions(const Options& options)
{
    if (!options.chip && (options.stateFile || options.stats || !options.simFaults.empty() || options.simClock)) {
        throw UsageError("--sim-state, --sim-fault, --sim-clock and --stats need --simulate");
    }
}

std::unique_ptr<sim::SimulatedTarget> MakeTarget(const Options& options, const KnownParts& known)
{
    std::unique_ptr<sim::SimulatedTarget> target =
        MakeSimulatedTarget(*options.chip, ClockOption("--sim-clock", options.simClock));
    if (target->chip() == nullptr && (options.stateFile || !options.simFaults.empty())) {
        throw UsageError("--sim-state and --sim-fault need a chip; 'none' has no memories");
    }
    for (const std::string& fault : options.simFaults) {
        AddSimFault(target->chip()->InjectedFaults(), fault, known.cables.get());
    }
    target->port().UseCable(known.ChosenCable());
    return target;
}

void PrintHints(const CommandResult& result, const Invocation& invocation, const ChipCommand& command)
{
    CommandReport report = command.report;
    report.result = result;
    report.port = invocation.options.port;
    report.simulated = invocation.options.chip.has_value();
    report.paceGiven = invocation.options.chipClock.has_value();
    for (const std::string& hint : HintsFor(report)) {
        invocation.err << "velkor-cli: " << hint << '\n';
    }
}

// Runs the command with its log on standard output; on standard error the
// progress while it runs (on a terminal), then the notes of a fuse or lock
// write and the hints.
bool RunCommand(Programmer& programmer, StreamLog& log, const Invocation& invocation, const ChipCommand& command)
{
    std::ostream& err = invocation.err;
    std::optional<TerminalProgress> progress;
    if (invocation.options.showProgress) {
        progress.emplace(err, command.report.command);
        log.beforeLine = [&progress] { progress->Erase(); };
        programmer.OnProgress = [&progress, &programmer, &invocation](std::uint32_t done, std::uint32_t total) {
            const auto chipClock = ClockOption("--chip-clock", invocation.options.chipClock);
            progress->Show(done, total, PaceText(chipClock, programmer.PaceChosen, true));
        };
    }
    programmer.StopRequested = [] { return CaughtSignal() != 0; };
    CommandStarting();
    EngineParts engine(programmer);
    const CommandResult result = command.run(engine);
    progress.reset();
    log.beforeLine = nullptr;
    programmer.OnProgress = nullptr;
    // A fuse log shows the values as the window does; whether they took is said here.
    for (const auto* notes : {&programmer.UnusedBitsNotes, &engine.lock.UnusedBitsNotes}) {
        for (const std::string& note : *notes) {
            err << "velkor-cli: " << note << '\n';
        }
    }
    if (!programmer.FuseProblem.empty()) {
        err << "velkor-cli: " << programmer.FuseProblem << '\n';
    }
    if (programmer.PaceChosen && programmer.PaceChosen->foundAtSlowestPace) {
        err << "velkor-cli: " << SlowClockFoundLine(*programmer.PaceChosen) << '\n';
    }
    if (programmer.FuseClock) {
        err << "velkor-cli: " << FuseClockLine(*programmer.FuseClock, PaceClockHz(invocation.options)) << '\n';
    }
    PrintHints(result, invocation, command);
    return result.succeeded;
}

std::optional<sim::StateFileLock> LockStateFile(const Options& options, std::ostream& err)
{
    if (!options.stateFile) {
        return std::nullopt;
    }
    try {
        return std::optional<sim::StateFileLock>(std::in_place, *options.stateFile, ReportLockWait(err));
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("Simulated chip state " + options.stateFile->string() + ": " + e.what() + ".");
    }
}

int RunOnSimulatedTarget(const Invocation& invocation, const ChipCommand& command, const KnownParts& known)
{
    const Options& options = invocation.options;
    const std::unique_ptr<sim::SimulatedTarget> owned = MakeTarget(options, known);
    sim::SimulatedTarget& target = *owned;
    const std::optional<sim::StateFileLock> lock = LockStateFile(options, invocation.err);
    if (options.stateFile && std::filesystem::exists(*options.stateFile)) {
        try {
            target.chip()->LoadState(*options.stateFile);
        } catch (const std::exception& e) {
            throw UsageError(e.what());
        }
    }
    StreamLog log(invocation.out);
    Programmer programmer(target.port(), target.clock(), log);
    programmer.PortAddress = ChosenPort(options.port).baseAddress;
    SetPace(programmer, options, known.Lists());
    programmer.ExpectedChip = options.expect;
    programmer.UseCable(known.ChosenCable());
    const bool succeeded = RunCommand(programmer, log, invocation, command);
    if (options.stateFile) {
        target.chip()->SaveState(*options.stateFile);
    }
    if (options.stats) {
        PrintSimStats(invocation.err, target.port().AccessCount(), target.ElapsedSeconds(), target.ViolationCount());
        invocation.err << PaceText(ClockOption("--chip-clock", options.chipClock), programmer.PaceChosen, false)
                       << '\n';
    }
    return ExitStatus(succeeded);
}

int RunOnPort(const Invocation& invocation, const ChipCommand& command, const KnownParts& known)
{
    const PortName chosen = ChosenPort(invocation.options.port);
    TDLPortIO port;
    port.SetPpdevDevice(chosen.ppdevNumber);
    SystemClock clock;
    StreamLog log(invocation.out);
    Programmer programmer(port, clock, log);
    programmer.PortAddress = chosen.baseAddress;
    SetPace(programmer, invocation.options, known.Lists());
    programmer.ExpectedChip = invocation.options.expect;
    programmer.UseCable(known.ChosenCable());
    return ExitStatus(RunCommand(programmer, log, invocation, command));
}

}  // namespace

std::vector<std::string> SameChipCommand(const Options& options)
{
    std::vector<std::string> words{options.program, "--port", options.port};
    const auto add = [&words](std::initializer_list<std::string> more) { words.insert(words.end(), more); };
    if (options.allChips) {
        add({"--all-chips"});
    }
    if (options.chipFile) {
        add({"--chip-file", std::filesystem::absolute(*options.chipFile).string()});
    }
    if (options.cableFile) {
        add({"--cable-file", std::filesystem::absolute(*options.cableFile).string()});
    }
    if (options.cable) {
        add({"--cable", *options.cable});
    }
    if (options.chipClock) {
        add({"--chip-clock", *options.chipClock});
    }
    if (options.expect) {
        add({"--expect", *options.expect});
    }
    if (options.chip) {
        add({"--simulate", *options.chip});
    }
    if (options.stateFile) {
        add({"--sim-state", std::filesystem::absolute(*options.stateFile).string()});
    }
    if (options.simClock) {
        add({"--sim-clock", *options.simClock});
    }
    return words;
}

int ExitStatus(bool succeeded)
{
    if (const int signal = CaughtSignal()) {
        return 128 + signal;
    }
    return succeeded ? 0 : kExitFailed;
}

std::function<void(const std::filesystem::path&)> ReportLockWait(std::ostream& err)
{
    return [&err](const std::filesystem::path& file) {
        err << "velkor-cli: waiting for " << file.string() << ", which another velkor-cli is using" << std::endl;
    };
}

void PrintSimStats(std::ostream& err, std::uint64_t portAccesses, double seconds, std::size_t violations)
{
    err << "port accesses " << portAccesses << ", virtual time " << std::fixed << std::setprecision(6) << seconds
        << " s, timing violations " << violations << '\n';
}

namespace {

// The first of lists with a chip that answers to name; nullptr for none.
const ChipCatalogue* ListNaming(const std::vector<const ChipCatalogue*>& lists, const std::string& name)
{
    for (const ChipCatalogue* list : lists) {
        for (const ChipRecord& chip : list->Chips()) {
            if (ChipAnswersTo(chip.row.Name, name)) {
                return list;
            }
        }
    }
    return nullptr;
}

// --expect names a chip of the table, the chip file or the catalogue. Naming
// a catalogue chip makes it known, as --all-chips does: the command is told
// which chip to find.
std::unique_ptr<KnownChips> WithExpectedChip(const Options& options, std::unique_ptr<KnownChips> known)
{
    if (!options.expect) {
        return known;
    }
    std::vector<const ChipCatalogue*> lists{&TableChips()};
    lists.insert(lists.end(), known->Lists().begin(), known->Lists().end());
    lists.push_back(&BuiltInCatalogue());
    const ChipCatalogue* list = ListNaming(lists, *options.expect);
    if (list == nullptr) {
        throw UsageError("--expect: no chip is named '" + *options.expect +
                         "' (velkor-cli chips --all-chips lists them)");
    }
    if (list == lists.back() && !options.allChips) {
        Options withCatalogue = options;
        withCatalogue.allChips = true;
        return ReadKnownChips(withCatalogue);
    }
    return known;
}

}  // namespace

KnownParts CheckBeforeThePort(const Options& options, const std::vector<std::filesystem::path>& writes)
{
    KnownParts known = ReadKnownParts(options);
    known.chips = WithExpectedChip(options, std::move(known.chips));
    ChosenPort(options.port);
    CheckSimulationOptions(options);
    if (options.stateFile) {
        CheckOutputFile(*options.stateFile);
    }
    for (const std::filesystem::path& file : writes) {
        CheckOutputFile(file);
    }
    return known;
}

int RunOnChip(const Invocation& invocation, const ChipCommand& command)
{
    const KnownParts known = CheckBeforeThePort(invocation.options, command.writes);
    return invocation.options.chip ? RunOnSimulatedTarget(invocation, command, known)
                                   : RunOnPort(invocation, command, known);
}

CLI::App& AddCommand(CLI::App& app, Invocation& invocation, const std::string& name, const std::string& description,
                     std::function<int()> run)
{
    CLI::App& command = *app.add_subcommand(name, description);
    command.callback([&invocation, run = std::move(run)] { invocation.status = run(); });
    return command;
}

void AddHexFileArgument(CLI::App& command, std::optional<std::filesystem::path>& hexFile)
{
    command.add_option("HEXFILE", hexFile, "Intel HEX file (default " + DefaultHexFilePath().string() + ")");
}

std::filesystem::path HexFileOrDefault(const std::optional<std::filesystem::path>& hexFile)
{
    return hexFile.value_or(DefaultHexFilePath());
}

namespace {

// The options every command takes. They are defined on the program alone;
// fallthrough (set before any command is added, and inherited by each) lets
// them stand before or after the command, so a new global option needs only
// a line here.
void DefineGlobalOptions(CLI::App& app, Options& options)
{
    app.fallthrough();
    DefineVersion(app);
    app.add_option("--port", options.port,
                   "lpt1 | lpt2 | lpt3 | an I/O base address such as 0x378 or 0xD010 | /dev/parportN (default lpt1)")
        ->type_name("PORT");
    app.add_option("--simulate", options.chip, "run on a simulated chip: a device-table or catalogue name, or none")
        ->type_name("CHIP");
    app.add_option("--sim-state", options.stateFile,
                   "with --simulate: load the chip's memories from FILE (JSON) and save them back")
        ->type_name("FILE");
    app.add_flag("--stats", options.stats,
                 "with --simulate: port accesses, virtual time and timing violations on standard error");
    app.add_option("--sim-fault", options.simFaults,
                   "with --simulate, repeatable: stuck-cell:ADDRESS | stuck-eeprom:ADDRESS | silent-after-erase | "
                   "maker:CODE | out-of-step:BITS | swapped-sck-mosi | open-miso | open-reset | header-turned | "
                   "no-power | cable:NAME")
        ->type_name("KIND[:ARG]");
    app.add_option("--chip-clock", options.chipClock, "the target's clock (default 1M): sets the SCK pace")
        ->type_name("FREQ");
    app.add_option("--sim-clock", options.simClock,
                   "with --simulate: the simulated chip's clock, whatever its fuses select (default: the clock "
                   "they select)")
        ->type_name("FREQ");
    app.add_flag("--all-chips", options.allChips,
                 "identify the chips of the built-in catalogue too, once the device table has no match");
    app.add_option("--expect", options.expect,
                   "end the command before anything is written unless the chip identified is CHIP (its name or "
                   "avr-gcc's -mmcu name, e.g. atmega328p)")
        ->type_name("CHIP");
    app.add_option("--chip-file", options.chipFile,
                   "your own chips, in the catalogue's format (JSON), searched before the catalogue")
        ->type_name("FILE");
    app.add_option("--cable", options.cable,
                   "the cable between the port and the board (default built-in; velkor-cli cables lists them)")
        ->type_name("NAME");
    app.add_option("--cable-file", options.cableFile,
                   "your own cables, in the known cables' format (JSON); with one cable in it, that one is used")
        ->type_name("FILE");
}

// The commands, in the order --help lists them.
constexpr std::array kCommands{DefineSignature,  DefineWrite,        DefineFuse,    DefineVerify,
                               DefineRead,       DefineReadFuses,    DefineProduce, DefineWriteEeprom,
                               DefineReadEeprom, DefineVerifyEeprom, DefineLock,    DefineProgram,
                               DefinePorts,      DefineChips,        DefineCables,  DefineDoctor};

void DefineCommands(CLI::App& app, Invocation& invocation)
{
    app.require_subcommand(1);
    for (const auto define : kCommands) {
        define(app, invocation);
    }
}

std::string CommandNames(const CLI::App& app)
{
    std::string names;
    for (const CLI::App* command : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    return names;
}

// When no command was recognised, the first word that is not an option is a
// mistyped command, or there is none: say which commands there are. A word
// left over that looks like an option is one that does not exist. Other
// faults keep the library's own message.
std::optional<std::string> UsageMessage(const CLI::App& app, const CLI::Error& error)
{
    const bool noCommand = app.get_subcommands().empty();
    for (const std::string& word : app.remaining(true)) {
        if (noCommand && !word.starts_with("-")) {
            return "unknown command '" + word + "'; the commands are " + CommandNames(app);
        }
    }
    for (const std::string& word : app.remaining(true)) {
        if (word.starts_with("-")) {
            return "unknown option '" + word + "'";
        }
    }
    if (noCommand && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        return "a command is needed: " + CommandNames(app);
    }
    return std::nullopt;
}

// How this program is run again from the current folder: a name found on the
// PATH as it is, a path made absolute.
std::string ProgramPath(const char* argv0)
{
    const std::string given = argv0 != nullptr && *argv0 != '\0' ? argv0 : "velkor-cli";
    if (!std::filesystem::path(given).has_parent_path()) {
        return given;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(given, error);
    return error ? given : absolute.lexically_normal().string();
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    CLI::App app("Programs AVR microcontrollers in-system through a PC parallel port.", "velkor-cli");
    Invocation invocation{.options = {}, .out = out, .err = err};
    invocation.options.program = ProgramPath(argc > 0 ? argv[0] : nullptr);
    invocation.options.showProgress = errIsTerminal;
    DefineGlobalOptions(app, invocation.options);
    DefineCommands(app, invocation);
    ConfigureHelp(app);
    try {
        app.parse(argc, argv);  // runs the command named, once the whole line is read
        return invocation.status;
    } catch (const CLI::Success& e) {
        return app.exit(e, out, err);
    } catch (const CLI::Error& e) {
        if (const auto message = UsageMessage(app, e)) {
            err << "velkor-cli: " << *message << " (see --help)\n";
        } else {
            app.exit(e, out, err);
        }
        return kExitUsage;
    } catch (const UsageError& e) {
        err << "velkor-cli: " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "velkor-cli: " << e.what() << '\n';
        return kExitFailed;
    }
}

}  // namespace velkor
