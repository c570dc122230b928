// The EEPROM instructions on every simulated chip, table and catalogue: byte
// and page writes with their busy time and poll values, and what lock bits
// and Chip Erase do to the EEPROM.

#include <gtest/gtest.h>

#include <algorithm>

#include "Wires.h"

namespace velkor::sim::testing {
namespace {

std::uint8_t ReadEeprom(Wires& wires, std::uint32_t address)
{
    return wires.Query(0xA0, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address));
}

// One byte the chip's own way: C0, or a one-byte C1 load and a C2 page write.
void StartEepromWrite(Wires& wires, std::uint32_t address, std::uint8_t value)
{
    const auto high = static_cast<std::uint8_t>(address >> 8);
    const auto low = static_cast<std::uint8_t>(address);
    if (wires.Model().eepromPageBytes == 0) {
        wires.Send({0xC0, high, low, value});
    } else {
        wires.Send({0xC1, 0x00, static_cast<std::uint8_t>(low & (wires.Model().eepromPageBytes - 1)), value});
        wires.Send({0xC2, high, low, 0x00});
    }
}

std::vector<const char*> AllChipNames()
{
    std::vector<const char*> names;
    for (const ChipModel& chip : AllChipModels()) {
        names.push_back(chip.name);
    }
    return names;
}

class EepromOfEveryChip : public ::testing::TestWithParam<const char*> {};

// The last byte, so that an address mask one bit short shows.
TEST_P(EepromOfEveryChip, EepromByteIsBusyForItsTimeAndPollsAsTheChipDoes)
{
    Wires wires(GetParam());
    const ChipModel& model = wires.Model();
    ASSERT_GT(model.eepromWriteMicros, 0u);
    const std::uint32_t last = model.eepromBytes - 1;
    ASSERT_TRUE(wires.EnterProgramming());
    StartEepromWrite(wires, last, 0x3C);
    EXPECT_EQ(ReadEeprom(wires, last), model.eepromPollFirst);
    wires.WaitMs(model.eepromWriteMicros / 2000.0);
    EXPECT_EQ(ReadEeprom(wires, last), model.eepromPollSecond);
    if (model.hasPollRdyBsy) {
        EXPECT_EQ(wires.Query(0xF0, 0x00, 0x00) & 1, 1);
    }
    wires.WaitMs(model.eepromWriteMicros / 2000.0);
    EXPECT_EQ(ReadEeprom(wires, last), 0x3C);
    EXPECT_EQ(ReadEeprom(wires, last + model.eepromBytes), 0x3C) << "address bits above the EEPROM wrap";
    EXPECT_EQ(wires.Violations(), 0u);
}

// Mode 3 hides flash and EEPROM (a read echoes its third byte); mode 2 stops
// EEPROM writes; Chip Erase clears the EEPROM and the lock bits.
TEST_P(EepromOfEveryChip, LockBitsGuardTheEepromUntilChipErase)
{
    Wires wires(GetParam());
    const ChipModel& model = wires.Model();
    wires.Chip().Eeprom()[5] = 0x42;
    wires.Chip().Flash()[4] = 0x24;
    wires.Chip().LockBits() = 0xFE;
    ASSERT_TRUE(wires.EnterProgramming());
    StartEepromWrite(wires, 6, 0x00);
    wires.WaitMs(10);
    EXPECT_EQ(ReadEeprom(wires, 6), 0xFF);
    wires.Chip().LockBits() = 0xFC;
    EXPECT_EQ(ReadEeprom(wires, 5), 0x05);
    EXPECT_EQ(wires.Query(0x20, 0x00, 0x02), 0x02);
    wires.Send({0xAC, 0x80, 0x00, 0x00});
    wires.WaitMs(model.chipEraseMicros / 1000.0);
    EXPECT_EQ(wires.Chip().LockBits(), model.factoryLock);
    EXPECT_EQ(wires.Chip().Eeprom()[5], 0xFF);
    EXPECT_EQ(wires.Violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, EepromOfEveryChip, ::testing::ValuesIn(AllChipNames()), [](const auto& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
});

TEST(EepromPage, OnlyLoadedBytesChangeAndTheBufferEmptiesAfterAWrite)
{
    Wires wires("ATmega328P");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0xC1, 0x00, 0x01, 0x11});
    wires.Send({0xC1, 0x00, 0x07, 0x33});  // in-page bits only: byte 3 of the page
    wires.Send({0xC2, 0x00, 0x09, 0x00});  // the page of 8..11
    wires.WaitMs(3.6);
    wires.Send({0xC2, 0x00, 0x04, 0x00});  // nothing loaded: nothing changes
    wires.WaitMs(3.6);
    const std::vector<std::uint8_t>& eeprom = wires.Chip().Eeprom();
    EXPECT_EQ(std::vector<std::uint8_t>(eeprom.begin() + 4, eeprom.begin() + 12),
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0xFF, 0x33}));
    EXPECT_EQ(wires.Violations(), 0u);
}

TEST(EepromPage, AnInstructionOtherThanAPollWhileBusyIsLost)
{
    Wires wires("ATmega88");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0xC0, 0x00, 0x10, 0x55});
    wires.Send({0xC0, 0x00, 0x11, 0x66});
    wires.WaitMs(3.6);
    EXPECT_EQ(ReadEeprom(wires, 0x11), 0xFF);
    EXPECT_EQ(wires.Violations(), 1u);
}

}  // namespace
}  // namespace velkor::sim::testing
