// How long the commands take on the simulated target: the host time to
// simulate them (the benchmark's own figure) and, as counters, the port
// accesses and the virtual time the same command takes on a real port.
#include <benchmark/benchmark.h>

#include <random>

#include "Programmer.h"
#include "SimulatedTarget.h"

namespace velkor {
namespace {

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

// Programs the whole flash with random data (no 0xFF page left to skip),
// byte by byte or page by page as the chip requires.
void BM_WriteFullFlash(benchmark::State& state, const char* chip)
{
    for (auto _ : state) {
        sim::SimulatedTarget target(chip);
        NullLog log;
        Programmer programmer(target.port(), target.clock(), log);
        target.port().OpenDriver(programmer.PortAddress);
        programmer.EnterProgramming(false);
        const DEVTYPE& device = programmer.Device();
        std::mt19937 random(1);
        for (std::size_t a = 0; a < device.FlashSize; ++a) {
            programmer.PageBuffer[a] = static_cast<std::uint8_t>(random() % 0xFF);
        }
        if (device.PageSize > 0) {
            programmer.WriteFlashPages();
        } else {
            for (std::uint16_t a = 0; a < device.FlashSize; ++a) {
                programmer.WriteFlashByte(a, programmer.PageBuffer[a]);
            }
        }
        programmer.ReleasePort();
        state.PauseTiming();
        ReportTarget(state, target);
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(BM_WriteFullFlash, ATmega168, "ATmega168")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_WriteFullFlash, AT90S8515, "AT90S8515")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace velkor
