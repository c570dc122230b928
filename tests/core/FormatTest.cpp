#include <gtest/gtest.h>

#include "Format.h"

namespace velkor {
namespace {

struct FormatCase {
    const char* pattern;
    long long value;
    const char* expected;
};

class FormatNumberTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatNumberTest, FollowsTheProgramsOwnRules)
{
    EXPECT_EQ(FormatNumber(GetParam().pattern, GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Patterns, FormatNumberTest,
                         ::testing::Values(
                             // Hex digits are upper case whatever the conversion letter.
                             FormatCase{"%x", 0x1C0, "1C0"}, FormatCase{"%X", 0xab, "AB"}, FormatCase{"%x", 0, "0"},
                             // A leading 0 in the width pads with blanks, not zeros.
                             FormatCase{"%02X", 5, " 5"}, FormatCase{"%02X", 0xE1, "E1"},
                             FormatCase{"%04x: ", 0x1C0, " 1C0: "}, FormatCase{"%04x: ", 0, "   0: "},
                             FormatCase{"%04x: ", 0x1FC0, "1FC0: "},
                             // Widths are minimums: wider values are not cut.
                             FormatCase{"%2x ", 0x123, "123 "}, FormatCase{"%5d", 16384, "16384"},
                             FormatCase{"%5d", 123456, "123456"},
                             FormatCase{"      Flash  = %5dbyte", 8192, "      Flash  =  8192byte"},
                             FormatCase{"      FUSE   = %5dbyte", 2, "      FUSE   =     2byte"},
                             FormatCase{"Unknown CPU %d", 38146, "Unknown CPU 38146"}, FormatCase{"%D", -42, "-42"},
                             // A percent sign without a conversion stays as text.
                             FormatCase{"100% %d", 7, "100% 7"}));

}  // namespace
}  // namespace velkor
