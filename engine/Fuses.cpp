// The Write FUSE bit command: the two fields typed in hexadecimal, then the
// high and low fuse bytes written and read back on chips with two fuse bytes.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "Format.h"
#include "FuseLayouts.h"
#include "HexFile.h"
#include "Programmer.h"
#include "ProgrammerWaits.h"

namespace velkor {

namespace {

constexpr const char* kHighFuse = "Fuse high";
constexpr const char* kLowFuse = "Fuse low";
constexpr const char* kExtendedFuse = "Fuse ext";

// The fuse bytes in the order the chip records list them.
constexpr std::size_t kLow = 0;
constexpr std::size_t kHigh = 1;
constexpr std::size_t kExtended = 2;

// Fuse bits that, once programmed (0), take the chip out of reach of serial
// programming: RSTDISBL turns RESET into an I/O pin, DWEN hands RESET to
// debugWIRE. They sit where the chip's own layout puts them (the ATtiny13
// has RSTDISBL in bit 0 of the high byte). SPIEN needs no guard: it cannot be
// changed serially.
std::optional<std::string> LockoutBitProgrammedBy(const FuseByteLayout* byte, std::uint8_t value)
{
    if (byte == nullptr) {
        return std::nullopt;
    }
    for (const std::string_view bit : ProgrammedBits(*byte, value)) {
        if (bit == "RSTDISBL" || bit == "DWEN") {
            return std::string(bit);
        }
    }
    return std::nullopt;
}

// Why a fuse byte reads back otherwise than typed, where the chip's bits tell.
std::string MismatchReason(const FuseByteLayout* layout, std::uint8_t typed, std::uint8_t readBack)
{
    if (layout == nullptr) {
        return {};
    }
    const unsigned differing = typed ^ readBack;
    for (unsigned i = 0; i < 8; ++i) {
        if ((differing & (0x80u >> i)) == 0) {
            continue;
        }
        if (layout->bits[i] == nullptr) {
            return ": its unused bits always read 1";
        }
        if (std::string_view(layout->bits[i]) == "SPIEN") {
            return ": SPIEN cannot be changed over serial programming";
        }
    }
    return {};
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

bool Programmer::WriteFuses(std::string_view highText, std::string_view lowText,
                            std::optional<std::string_view> extendedText)
{
    log_.Clear();
    FuseProblem.clear();
    FuseClock.reset();
    // Every field is always examined; any one invalid gives one "Error".
    const auto highValue = ParseFuseField(highText);
    const auto lowValue = ParseFuseField(lowText);
    const auto extendedValue = extendedText ? ParseFuseField(*extendedText) : std::nullopt;
    if (!highValue || !lowValue || (extendedText && !extendedValue)) {
        log_.Append("Error");
        return false;
    }
    return RunInCommandFrame(
        [&] { return EnterProgramming(true) && WriteFuseBytes(*highValue, *lowValue, extendedValue); });
}

// Refuses, with one log line, a value that would take the chip out of reach.
bool Programmer::FuseValuesAreSafe(std::uint8_t highValue, std::uint8_t lowValue,
                                   std::optional<std::uint8_t> extendedValue)
{
    const auto layout = FuseLayout();
    const std::array<std::tuple<const char*, const char*, std::optional<std::uint8_t>>, 3> values{{
        {"High", kHighFuse, highValue},
        {"Low", kLowFuse, lowValue},
        {"Extended", kExtendedFuse, extendedValue},
    }};
    for (const auto& [label, layoutName, value] : values) {
        if (!value) {
            continue;
        }
        if (const auto bit = LockoutBitProgrammedBy(FindFuseByte(layout, layoutName), *value)) {
            log_.Append(std::string("FUSE (") + label + ") " + TwoHexDigits(*value) +
                        " would disable serial programming (" + *bit + ").");
            return false;
        }
    }
    return true;
}

bool Programmer::WriteFuseBytes(std::uint8_t highValue, std::uint8_t lowValue,
                                std::optional<std::uint8_t> extendedValue)
{
    if (Device().FuseCount < 2) {
        // One fuse byte or none reachable this way: nothing is sent.
        FuseProblem = "this chip has no two fuse bytes for this command to write";
        return false;
    }
    if (extendedValue && Device().FuseCount < 3) {
        log_.Append("FUSE (Extended): this chip has no extended fuse byte; nothing written.");
        return false;
    }
    if (!FuseValuesAreSafe(highValue, lowValue, extendedValue)) {
        return false;
    }
    // A chip with two fuse bytes or more: its record gives their instructions.
    const std::vector<ChipByte>& fuses = ChipInUse()->fuses;
    log_.Append("Write Fuse bit.");
    SendInstruction(fuses[kHigh].WriteInstruction(highValue));
    Wait(kFuseWaitMs);
    log_.Append(FormatNumber("%02X", highValue));
    const std::uint8_t highRead = QueryInstruction(fuses[kHigh].ReadInstruction());
    log_.Append(FormatNumber("%02X", highRead));
    Wait(kFuseWaitMs);
    SendInstruction(fuses[kLow].WriteInstruction(lowValue));
    Wait(kFuseWaitMs);
    log_.Append(FormatNumber("%02X", lowValue));
    const std::uint8_t lowRead = QueryInstruction(fuses[kLow].ReadInstruction());
    log_.Append(FormatNumber("%02X", lowRead));
    std::optional<std::uint8_t> extendedRead;
    if (extendedValue) {
        Wait(kFuseWaitMs);
        SendInstruction(fuses[kExtended].WriteInstruction(*extendedValue));
        Wait(kFuseWaitMs);
        log_.Append(FormatNumber("%02X", *extendedValue));
        extendedRead = QueryInstruction(fuses[kExtended].ReadInstruction());
        log_.Append(FormatNumber("%02X", *extendedRead));
    }
    log_.Append("Complete");
    if (const ClockFuses* clock = ClockFusesInUse()) {
        FuseClock = SelectClock(*clock, fuses, {lowRead, highRead, extendedRead});
    }
    NoteFuseMismatch("high", kHighFuse, highValue, highRead);
    NoteFuseMismatch("low", kLowFuse, lowValue, lowRead);
    if (extendedValue) {
        NoteFuseMismatch("extended", kExtendedFuse, *extendedValue, *extendedRead);
    }
    return FuseProblem.empty();
}

void Programmer::NoteFuseMismatch(const char* which, const char* layoutName, std::uint8_t typed, std::uint8_t readBack)
{
    if (typed == readBack) {
        return;
    }
    FuseProblem += FuseProblem.empty() ? "" : "; ";
    FuseProblem += std::string(which) + " fuse reads back " + TwoHexDigits(readBack) + ", not " + TwoHexDigits(typed) +
                   MismatchReason(FindFuseByte(FuseLayout(), layoutName), typed, readBack);
}

bool Programmer::ReadFusesCommand()
{
    log_.Clear();
    return RunInCommandFrame([this] { return EnterProgramming(true) && ReadFuseAndLockBytes(); });
}

bool Programmer::ReadFuseAndLockBytes()
{
    const auto layout = FuseLayout();
    if (!layout) {
        log_.Append("Unknown chip: its fuse bytes are not known.");
        return false;
    }
    if (layout->empty()) {
        log_.Append("No fuse or lock byte of this chip can be read serially.");
    }
    for (const FuseByteLayout& byte : *layout) {
        const auto& read = byte.readInstruction;
        const std::uint8_t value = QueryInstruction({read[0], read[1], read[2], 0x00});
        std::string line = std::string(byte.name) + ":";
        line.resize(11, ' ');
        line += TwoHexDigits(value);
        const std::vector<std::string_view> programmed = ProgrammedBits(byte, value);
        for (std::size_t i = 0; i < programmed.size(); ++i) {
            line += (i == 0 ? "  programmed: " : " ");
            line += programmed[i];
        }
        log_.Append(line);
    }
    return true;
}

}  // namespace velkor
