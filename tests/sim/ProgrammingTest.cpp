// What the chip does with the programming instructions: flash in byte and
// page mode, busy periods and polling, fuses and lock bits, and the faults
// a test can inject.

#include <gtest/gtest.h>

#include "Wires.h"

namespace velkor::sim::testing {
namespace {

constexpr Bytes4 kChipErase{0xAC, 0x80, 0x00, 0x00};

std::uint8_t ReadFlash(Wires& wires, std::uint32_t byteAddress)
{
    const std::uint32_t word = byteAddress / 2;
    return wires.Query(byteAddress % 2 ? 0x28 : 0x20, static_cast<std::uint8_t>(word >> 8),
                       static_cast<std::uint8_t>(word));
}

void LoadPage(Wires& wires, std::uint8_t opcode, std::uint8_t wordOffset, std::uint8_t value)
{
    wires.Send({opcode, 0x00, wordOffset, value});
}

void WritePage(Wires& wires, std::uint32_t word)
{
    wires.Send({0x4C, static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word), 0x00});
}

// One flash byte the way the chip takes it: a byte write, or a one-word
// page load and page write; then the chip's write time.
void ProgramByte(Wires& wires, std::uint32_t byteAddress, std::uint8_t value)
{
    const std::uint32_t word = byteAddress / 2;
    const std::uint8_t opcode = byteAddress % 2 ? 0x48 : 0x40;
    if (wires.Model().Mode() == FlashMode::Byte) {
        wires.Send({opcode, static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word), value});
    } else {
        if (byteAddress % 2) {
            LoadPage(wires, 0x40, static_cast<std::uint8_t>(word), 0xFF);
        }
        LoadPage(wires, opcode, static_cast<std::uint8_t>(word), value);
        WritePage(wires, word);
    }
    wires.WaitMs(10);
}

class AnyFlashMode : public ::testing::TestWithParam<const char*> {};

TEST_P(AnyFlashMode, ProgrammingOnlyClearsBits)
{
    Wires wires(GetParam());
    ASSERT_TRUE(wires.EnterProgramming());
    ProgramByte(wires, 0x41, 0xF0);
    ProgramByte(wires, 0x41, 0x3C);
    EXPECT_EQ(ReadFlash(wires, 0x41), 0x30);
    wires.Send(kChipErase);
    wires.WaitMs(20);
    ProgramByte(wires, 0x41, 0x3C);
    EXPECT_EQ(ReadFlash(wires, 0x41), 0x3C);
    EXPECT_EQ(wires.Violations(), 0u);
}

TEST_P(AnyFlashMode, AddressBitsAboveTheFlashWrap)
{
    Wires wires(GetParam());
    wires.Chip().Flash()[0x23] = 0x5A;
    ASSERT_TRUE(wires.EnterProgramming());
    EXPECT_EQ(ReadFlash(wires, wires.Model().flashBytes + 0x23), 0x5A);
}

TEST_P(AnyFlashMode, StuckCellsNeverTakeAValue)
{
    Wires wires(GetParam());
    wires.Chip().InjectedFaults().stuckFlashBytes = {0x10};
    ASSERT_TRUE(wires.EnterProgramming());
    ProgramByte(wires, 0x10, 0x00);
    ProgramByte(wires, 0x11, 0x00);
    EXPECT_EQ(ReadFlash(wires, 0x10), 0xFF);
    EXPECT_EQ(ReadFlash(wires, 0x11), 0x00);
}

INSTANTIATE_TEST_SUITE_P(Chips, AnyFlashMode, ::testing::Values("AT90S2313", "AT90S1200", "ATtiny26", "ATmega168"));

struct PollCase {
    const char* chip;
    std::uint8_t busyValue;
};

class BytePolling : public ::testing::TestWithParam<PollCase> {};

TEST_P(BytePolling, ReadOfTheByteBeingWrittenGivesThePollValueUntilDone)
{
    Wires wires(GetParam().chip);
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0x48, 0x00, 0x20, 0x12});
    EXPECT_EQ(ReadFlash(wires, 0x41), GetParam().busyValue);
    wires.WaitMs(4);
    EXPECT_EQ(ReadFlash(wires, 0x41), 0x12);
    EXPECT_EQ(wires.Violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, BytePolling,
                         ::testing::Values(PollCase{"AT90S2313", 0x7F}, PollCase{"AT90S4414", 0x7F},
                                           PollCase{"AT90S8515", 0x7F}, PollCase{"AT90S2323", 0xFF},
                                           PollCase{"AT90S4433", 0xFF}, PollCase{"AT90S8535", 0xFF}),
                         ChipCaseName<PollCase>);

