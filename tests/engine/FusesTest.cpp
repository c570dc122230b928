// The Write FUSE bit command: the fields, the fuse sequence, the bits a chip
// does not have and the guard against values that would lock the programmer
// out.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "BuiltInCatalogue.h"
#include "Programmer.h"
#include "SimulatedProgrammer.h"

namespace velkor {
namespace {

using testing::Event;

TEST(ParseFuseField, AcceptsOneOrTwoHexDigitsOfEitherCaseAndNothingElse)
{
    EXPECT_EQ(ParseFuseField("1"), 0x01);
    EXPECT_EQ(ParseFuseField("ff"), 0xFF);
    EXPECT_EQ(ParseFuseField("FF"), 0xFF);
    EXPECT_EQ(ParseFuseField("fF"), 0xFF);
    EXPECT_EQ(ParseFuseField("0a"), 0x0A);
    for (const char* invalid : {"", "0x1F", "$1F", " 1", "1 ", "G", "1G", "123", "\x82\x60"}) {
        EXPECT_EQ(ParseFuseField(invalid), std::nullopt) << '"' << invalid << '"';
    }
}

class WriteFusesTest : public ::testing::Test, protected testing::SimulatedProgrammer {
protected:
    std::vector<std::string> LinesAfterIdentification() const
    {
        return log.lines.size() < 7 ? std::vector<std::string>{}
                                    : std::vector<std::string>(log.lines.begin() + 7, log.lines.end());
    }
};

TEST_F(WriteFusesTest, AnInvalidFieldGivesOneErrorLineAndNeverOpensTheDriver)
{
    Attach("ATmega8");
    for (const auto& [high, low] : {std::pair{"", "e1"}, std::pair{"d9", "G"}, std::pair{"0x1F", "$1F"}}) {
        log.lines = {"left over"};
        EXPECT_FALSE(programmer->WriteFuses(high, low));
        EXPECT_EQ(log.lines, std::vector<std::string>{"Error"});
    }
    EXPECT_TRUE(trace.events.empty());
}

TEST_F(WriteFusesTest, WritesBothFusesAndShowsWhatTheChipReadsBack)
{
    Attach("ATmega8");
    EXPECT_TRUE(programmer->WriteFuses("d1", "e4"));

    EXPECT_EQ(LinesAfterIdentification(),
              (std::vector<std::string>{"Write Fuse bit.", "D1", "D1", "E4", "E4", "Complete"}));
    EXPECT_EQ(target->chip()->FuseHigh(), 0xD1);
    EXPECT_EQ(target->chip()->FuseLow(), 0xE4);
    EXPECT_EQ(trace.events.back().kind, Event::Kind::Close);
    EXPECT_EQ(trace.Writes().back(), 0x84);
    EXPECT_TRUE(target->chip()->TimingViolations().empty());
}

TEST_F(WriteFusesTest, ValuesAreEchoedBlankPaddedAndTheReadBackShowsWhatTheChipKept)
{
    Attach("ATmega48");
    // SPIEN (high bit 5) cannot be unprogrammed serially: the chip keeps it.
    EXPECT_TRUE(programmer->WriteFuses("df", "5"));
    EXPECT_EQ(LinesAfterIdentification(),
              (std::vector<std::string>{"Write Fuse bit.", "DF", "DF", " 5", " 5", "Complete"}));
    log.Clear();
    EXPECT_EQ(programmer->FuseProblem, "");
    EXPECT_FALSE(programmer->WriteFuses("FF", "62"));
    EXPECT_EQ(LinesAfterIdentification().at(2), "DF");
    EXPECT_EQ(programmer->FuseProblem,
              "high fuse reads back DF, not FF: SPIEN cannot be changed over serial programming");
}

TEST_F(WriteFusesTest, ChipsWithoutTwoFuseBytesGetNoFuseInstruction)
{
    for (const char* chip : {"AT90S2333", "AT90S1200", "ATmega32"}) {
        Attach(chip);
        const auto lowBefore = target->chip()->FuseLow();
        EXPECT_FALSE(programmer->WriteFuses("d9", "00"));
        EXPECT_EQ(log.lines.size(), std::string(chip) == "ATmega32" ? 2u : 7u) << chip;
        EXPECT_EQ(target->chip()->FuseLow(), lowBefore) << chip;
        EXPECT_EQ(trace.Writes().back(), 0x84);
    }
}

TEST_F(WriteFusesTest, NoChipLogsOnlyTheFaultAndReleasesThePort)
{
    Attach("none");
    EXPECT_FALSE(programmer->WriteFuses("d9", "e1"));
    EXPECT_EQ(log.lines, std::vector<std::string>{"Program enable fault."});
    EXPECT_EQ(trace.Writes().back(), 0x84);
    EXPECT_EQ(trace.events.back().kind, Event::Kind::Close);
}

struct FuseBitsCase {
    const char* label;
    const char* chip;
    const char* high;
    const char* low;
    std::optional<const char*> extended;
    std::optional<std::uint8_t> highHeld;  // the chip's high fuse before, where it matters
    std::vector<std::uint8_t> sent;        // the values of the fuse write instructions, in order
    std::vector<std::string> notes;
    std::string problem;
};

void PrintTo(const FuseBitsCase& c, std::ostream* os)
{
    *os << c.label;
}

class FuseBits : public WriteFusesTest, public ::testing::WithParamInterface<FuseBitsCase> {};

// Bits the chip's layout leaves unnamed are written as 1 and noted; a byte
// is compared with what it reads back on the bits the chip has, and an
// unused bit reading 0 is a problem.
TEST_P(FuseBits, AreWrittenAsOneAndComparedOnTheBitsTheChipHas)
{
    const FuseBitsCase& c = GetParam();
    Attach(c.chip);
    programmer->ChipLists = {&BuiltInCatalogue()};
    if (c.highHeld) {
        target->chip()->FuseHigh() = *c.highHeld;
    }
    EXPECT_EQ(programmer->WriteFuses(c.high, c.low, c.extended).succeeded, c.problem.empty())
        << programmer->FuseProblem;

    std::vector<std::uint8_t> sent;
    for (const auto& instruction : trace.SentInstructions()) {
        if (instruction[0] == 0xAC && (instruction[1] == 0xA8 || instruction[1] == 0xA0 || instruction[1] == 0xA4)) {
            sent.push_back(instruction[3]);
        }
    }
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(programmer->UnusedBitsNotes, c.notes);
    EXPECT_EQ(programmer->FuseProblem, c.problem);
    EXPECT_EQ(LinesAfterIdentification().back(), "Complete");
}

INSTANTIATE_TEST_SUITE_P(
    Values, FuseBits,
    ::testing::Values(
        // The extended fuse as the Arduino IDE gives it for the Uno.
        FuseBitsCase{"ArduinoExtended",
                     "ATmega328P",
                     "DE",
                     "FF",
                     "05",
                     std::nullopt,
                     {0xDE, 0xFF, 0xFD},
                     {"extended fuse 05 written as FD: bits 7, 6, 5, 4 and 3 are unused on this chip and always "
                      "read 1."},
                     ""},
        FuseBitsCase{"UnusedHighBits",
                     "ATtiny26",
                     "17",
                     "E1",
                     std::nullopt,
                     std::nullopt,
                     {0xF7, 0xE1},
                     {"high fuse 17 written as F7: bits 7, 6 and 5 are unused on this chip and always read 1."},
                     ""},
        // The table's ATmega48 family keeps FuseCount 2, yet has an extended byte.
        FuseBitsCase{"TableATmega48Extended", "ATmega48", "DF", "62", "FE", std::nullopt, {0xDF, 0x62, 0xFE}, {}, ""},
        FuseBitsCase{"TableATmega88Extended",
                     "ATmega88",
                     "DF",
                     "62",
                     "0",
                     std::nullopt,
                     {0xDF, 0x62, 0xF8},
                     {"extended fuse 00 written as F8: bits 7, 6, 5, 4 and 3 are unused on this chip and always "
                      "read 1."},
                     ""},
        FuseBitsCase{
            "TableATmega168Extended", "ATmega168", "DF", "62", "FA", std::nullopt, {0xDF, 0x62, 0xFA}, {}, ""}),
    [](const auto& info) { return std::string(info.param.label); });

// A chip file that does not describe the chip attached: a bit its record
// calls unused reads 0 (the ATmega328P's SPIEN, always programmed, and a boot
// lock bit that only an erase clears), and the command says so and fails.
TEST_F(WriteFusesTest, ABitTheRecordCallsUnusedReadingZeroFailsTheCommand)
{
    const ChipCatalogue wrong = ChipCatalogue::Parse(R"({"chips": [{
        "name": "ATmega328P", "signature": "1E 95 0F", "flash": 32768, "page": 128, "sram": 2048, "eeprom": 1024,
        "eeprom_page": 4, "pins": 28, "no_poll_value": "FF",
        "fuses": {
          "low": {"bits": ["CKDIV8", "CKOUT", "SUT1", "SUT0", "CKSEL3", "CKSEL2", "CKSEL1", "CKSEL0"], "factory": "62"},
          "high": {"bits": ["RSTDISBL", "DWEN", "-", "WDTON", "EESAVE", "BOOTSZ1", "BOOTSZ0", "SPIEN"], "factory": "F8"}},
        "lock": {"bits": ["-", "-", "-", "-", "-", "-", "LB2", "LB1"], "factory": "FF"},
        "rdy_bsy": true, "busy_us": {"flash_page": 4500, "eeprom": 3600, "erase": 9000, "fuse": 4500},
        "clock_hz": 1000000}]})",
                                                     ChipSource::UserFile);
    Attach("ATmega328P");
    programmer->ChipLists = {&wrong};
    EXPECT_FALSE(programmer->WriteFuses("D9", "62"));
    EXPECT_EQ(programmer->FuseProblem, "high fuse reads back D9: bit 5, unused on this chip by its record, reads 0, "
                                       "so the record does not describe this chip");
    target->chip()->LockBits() = 0xEF;
    EXPECT_FALSE(lockBits->LockCommand("FF"));
    EXPECT_EQ(log.lines.back(), "Lock byte reads back EF: bit 4, unused on this chip by its record, reads 0, so the "
                                "record does not describe this chip.");
}

