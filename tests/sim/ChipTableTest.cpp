// The chip table against the chips' published data, read back over the
// serial interface where the chip answers it.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "BuiltInCatalogue.h"
#include "DeviceTable.h"
#include "FuseLayouts.h"
#include "Wires.h"

namespace velkor::sim::testing {
namespace {

struct Published {
    const char* name;
    std::uint8_t sig1, sig2;
    std::uint32_t flash;
    std::uint16_t page;
    std::uint16_t eeprom;
    std::uint16_t sram;
    unsigned pins;  // of the package the log names
};

// Signatures and sizes as the data sheets give them.
const Published kPublished[] = {
    {"AT90S1200", 0x90, 0x01, 1024, 0, 64, 0, 20},          {"AT90S2313", 0x91, 0x01, 2048, 0, 128, 128, 20},
    {"AT90S2323", 0x91, 0x02, 2048, 0, 128, 128, 8},        {"AT90S2343", 0x91, 0x03, 2048, 0, 128, 128, 8},
    {"AT90S2333", 0x91, 0x05, 2048, 0, 128, 128, 28},       {"ATtiny26", 0x91, 0x09, 2048, 32, 128, 128, 20},
    {"AT90S4414", 0x92, 0x01, 4096, 0, 256, 256, 40},       {"AT90S4434", 0x92, 0x02, 4096, 0, 256, 256, 40},
    {"AT90S4433", 0x92, 0x03, 4096, 0, 256, 128, 28},       {"AT90S8515", 0x93, 0x01, 8192, 0, 512, 512, 40},
    {"AT90S8535", 0x93, 0x03, 8192, 0, 512, 512, 40},       {"ATmega8", 0x93, 0x07, 8192, 64, 512, 1024, 28},
    {"ATmega48", 0x92, 0x05, 4096, 64, 256, 512, 28},       {"ATmega88", 0x93, 0x0A, 8192, 64, 512, 1024, 28},
    {"ATmega168", 0x94, 0x06, 16384, 128, 512, 1024, 28},   {"ATmega328P", 0x95, 0x0F, 32768, 128, 1024, 2048, 28},
    {"ATmega32", 0x95, 0x02, 32768, 128, 1024, 2048, 40},   {"ATmega328", 0x95, 0x14, 32768, 128, 1024, 2048, 28},
    {"ATmega48PA", 0x92, 0x0A, 4096, 64, 256, 512, 28},     {"ATmega88PA", 0x93, 0x0F, 8192, 64, 512, 1024, 28},
    {"ATmega168PA", 0x94, 0x0B, 16384, 128, 512, 1024, 28}, {"ATmega16", 0x94, 0x03, 16384, 128, 512, 1024, 40},
    {"ATmega8515", 0x93, 0x06, 8192, 64, 512, 512, 40},     {"ATmega8535", 0x93, 0x08, 8192, 64, 512, 512, 40},
    {"ATtiny13/13A", 0x90, 0x07, 1024, 32, 64, 64, 8},      {"ATtiny2313/2313A", 0x91, 0x0A, 2048, 32, 128, 128, 20},
    {"ATtiny25", 0x91, 0x08, 2048, 32, 128, 128, 8},        {"ATtiny45", 0x92, 0x06, 4096, 64, 256, 256, 8},
    {"ATtiny85", 0x93, 0x0B, 8192, 64, 512, 512, 8},
};

TEST(ChipTable, HoldsExactlyThePublishedChips)
{
    std::set<std::string> names;
    for (const ChipModel& chip : AllChipModels()) {
        names.insert(chip.name);
    }
    std::set<std::string> published;
    for (const Published& chip : kPublished) {
        published.insert(chip.name);
    }
    EXPECT_EQ(names, published);
    EXPECT_EQ(AllChipModels().size(), std::size(kPublished));  // no name twice
}

TEST(ChipTable, SignaturesAreUnique)
{
    std::set<std::array<std::uint8_t, 3>> signatures;
    for (const ChipModel& chip : AllChipModels()) {
        EXPECT_TRUE(signatures.insert(chip.signature).second) << chip.name;
    }
}

TEST(ChipTable, SizesAndPagesFitTheAddressing)
{
    for (const ChipModel& chip : AllChipModels()) {
        // Addresses wrap by masking, which needs powers of two.
        EXPECT_TRUE(std::has_single_bit(chip.flashBytes)) << chip.name;
        EXPECT_TRUE(std::has_single_bit(unsigned{chip.eepromBytes})) << chip.name;
        if (chip.pageBytes != 0) {
            EXPECT_TRUE(std::has_single_bit(unsigned{chip.pageBytes})) << chip.name;
            EXPECT_EQ(chip.flashBytes % chip.pageBytes, 0u) << chip.name;
        }
        EXPECT_LE(chip.fuseBytes, 3) << chip.name;
    }
}

TEST(ChipTable, SpienIsNeverWritableAndNeverALockout)
{
    for (const ChipModel& chip : AllChipModels()) {
        const std::uint8_t writable[] = {chip.lowWritable, chip.highWritable, chip.extendedWritable};
        EXPECT_EQ(writable[static_cast<int>(chip.spien.fuse)] >> chip.spien.bit & 1, 0) << chip.name;
        for (const LockoutBit& lockout : chip.lockoutBits) {
            EXPECT_EQ(writable[static_cast<int>(lockout.fuse)] >> lockout.bit & 1, 1)
                << chip.name << " " << lockout.name;
        }
    }
}

// The bits a chip lets serial programming change are the fuse bits its data
// sheet names (the bytes its record reads as they are), SPIEN excepted.
TEST(ChipTable, WritableFuseBitsAreTheNamedOnesButSpien)
{
    for (const ChipModel& chip : AllChipModels()) {
        const std::pair<const char*, std::uint8_t> fuses[] = {
            {"Fuse low", chip.lowWritable}, {"Fuse high", chip.highWritable}, {"Fuse ext", chip.extendedWritable}};
        for (const auto& [name, writable] : fuses) {
            const FuseByteLayout* layout = FindFuseByte(std::span<const FuseByteLayout>(chip.record->layout), name);
            if (layout == nullptr) {
                continue;
            }
            std::uint8_t named = 0;
            for (int i = 0; i < 8; ++i) {
                const char* bit = layout->bits[static_cast<std::size_t>(i)];
                if (bit != nullptr && std::string_view(bit) != "SPIEN") {
                    named |= static_cast<std::uint8_t>(0x80 >> i);
                }
            }
            EXPECT_EQ(writable, named) << chip.name << " " << name;
        }
    }
}

// The engine's device table, read as data sheets give its chips: every row
// but the end marker is a published chip of the same sizes. The chips beyond
// it come from the catalogue, whose rows the identification log shows alike.
TEST(ChipTable, TheDeviceTableGivesThePublishedSizes)
{
    std::size_t found = 0;
    for (const Published& chip : kPublished) {
        const auto row = std::find_if(DeviceTable.begin(), DeviceTable.end(),
                                      [&chip](const DEVTYPE& device) { return std::string(device.Name) == chip.name; });
        const auto signature = static_cast<std::uint16_t>(chip.sig1 << 8 | chip.sig2);
        const DEVTYPE* engineRow = row != DeviceTable.end() ? &*row : nullptr;
        if (engineRow != nullptr) {
            ++found;
        } else if (const ChipRecord* catalogued = BuiltInCatalogue().Find(signature)) {
            engineRow = &catalogued->row;
        }
        ASSERT_NE(engineRow, nullptr) << chip.name;
        EXPECT_EQ(engineRow->Signature, signature) << chip.name;
        EXPECT_EQ(engineRow->FlashSize, chip.flash) << chip.name;
        EXPECT_EQ(engineRow->PageSize, chip.page) << chip.name;
        EXPECT_EQ(engineRow->EepromSize, chip.eeprom) << chip.name;
        EXPECT_EQ(engineRow->SramSize, chip.sram) << chip.name;
        EXPECT_EQ(unsigned{engineRow->Pins}, chip.pins) << chip.name;
    }
    EXPECT_EQ(found, DeviceTable.size() - 1);
}

// How each table chip writes its EEPROM, as published: the write time, the
// values a read of the byte being written gives in the first and second half
// of the write, EEPROM pages and RDY/BSY. The simulated chips take these from
// the engine's rules, so only this table holds them against the sources.
TEST(ChipTable, EepromWritesAsPublished)
{
    struct EepromFacts {
        const char* name;
        std::uint32_t writeMicros;
        std::uint8_t pollFirst, pollSecond;
        std::uint16_t pageBytes;
        bool rdyBsy;
    };
    const EepromFacts published[] = {
        {"AT90S1200", 4000, 0x00, 0xFF, 0, false}, {"AT90S2313", 4000, 0x80, 0x7F, 0, false},
        {"AT90S2323", 4000, 0x00, 0xFF, 0, false}, {"AT90S2343", 4000, 0x00, 0xFF, 0, false},
        {"AT90S2333", 4000, 0x00, 0xFF, 0, false}, {"ATtiny26", 9000, 0xFF, 0xFF, 0, false},
        {"AT90S4414", 4000, 0x80, 0x7F, 0, false}, {"AT90S4434", 4000, 0x00, 0xFF, 0, false},
        {"AT90S4433", 4000, 0x00, 0xFF, 0, false}, {"AT90S8515", 4000, 0x80, 0x7F, 0, false},
        {"AT90S8535", 4000, 0x00, 0xFF, 0, false}, {"ATmega8", 9000, 0xFF, 0xFF, 0, false},
        {"ATmega48", 3600, 0xFF, 0xFF, 4, true},   {"ATmega88", 3600, 0xFF, 0xFF, 4, true},
        {"ATmega168", 3600, 0xFF, 0xFF, 4, true},
    };
    for (const EepromFacts& chip : published) {
        const ChipModel* model = FindChipModel(chip.name);
        ASSERT_NE(model, nullptr) << chip.name;
        EXPECT_EQ(model->eepromWriteMicros, chip.writeMicros) << chip.name;
        EXPECT_EQ(model->eepromPollFirst, chip.pollFirst) << chip.name;
        EXPECT_EQ(model->eepromPollSecond, chip.pollSecond) << chip.name;
        EXPECT_EQ(model->eepromPageBytes, chip.pageBytes) << chip.name;
        EXPECT_EQ(model->hasPollRdyBsy, chip.rdyBsy) << chip.name;
    }
}

TEST(ChipTable, AtmegaPartsLeaveTheFactoryWithThePublishedFuses)
{
    struct Factory {
        const char* name;
        std::uint8_t low, high, extended;
    };
    const Factory published[] = {{"ATmega8", 0xE1, 0xD9, 0xFF},    {"ATmega48", 0x62, 0xDF, 0xFF},
                                 {"ATmega88", 0x62, 0xDF, 0xF9},   {"ATmega168", 0x62, 0xDF, 0xF9},
                                 {"ATmega328P", 0x62, 0xD9, 0xFF}, {"ATmega32", 0xE1, 0x99, 0xFF}};
    for (const Factory& chip : published) {
        const ChipModel* model = FindChipModel(chip.name);
        ASSERT_NE(model, nullptr) << chip.name;
        EXPECT_EQ(model->factoryLow, chip.low) << chip.name;
        EXPECT_EQ(model->factoryHigh, chip.high) << chip.name;
        EXPECT_EQ(model->factoryExtended, chip.extended) << chip.name;
    }
}

TEST(ChipTable, FindsChipsWhateverTheCase)
{
    ASSERT_NE(FindChipModel("atmega8"), nullptr);
    EXPECT_STREQ(FindChipModel("atmega8")->name, "ATmega8");
    EXPECT_STREQ(FindChipModel("AT90s2313")->name, "AT90S2313");
    EXPECT_STREQ(FindChipModel("attiny13a")->name, "ATtiny13/13A");  // one signature, two chips
    EXPECT_EQ(FindChipModel("none"), nullptr);
    EXPECT_EQ(FindChipModel("ATmega8x"), nullptr);
    EXPECT_EQ(FindChipModel(""), nullptr);
}

class EveryChip : public ::testing::TestWithParam<Published> {};

TEST_P(EveryChip, MatchesItsDataSheet)
{
    const Published& published = GetParam();
    const ChipModel* model = FindChipModel(published.name);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->flashBytes, published.flash);
    EXPECT_EQ(model->pageBytes, published.page);
    EXPECT_EQ(model->eepromBytes, published.eeprom);
}

TEST_P(EveryChip, EchoesProgrammingEnableAndAnswersItsSignature)
{
    const Published& published = GetParam();
    Wires wires(published.name);
    wires.EnterReset();
    const Bytes4 echo = wires.Send({0xAC, 0x53, 0x00, 0x00});
    EXPECT_EQ(echo[2], 0x53);
    EXPECT_EQ(echo[3], 0x00);  // byte 3 comes back in byte 4
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x00), 0x1E);
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x01), published.sig1);
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x02), published.sig2);
    EXPECT_EQ(wires.Violations(), 0u) << wires.Chip().TimingViolations().front();
}

