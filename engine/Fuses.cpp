// The Write FUSE bit command: the fields typed in hexadecimal, then the high
// and low fuse bytes (and the extended one when given) written and read back
// on chips with two fuse bytes or more.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Format.h"
#include "FuseLayouts.h"
#include "Numbers.h"
#include "Programmer.h"
#include "ProgrammerWaits.h"

namespace velkor {

namespace {

// The fuse bytes in the order the command writes them; the chip's record
// lists them low, high, extended, with the instructions that write and read
// each.
struct FuseByteKind {
    const char* label;       // in the lock-out line: "FUSE (High)"
    const char* which;       // in what the user is told: "high fuse"
    const char* layoutName;  // the byte's name in the chip's layout
    std::size_t inRecord;    // its place among the record's fuse bytes
};
constexpr std::array<FuseByteKind, 3> kFuseBytes{{
    {"High", "high fuse", "Fuse high", 1},
    {"Low", "low fuse", "Fuse low", 0},
    {"Extended", "extended fuse", "Fuse ext", 2},
}};
constexpr std::size_t kExtended = 2;

// One value for each of kFuseBytes; nothing for a byte not written.
using FuseValues = std::array<std::optional<std::uint8_t>, kFuseBytes.size()>;
// The chip's layout of each of kFuseBytes; nullptr for a byte it lacks.
using FuseBytes = std::array<const FuseByteLayout*, kFuseBytes.size()>;

FuseBytes FuseBytesOf(const std::optional<std::span<const FuseByteLayout>>& layout)
{
    FuseBytes bytes{};
    for (std::size_t i = 0; i < kFuseBytes.size(); ++i) {
        bytes[i] = FindFuseByte(layout, kFuseBytes[i].layoutName);
    }
    return bytes;
}

std::uint8_t UnusedBitsOf(const FuseByteLayout* byte)
{
    return byte == nullptr ? 0 : UnusedBits(*byte);
}

// The value as it is sent: bits the chip's layout does not name are set to
// 1, so nothing is ever programmed into a bit the layout does not know.
std::uint8_t AsSent(const FuseByteLayout* byte, std::uint8_t given)
{
    return static_cast<std::uint8_t>(given | UnusedBitsOf(byte));
}

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

// The one line refusing a value that would take the chip out of reach.
std::optional<std::string> LockoutRefusal(const FuseBytes& bytes, const FuseValues& values)
{
    for (std::size_t i = 0; i < kFuseBytes.size(); ++i) {
        if (!values[i]) {
            continue;
        }
        if (const auto bit = LockoutBitProgrammedBy(bytes[i], *values[i])) {
            return std::string("FUSE (") + kFuseBytes[i].label + ") " + TwoHexDigits(*values[i]) +
                   " would disable serial programming (" + *bit + ").";
        }
    }
    return std::nullopt;
}

// Why a fuse byte reads back otherwise than written, where the chip's bits tell.
std::string MismatchReason(const FuseByteLayout* layout, std::uint8_t written, std::uint8_t readBack)
{
    if (layout == nullptr) {
        return {};
    }
    const unsigned differing = written ^ readBack;
    for (unsigned i = 0; i < 8; ++i) {
        if ((differing & (0x80u >> i)) != 0 && layout->bits[i] != nullptr &&
            std::string_view(layout->bits[i]) == "SPIEN") {
            return ": SPIEN cannot be changed over serial programming";
        }
    }
    return {};
}

// "bit 3", "bits 7 and 6", "bits 7, 6 and 5": highest first.
std::string BitPositions(std::uint8_t bits)
{
    std::vector<std::string> positions;
    for (int bit = 7; bit >= 0; --bit) {
        if ((bits >> bit & 1) != 0) {
            positions.push_back(std::to_string(bit));
        }
    }
    std::string text = positions.size() == 1 ? "bit " : "bits ";
    for (std::size_t i = 0; i < positions.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == positions.size() ? " and " : ", ") + positions[i];
    }
    return text;
}

bool SeveralBits(std::uint8_t bits)
{
    return (bits & (bits - 1)) != 0;
}

}  // namespace

std::uint8_t UnusedBits(const FuseByteLayout& byte)
{
    std::uint8_t unused = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (byte.bits[i] == nullptr) {
            unused = static_cast<std::uint8_t>(unused | 0x80u >> i);
        }
    }
    return unused;
}

std::string UnusedBitsNote(std::string_view what, std::uint8_t given, std::uint8_t sent)
{
    const auto unused = static_cast<std::uint8_t>(sent & ~given);
    return std::string(what) + " " + TwoHexDigits(given) + " written as " + TwoHexDigits(sent) + ": " +
           BitPositions(unused) +
           (SeveralBits(unused) ? " are unused on this chip and always read 1."
                                : " is unused on this chip and always reads 1.");
}