TEST(BusyChip, At90s1200CannotBePolled)
{
    Wires wires("AT90S1200");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0x40, 0x00, 0x20, 0x12});
    EXPECT_NE(ReadFlash(wires, 0x40), 0x12);
    EXPECT_EQ(wires.Violations(), 1u);
}

TEST(BusyChip, InstructionDuringEraseIsLostAndRecorded)
{
    Wires wires("ATmega8");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send(kChipErase);
    wires.WaitMs(5);  // more than half the 9 ms erase time
    EXPECT_NE(wires.Query(0x30, 0x00, 0x00), 0x1E);
    ASSERT_EQ(wires.Violations(), 1u);
    EXPECT_NE(wires.Chip().TimingViolations()[0].find("Chip Erase"), std::string::npos);
    wires.WaitMs(9);
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x00), 0x1E);
    EXPECT_EQ(wires.Violations(), 1u);
}

TEST(BusyChip, WaitingExactlyTheEraseTimeIsEnough)
{
    Wires wires("AT90S8515");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send(kChipErase);
    // Send returns two phases after the last bit, and the next instruction's
    // first bit rises one phase into it: that bit comes exactly 20 ms later.
    wires.Wait(20'000'000 - 3 * wires.phase);
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x00), 0x1E);
    EXPECT_EQ(wires.Violations(), 0u);
}

TEST(BusyChip, ResetRaisedDuringAWriteIsRecorded)
{
    Wires wires("ATmega8");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0xAC, 0xA0, 0x00, 0xE4});
    wires.SetReset(true);
    EXPECT_EQ(wires.Violations(), 1u);
}

TEST(PageMode, PageBeingWrittenReadsFFAndLoadsAreLost)
{
    Wires wires("ATmega8");
    ASSERT_TRUE(wires.EnterProgramming());
    LoadPage(wires, 0x40, 0, 0x11);
    WritePage(wires, 0x40);  // words 0x40..0x5F
    EXPECT_EQ(ReadFlash(wires, 0x80), 0xFF);
    LoadPage(wires, 0x40, 1, 0x22);
    EXPECT_EQ(wires.Violations(), 1u);
    wires.WaitMs(4.5);
    EXPECT_EQ(ReadFlash(wires, 0x80), 0x11);
    WritePage(wires, 0x60);
    wires.WaitMs(4.5);
    EXPECT_EQ(ReadFlash(wires, 0xC2), 0xFF) << "the lost load reached the buffer";
}

TEST(PageMode, RdyBsyReportsTheWrite)
{
    Wires wires("ATmega328P");
    ASSERT_TRUE(wires.EnterProgramming());
    WritePage(wires, 0);
    EXPECT_EQ(wires.Query(0xF0, 0x00, 0x00) & 1, 1);
    wires.WaitMs(4.5);
    EXPECT_EQ(wires.Query(0xF0, 0x00, 0x00) & 1, 0);
    EXPECT_EQ(wires.Violations(), 0u);
}

TEST(PageMode, OnlyInPageBitsLoadAndOnlyPageBitsWrite)
{
    Wires wires("ATmega8");  // 32-word pages
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0x40, 0x07, 0x23, 0xA5});  // byte 2 and word bit 5 ignored: word 3
    WritePage(wires, 0x25);                // in-page bits ignored: page at word 0x20
    wires.WaitMs(4.5);
    EXPECT_EQ(ReadFlash(wires, 0x46), 0xA5);
    EXPECT_EQ(wires.Chip().Flash()[0x06], 0xFF);
}

TEST(PageMode, UnloadedWordsStayErasedAndTheBufferEmptiesAfterAWrite)
{
    Wires wires("ATtiny26");
    ASSERT_TRUE(wires.EnterProgramming());
    LoadPage(wires, 0x40, 3, 0x00);
    LoadPage(wires, 0x48, 3, 0x00);
    WritePage(wires, 0);
    wires.WaitMs(4.5);
    WritePage(wires, 16);
    wires.WaitMs(4.5);
    const auto& flash = wires.Chip().Flash();
    for (std::size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(flash[i], i == 6 || i == 7 ? 0x00 : 0xFF) << "byte " << i;
    }
}

