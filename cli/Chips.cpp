#include "Chips.h"

#include <iomanip>
#include <ostream>
#include <string>

#include "Format.h"

namespace velkor {

namespace {

// The table keeps no maker code: its chips are all Atmel's (1E).
constexpr std::uint8_t kAtmel = 0x1E;

void ListChip(const DEVTYPE& row, std::uint8_t maker, const std::string& source, std::ostream& out)
{
    const std::string signature = TwoHexDigits(maker) + " " + SignatureBytesText(row.Signature, " ");
    out << std::left << std::setw(18) << row.Name << signature << std::right << "  flash " << std::setw(5)
        << row.FlashSize << "  page " << std::setw(3);
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
    for (const DEVTYPE& row : DeviceTable) {
        if (row.Signature != 0) {
            ListChip(row, kAtmel, "table", out);
        }
    }
    for (const ChipCatalogue* list : lists) {
        const std::string source =
            list->Source() == ChipSource::UserFile && chipFile ? "file " + chipFile->string() : "catalogue";
        for (const ChipRecord& chip : list->Chips()) {
            ListChip(chip.row, chip.signature[0], source, out);
        }
    }
}

}  // namespace velkor
