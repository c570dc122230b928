#include "CliApp.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "Chips.h"
#include "CommandOptions.h"
#include "EepromCommands.h"
#include "Help.h"
#include "Hints.h"
#include "Interruption.h"
#include "ParallelPorts.h"
#include "PortIO.h"
#include "PortName.h"
#include "Produce.h"
#include "Eeprom.h"
#include "FlashReader.h"
#include "LockBits.h"
#include "Programmer.h"
#include "Progress.h"
#include "SimulatedTarget.h"
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

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

void AddSimFault(sim::Faults& faults, const std::string& fault)
{
    const std::size_t colon = fault.find(':');
    const std::string kind = fault.substr(0, colon);
    const bool hasArgument = colon != std::string::npos;
    const std::string_view argument = hasArgument ? std::string_view(fault).substr(colon + 1) : std::string_view();
    const auto number = [argument](std::uint32_t max) { return ParseNumber(argument, max); };
    if (kind == "silent-after-erase" && !hasArgument) {
        faults.silentAfterErase = true;
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
                         "': use stuck-cell:ADDRESS, stuck-eeprom:ADDRESS, silent-after-erase, maker:CODE or "
                         "out-of-step:BITS");
    }
}

std::optional<std::uint32_t> ChipClockOption(std::string_view option, const std::optional<std::string>& text)
{
    if (!text) {
        return std::nullopt;
    }
    const auto hz = ParseChipClock(*text);
    if (!hz) {
        throw UsageError(ChipClockError(option, *text));
    }
    return hz;
}

std::uint32_t PaceClockHz(const Options& options)
{
    return ChipClockOption("--chip-clock", options.chipClock).value_or(kDefaultChipClockHz);
}

// --chip-clock sets the SCK pace for the target's clock; --chip-file and
// --all-chips add the chips identification may find beyond the table.
void SetPace(Programmer& programmer, const Options& options)
{
    programmer.SckPhase = SckPhaseFor(PaceClockHz(options));
    programmer.ChipLists = options.chipLists;
}

