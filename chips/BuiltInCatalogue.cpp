#include "BuiltInCatalogue.h"

namespace velkor {

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
        userFile_.emplace(ChipCatalogue::Load(*chipFile, ChipSource::UserFile, earlier));
        lists_.push_back(&*userFile_);
    }
    if (allChips) {
        lists_.push_back(&BuiltInCatalogue());
    }
}

}  // namespace velkor
