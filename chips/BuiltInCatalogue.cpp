#include "BuiltInCatalogue.h"

namespace velkor {

const ChipCatalogue& BuiltInCatalogue()
{
    static const ChipCatalogue catalogue = ChipCatalogue::Parse(BuiltInChipsText(), ChipSource::Catalogue);
    return catalogue;
}

KnownChips::KnownChips(bool allChips, const std::optional<std::filesystem::path>& chipFile)
{
    if (chipFile) {
        userFile_.emplace(ChipCatalogue::Load(*chipFile, ChipSource::UserFile));
        lists_.push_back(&*userFile_);
    }
    if (allChips) {
        lists_.push_back(&BuiltInCatalogue());
    }
}

}  // namespace velkor
