// How long the commands take on the simulated target: the host time to
// simulate them (the benchmark's own figure) and, as counters, the port
// accesses and the virtual time the same command takes on a real port.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "BuiltInCatalogue.h"
#include "HexText.h"
#include "Eeprom.h"
#include "Programmer.h"
#include "Recorder.h"
#include "SimulatedTarget.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

class NullLog final : public Log {
public:
    void Clear() override {}

protected:
    void AppendLine(std::string_view) override {}
};

void ReportTarget(benchmark::State& state, sim::SimulatedTarget& target)
{
    state.counters["port_accesses"] = static_cast<double>(target.port().AccessCount());
    state.counters["virtual_seconds"] = target.ElapsedSeconds();
    state.counters["violations"] = static_cast<double>(target.ViolationCount());
}

void BM_ReadSignature(benchmark::State& state, const char* chip)
{
    for (auto _ : state) {
        sim::SimulatedTarget target(chip);
        NullLog log;
        Programmer programmer(target.port(), target.clock(), log);
        benchmark::DoNotOptimize(programmer.ReadSignatureCommand());
        state.PauseTiming();
        ReportTarget(state, target);
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(BM_ReadSignature, ATmega8, "ATmega8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadSignature, none, "none")->Unit(benchmark::kMillisecond);

// A HEX file of random data (no 0xFF, so no page is skipped) filling bytes
// bytes from 0, in 16-byte records; changed gets its bytes inverted, so that
// a second file can differ from the first in chosen bytes only.
fs::path RandomHexFile(const std::string& name, std::uint32_t bytes, const std::vector<std::uint32_t>& changed = {})
{
    const fs::path file = fs::temp_directory_path() / ("velkor-bench-" + name + ".hex");
    std::ofstream out(file, std::ios::binary);
    std::mt19937 random(1);
    std::uint8_t record[16];
    for (std::uint32_t address = 0; address < bytes; address += sizeof record) {
        std::generate(std::begin(record), std::end(record), [&] { return static_cast<std::uint8_t>(random() % 0xFF); });
        for (const std::uint32_t c : changed) {
            if (c / sizeof record == address / sizeof record) {
                record[c % sizeof record] = static_cast<std::uint8_t>(~record[c % sizeof record] & 0x7F);
            }
        }
        out << testing::DataRecord(static_cast<std::uint16_t>(address), record) << '\n';
    }
    out << testing::EndOfFileRecord() << '\n';
    return file;
}

// A chip on the simulated port, and a programmer at phase that knows the
// catalogue chips too (as --all-chips).
struct BenchTarget {
    BenchTarget(const sim::ChipModel& model, std::optional<std::uint32_t> simClockHz, std::chrono::nanoseconds phase)
        : target(model.name, simClockHz), programmer(target.port(), target.clock(), log)
    {
        programmer.SckPhase = phase;
        programmer.ChipLists = {&BuiltInCatalogue()};
    }

    sim::SimulatedTarget target;
    NullLog log;
    Programmer programmer;
};

struct WriteRun {
    double seconds;
    std::uint64_t portAccesses;
    std::size_t violations;
    bool done;
};

WriteRun RunWrite(const sim::ChipModel& model, std::optional<std::uint32_t> simClockHz, std::chrono::nanoseconds phase,
                  const fs::path& hexFile)
{
    BenchTarget bench(model, simClockHz, phase);
    const bool done = bench.programmer.WriteCommand(hexFile).succeeded;
    return {bench.target.ElapsedSeconds(), bench.target.port().AccessCount(), bench.target.ViolationCount(), done};
}

// The same Write with every SCK phase 1 ns over the chip's minimum at its
// clock (the fastest pace it still sees), port accesses at 1 us, the same
// fixed waits and polling.
std::chrono::nanoseconds FloorPhase(const sim::ChipModel& model, std::uint32_t clockHz)
{
    const std::uint64_t longest =
        std::max(sim::SckPhaseMinimumNs(model, clockHz, false), sim::SckPhaseMinimumNs(model, clockHz, true));
    return std::chrono::nanoseconds(longest + 1);
}

// A full-flash Write at the pace --chip-clock gives (default 1M), on a chip
// at its factory clock or at --sim-clock: modelled time, the floor, their
// ratio, port accesses; with a chip clock, also its time over the default
// pace's on the same chip.
void BM_WriteFullFlash(benchmark::State& state, const char* chip, std::optional<std::uint32_t> chipClockHz,
                       std::optional<std::uint32_t> simClockHz)
{
    const sim::ChipModel& model = *sim::FindChipModel(chip);
    const fs::path hexFile = RandomHexFile(model.name, model.flashBytes);
    const std::uint32_t clockHz = simClockHz.value_or(model.clockHz);
    for (auto _ : state) {
        const WriteRun run =
            RunWrite(model, simClockHz, SckPhaseFor(chipClockHz.value_or(kDefaultChipClockHz)), hexFile);
        state.PauseTiming();
        const WriteRun floor = RunWrite(model, simClockHz, FloorPhase(model, clockHz), hexFile);
        state.counters["modelled_s"] = run.seconds;
        state.counters["floor_s"] = floor.seconds;
        state.counters["ratio"] = run.seconds / floor.seconds;
        state.counters["port_accesses"] = static_cast<double>(run.portAccesses);
        state.counters["violations"] = static_cast<double>(run.violations + floor.violations);
        state.counters["failed"] = run.done && floor.done ? 0 : 1;
        if (chipClockHz) {
            const WriteRun paced = RunWrite(model, simClockHz, SckPhaseFor(kDefaultChipClockHz), hexFile);
            state.counters["vs_default_pace"] = run.seconds / paced.seconds;
        }
        state.ResumeTiming();
    }
    fs::remove(hexFile);
}
BENCHMARK_CAPTURE(BM_WriteFullFlash, ATmega168, "ATmega168", std::nullopt, std::nullopt)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
// The Arduino Uno's chip, from the catalogue: 256 pages, each read back.
BENCHMARK_CAPTURE(BM_WriteFullFlash, ATmega328P, "ATmega328P", std::nullopt, std::nullopt)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_WriteFullFlash, AT90S8515, "AT90S8515", std::nullopt, std::nullopt)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_WriteFullFlash, ATmega168_at_8MHz_chip_clock_8M, "ATmega168", 8'000'000, 8'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A full-flash Write with no options on a chip whose fuses (low, high,
// extended) choose its clock: the pace follows them and the chip is polled.
// The floor is the same sequence at the pace the fuses allow, given as
// --chip-clock would (floorClockHz), where the chip's own busy times are
// polled just the same; also the time at the default pace throughout.
struct ChipFuses {
    std::uint8_t low;
    std::uint8_t high;
    std::uint8_t extended;
};

WriteRun RunWriteWithFuses(const sim::ChipModel& model, const ChipFuses& fuses, std::chrono::nanoseconds phase,
                           bool paceFromFuses, const fs::path& hexFile)
{
    BenchTarget bench(model, std::nullopt, phase);
    bench.target.chip()->FuseLow() = fuses.low;
    bench.target.chip()->FuseHigh() = fuses.high;
    bench.target.chip()->FuseExtended() = fuses.extended;
    bench.programmer.PaceFromFuses = paceFromFuses;
    const bool done = bench.programmer.WriteCommand(hexFile).succeeded;
    return {bench.target.ElapsedSeconds(), bench.target.port().AccessCount(), bench.target.ViolationCount(), done};
}

void BM_WriteFullFlashNoOptions(benchmark::State& state, const char* chip, ChipFuses fuses, std::uint32_t floorClockHz)
{
    const sim::ChipModel& model = *sim::FindChipModel(chip);
    const fs::path hexFile = RandomHexFile(model.name, model.flashBytes);
    for (auto _ : state) {
        const WriteRun run = RunWriteWithFuses(model, fuses, SckPhaseFor(kDefaultChipClockHz), true, hexFile);
        state.PauseTiming();
        const WriteRun floor = RunWriteWithFuses(model, fuses, SckPhaseFor(floorClockHz), false, hexFile);
        const WriteRun paced = RunWriteWithFuses(model, fuses, SckPhaseFor(kDefaultChipClockHz), false, hexFile);
        state.counters["modelled_s"] = run.seconds;
        state.counters["floor_s"] = floor.seconds;
        state.counters["ratio"] = run.seconds / floor.seconds;
        state.counters["default_pace_s"] = paced.seconds;
        state.counters["port_accesses"] = static_cast<double>(run.portAccesses);
        // The chip on a slow clock misses the default pace's first tries:
        // those lost edges are all the violations it may show.
        state.counters["violations"] = static_cast<double>(run.violations + floor.violations);
        state.counters["failed"] = run.done && floor.done ? 0 : 1;
        state.ResumeTiming();
    }
    fs::remove(hexFile);
}
// An Arduino Uno: the ATmega328P on a 16 MHz crystal (low FF: a crystal of
// 8 MHz or more, high DE, extended FD).
BENCHMARK_CAPTURE(BM_WriteFullFlashNoOptions, ATmega328P_Uno_16MHz_crystal, "ATmega328P", ChipFuses{0xFF, 0xDE, 0xFD},
                  8'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
// The same chip on its 128 kHz oscillator (low E3).
BENCHMARK_CAPTURE(BM_WriteFullFlashNoOptions, ATmega328P_128kHz_oscillator, "ATmega328P", ChipFuses{0xE3, 0xDE, 0xFD},
                  128'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The EEPROM of a chip at its factory clock, or at simClockHz with the pace
// --chip-clock gives: times of write-eeprom and read-eeprom, each less what
// entering programming and identifying the chip cost (a write-eeprom of a file
// with no data). Two floors: the chip's own write time (pages, or bytes, times
// the write time), and the same commands with every SCK phase 1 ns over the
// chip's minimum.
struct EepromRun {
    double fullWrite;  // the whole EEPROM, every byte differing
    double rewrite;    // then a file differing in 16 bytes, each in its own page
    double read;       // the whole EEPROM
    std::size_t violations;
    bool done;
};

EepromRun RunEeprom(const sim::ChipModel& model, std::optional<std::uint32_t> simClockHz,
                    std::chrono::nanoseconds phase)
{
    std::vector<std::uint32_t> sixteen;
    for (std::uint32_t n = 0; n < 16; ++n) {
        sixteen.push_back(n * (model.eepromBytes / 16) + n % 4);
    }
    const fs::path full = RandomHexFile(std::string(model.name) + "-eeprom", model.eepromBytes);
    const fs::path differing = RandomHexFile(std::string(model.name) + "-eeprom-16", model.eepromBytes, sixteen);
    const fs::path empty = RandomHexFile(std::string(model.name) + "-eeprom-empty", 0);
    const fs::path saved = fs::temp_directory_path() / "velkor-bench-eeprom-read.hex";

    BenchTarget bench(model, simClockHz, phase);
    sim::SimulatedTarget& target = bench.target;
    EepromMemory eeprom(bench.programmer);
    bool done = true;
    const auto timed = [&](auto command) {
        const double before = target.ElapsedSeconds();
        done = command().succeeded && done;
        return target.ElapsedSeconds() - before;
    };
    const double entry = timed([&] { return eeprom.WriteEepromCommand(empty); });
    EepromRun run{};
    run.fullWrite = timed([&] { return eeprom.WriteEepromCommand(full); }) - entry;
    run.rewrite = timed([&] { return eeprom.WriteEepromCommand(differing); }) - entry;
    run.read = timed([&] { return eeprom.ReadEepromCommand(saved); }) - entry;
    run.violations = target.ViolationCount();
    run.done = done;
    for (const fs::path& file : {full, differing, empty, saved}) {
        fs::remove(file);
    }
    return run;
}

void BM_Eeprom(benchmark::State& state, const char* chip, std::optional<std::uint32_t> chipClockHz,
               std::optional<std::uint32_t> simClockHz)
{
    const sim::ChipModel& model = *sim::FindChipModel(chip);
    const std::uint32_t unit = std::max<std::uint32_t>(model.eepromPageBytes, 1);
    const double writeTime = model.eepromWriteMicros / 1e6;
    const double chipOwn = (model.eepromBytes / unit) * writeTime;
    for (auto _ : state) {
        const EepromRun run = RunEeprom(model, simClockHz, SckPhaseFor(chipClockHz.value_or(kDefaultChipClockHz)));
        state.PauseTiming();
        const EepromRun fastest = RunEeprom(model, simClockHz, FloorPhase(model, simClockHz.value_or(model.clockHz)));
        state.counters["full_s"] = run.fullWrite;
        state.counters["full_vs_chip_own"] = run.fullWrite / chipOwn;
        state.counters["full_vs_fastest_pace"] = run.fullWrite / fastest.fullWrite;
        state.counters["rewrite16_s"] = run.rewrite;
        state.counters["rewrite16_vs_read_and_16_writes"] = run.rewrite / (run.read + 16 * writeTime);
        state.counters["read_s"] = run.read;
        state.counters["violations"] = static_cast<double>(run.violations + fastest.violations);
        state.counters["failed"] = run.done && fastest.done ? 0 : 1;
        state.ResumeTiming();
    }
}
// The Arduino Uno's chip: 1 KiB in 4-byte pages of 3.6 ms, F0 busy poll.
BENCHMARK_CAPTURE(BM_Eeprom, ATmega328P, "ATmega328P", std::nullopt, std::nullopt)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Eeprom, ATmega328P_at_8MHz_chip_clock_8M, "ATmega328P", 8'000'000, 8'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
// Byte writes polled by reading the byte (P1/P2), 4 ms each.
BENCHMARK_CAPTURE(BM_Eeprom, AT90S8515, "AT90S8515", std::nullopt, std::nullopt)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A port that does nothing, so only the engine's own work is measured.
class NullPort final : public PortOperations {
public:
    void OpenDriver(std::uint16_t) override {}
    void CloseDriver() override {}
    void WritePortUchar(std::uint16_t, std::uint8_t) override { ++accesses; }
    std::uint8_t ReadPortUchar(std::uint16_t) override
    {
        ++accesses;
        return 0x78;
    }
    bool ActiveHW() const override { return true; }
    std::string OpenFailure() const override { return {}; }

    std::uint64_t accesses = 0;
};

// The host's own cost per port access: the engine's bit handling alone (a
// clock that does nothing), and with the real-time pacing at phase 0 (its
// readings of the steady clock).
template <typename PacingClock>
void BM_HostCostPerPortAccess(benchmark::State& state)
{
    NullPort port;
    PacingClock clock;
    NullLog log;
    Programmer programmer(port, clock, log);
    programmer.SckPhase = std::chrono::nanoseconds(0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(programmer.QueryInstruction({0x20, 0x12, 0x34, 0x00}));
    }
    state.counters["per_access"] = benchmark::Counter(static_cast<double>(port.accesses),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK_TEMPLATE(BM_HostCostPerPortAccess, testing::NullClock);
BENCHMARK_TEMPLATE(BM_HostCostPerPortAccess, SystemClock);

}  // namespace
}  // namespace velkor
