// The device table made from the table's records, held to the table as the
// programs have always had it; and no chip fact in the programs' sources
// outside the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "BuiltInCatalogue.h"
#include "Format.h"

namespace velkor {
namespace {

// The described table, row for row; rows 5 and 13 with the chips' real names.
const DEVTYPE kDescribedTable[kDeviceRows]{
    {0x9001, 1024, 0, 64, 20, 0xFF, "AT90S1200", 0, 0},        {0x9101, 2048, 128, 128, 20, 0x7F, "AT90S2313", 0, 0},
    {0x9102, 2048, 128, 128, 8, 0xFF, "AT90S2323", 0, 0},      {0x9103, 2048, 128, 128, 8, 0xFF, "AT90S2343", 0, 0},
    {0x9105, 2048, 128, 128, 28, 0xFF, "AT90S2333", 0, 1},     {0x9109, 2048, 128, 128, 20, 0xFF, "ATtiny26", 32, 2},
    {0x9201, 4096, 256, 256, 40, 0x7F, "AT90S4414", 0, 0},     {0x9202, 4096, 256, 256, 40, 0xFF, "AT90S4434", 0, 0},
    {0x9203, 4096, 128, 256, 28, 0xFF, "AT90S4433", 0, 0},     {0x9301, 8192, 512, 512, 40, 0x7F, "AT90S8515", 0, 0},
    {0x9303, 8192, 512, 512, 40, 0xFF, "AT90S8535", 0, 1},     {0x9307, 8192, 1024, 512, 28, 0xFF, "ATmega8", 64, 2},
    {0x9205, 4096, 512, 256, 28, 0xFF, "ATmega48", 64, 2},     {0x930A, 8192, 1024, 512, 28, 0xFF, "ATmega88", 64, 2},
    {0x9406, 16384, 1024, 512, 28, 0xFF, "ATmega168", 128, 2}, {0, 0, 0, 0, 0, 0, "", 0, 0},
};

auto Fields(const DEVTYPE& row)
{
    return std::tuple(row.Signature, row.FlashSize, row.SramSize, row.EepromSize, row.Pins, row.NoPollValue,
                      std::string(row.Name), row.PageSize, row.FuseCount);
}

TEST(DeviceTable, IsTheDescribedTableAndEachRowIsItsRecordsRow)
{
    ASSERT_EQ(TableChips().Chips().size(), kDeviceRows - 1);
    for (std::size_t row = 0; row < kDeviceRows; ++row) {
        EXPECT_EQ(Fields(DeviceTable[row]), Fields(kDescribedTable[row])) << "row " << row;
        if (const ChipRecord* chip = TableChip(row)) {
            EXPECT_EQ(Fields(chip->row), Fields(DeviceTable[row])) << "row " << row;
        }
    }
    EXPECT_EQ(TableChip(kUnknownDeviceRow), nullptr);
    // The table's old spellings still name their chips.
    EXPECT_EQ(TableChips().FindByName("ATiny26"), TableChip(5));
    EXPECT_EQ(TableChips().FindByName("atmage88"), TableChip(13));
}

std::string Lowercase(std::string text)
{
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsSource(const std::filesystem::path& file)
{
    const std::string extension = file.extension().string();
    return extension == ".cpp" || extension == ".h" || extension == ".cmake" || extension == ".py" ||
           extension == ".sh" || file.filename() == "CMakeLists.txt";
}

// Signature bytes 1 and 2 as code would write them: 0x9307, "93 07", 0x93, 0x07.
std::vector<std::string> SignatureSpellings(const ChipRecord& chip)
{
    const std::string high = Lowercase(TwoHexDigits(chip.signature[1]));
    const std::string low = Lowercase(TwoHexDigits(chip.signature[2]));
    return {"0x" + high + low, high + " " + low, "0x" + high + ", 0x" + low};
}

TEST(ChipRecords, NoSourceFileOfTheProgramsHoldsATableChipsSignature)
{
    std::vector<std::string> found;
    for (const char* folder :
         {"app", "bench", "chips", "cli", "core", "engine", "files", "hex", "portio", "production", "scripts", "sim"}) {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(std::filesystem::path(VELKOR_SOURCE_DIR) / folder)) {
            if (!entry.is_regular_file() || !IsSource(entry.path())) {
                continue;
            }
            std::ostringstream text;
            text << std::ifstream(entry.path()).rdbuf();
            const std::string source = Lowercase(text.str());
            for (const ChipRecord& chip : TableChips().Chips()) {
                for (const std::string& spelling : SignatureSpellings(chip)) {
                    if (source.find(spelling) != std::string::npos) {
                        found.push_back(entry.path().string() + ": " + spelling + " (" + chip.name + ")");
                    }
                }
            }
        }
    }
    EXPECT_EQ(found, std::vector<std::string>{});
}

}  // namespace
}  // namespace velkor