struct LockoutCase {
    const char* chip;
    const char* high;
    const char* bit;
};

class LockoutGuard : public WriteFusesTest, public ::testing::WithParamInterface<LockoutCase> {};

TEST_P(LockoutGuard, RefusesAValueThatWouldEndSerialProgrammingAndWritesNothing)
{
    Attach(GetParam().chip);
    const auto highBefore = target->chip()->FuseHigh();
    const auto lowBefore = target->chip()->FuseLow();

    EXPECT_FALSE(programmer->WriteFuses(GetParam().high, "00"));

    EXPECT_EQ(LinesAfterIdentification(),
              std::vector<std::string>{std::string("FUSE (High) ") + GetParam().high +
                                       " would disable serial programming (" + GetParam().bit + ")."});
    EXPECT_EQ(target->chip()->FuseHigh(), highBefore);
    EXPECT_EQ(target->chip()->FuseLow(), lowBefore);
}

INSTANTIATE_TEST_SUITE_P(TwoFuseChips, LockoutGuard,
                         ::testing::Values(LockoutCase{"ATtiny26", "E7", "RSTDISBL"},
                                           LockoutCase{"ATmega8", "59", "RSTDISBL"},
                                           LockoutCase{"ATmega48", "5F", "RSTDISBL"},
                                           LockoutCase{"ATmega88", "9F", "DWEN"},
                                           LockoutCase{"ATmega168", "1F", "RSTDISBL"}));

}  // namespace
}  // namespace velkor
