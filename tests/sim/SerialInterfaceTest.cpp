// The chip's serial interface at pin level: when it drives MISO, how it
// frames bits, and what timing it demands.

#include <gtest/gtest.h>

#include "Wires.h"

namespace velkor::sim::testing {
namespace {

constexpr Bytes4 kReadSignature1{0x30, 0x00, 0x01, 0x00};
constexpr Bytes4 kAllOnes{0xFF, 0xFF, 0xFF, 0xFF};

TEST(SerialInterface, MisoFloatsUntilProgrammingEnable)
{
    Wires wires("ATmega8");
    EXPECT_TRUE(wires.Chip().Miso());  // RESET not yet low
    wires.EnterReset();
    EXPECT_EQ(wires.Send(kReadSignature1), kAllOnes);
    EXPECT_EQ(wires.Send({0xAC, 0x52, 0x00, 0x00}), kAllOnes);  // AC alone does not enable
    EXPECT_TRUE(wires.Enable());
    EXPECT_EQ(wires.Send(kReadSignature1)[3], 0x93);
}

TEST(SerialInterface, MisoFloatsAndEnableIsForgottenWhenResetGoesHigh)
{
    Wires wires("ATmega8");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.SetReset(true);
    EXPECT_TRUE(wires.Chip().Miso());
    wires.EnterReset();
    EXPECT_EQ(wires.Send(kReadSignature1), kAllOnes);
}

TEST(SerialInterface, EachOutputByteEchoesThePreviousInputByte)
{
    Wires wires("AT90S8515");
    ASSERT_TRUE(wires.EnterProgramming());
    const Bytes4 answer = wires.Send({0xAC, 0x80, 0x12, 0x34});  // Chip Erase
    EXPECT_EQ(answer[1], 0xAC);
    EXPECT_EQ(answer[2], 0x80);
    EXPECT_EQ(answer[3], 0x12);
}

TEST(SerialInterface, ResetLowTooShortIsNotAnswered)
{
    Wires wires("ATmega8");
    wires.EnterReset(10);
    EXPECT_FALSE(wires.Enable());
    ASSERT_EQ(wires.Violations(), 1u);
    EXPECT_NE(wires.Chip().TimingViolations()[0].find("after RESET went low"), std::string::npos);
    wires.WaitMs(10);  // now 20 ms and more since RESET fell
    EXPECT_TRUE(wires.Enable());
}

TEST(SerialInterface, StraySckPulseShiftsTheFramingUntilResetPulse)
{
    Wires wires("ATmega8");
    ASSERT_TRUE(wires.EnterProgramming());
    wires.PulseSck();
    EXPECT_NE(wires.Send(kReadSignature1)[3], 0x93);
    wires.PulseReset();
    EXPECT_TRUE(wires.Enable());
    EXPECT_EQ(wires.Send(kReadSignature1)[3], 0x93);
}

// A chip that counted n stray edges after RESET fell answers only once the
// programmer's own extra SCK pulses bring the count to a whole instruction.
class OutOfStep : public ::testing::TestWithParam<unsigned> {};

TEST_P(OutOfStep, ResyncPulsesRealignIt)
{
    const unsigned extraEdges = GetParam();
    Wires wires("AT90S2313");
    wires.Chip().InjectedFaults().outOfStepBits = extraEdges;
    wires.EnterReset();
    for (int attempt = 0; attempt < 32; ++attempt) {
        ASSERT_FALSE(wires.Enable());
    }
    for (unsigned pulse = 0; pulse + extraEdges < 31; ++pulse) {
        wires.PulseSck();
    }
    EXPECT_FALSE(wires.Enable()) << "one pulse short";
    wires.PulseReset();
    for (unsigned pulse = 0; pulse + extraEdges < 32; ++pulse) {
        wires.PulseSck();
    }
    EXPECT_TRUE(wires.Enable());
    EXPECT_EQ(wires.Query(0x30, 0x00, 0x02), 0x01);
}

INSTANTIATE_TEST_SUITE_P(ExtraEdges, OutOfStep, ::testing::Values(1u, 3u, 7u, 9u));

struct PhaseCase {
    const char* chip;
    std::uint64_t phaseNs;
    bool tooShort;
    std::optional<std::uint32_t> clockHz = std::nullopt;
};

class SckPhase : public ::testing::TestWithParam<PhaseCase> {};

// The chip samples SCK with its own clock: a phase at or under its minimum
// is recorded and the edge ending it is lost, so no echo comes back.
TEST_P(SckPhase, MustLastMoreThanTheChipsMinimumCyclesOrItsEdgeIsLost)
{
    const PhaseCase& c = GetParam();
    Wires wires(c.chip, c.phaseNs, c.clockHz);
    wires.EnterReset();
    EXPECT_EQ(wires.Enable(), !c.tooShort);
    EXPECT_EQ(wires.Violations() > 0, c.tooShort);
    if (c.tooShort) {
        EXPECT_NE(wires.Chip().TimingViolations()[0].find("edge lost"), std::string::npos);
    }
}

// 1 MHz chips need > 2 us; AT90S on 4 MHz > 500 ns; AT90S1200 high > 1 us;
// the ATmega and ATtiny parts > 3 cycles from 12 MHz up, the AT90S > 2.
INSTANTIATE_TEST_SUITE_P(
    Chips, SckPhase,
    ::testing::Values(PhaseCase{"ATmega8", 2000, true}, PhaseCase{"ATmega8", 2100, false},
                      PhaseCase{"ATtiny26", 1500, true}, PhaseCase{"AT90S2343", 1500, true},
                      PhaseCase{"AT90S2313", 500, true}, PhaseCase{"AT90S2313", 600, false},
                      PhaseCase{"AT90S1200", 900, true}, PhaseCase{"AT90S1200", 1100, false},
                      PhaseCase{"ATmega168", 15625, true, 128'000}, PhaseCase{"ATmega168", 15700, false, 128'000},
                      PhaseCase{"ATmega8", 2500, true, 800'000}, PhaseCase{"ATmega8", 2501, false, 800'000},
                      PhaseCase{"ATmega8", 180, true, 16'000'000}, PhaseCase{"AT90S8515", 180, false, 16'000'000}),
    ChipCaseName<PhaseCase>);

}  // namespace
}  // namespace velkor::sim::testing