TEST(PageMode, HighByteBeforeLowByteIsAViolation)
{
    Wires wires("ATmega168");
    ASSERT_TRUE(wires.EnterProgramming());
    LoadPage(wires, 0x40, 5, 0x01);
    LoadPage(wires, 0x48, 5, 0x02);
    EXPECT_EQ(wires.Violations(), 0u);
    LoadPage(wires, 0x48, 6, 0x03);
    EXPECT_EQ(wires.Violations(), 1u);
}

struct LockCase {
    const char* chip;
    Bytes4 programLb1;
};

class LockBits : public ::testing::TestWithParam<LockCase> {};

TEST_P(LockBits, ProgrammedLb1StopsFlashWritesUntilErase)
{
    Wires wires(GetParam().chip);
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send(GetParam().programLb1);
    wires.WaitMs(9);
    ProgramByte(wires, 0, 0x00);
    EXPECT_EQ(ReadFlash(wires, 0), 0xFF);
    wires.Send(kChipErase);
    wires.WaitMs(20);
    EXPECT_EQ(wires.Chip().LockBits(), 0xFF);
}

// A page-mode and a byte-mode chip, each with its own lock instruction.
INSTANTIATE_TEST_SUITE_P(Chips, LockBits,
                         ::testing::Values(LockCase{"ATmega8", {0xAC, 0xE0, 0x00, 0xFE}},
                                           LockCase{"AT90S2313", {0xAC, 0xFD, 0x00, 0x00}}),
                         ChipCaseName<LockCase>);

struct FreezeCase {
    const char* chip;
    std::uint8_t lock;  // byte 4 of AC E0 00: FE mode 2, FC mode 3
    bool frozen;
};

class FuseFreeze : public ::testing::TestWithParam<FreezeCase> {};

// The ATmega and ATtiny parts freeze their fuses once LB1 is programmed
// (lock modes 2 and 3); until then a fuse write takes.
TEST_P(FuseFreeze, ProgrammedLb1KeepsTheLowFuseAsItWas)
{
    const FreezeCase& c = GetParam();
    Wires wires(c.chip);
    const std::uint8_t factory = wires.Chip().FuseLow();
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0xAC, 0xE0, 0x00, c.lock});
    wires.WaitMs(9);
    wires.Send({0xAC, 0xA0, 0x00, 0xE4});
    wires.WaitMs(9);
    EXPECT_EQ(wires.Query(0x50, 0x00, 0x00), c.frozen ? factory : 0xE4);
    EXPECT_EQ(wires.Violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, FuseFreeze,
                         ::testing::Values(FreezeCase{"ATmega8", 0xFE, true}, FreezeCase{"ATmega8", 0xFC, true},
                                           FreezeCase{"ATtiny26", 0xFE, true}, FreezeCase{"ATtiny26", 0xFC, true},
                                           FreezeCase{"ATmega48", 0xFE, true}, FreezeCase{"ATmega8", 0xFF, false},
                                           FreezeCase{"ATtiny26", 0xFF, false}),
                         ChipCaseName<FreezeCase>);

struct FuseCase {
    const char* chip;
    Bytes4 write;
    Bytes4 read;
    std::uint8_t expected;
};

class FuseEncoding : public ::testing::TestWithParam<FuseCase> {};

// Each generation's own encodings; SPIEN stays programmed whatever is written.
TEST_P(FuseEncoding, WriteThenReadBack)
{
    const FuseCase& c = GetParam();
    Wires wires(c.chip);
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send(c.write);
    wires.WaitMs(9);
    EXPECT_EQ(wires.Send(c.read)[3], c.expected);
    EXPECT_EQ(wires.Violations(), 0u);
    wires.PulseReset();
    EXPECT_TRUE(wires.Enable()) << "SPIEN must stay programmed";
}

