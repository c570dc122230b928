#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "ChipCatalogue.h"

namespace velkor {

// The records of the device table's chips (table.json), in the table's
// order: TableChips().Chips()[row] is the chip of DeviceTable[row]. Read once.
const ChipCatalogue& TableChips();
// The record of the device table's row; nullptr for the zero row.
const ChipRecord* TableChip(std::size_t row);

// The catalogue built into the programs (chips.json), read once.
const ChipCatalogue& BuiltInCatalogue();

// Their texts, as the build checked and embedded them.
std::string_view BuiltInTableText();
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
