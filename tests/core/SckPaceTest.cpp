// Chip clock texts and the SCK phase each clock gets.
#include <gtest/gtest.h>

#include "Clock.h"
#include "SckPace.h"

namespace velkor {
namespace {

TEST(ParseChipClock, TakesKiloAndMegaOrHzWithinTheRange)
{
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"16k", 16'000},         {"128k", 128'000},       {"128K", 128'000},      {"1M", 1'000'000},
        {"3.6864M", 3'686'400},  {"20M", 20'000'000},     {"8000000", 8'000'000}, {"32768", 32'768},
        {"15.9k", std::nullopt}, {"20.1M", std::nullopt}, {"0", std::nullopt},    {"-1M", std::nullopt},
        {"", std::nullopt},      {"M", std::nullopt},     {"1m", std::nullopt},   {"1MHz", std::nullopt},
        {"1e6", std::nullopt},   {"inf", std::nullopt},   {"1 M", std::nullopt},  {"8M ", std::nullopt},
    };
    for (const auto& [text, hz] : cases) {
        EXPECT_EQ(ParseChipClock(text), hz) << '"' << text << '"';
    }
}

TEST(ChipClockText, IsWhatParseChipClockReadsBack)
{
    const std::pair<std::uint32_t, const char*> cases[] = {{16'000, "16k"},     {600'000, "600k"},
                                                           {1'200'000, "1.2M"}, {3'686'400, "3.6864M"},
                                                           {20'000'000, "20M"}, {32'768, "32768"}};
    for (const auto& [hz, text] : cases) {
        EXPECT_EQ(ChipClockText(hz), text);
        EXPECT_EQ(ParseChipClock(text), hz);
    }
}

// More than 2 cycles below 12 MHz, more than 3 from there, at 80 % of the
// clock; never less than the rule asks.
TEST(SckPhaseFor, JustOverTheRulesMinimumForAClockRunning20PercentSlow)
{
    EXPECT_EQ(SckPhaseFor(1'000'000).count(), 2501);
    EXPECT_EQ(SckPhaseFor(128'000).count(), 19532);
    EXPECT_EQ(SckPhaseFor(32'000).count(), 78126);
    EXPECT_EQ(SckPhaseFor(16'000).count(), 156251);
    EXPECT_EQ(SckPhaseFor(8'000'000).count(), 313);
    EXPECT_EQ(SckPhaseFor(11'999'999).count(), 209);
    EXPECT_EQ(SckPhaseFor(12'000'000).count(), 313);
    EXPECT_EQ(SckPhaseFor(20'000'000).count(), 188);
    // A chip's own rule: 4 cycles high, none more from 12 MHz (the AT90S1200).
    EXPECT_EQ(SckPhaseFor(4'000'000, 4, false).count(), 1251);
    EXPECT_EQ(SckPhaseFor(16'000'000, 4, false).count(), 313);
    EXPECT_EQ(SckPhaseFor(16'000'000, 4, true).count(), 391);
}

using std::chrono::nanoseconds;

TEST(PhasePacer, CountsThePhaseFromTheAccessStartJudgedByTheShortestAccessSeen)
{
    PhasePacer pacer;
    pacer.AccessEnded(1'000);  // its start is not known: the whole phase follows it
    EXPECT_EQ(pacer.DelayEndNs(nanoseconds(2500)), 3'500);
    pacer.DelayEnded(3'500);
    pacer.AccessEnded(4'500);  // 1 us: the phase counts from its start
    EXPECT_EQ(pacer.DelayEndNs(nanoseconds(2500)), 6'000);
    EXPECT_EQ(pacer.DelayEndNs(nanoseconds(400)), 4'500);  // shorter than the access: no wait
    pacer.DelayEnded(6'000);
    pacer.AccessEnded(56'000);  // held up: its pin may have changed at its end
    EXPECT_EQ(pacer.DelayEndNs(nanoseconds(2500)), 57'500);

    PhasePacer slept;
    slept.DelayEnded(0);
    slept.Interrupted();
    slept.AccessEnded(5'000'000);  // spans a sleep: teaches nothing
    EXPECT_EQ(slept.DelayEndNs(nanoseconds(2500)), 5'002'500);
}

}  // namespace
}  // namespace velkor
