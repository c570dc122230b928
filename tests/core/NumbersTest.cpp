// Numbers as the programs read them, and names matched in any case: every
// form a caller takes, and the near misses it refuses.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <limits>
#include <optional>

#include "NameMatch.h"
#include "Numbers.h"

namespace velkor {
namespace {

constexpr std::uint32_t kMost32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMost64 = std::numeric_limits<std::uint64_t>::max();

TEST(HexDigit, TakesBothCasesAndRejectsEveryOtherCharacter)
{
    for (int c = 0; c < 256; ++c) {
        const char character = static_cast<char>(c);
        const std::optional<std::uint8_t> digit = HexDigit(character);
        ASSERT_EQ(digit.has_value(), std::isxdigit(c) != 0) << c;
        if (digit) {
            const char text[2] = {character, '\0'};
            EXPECT_EQ(*digit, std::strtol(text, nullptr, 16)) << c;
        }
    }
}

struct DigitsCase {
    const char* text;
    unsigned base;
    std::uint64_t max;
    std::optional<std::uint64_t> value;  // nullopt: refused
};

class Digits : public ::testing::TestWithParam<DigitsCase> {};

TEST_P(Digits, AreTheWholeTextInItsBaseUpToTheMost)
{
    const DigitsCase& digits = GetParam();
    EXPECT_EQ(ParseDigits(digits.text, digits.base, digits.max), digits.value)
        << '"' << digits.text << "\" base " << digits.base << " max " << digits.max;
}

// Decimal: /dev/parportN, the virtual port's numbers, the serial number
// counter, the kernel's base address. Hexadecimal: fuse and lock fields, the
// bytes of chip and state files.
INSTANTIATE_TEST_SUITE_P(
    , Digits,
    ::testing::Values(DigitsCase{"0", 10, kMost32, 0}, DigitsCase{"15", 10, 15, 15}, DigitsCase{"007", 10, 255, 7},
                      DigitsCase{"0", 10, 0, 0}, DigitsCase{"00", 10, 0, 0},
                      DigitsCase{"4294967295", 10, kMost32, kMost32},
                      DigitsCase{"4294967296", 10, std::uint64_t{1} << 32, std::uint64_t{1} << 32},
                      DigitsCase{"18446744073709551615", 10, kMost64, kMost64}, DigitsCase{"fF", 16, 0xFF, 0xFF},
                      DigitsCase{"0a", 16, 0xFF, 0x0A}, DigitsCase{"A", 16, 0xFF, 0x0A},
                      DigitsCase{"0000000000000000000001", 16, 0xFF, 1},
                      // Beyond the most, also where the value would wrap.
                      DigitsCase{"16", 10, 15, std::nullopt}, DigitsCase{"1", 10, 0, std::nullopt},
                      DigitsCase{"4294967296", 10, kMost32, std::nullopt},
                      DigitsCase{"4294967297", 10, std::uint64_t{1} << 32, std::nullopt},
                      DigitsCase{"18446744073709551616", 10, kMost64, std::nullopt},
                      DigitsCase{"100", 16, 0xFF, std::nullopt},
                      DigitsCase{"10000000000000000", 16, kMost64, std::nullopt},
                      // No digits, a digit of another base, a sign, a prefix, a blank, an end of line.
                      DigitsCase{"", 10, kMost32, std::nullopt}, DigitsCase{"", 16, 0xFF, std::nullopt},
                      DigitsCase{"a", 10, kMost32, std::nullopt}, DigitsCase{"G", 16, 0xFF, std::nullopt},
                      DigitsCase{"1G", 16, 0xFF, std::nullopt}, DigitsCase{"-0", 10, kMost32, std::nullopt},
                      DigitsCase{"+1", 10, kMost32, std::nullopt}, DigitsCase{"0x1", 16, 0xFF, std::nullopt},
                      DigitsCase{"$1F", 16, 0xFF, std::nullopt}, DigitsCase{" 1", 10, kMost32, std::nullopt},
                      DigitsCase{"1 ", 16, 0xFF, std::nullopt}, DigitsCase{"1\n", 10, kMost32, std::nullopt},
                      DigitsCase{"\x82\x60", 16, 0xFF, std::nullopt}));

TEST(ParseHexByte, TakesExactlyTwoHexDigits)
{
    EXPECT_EQ(ParseHexByte("0C"), 0x0C);
    EXPECT_EQ(ParseHexByte("ab"), 0xAB);
    EXPECT_EQ(ParseHexByte("fF"), 0xFF);
    for (const char* refused : {"", "1", "0FF", "0x", "G0", " 1", "1 ", "-1", "+1"}) {
        EXPECT_EQ(ParseHexByte(refused), std::nullopt) << '"' << refused << '"';
    }
}

struct NumberCase {
    const char* text;
    std::uint32_t max;
    std::optional<std::uint32_t> value;  // nullopt: refused
};

class Numbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(Numbers, AreDecimalOrHexAfter0x)
{
    const NumberCase& number = GetParam();
    EXPECT_EQ(ParseNumber(number.text, number.max), number.value) << '"' << number.text << "\" max " << number.max;
}

// --sim-fault's and --serial's numbers, --sim-boards' count, a port's base
// address (--port 0x378, the virtual port's).
INSTANTIATE_TEST_SUITE_P(
    , Numbers,
    ::testing::Values(NumberCase{"0", 255, 0}, NumberCase{"255", 255, 255}, NumberCase{"010", 255, 10},
                      NumberCase{"0x1F", 255, 0x1F}, NumberCase{"0X1f", 255, 0x1F}, NumberCase{"0x00ff", 255, 0xFF},
                      NumberCase{"0x0", 255, 0}, NumberCase{"0xFFFD", 0xFFFD, 0xFFFD},
                      NumberCase{"4294967295", kMost32, kMost32}, NumberCase{"0xFFFFFFFF", kMost32, kMost32},
                      // Beyond the most, or beyond 32 bits.
                      NumberCase{"256", 255, std::nullopt}, NumberCase{"0x100", 255, std::nullopt},
                      NumberCase{"0xFFFE", 0xFFFD, std::nullopt}, NumberCase{"1001", 1000, std::nullopt},
                      NumberCase{"4294967296", kMost32, std::nullopt}, NumberCase{"0x100000000", kMost32, std::nullopt},
                      NumberCase{"18446744073709551617", kMost32, std::nullopt},
                      // No digits, signs, blanks, other bases, prefixes and suffixes.
                      NumberCase{"", kMost32, std::nullopt}, NumberCase{"0x", kMost32, std::nullopt},
                      NumberCase{"0X", kMost32, std::nullopt}, NumberCase{"x1", kMost32, std::nullopt},
                      NumberCase{"-1", kMost32, std::nullopt}, NumberCase{"+1", kMost32, std::nullopt},
                      NumberCase{"0x-1", kMost32, std::nullopt}, NumberCase{"0x+1", kMost32, std::nullopt},
                      NumberCase{" 1", kMost32, std::nullopt}, NumberCase{"1 ", kMost32, std::nullopt},
                      NumberCase{"1\n", kMost32, std::nullopt}, NumberCase{"0x 1", kMost32, std::nullopt},
                      NumberCase{"1a", kMost32, std::nullopt}, NumberCase{"0x1g", kMost32, std::nullopt},
                      NumberCase{"0x0x1", kMost32, std::nullopt}, NumberCase{"00x1", kMost32, std::nullopt},
                      NumberCase{"1e3", kMost32, std::nullopt}, NumberCase{"1.0", kMost32, std::nullopt},
                      NumberCase{"0b1", kMost32, std::nullopt}, NumberCase{"\xEF\xBC\x91", kMost32, std::nullopt}));

struct NameCase {
    const char* a;
    const char* b;
    bool same;
};

class Names : public ::testing::TestWithParam<NameCase> {};

TEST_P(Names, MatchInAnyCaseAndOnlyWhole)
{
    EXPECT_EQ(SameNameIgnoringCase(GetParam().a, GetParam().b), GetParam().same)
        << '"' << GetParam().a << "\" \"" << GetParam().b << '"';
}

// Chip names (--simulate, chip files' "also"), none, lpt1..lpt3.
INSTANTIATE_TEST_SUITE_P(, Names,
                         ::testing::Values(NameCase{"ATmega8", "atmega8", true}, NameCase{"LPT1", "lpt1", true},
                                           NameCase{"none", "NoNe", true}, NameCase{"", "", true},
                                           NameCase{"ATmega8", "ATmega88", false}, NameCase{"lpt1", "lpt", false},
                                           NameCase{"none", "", false}, NameCase{"lpt1", "lpt2", false},
                                           // Letters beyond ASCII are bytes as they are.
                                           NameCase{"\xC3\xA9", "\xC3\x89", false},
                                           NameCase{"\xC3\xA9", "\xC3\xA9", true}));

}  // namespace
}  // namespace velkor
