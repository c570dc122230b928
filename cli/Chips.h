#pragma once

// The `chips` command: every chip the options in force know.

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <vector>

#include "BuiltInCatalogue.h"

namespace velkor {

// One line per chip, in the order identification searches them: name,
// signature, flash, page, EEPROM, fuse bytes and where it comes from.
void ListChips(const std::vector<const ChipCatalogue*>& lists, const std::optional<std::filesystem::path>& chipFile,
               std::ostream& out);

}  // namespace velkor