INSTANTIATE_TEST_SUITE_P(
    Chips, FuseEncoding,
    ::testing::Values(FuseCase{"ATmega8", {0xAC, 0xA0, 0x00, 0xE4}, {0x50, 0x00, 0x00, 0x00}, 0xE4},
                      FuseCase{"ATmega8", {0xAC, 0xA8, 0x00, 0xFF}, {0x58, 0x08, 0x00, 0x00}, 0xDF},
                      FuseCase{"ATmega8", {0xAC, 0xE0, 0x00, 0xF0}, {0x58, 0x00, 0x00, 0x00}, 0xF0},
                      FuseCase{"ATmega32", {0xAC, 0xA8, 0x00, 0xFF}, {0x58, 0x08, 0x00, 0x00}, 0xDF},
                      FuseCase{"ATmega48", {0xAC, 0xA4, 0x00, 0x00}, {0x50, 0x08, 0x00, 0x00}, 0xFE},
                      FuseCase{"ATmega168", {0xAC, 0xA4, 0x00, 0x00}, {0x50, 0x08, 0x00, 0x00}, 0xF8},
                      FuseCase{"ATmega328P", {0xAC, 0xA8, 0x00, 0xFF}, {0x58, 0x08, 0x00, 0x00}, 0xDF},
                      FuseCase{"ATtiny26", {0xAC, 0xA8, 0x00, 0xFF}, {0x58, 0x08, 0x00, 0x00}, 0xF7},
                      FuseCase{"ATtiny26", {0xAC, 0xE0, 0x00, 0xFD}, {0x58, 0x00, 0x00, 0x00}, 0xFD},
                      FuseCase{"AT90S2323", {0xAC, 0xBF, 0x00, 0x00}, {0x58, 0x00, 0x00, 0x00}, 0xDF},
                      FuseCase{"AT90S8535", {0xAC, 0xF9, 0x00, 0x00}, {0x58, 0x00, 0x00, 0x00}, 0x1F},
                      FuseCase{"AT90S4433", {0xAC, 0xBF, 0x00, 0x00}, {0x50, 0x00, 0x00, 0x00}, 0xDF},
                      FuseCase{"AT90S2333", {0xAC, 0xA5, 0x00, 0x00}, {0x50, 0x00, 0x00, 0x00}, 0xC5},
                      FuseCase{"AT90S2333", {0xAC, 0xFB, 0x00, 0x00}, {0x58, 0x00, 0x00, 0x00}, 0xFB}),
    ChipCaseName<FuseCase>);

struct LockoutCase {
    const char* chip;
    Bytes4 write;  // programs RSTDISBL or DWEN, nothing else
};

class Lockout : public ::testing::TestWithParam<LockoutCase> {};

TEST_P(Lockout, ChipLeavesSerialReachAtTheNextResetHigh)
{
    Wires wires(GetParam().chip);
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send(GetParam().write);
    wires.WaitMs(5);
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x00), 0x1E) << "still in programming mode";
    wires.PulseReset();
    EXPECT_FALSE(wires.Enable());
    EXPECT_TRUE(wires.Chip().OutOfReach());
}

INSTANTIATE_TEST_SUITE_P(Chips, Lockout,
                         ::testing::Values(LockoutCase{"ATtiny26", {0xAC, 0xA8, 0x00, 0xE7}},
                                           LockoutCase{"ATmega8", {0xAC, 0xA8, 0x00, 0x59}},
                                           LockoutCase{"ATmega88", {0xAC, 0xA8, 0x00, 0x5F}},
                                           LockoutCase{"ATmega168", {0xAC, 0xA8, 0x00, 0x9F}},
                                           LockoutCase{"ATmega328P", {0xAC, 0xA8, 0x00, 0x59}}),
                         ChipCaseName<LockoutCase>);

TEST(Faults, SilentAfterErase)
{
    Wires wires("ATmega8");
    wires.Chip().InjectedFaults().silentAfterErase = true;
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send(kChipErase);
    wires.WaitMs(9);
    wires.PulseReset();
    EXPECT_FALSE(wires.Enable());
}

TEST(Faults, OtherMakerCode)
{
    Wires wires("ATmega8");
    wires.Chip().InjectedFaults().makerCode = 0x00;
    ASSERT_TRUE(wires.EnterProgramming());
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x00), 0x00);
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x01), 0x93);
}

TEST(Eesave, ProgrammedEesaveKeepsTheEepromThroughErase)
{
    Wires wires("ATmega8");
    wires.Chip().Eeprom()[7] = 0x42;
    ASSERT_TRUE(wires.EnterProgramming());
    wires.Send({0xAC, 0xA8, 0x00, 0xD1});  // EESAVE (bit 3) programmed
    wires.WaitMs(4.5);
    wires.Send(kChipErase);
    wires.WaitMs(9);
    EXPECT_EQ(wires.Chip().Eeprom()[7], 0x42);
}

}  // namespace
}  // namespace velkor::sim::testing
