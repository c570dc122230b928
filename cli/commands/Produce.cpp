// The production family: produce, board after board.
#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>
#include <sstream>

#include "CommandOptions.h"
#include "Commands.h"
#include "Interruption.h"
#include "Numbers.h"
#include "PortIO.h"
#include "Production.h"
#include "SimulatedBoards.h"
#include "StateFiles.h"
#include "UserFolders.h"
#include "WholeFile.h"

namespace velkor {

namespace {

constexpr std::uint32_t kMostSimulatedBoards = 1000;

// The options of produce, board after board.
struct ProduceOptions {
    std::optional<std::filesystem::path> hexFile;
    std::optional<std::string> serial;  // ADDRESS:START[:STEP]
    std::optional<std::filesystem::path> serialFile;
    std::optional<std::filesystem::path> record;
    std::optional<std::string> simBoards;
};

// The lines as they come, one per line.
class LineLog final : public Log {
public:
    explicit LineLog(std::ostream& out) : out_(out) {}
    void Clear() override {}

protected:
    void AppendLine(std::string_view line) override { out_ << line << '\n' << std::flush; }

private:
    std::ostream& out_;
};

SerialPlan ParseSerialPlan(const std::string& text)
{
    const auto field = [&text](std::size_t from, std::size_t to) {
        return std::string_view(text).substr(from, to == std::string::npos ? std::string::npos : to - from);
    };
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    const auto address = ParseNumber(field(0, first), 0xFFFF);
    const auto start = first == std::string::npos ? std::nullopt : ParseNumber(field(first + 1, second), 0xFFFFFFFF);
    const auto step = second == std::string::npos ? std::optional<std::uint32_t>(1)
                                                  : ParseNumber(field(second + 1, std::string::npos), 0xFFFFFFFF);
    if (!address || !start || !step || *step == 0) {
        throw UsageError("bad --serial '" + text +
                         "': use ADDRESS:START[:STEP], each a number (0x for hex), STEP at least 1");
    }
    return {*address, *start, *step};
}

// The counter file as given: --serial-file, else the one in the user's state
// folder (made when missing).
std::filesystem::path GivenSerialFile(const ProduceOptions& produce)
{
    if (produce.serialFile) {
        return *produce.serialFile;
    }
    const std::filesystem::path file = DefaultSerialFile();
    if (file.empty()) {
        throw UsageError("no home folder to keep the serial number counter in: give --serial-file");
    }
    std::filesystem::create_directories(file.parent_path());
    return file;
}

// The counter file: a symbolic link followed to its target, which must be a
// place for a regular file.
std::filesystem::path SerialFile(const ProduceOptions& produce)
{
    const std::filesystem::path file = CounterFileTarget(GivenSerialFile(produce));
    CheckOutputFile(file);
    return file;
}

// --sim-boards: a count of boards of the --simulate chip, or a list of
// CHIP[:FAULT[:ARG]], one per board. --sim-fault applies to every board.
std::vector<sim::PlannedBoard> BoardPlan(const Options& options, const ProduceOptions& produce)
{
    const std::string text = produce.simBoards.value_or("1");
    std::vector<sim::PlannedBoard> plan;
    if (const auto count = ParseNumber(text, kMostSimulatedBoards)) {
        plan.assign(*count, {*options.chip, {}});
    } else {
        std::istringstream items(text);
        for (std::string item; std::getline(items, item, ',');) {
            const std::size_t colon = item.find(':');
            plan.push_back({item.substr(0, colon), {}});
            if (colon != std::string::npos) {
                AddSimFault(plan.back().faults, item.substr(colon + 1));
            }
        }
    }
    if (plan.empty()) {
        throw UsageError("bad --sim-boards '" + text + "': use a count of boards or CHIP[:FAULT[:ARG]],...");
    }
    for (sim::PlannedBoard& board : plan) {
        for (const std::string& fault : options.simFaults) {
            AddSimFault(board.faults, fault);
        }
    }
    return plan;
}

void CheckProduceOptions(const Options& options, const ProduceOptions& produce)
{
    if (produce.simBoards && !options.chip) {
        throw UsageError("--sim-boards needs --simulate");
    }
    if (options.stateFile) {
        throw UsageError("--sim-state does not go with produce: every simulated board comes fresh");
    }
    if (produce.serialFile && !produce.serial) {
        throw UsageError("--serial-file needs --serial");
    }
}

struct ProductionSetup {
    const Invocation& invocation;
    const ProduceOptions& produce;
    const KnownParts& known;
    std::optional<SerialPlan> serialPlan;
    SerialCounter* counter;
};

// A board stopped by a signal fails, so the signal's status covers it.
int ExitStatusOf(const ProductionSummary& summary)
{
    return summary.stoppedInBoard ? ExitStatus(false) : (summary.completed && summary.failed == 0 ? 0 : kExitFailed);
}

int Produce(const ProductionSetup& setup, PortOperations& port, Clock& clock, const std::function<bool()>& planEnded)
{
    const Options& options = setup.invocation.options;
    LineLog log(setup.invocation.out);
    Production production(port, clock, log);
    Programmer& engine = production.Engine();
    engine.PortAddress = ChosenPort(options.port).baseAddress;
    SetPace(engine, options, setup.known.Lists());
    engine.UseCable(setup.known.ChosenCable());
    engine.StopRequested = [&planEnded] { return CaughtSignal() != 0 || (planEnded && planEnded()); };
    if (setup.counter != nullptr) {
        production.SerialNumbers.emplace(Production::Serials{setup.serialPlan->address, *setup.counter});
    }
    production.RecordFile = setup.produce.record;
    if (options.showProgress) {
        std::ostream& err = setup.invocation.err;
        production.OnAttention = [&err] { err << '\a' << std::flush; };
        production.OnWaiting = [&err](unsigned board) {
            err << "velkor-cli: waiting for board " << board << " (Ctrl-C to stop)" << std::endl;
        };
    }
    CommandStarting();
    return ExitStatusOf(production.Run(HexFileOrDefault(setup.produce.hexFile)));
}

int ProduceOnSimulatedBoards(const ProductionSetup& setup)
{
    const Options& options = setup.invocation.options;
    std::unique_ptr<sim::SimulatedBoards> boards;
    try {
        boards = std::make_unique<sim::SimulatedBoards>(BoardPlan(options, setup.produce),
                                                        ClockOption("--sim-clock", options.simClock));
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    boards->UseCable(setup.known.ChosenCable());
    const int status = Produce(setup, *boards, boards->clock(), [&boards] { return boards->Exhausted(); });
    if (options.stats) {
        PrintSimStats(setup.invocation.err, boards->AccessCount(), boards->ElapsedSeconds(), boards->ViolationCount());
    }
    return status;
}

int ProduceOnPort(const ProductionSetup& setup)
{
    TDLPortIO port;
    port.SetPpdevDevice(ChosenPort(setup.invocation.options.port).ppdevNumber);
    SystemClock clock;
    return Produce(setup, port, clock, {});
}

// Board after board until Ctrl-C (or, on the simulated target, until the
// boards of --sim-boards have come and gone). The board lines and the
// summary go to standard output; the bell, the waiting notes and --stats to
// standard error.
int RunProduce(const Invocation& invocation, const ProduceOptions& produce)
{
    const Options& options = invocation.options;
    const KnownParts known = CheckBeforeThePort(options, produce.record ? std::vector{*produce.record}
                                                                        : std::vector<std::filesystem::path>{});
    CheckProduceOptions(options, produce);
    ProductionSetup setup{invocation, produce, known, std::nullopt, nullptr};
    std::optional<sim::StateFileLock> lock;
    std::optional<SerialCounter> counter;
    if (produce.serial) {
        setup.serialPlan = ParseSerialPlan(*produce.serial);
        const std::filesystem::path file = SerialFile(produce);
        // Held for the whole run: two runs on one counter never hand out one number.
        lock.emplace(file, ReportLockWait(invocation.err));
        counter.emplace(file, setup.serialPlan->start, setup.serialPlan->step);
        setup.counter = &*counter;
    }
    return options.chip ? ProduceOnSimulatedBoards(setup) : ProduceOnPort(setup);
}

}  // namespace

void DefineProduce(CLI::App& app, Invocation& invocation)
{
    const auto produce = std::make_shared<ProduceOptions>();
    CLI::App& command =
        AddCommand(app, invocation, "produce", "program board after board with one HEX file, as write does",
                   [&invocation, produce] { return RunProduce(invocation, *produce); });
    AddHexFileArgument(command, produce->hexFile);
    command
        .add_option("--serial", produce->serial,
                    "give each board a 32-bit serial number, little-endian, in the EEPROM at ADDRESS: START for "
                    "the first board, STEP more for each next one")
        ->type_name("ADDRESS:START[:STEP]");
    command
        .add_option("--serial-file", produce->serialFile,
                    "where the next serial number is kept (default " + DefaultSerialFile().string() + ")")
        ->type_name("FILE");
    command.add_option("--record", produce->record, "append one CSV line per board to FILE")->type_name("FILE");
    command
        .add_option("--sim-boards", produce->simBoards,
                    "with --simulate: the boards that come one after another: a count, or CHIP[:FAULT[:ARG]],...")
        ->type_name("PLAN");
}

}  // namespace velkor
