#include "CommonOptions.h"

#include "FileReading.h"
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

namespace {

constexpr std::uint64_t kCableFileLimit = 1 << 20;

std::vector<Cable> ReadCableFile(const std::filesystem::path& file)
{
    try {
        const std::vector<std::uint8_t> bytes = ReadInputFile(file, kCableFileLimit);
        return ParseCables(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), KnownCables());
    } catch (const std::exception& e) {
        throw UsageError("--cable-file " + file.string() + ": " + e.what());
    }
}

std::string CableNames(std::span<const Cable> fromFile)
{
    std::string names;
    for (const auto cables : {KnownCables(), fromFile}) {
        for (const Cable& cable : cables) {
            names += (names.empty() ? "" : ", ") + cable.name;
        }
    }
    return names;
}

}  // namespace

CableChoice::CableChoice(const CommonOptions& options)
{
    if (options.cableFile) {
        fromFile_ = ReadCableFile(*options.cableFile);
    }
    if (!options.cable) {
        chosen_ = fromFile_.size() == 1 ? &fromFile_.front() : &BuiltInCable();
        return;
    }
    chosen_ = FindCable(fromFile_, *options.cable);
    if (chosen_ == nullptr) {
        chosen_ = FindCable(KnownCables(), *options.cable);
    }
    if (chosen_ == nullptr) {
        throw UsageError("unknown --cable '" + *options.cable + "'; the cables: " + CableNames(fromFile_));
    }
}

KnownParts ReadKnownParts(const CommonOptions& options)
{
    KnownParts parts{.chips = ReadKnownChips(options), .cables = nullptr};
    parts.cables = std::make_unique<CableChoice>(options);
    return parts;
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
