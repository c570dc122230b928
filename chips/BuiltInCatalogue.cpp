#include "BuiltInCatalogue.h"

#include <stdexcept>
#include <string>

#include "FileReading.h"

namespace velkor {

namespace {
// Far beyond the catalogue's own 20 KB, and small enough to parse in memory.
constexpr std::uint64_t kLargestChipFile = std::uint64_t{4} << 20;

// A user's chip file, read by the rule of every input file; its name starts
// each error. Its names must be new to the lists in earlier.
ChipCatalogue LoadChipFile(const std::filesystem::path& file, std::span<const ChipCatalogue* const> earlier)
{
    std::string text;
    try {
        const std::vector<std::uint8_t> bytes = ReadInputFile(file, kLargestChipFile);
        text.assign(bytes.begin(), bytes.end());
    } catch (const std::runtime_error& e) {
        throw ChipFileError(file.string() + ": " + e.what());
    }
    try {
        return ChipCatalogue::Parse(text, ChipSource::UserFile, earlier);
    } catch (const ChipFileError& e) {
        throw ChipFileError(file.string() + ": " + e.what());
    }
}
}  // namespace

const ChipCatalogue& TableChips()
{
    static const ChipCatalogue table = ChipCatalogue::Parse(BuiltInTableText(), ChipSource::Table);
    return table;
}

const ChipRecord* TableChip(std::size_t row)
{
    const auto& chips = TableChips().Chips();
    return row < chips.size() ? &chips[row] : nullptr;
}

const ChipCatalogue& BuiltInCatalogue()
{
    static const ChipCatalogue catalogue = [] {
        const ChipCatalogue* earlier[] = {&TableChips()};
        return ChipCatalogue::Parse(BuiltInChipsText(), ChipSource::Catalogue, earlier);
    }();
    return catalogue;
}

KnownChips::KnownChips(bool allChips, const std::optional<std::filesystem::path>& chipFile)
{
    if (chipFile) {
        // Its names must be new even where the catalogue is not searched.
        const ChipCatalogue* earlier[] = {&TableChips(), &BuiltInCatalogue()};
        userFile_.emplace(LoadChipFile(*chipFile, earlier));
        lists_.push_back(&*userFile_);
    }
    if (allChips) {
        lists_.push_back(&BuiltInCatalogue());
    }
}

}  // namespace velkor