namespace {

void CheckSimulationOptions(const Options& options)
{
    if (!options.chip && (options.stateFile || options.stats || !options.simFaults.empty() || options.simClock)) {
        throw UsageError("--sim-state, --sim-fault, --sim-clock and --stats need --simulate");
    }
}

std::unique_ptr<sim::SimulatedTarget> MakeTarget(const Options& options)
{
    std::unique_ptr<sim::SimulatedTarget> target;
    try {
        target =
            std::make_unique<sim::SimulatedTarget>(*options.chip, ChipClockOption("--sim-clock", options.simClock));
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    if (target->chip() == nullptr && (options.stateFile || !options.simFaults.empty())) {
        throw UsageError("--sim-state and --sim-fault need a chip; 'none' has no memories");
    }
    for (const std::string& fault : options.simFaults) {
        AddSimFault(target->chip()->InjectedFaults(), fault);
    }
    return target;
}

// The program and the options in force that reach the chip of this run
// again: its port, the chips it knows, its pace and, when simulated, the
// same simulated chip and state (not its faults). Paths are made absolute.
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
    if (options.chipClock) {
        add({"--chip-clock", *options.chipClock});
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

CommandResult RunProgrammerCommand(EngineParts& engine, const Options& options, std::ostream& err)
{
    Programmer& programmer = engine.programmer;
    programmer.StopRequested = [] { return CaughtSignal() != 0; };
    CommandStarting();
    if (options.command == "signature") {
        return programmer.ReadSignatureCommand();
    }
    if (options.command == "write" && options.keepEeprom) {
        return WriteKeepingEeprom(engine.eeprom, options.hexFile.value_or(DefaultHexFilePath()),
                                  SameChipCommand(options), err);
    }
    if (options.command == "write") {
        return programmer.WriteCommand(options.hexFile.value_or(DefaultHexFilePath()));
    }
    if (auto result = RunEepromCommand(engine.eeprom, engine.lock, options.command, options.eeprom)) {
        return std::move(*result);
    }
    if (options.command == "verify") {
        return engine.flash.VerifyCommand(options.hexFile.value_or(DefaultHexFilePath()));
    }
    if (options.command == "read") {
        return engine.flash.ReadCommand(options.readFile);
    }
    if (options.command == "read-fuses") {
        return engine.lock.ReadFusesCommand();
    }
    return programmer.WriteFuses(options.fuseHigh, options.fuseLow, options.fuseExtended);
}

void PrintHints(const CommandResult& result, const Options& options, std::ostream& err)
{
    const bool readsEepromImage = options.command == "write-eeprom" || options.command == "verify-eeprom";
    const CommandReport report{.command = options.command,
                               .result = result,
                               .port = options.port,
                               .simulated = options.chip.has_value(),
                               .hexFile = readsEepromImage ? options.eeprom.file
                                                           : options.hexFile.value_or(DefaultHexFilePath()),
                               .fuseHigh = options.fuseHigh,
                               .fuseLow = options.fuseLow,
                               .fuseExtended = options.fuseExtended,
                               .lockValue = options.eeprom.lockValue};
    for (const std::string& hint : HintsFor(report)) {
        err << "velkor-cli: " << hint << '\n';
    }
}

// Runs the command with its log on standard output; on standard error the
// progress while it runs (on a terminal) and the hints once it has run.
bool RunCommand(Programmer& programmer, StreamLog& log, const Options& options, std::ostream& err)
{
    std::optional<TerminalProgress> progress;
    if (options.showProgress) {
        progress.emplace(err, options.command);
        log.beforeLine = [&progress] { progress->Erase(); };
        programmer.OnProgress = [&progress](std::uint32_t done, std::uint32_t total) { progress->Show(done, total); };
    }
    EngineParts engine(programmer);
    const CommandResult result = RunProgrammerCommand(engine, options, err);
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
    if (programmer.FuseClock) {
        err << "velkor-cli: " << FuseClockLine(*programmer.FuseClock, PaceClockHz(options)) << '\n';
    }
    PrintHints(result, options, err);
    return result.succeeded;
}

}  // namespace

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

int RunOnSimulatedTarget(const Options& options, std::ostream& out, std::ostream& err)
{
    const std::unique_ptr<sim::SimulatedTarget> owned = MakeTarget(options);
    sim::SimulatedTarget& target = *owned;
    const std::optional<sim::StateFileLock> lock = LockStateFile(options, err);
    if (options.stateFile && std::filesystem::exists(*options.stateFile)) {
        try {
            target.chip()->LoadState(*options.stateFile);
        } catch (const std::exception& e) {
            throw UsageError(e.what());
        }
    }
    StreamLog log(out);
    Programmer programmer(target.port(), target.clock(), log);
    programmer.PortAddress = ChosenPort(options.port).baseAddress;
    SetPace(programmer, options);
    const bool succeeded = RunCommand(programmer, log, options, err);
    if (options.stateFile) {
        target.chip()->SaveState(*options.stateFile);
    }
    if (options.stats) {
        PrintSimStats(err, target.port().AccessCount(), target.ElapsedSeconds(), target.ViolationCount());
    }
    return ExitStatus(succeeded);
}

int RunOnPort(const Options& options, std::ostream& out, std::ostream& err)
{
    const PortName chosen = ChosenPort(options.port);
    TDLPortIO port;
    port.SetPpdevDevice(chosen.ppdevNumber);
    SystemClock clock;
    StreamLog log(out);
    Programmer programmer(port, clock, log);
    programmer.PortAddress = chosen.baseAddress;
    SetPace(programmer, options);
    return ExitStatus(RunCommand(programmer, log, options, err));
}

std::string DeviceState(const ParallelPort& port)
{
    switch (port.access) {
    case DeviceAccess::Usable:
        if (!port.holder.empty()) {
            return "device node present, but another program or driver holds the port now (" + port.holder + ")";
        }
        return "device node present, you may open it";
    case DeviceAccess::Missing:
        return std::string("no device node (") + kLoadPpdevHint + ")";
    case DeviceAccess::Denied:
        return std::string("device node present, you may not open it (") + kJoinLpGroupHint + ")";
    case DeviceAccess::NotPermitted:
        return std::string("device node present, but opening it is not permitted (") + kNotPermittedHint + ")";
    case DeviceAccess::Failed:
        break;
    }
    return std::string("device node cannot be opened: ") + std::strerror(port.openError);
}

// The parallel ports the kernel knows, one line each. Succeeds when at least
// one of them can be used now (opened, and held by nobody).
int ListPorts(std::ostream& out)
{
    const std::vector<ParallelPort> ports = ListParallelPorts();
    if (ports.empty()) {
        out << "No parallel port: the kernel knows none (load its drivers: sudo modprobe parport_pc ppdev)\n";
        return kExitFailed;
    }
    bool anyUsable = false;
    for (const ParallelPort& port : ports) {
        out << std::left << std::setw(15) << PpdevDevicePath(port.number) << std::setw(8)
            << FormatPortAddress(port.baseAddress) << DeviceState(port) << '\n';
        anyUsable = anyUsable || (port.access == DeviceAccess::Usable && port.holder.empty());
    }
    return anyUsable ? 0 : kExitFailed;
}

// The options every command takes. They are defined on the program alone;
// fallthrough (set before any command is added, and inherited by each) lets
// them stand before or after the command, so a new global option needs only
// a line here.
void DefineGlobalOptions(CLI::App& app, Options& options)
{
    app.fallthrough();
    app.set_version_flag("--version", "velkor-cli " VELKOR_VERSION, "print the version and exit");
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
                   "maker:CODE | out-of-step:BITS")
        ->type_name("KIND[:ARG]");
    app.add_option("--chip-clock", options.chipClock, "the target's clock (default 1M): sets the SCK pace")
        ->type_name("FREQ");
    app.add_option("--sim-clock", options.simClock,
                   "with --simulate: the simulated chip's clock, whatever its fuses select (default: the clock "
                   "they select)")
        ->type_name("FREQ");
    app.add_flag("--all-chips", options.allChips,
                 "identify the chips of the built-in catalogue too, once the device table has no match");
    app.add_option("--chip-file", options.chipFile,
                   "your own chips, in the catalogue's format (JSON), searched before the catalogue")
        ->type_name("FILE");
}

// The commands: each names itself in options.command when it is given.
void DefineCommands(CLI::App& app, Options& options)
{
    app.require_subcommand(1);
    const auto addCommand = [&](const std::string& name, const std::string& description) {
        auto* command = app.add_subcommand(name, description);
        command->callback([&options, name] { options.command = name; });
        return command;
    };
    addCommand("signature", "read the chip's signature (Read Signature)");
    auto* write = addCommand("write", "erase the chip and program its flash from a HEX file (Write)");
    write->add_option("HEXFILE", options.hexFile, "Intel HEX file (default " + DefaultHexFilePath().string() + ")");
    write->add_flag("--keep-eeprom", options.keepEeprom,
                    "save the EEPROM to a file before the erase and write it back after the flash");
    auto* fuse = addCommand("fuse", "write the fuse bytes typed in hexadecimal (Write FUSE bit)");
    fuse->add_option("HIGH", options.fuseHigh, "the high fuse byte's text")->required();
    fuse->add_option("LOW", options.fuseLow, "the low fuse byte's text")->required();
    fuse->add_option("EXTENDED", options.fuseExtended, "the extended fuse byte's text, on chips that have one");
    auto* verify = addCommand("verify", "compare the chip's flash with a HEX file; never writes");
    verify->add_option("HEXFILE", options.hexFile, "Intel HEX file (default " + DefaultHexFilePath().string() + ")");
    auto* read = addCommand("read", "save the chip's whole flash as an Intel HEX file");
    read->add_option("FILE", options.readFile, "the HEX file to write")->required();
    addCommand("read-fuses", "show the fuse and lock bytes the chip has");
    DefineProduceCommand(*addCommand("produce", "program board after board with one HEX file, as write does"), options);
    DefineEepromCommands(addCommand, options.eeprom);
    addCommand("ports", "list the parallel ports and whether you may use them");
    addCommand("chips", "list the chips the options in force know: the table, --chip-file, --all-chips");
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

// The files the command writes, refused before any port access when no
// regular file may be written there (the counter once its links are followed).
void CheckOutputFiles(const Options& options)
{
    if (options.stateFile) {
        CheckOutputFile(*options.stateFile);
    }
    if (options.command == "read") {
        CheckOutputFile(options.readFile);
    }
    if (options.command == "read-eeprom") {
        CheckOutputFile(options.eeprom.file);
    }
    if (options.command == "produce" && options.produce.record) {
        CheckOutputFile(*options.produce.record);
    }
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    CLI::App app("Programs AVR microcontrollers in-system through a PC parallel port.", "velkor-cli");
    Options options;
    options.program = ProgramPath(argc > 0 ? argv[0] : nullptr);
    options.showProgress = errIsTerminal;
    DefineGlobalOptions(app, options);
    DefineCommands(app, options);
    ConfigureHelp(app);
    try {
        app.parse(argc, argv);
        if (options.command == "ports") {
            return ListPorts(out);
        }
        const KnownChips known(options.allChips, options.chipFile);
        options.chipLists = known.Lists();
        if (options.command == "chips") {
            ListChips(options.chipLists, options.chipFile, out);
            return 0;
        }
        ChosenPort(options.port);
        CheckSimulationOptions(options);
        CheckOutputFiles(options);
        if (options.command == "produce") {
            return RunProduce(options, out, err);
        }
        return options.chip ? RunOnSimulatedTarget(options, out, err) : RunOnPort(options, out, err);
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
    } catch (const ChipFileError& e) {
        err << "velkor-cli: --chip-file " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "velkor-cli: " << e.what() << '\n';
        return kExitFailed;
    }
}

}  // namespace velkor
