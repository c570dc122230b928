#include "SimulatedTarget.h"

#include <stdexcept>
#include <string>

#include "NameMatch.h"

namespace velkor::sim {

namespace {

constexpr std::string_view kNoChip = "none";

// Every name a simulated target takes, the chips' and "none".
std::string SimulatedChipNames()
{
    std::string names;
    for (const ChipModel& chip : AllChipModels()) {
        names += std::string(chip.name) + ", ";
    }
    return names + std::string(kNoChip);
}

std::unique_ptr<SimulatedChip> MakeChip(std::string_view chipName, TimeSource& time,
                                        std::optional<std::uint32_t> clockHz)
{
    if (SameNameIgnoringCase(chipName, kNoChip)) {
        return nullptr;
    }
    const ChipModel* model = FindChipModel(chipName);
    if (model == nullptr) {
        throw std::invalid_argument("No simulated chip is called \"" + std::string(chipName) +
                                    "\"; the chips (in any case): " + SimulatedChipNames() + ".");
    }
    return std::make_unique<SimulatedChip>(*model, time, clockHz);
}

}  // namespace

SimulatedTarget::SimulatedTarget(std::string_view chipName, std::optional<std::uint32_t> chipClockHz)
    : chip_(MakeChip(chipName, clock_, chipClockHz)), port_(clock_, chip_.get())
{
}

double SimulatedTarget::ElapsedSeconds() const
{
    return static_cast<double>(clock_.NowNanoseconds()) / 1e9;
}

std::size_t SimulatedTarget::ViolationCount() const
{
    return chip_ ? chip_->TimingViolationCount() : 0;
}

}  // namespace velkor::sim