TEST_P(EveryChip, ErasesFlashAndEepromButKeepsFuses)
{
    Wires wires(GetParam().name);
    SimulatedChip& chip = wires.Chip();
    std::fill(chip.Flash().begin(), chip.Flash().end(), 0x00);
    std::fill(chip.Eeprom().begin(), chip.Eeprom().end(), 0x00);
    chip.LockBits() = 0xFC;
    const std::uint8_t fuses[] = {chip.FuseLow(), chip.FuseHigh(), chip.FuseExtended()};
    ASSERT_TRUE(wires.EnterProgramming());

    wires.Send({0xAC, 0x80, 0x00, 0x00});
    wires.WaitMs(20);

    EXPECT_EQ(std::count(chip.Flash().begin(), chip.Flash().end(), 0xFF), chip.Flash().size());
    EXPECT_EQ(std::count(chip.Eeprom().begin(), chip.Eeprom().end(), 0xFF), chip.Eeprom().size());
    EXPECT_EQ(chip.LockBits(), 0xFF);
    EXPECT_EQ(chip.FuseLow(), fuses[0]);
    EXPECT_EQ(chip.FuseHigh(), fuses[1]);
    EXPECT_EQ(chip.FuseExtended(), fuses[2]);
    EXPECT_EQ(wires.Violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, EveryChip, ::testing::ValuesIn(kPublished), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
});

}  // namespace
}  // namespace velkor::sim::testing
