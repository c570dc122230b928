#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "ChipCatalogue.h"

namespace velkor {

// The catalogue built into the programs (catalogue/chips.json, checked by the
// build), read once.
const ChipCatalogue& BuiltInCatalogue();

// Its text, as the build embedded it.
std::string_view BuiltInChipsText();

// What --chip-file FILE and --all-chips turn on: the lists identification
// searches after the table, in that order. Reading a faulty chip file throws
// ChipFileError.
class KnownChips {
public:
    KnownChips(bool allChips, const std::optional<std::filesystem::path>& chipFile);
    KnownChips(const KnownChips&) = delete;
    KnownChips& operator=(const KnownChips&) = delete;

    const std::vector<const ChipCatalogue*>& Lists() const { return lists_; }

private:
    std::optional<ChipCatalogue> userFile_;
    std::vector<const ChipCatalogue*> lists_;
};

}  // namespace velkor
