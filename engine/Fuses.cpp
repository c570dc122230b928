// The Write FUSE bit command: the two fields typed in hexadecimal, then the
// high and low fuse bytes written and read back on chips with two fuse bytes.
#include <algorithm>
#include <array>
#include <optional>

#include "Format.h"
#include "HexFile.h"
#include "Programmer.h"

namespace velkor {

namespace {

constexpr unsigned kFuseWaitMs = 10;

Instruction WriteFuseHighBits(std::uint8_t value)
{
    return {0xAC, 0xA8, 0x00, value};
}
Instruction WriteFuseBits(std::uint8_t value)
{
    return {0xAC, 0xA0, 0x00, value};
}
constexpr Instruction kReadFuseHighBits{0x58, 0x08, 0x00, 0x00};
constexpr Instruction kReadFuseBits{0x50, 0x00, 0x00, 0x00};

// High fuse bits that, once programmed (0), take the chip out of reach of
// serial programming: RSTDISBL turns RESET into an I/O pin, DWEN hands RESET
// to debugWIRE. SPIEN needs no guard: it cannot be changed serially.
struct LockoutBit {
    std::uint16_t signature;
    std::uint8_t mask;
    const char* name;
};

constexpr std::array<LockoutBit, 8> kHighFuseLockoutBits{{
    {0x9109, 0x10, "RSTDISBL"},  // ATtiny26
    {0x9307, 0x80, "RSTDISBL"},  // ATmega8
    {0x9205, 0x80, "RSTDISBL"},  // ATmega48
    {0x9205, 0x40, "DWEN"},
    {0x930A, 0x80, "RSTDISBL"},  // ATmega88
    {0x930A, 0x40, "DWEN"},
    {0x9406, 0x80, "RSTDISBL"},  // ATmega168
    {0x9406, 0x40, "DWEN"},
}};

// The name of the first lockout bit that highValue programs on this chip.
std::optional<const char*> LockoutBitProgrammedBy(std::uint16_t signature, std::uint8_t highValue)
{
    const auto bit = std::find_if(kHighFuseLockoutBits.begin(), kHighFuseLockoutBits.end(), [&](const LockoutBit& b) {
        return b.signature == signature && (highValue & b.mask) == 0;
    });
    if (bit == kHighFuseLockoutBits.end()) {
        return std::nullopt;
    }
    return bit->name;
}

}  // namespace

// One or two hex digits, nothing else: no prefix, sign or blank. Length counts
// bytes, so a multi-byte character fails as it should.
std::optional<std::uint8_t> ParseFuseField(std::string_view text)
{
    if (text.empty() || text.size() > 2) {
        return std::nullopt;
    }
    std::uint8_t value = 0;
    for (const char character : text) {
        const auto digit = HexDigit(character);
        if (!digit) {
            return std::nullopt;
        }
        value = static_cast<std::uint8_t>(value * 16 + *digit);
    }
    return value;
}

bool Programmer::WriteFuses(std::string_view highText, std::string_view lowText)
{
    log_.Clear();
    // Both fields are always examined; either one invalid gives one "Error".
    const auto highValue = ParseFuseField(highText);
    const auto lowValue = ParseFuseField(lowText);
    if (!highValue || !lowValue) {
        log_.Append("Error");
        return false;
    }
    return RunInCommandFrame([&] { return EnterProgramming(true) && WriteFuseBytes(*highValue, *lowValue); });
}

bool Programmer::WriteFuseBytes(std::uint8_t highValue, std::uint8_t lowValue)
{
    if (Device().FuseCount != 2) {
        return false;  // one fuse byte or none reachable this way: nothing is sent
    }
    if (const auto bit = LockoutBitProgrammedBy(Device().Signature, highValue)) {
        log_.Append("FUSE (High) " + TwoHexDigits(highValue) + " would disable serial programming (" + *bit + ").");
        return false;
    }
    log_.Append("Write Fuse bit.");
    SendInstruction(WriteFuseHighBits(highValue));
    Wait(kFuseWaitMs);
    log_.Append(FormatNumber("%02X", highValue));
    log_.Append(FormatNumber("%02X", QueryInstruction(kReadFuseHighBits)));
    Wait(kFuseWaitMs);
    SendInstruction(WriteFuseBits(lowValue));
    Wait(kFuseWaitMs);
    log_.Append(FormatNumber("%02X", lowValue));
    log_.Append(FormatNumber("%02X", QueryInstruction(kReadFuseBits)));
    log_.Append("Complete");
    return true;
}

}  // namespace velkor