std::string UnusedBitsReadingZero(std::string_view what, const FuseByteLayout& byte, std::uint8_t read)
{
    const auto zeros = static_cast<std::uint8_t>(UnusedBits(byte) & ~read);
    if (zeros == 0) {
        return {};
    }
    return std::string(what) + " reads back " + TwoHexDigits(read) + ": " + BitPositions(zeros) +
           ", unused on this chip by its record, " + (SeveralBits(zeros) ? "read" : "reads") +
           " 0, so the record does not describe this chip";
}

// One or two hex digits, nothing else: no prefix, sign or blank. Length counts
// bytes, so a multi-byte character fails as it should.
std::optional<std::uint8_t> ParseFuseField(std::string_view text)
{
    const std::optional<std::uint64_t> value = text.size() <= 2 ? ParseDigits(text, 16, 0xFF) : std::nullopt;
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*value);
}

CommandResult Programmer::WriteFuses(std::string_view highText, std::string_view lowText,
                                     std::optional<std::string_view> extendedText)
{
    log_.Clear();
    FuseProblem.clear();
    UnusedBitsNotes.clear();
    FuseClock.reset();
    // Every field is always examined; any one invalid gives one "Error".
    const auto highValue = ParseFuseField(highText);
    const auto lowValue = ParseFuseField(lowText);
    const auto extendedValue = extendedText ? ParseFuseField(*extendedText) : std::nullopt;
    if (!highValue || !lowValue || (extendedText && !extendedValue)) {
        log_.Append("Error");
        return Refused(Fault::InvalidValue);
    }
    return RunInCommandFrame(
        [&] { return EnterProgramming(true) && WriteFuseBytes(*highValue, *lowValue, extendedValue); });
}

bool Programmer::FuseValuesAllowed(std::uint8_t highValue, std::uint8_t lowValue,
                                   std::optional<std::uint8_t> extendedValue)
{
    if (Device().FuseCount < 2) {
        // One fuse byte or none reachable this way: nothing is sent.
        FuseProblem = "this chip has no two fuse bytes for this command to write";
        return false;
    }
    const FuseBytes bytes = FuseBytesOf(FuseLayout());
    if (extendedValue && bytes[kExtended] == nullptr) {
        log_.Append("FUSE (Extended): this chip has no extended fuse byte; nothing written.");
        return false;
    }
    if (const auto refusal = LockoutRefusal(bytes, {highValue, lowValue, extendedValue})) {
        log_.Append(*refusal);
        return false;
    }
    return true;
}

bool Programmer::WriteFuseBytes(std::uint8_t highValue, std::uint8_t lowValue,
                                std::optional<std::uint8_t> extendedValue)
{
    if (!FuseValuesAllowed(highValue, lowValue, extendedValue)) {
        return false;
    }
    const FuseBytes bytes = FuseBytesOf(FuseLayout());
    const FuseValues given{highValue, lowValue, extendedValue};
    log_.Append("Write Fuse bit.");
    const std::vector<ChipByte>& fuses = ChipInUse()->fuses;
    FuseValues read;
    for (std::size_t i = 0; i < kFuseBytes.size(); ++i) {
        if (!given[i]) {
            continue;
        }
        if (i > 0 && !PollsReadyBusy()) {
            Wait(kFuseWaitMs);
        }
        const ChipByte& fuse = fuses.at(kFuseBytes[i].inRecord);
        SendInstruction(fuse.WriteInstruction(AsSent(bytes[i], *given[i])));
        if (!WaitUntilReady(kFuseWaitMs, ChipInUse()->fuseWriteMicros, "fuse write")) {
            return false;
        }
        log_.Append(FormatNumber("%02X", *given[i]));
        read[i] = QueryInstruction(fuse.ReadInstruction());
        log_.Append(FormatNumber("%02X", *read[i]));
    }
    log_.Append("Complete");
    if (const ClockFuses* clock = ClockFusesInUse()) {
        FuseClock = SelectClock(*clock, fuses, {read[1], read[0], read[kExtended]});
    }
    for (std::size_t i = 0; i < kFuseBytes.size(); ++i) {
        if (given[i]) {
            NoteReadBack(kFuseBytes[i].which, bytes[i], *given[i], *read[i]);
        }
    }
    return FuseProblem.empty();
}

// What the user is told about one fuse byte once it is written: a note for
// bits given as 0 that the chip does not have, and a problem when the bits
// it has read back otherwise or an unused bit reads 0.
void Programmer::NoteReadBack(const char* which, const FuseByteLayout* byte, std::uint8_t given, std::uint8_t read)
{
    const std::uint8_t sent = AsSent(byte, given);
    if (sent != given) {
        UnusedBitsNotes.push_back(UnusedBitsNote(which, given, sent));
    }
    std::string problem = byte == nullptr ? std::string() : UnusedBitsReadingZero(which, *byte, read);
    if (problem.empty() && ((sent ^ read) & ~UnusedBitsOf(byte)) != 0) {
        problem = std::string(which) + " reads back " + TwoHexDigits(read) + ", not " + TwoHexDigits(sent) +
                  MismatchReason(byte, sent, read);
    }
    if (!problem.empty()) {
        FuseProblem += (FuseProblem.empty() ? "" : "; ") + problem;
    }
}

}  // namespace velkor
