#include "CommonOptions.h"

#include "SckPace.h"

namespace velkor {

std::optional<std::uint32_t> ClockOption(std::string_view option, const std::optional<std::string>& text)
{
    if (!text) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> hz = ParseChipClock(*text);
    if (!hz) {
        throw UsageError(ChipClockError(option, *text));
    }
    return hz;
}

std::uint32_t PaceClockHz(const CommonOptions& options)
{
    return ClockOption("--chip-clock", options.chipClock).value_or(kDefaultChipClockHz);
}

std::unique_ptr<KnownChips> ReadKnownChips(const CommonOptions& options)
{
    try {
        return std::make_unique<KnownChips>(options.allChips, options.chipFile);
    } catch (const ChipFileError& e) {
        throw UsageError(std::string("--chip-file ") + e.what());
    }
}

std::unique_ptr<sim::SimulatedTarget> MakeSimulatedTarget(const std::string& chip, std::optional<std::uint32_t> clockHz)
{
    try {
        return std::make_unique<sim::SimulatedTarget>(chip, clockHz);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
}

void SetPace(Programmer& programmer, const CommonOptions& options, const std::vector<const ChipCatalogue*>& chipLists)
{
    programmer.SckPhase = SckPhaseFor(PaceClockHz(options));
    programmer.PaceFromFuses = !options.chipClock;
    programmer.ChipLists = chipLists;
}

}  // namespace velkor
