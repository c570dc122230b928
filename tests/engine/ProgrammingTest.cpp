// Entering programming mode and identifying the chip, on the simulated target.
#include <gtest/gtest.h>

#include "Programmer.h"
#include "SimulatedProgrammer.h"

namespace velkor {
namespace {

using testing::Event;

constexpr std::size_t kWritesPerEnable = 3 * 24 + 16;  // three bytes sent, one received

class ProgrammingTest : public ::testing::Test, protected testing::SimulatedProgrammer {
protected:
    void Attach(std::string_view chipName)
    {
        SimulatedProgrammer::Attach(chipName);
        port->OpenDriver(programmer->PortAddress);
    }
};

TEST_F(ProgrammingTest, AChipThatAnswersAtOnceGetsOneEnableAndNoRetryWait)
{
    Attach("ATmega8");
    EXPECT_TRUE(programmer->EnterProgramming(true));

    // The reset pulse, one Programming Enable, three signature reads.
    EXPECT_EQ(trace.Text(), "open 378 port 00 sleep 5 port 04 sleep 1 port 00 sleep 50 >AC >53 <53 >00 "
                            ">30 >00 >00 <1E >30 >00 >01 <93 >30 >00 >02 <07");
}

TEST_F(ProgrammingTest, NoChipMeans32AttemptsThe31PulsesAnd32MoreThenAFault)
{
    Attach("none");
    EXPECT_FALSE(programmer->EnterProgramming(true));

    EXPECT_EQ(log.lines, std::vector<std::string>{"Program enable fault."});
    std::vector<unsigned> sleeps{5, 1, 50};
    sleeps.insert(sleeps.end(), 64, 10);
    EXPECT_EQ(trace.Sleeps(), sleeps);

    const auto writes = trace.Writes();
    ASSERT_EQ(writes.size(), 3 + 64 * kWritesPerEnable + 31 * 2 + 1);
    EXPECT_EQ(std::vector<std::uint8_t>(writes.begin(), writes.begin() + 3),
              (std::vector<std::uint8_t>{0x00, 0x04, 0x00}));
    const auto pulses = writes.begin() + 3 + 32 * kWritesPerEnable;
    for (int i = 0; i < 31; ++i) {
        EXPECT_EQ(pulses[2 * i], 0x01);
        EXPECT_EQ(pulses[2 * i + 1], 0x00);
    }
    EXPECT_EQ(writes.back(), 0x84);
}

TEST_F(ProgrammingTest, AChipOutOfStepAnswersOnlyAfterTheResynchronisingPulses)
{
    Attach("AT90S2313");
    target->chip()->InjectedFaults().outOfStepBits = 1;

    EXPECT_TRUE(programmer->EnterProgramming(true));
    EXPECT_EQ(log.lines.front(), "ATMEL");
    EXPECT_EQ(log.lines.at(1), " \u3010AT90S2313\u3011");
    // 32 failed attempts each followed by 10 ms, then success on the 33rd.
    std::vector<unsigned> sleeps{5, 1, 50};
    sleeps.insert(sleeps.end(), 32, 10);
    EXPECT_EQ(trace.Sleeps(), sleeps);
}

TEST_F(ProgrammingTest, ATmega8IsIdentifiedWithItsSixLines)
{
    Attach("ATmega8");
    EXPECT_TRUE(programmer->EnterProgramming(true));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"ATMEL", " 【ATmega8】", "      28PIN", "      Flash  =  8192byte",
                                                   "      SRAM   =  1024byte", "      EEPROM =   512byte",
                                                   "      FUSE   =     2byte"}));
    EXPECT_EQ(programmer->DeviceIndex, 11);
    EXPECT_EQ(programmer->DeviceSignature, 0x9307);
}

class EveryListedChip : public ProgrammingTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(EveryListedChip, IsFoundInItsRowWithoutATimingViolation)
{
    const DEVTYPE& row = DeviceTable[GetParam()];
    Attach(row.Name);
    EXPECT_TRUE(programmer->EnterProgramming(true));
    EXPECT_EQ(programmer->DeviceIndex, GetParam());
    EXPECT_EQ(programmer->DeviceSignature, row.Signature);
    ASSERT_EQ(log.lines.size(), 7u);
    EXPECT_EQ(log.lines[1], std::string(" 【") + row.Name + "】");
    EXPECT_TRUE(target->chip()->TimingViolations().empty()) << target->chip()->TimingViolations().front();
}

INSTANTIATE_TEST_SUITE_P(DeviceTableRows, EveryListedChip, ::testing::Range<std::uint8_t>(0, 15));

TEST_F(ProgrammingTest, UnlistedChipsSelectTheZeroRow)
{
    for (const auto& [chip, line] :
         {std::pair{"ATmega328P", "Unknown CPU 38159"}, std::pair{"ATmega32", "Unknown CPU 38146"}}) {
        log.Clear();
        Attach(chip);
        EXPECT_TRUE(programmer->EnterProgramming(true));
        EXPECT_EQ(log.lines, (std::vector<std::string>{"ATMEL", line}));
        EXPECT_EQ(programmer->DeviceIndex, kUnknownDeviceRow);
    }
}

TEST_F(ProgrammingTest, AnotherMakerCodeIsLoggedAndTheChipStillIdentified)
{
    Attach("ATmega168");
    target->chip()->InjectedFaults().makerCode = 0x00;
    EXPECT_TRUE(programmer->EnterProgramming(true));
    EXPECT_EQ(log.lines.at(0), "Unknown Maker 0");
    EXPECT_EQ(log.lines.at(1), " 【ATmega168】");
}

TEST_F(ProgrammingTest, EraseLogsItsStepsAndEntersProgrammingModeAgain)
{
    Attach("ATmega8");
    target->chip()->Flash().assign(target->chip()->Flash().size(), 0x00);
    EXPECT_TRUE(programmer->EnterProgramming(false));
    EXPECT_EQ(std::vector<std::string>(log.lines.begin() + 7, log.lines.end()),
              (std::vector<std::string>{"", "Chip Erase...", "done"}));
    EXPECT_EQ(target->chip()->Flash().front(), 0xFF);
    EXPECT_TRUE(target->chip()->TimingViolations().empty());
    // The erase time, then a fresh RESET pulse without the lead-in.
    EXPECT_EQ(trace.Sleeps(), (std::vector<unsigned>{5, 1, 50, 20, 1, 50}));
}

TEST_F(ProgrammingTest, AChipSilentAfterEraseEndsInAFaultAndAReleasedPort)
{
    Attach("AT90S8515");
    target->chip()->InjectedFaults().silentAfterErase = true;
    EXPECT_FALSE(programmer->EnterProgramming(false));
    EXPECT_EQ(std::vector<std::string>(log.lines.end() - 2, log.lines.end()),
              (std::vector<std::string>{"done", "Program enable fault."}));
    EXPECT_EQ(trace.Writes().back(), 0x84);
}

}  // namespace
}  // namespace velkor
