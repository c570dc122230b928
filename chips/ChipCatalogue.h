#pragma once

// Lists of chip records: the device table's (table.json), the catalogue
// built into the programs (chips.json) and the user's own chip files share
// one format (JSON, see chips.json) and one checker, which also holds the
// rules every row of the device table keeps.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ChipRecord.h"

namespace velkor {

// Where a chip the programs know comes from.
enum class ChipSource { Table, UserFile, Catalogue };

// Why a chip file was refused: the line or the field, and the rule it breaks.
struct ChipFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ChipCatalogue {
public:
    // Reads text in the chip format; throws ChipFileError at the first
    // fault. earlier: the lists known before this one. None of its names
    // may come again, nor a signature of the table among them (identification
    // would never reach it); no signature may be given twice.
    static ChipCatalogue Parse(std::string_view text, ChipSource source,
                               std::span<const ChipCatalogue* const> earlier = {});
    // The same for a file; its name starts each error.
    static ChipCatalogue Load(const std::filesystem::path& file, ChipSource source,
                              std::span<const ChipCatalogue* const> earlier = {});

    const std::deque<ChipRecord>& Chips() const { return chips_; }
    ChipSource Source() const { return source_; }
    const ChipRecord* Find(std::uint16_t signature) const;
    const ChipRecord* FindByName(std::string_view chipName) const;

private:
    std::deque<ChipRecord> chips_;  // a deque: chips never move once added
    ChipSource source_ = ChipSource::Catalogue;
};

// The first rule a device-table row breaks, or nothing: the rules the
// built-in table keeps and every catalogue row must keep too.
std::optional<std::string> DeviceRowFault(const DEVTYPE& row);

}  // namespace velkor
