#include "Chips.h"

#include <algorithm>
#include <iomanip>
#include <ostream>
#include <string>

#include "Format.h"

namespace velkor {

namespace {

// The table keeps no maker code: its chips are all Atmel's (1E).
constexpr std::uint8_t kAtmel = 0x1E;

// The name column: 18 wide, wider where a name needs it, with two blanks
// after the longest.
constexpr std::size_t kNameColumn = 18;

std::size_t NameColumn(const std::vector<const ChipCatalogue*>& lists)
{
    std::size_t width = kNameColumn;
    for (const ChipCatalogue* list : lists) {
        for (const ChipRecord& chip : list->Chips()) {
            width = std::max(width, chip.name.size() + 2);
        }
    }
    return width;
}

void ListChip(const DEVTYPE& row, std::uint8_t maker, const std::string& source, std::size_t nameColumn,
              std::ostream& out)
{
    const std::string signature = TwoHexDigits(maker) + " " + SignatureBytesText(row.Signature, " ");
    out << std::left << std::setw(static_cast<int>(nameColumn)) << row.Name << signature << std::right << "  flash "
        << std::setw(5) << row.FlashSize << "  page " << std::setw(3);
    if (row.PageSize == 0) {
        out << "-";
    } else {
        out << unsigned{row.PageSize};
    }
    out << "  EEPROM " << std::setw(4) << row.EepromSize << "  fuses " << unsigned{row.FuseCount} << "  " << source
        << '\n';
}

}  // namespace

void ListChips(const std::vector<const ChipCatalogue*>& lists, const std::optional<std::filesystem::path>& chipFile,
               std::ostream& out)
{
    const std::size_t nameColumn = NameColumn(lists);
    for (const DEVTYPE& row : DeviceTable) {
        if (row.Signature != 0) {
            ListChip(row, kAtmel, "table", nameColumn, out);
        }
    }
    for (const ChipCatalogue* list : lists) {
        const std::string source =
            list->Source() == ChipSource::UserFile && chipFile ? "file " + chipFile->string() : "catalogue";
        for (const ChipRecord& chip : list->Chips()) {
            ListChip(chip.row, chip.signature[0], source, nameColumn, out);
        }
    }
}

}  // namespace velkor
