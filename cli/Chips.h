#pragma once

// The chips beyond the built-in table that the options turn on, and the
// `chips` command that lists every chip the options in force know.

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <vector>

#include "ChipCatalogue.h"

namespace velkor {

// --chip-file FILE and --all-chips: the lists identification searches after
// the table, in that order. Reading a faulty chip file throws ChipFileError.
class KnownChips {
public:
    KnownChips(bool allChips, const std::optional<std::filesystem::path>& chipFile);

    const std::vector<const ChipCatalogue*>& Lists() const { return lists_; }

private:
    std::optional<ChipCatalogue> userFile_;
    std::vector<const ChipCatalogue*> lists_;
};

// One line per chip, in the order identification searches them: name,
// signature, flash, page, EEPROM, fuse bytes and where it comes from.
void ListChips(const std::vector<const ChipCatalogue*>& lists, const std::optional<std::filesystem::path>& chipFile,
               std::ostream& out);

}  // namespace velkor
