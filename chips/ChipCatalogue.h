#pragma once

// Chips beyond the built-in device table, as data: the catalogue built into
// the programs and the user's own chip files share one format (JSON, see
// chips.json) and one checker, which also holds the rules every row of the
// device table keeps.

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ClockFuses.h"
#include "DeviceTable.h"
#include "FuseLayouts.h"

namespace velkor {

// Where a chip the programs know comes from.
enum class ChipSource { Table, UserFile, Catalogue };

// One chip of a catalogue: its device-table row and what the engine and the
// simulated chip need beyond it. Not copyable: the row's name and the
// layouts' bit names point into the chip's own strings.
struct CatalogueChip {
    CatalogueChip() = default;
    CatalogueChip(const CatalogueChip&) = delete;
    CatalogueChip& operator=(const CatalogueChip&) = delete;

    std::string name;
    std::vector<std::string> otherNames;  // chips that read the same signature
    DEVTYPE row{};                        // row.Name is name
    std::array<std::uint8_t, 3> signature{};
    std::uint16_t eepromPageBytes = 0;  // 0: EEPROM written byte by byte
    // The fuse bytes (low, high, extended, as many as the chip has), then the
    // lock byte: what read-fuses shows.
    std::vector<FuseByteLayout> layout;
    std::array<std::uint8_t, 3> factoryFuses{0xFF, 0xFF, 0xFF};  // low, high, extended
    std::uint8_t factoryLock = 0xFF;
    bool rdyBsyPoll = false;  // answers F0 00 xx oo
    std::uint32_t pageWriteMicros = 0;
    std::uint32_t eepromWriteMicros = 0;
    std::uint32_t chipEraseMicros = 0;
    std::uint32_t fuseWriteMicros = 0;
    std::uint32_t clockHz = 0;                // the factory clock
    std::optional<ClockFuses> clockFuses;  // how the fuses choose the clock; nothing: a fixed clock
    std::string note;
    std::deque<std::string> bitNames;  // what the layouts' bits point to

    // The position of a fuse bit by name, if the chip has it: fuse byte
    // (0 low, 1 high, 2 extended) and bit.
    std::optional<std::pair<unsigned, unsigned>> FuseBitPosition(std::string_view bitName) const;
    // The fuse bytes' bits an instruction can change: every named bit but SPIEN.
    std::uint8_t WritableBits(unsigned fuseByte) const;
    std::uint8_t LockWritableBits() const;
    // The signature's name or one of its other names, any case.
    bool Answers(std::string_view chipName) const;
};

// Why a chip file was refused: the line or the field, and the rule it breaks.
struct ChipFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ChipCatalogue {
public:
    // Reads text in the catalogue format; throws ChipFileError at the first
    // fault. Signatures of the built-in table are refused (identification
    // would never reach them), as is a signature given twice.
    static ChipCatalogue Parse(std::string_view text, ChipSource source);
    // The same for a file; its name starts each error.
    static ChipCatalogue Load(const std::filesystem::path& file, ChipSource source);

    const std::deque<CatalogueChip>& Chips() const { return chips_; }
    ChipSource Source() const { return source_; }
    const CatalogueChip* Find(std::uint16_t signature) const;
    const CatalogueChip* FindByName(std::string_view chipName) const;

private:
    std::deque<CatalogueChip> chips_;  // a deque: chips never move once added
    ChipSource source_ = ChipSource::Catalogue;
};

// The first rule a device-table row breaks, or nothing: the rules the
// built-in table keeps and every catalogue row must keep too.
std::optional<std::string> DeviceRowFault(const DEVTYPE& row);

}  // namespace velkor
