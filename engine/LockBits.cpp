// The lock byte: writing it with each chip's instruction, reading it back in
// each chip's own bit layout, and what a locked chip keeps from the
// programmer. Values are given as the ATmega parts read them: bit 0 LB1,
// bit 1 LB2, bits 2 to 5 BLB01, BLB02, BLB11, BLB12; 0 = programmed.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Format.h"
#include "FuseLayouts.h"
#include "LockBits.h"
#include "Programmer.h"
#include "ProgrammerWaits.h"

namespace velkor {

namespace {
constexpr std::array<const char*, 6> kLockBitNames{"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12"};
constexpr std::uint8_t kLb1 = 0x01;
constexpr std::uint8_t kLb2 = 0x02;
// The bits the command's layout gives a meaning; no chip has bits 6 and 7.
constexpr std::uint8_t kLockValueBits = 0x3F;

bool Programmed(std::uint8_t value, std::uint8_t bits)
{
    return (value & bits) == 0;
}

// The chip's readable byte holding its lock bits, if it has one.
const FuseByteLayout* LockByteOf(const std::optional<std::span<const FuseByteLayout>>& layout)
{
    if (layout) {
        for (const FuseByteLayout& byte : *layout) {
            if (std::find_if(byte.bits.begin(), byte.bits.end(), [](const char* bit) {
                    return bit != nullptr && std::string_view(bit) == "LB1";
                }) != byte.bits.end()) {
                return &byte;
            }
        }
    }
    return nullptr;
}

// The bits (in the command's layout) that the chip's lock byte has; a chip
// without a readable lock byte has LB1 and LB2.
std::uint8_t LockBitsOf(const FuseByteLayout* lockByte)
{
    if (lockByte == nullptr) {
        return kLb1 | kLb2;
    }
    std::uint8_t bits = 0;
    for (std::size_t n = 0; n < kLockBitNames.size(); ++n) {
        for (const char* bit : lockByte->bits) {
            if (bit != nullptr && std::string_view(bit) == kLockBitNames[n]) {
                bits |= static_cast<std::uint8_t>(1u << n);
            }
        }
    }
    return bits;
}

// The names of bits (in the command's layout), "LB1, LB2 and BLB01"; a bit
// beyond BLB12 by its number.
std::string LockBitNames(std::uint8_t bits)
{
    std::vector<std::string> names;
    for (unsigned n = 0; n < 8; ++n) {
        if ((bits & (1u << n)) != 0) {
            names.push_back(n < kLockBitNames.size() ? kLockBitNames[n] : "bit " + std::to_string(n));
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

// The chip's own reading turned into the command's layout; bits the chip
// lacks read 1.
std::uint8_t InCommandLayout(const FuseByteLayout& lockByte, std::uint8_t read)
{
    std::uint8_t value = 0xFF;
    for (unsigned position = 0; position < 8; ++position) {
        const char* bit = lockByte.bits[position];
        const bool programmed = (read & (0x80u >> position)) == 0;
        for (std::size_t n = 0; n < kLockBitNames.size(); ++n) {
            if (bit != nullptr && programmed && std::string_view(bit) == kLockBitNames[n]) {
                value &= static_cast<std::uint8_t>(~(1u << n));
            }
        }
    }
    return value;
}

// From the lock mode the chip's record names on, its fuses are frozen too.
std::string LockModeText(std::uint8_t value, const ChipRecord& chip)
{
    const auto fuses = [&chip](unsigned mode) { return chip.FusesFrozenIn(mode) ? "; fuses locked." : "."; };
    if (!Programmed(value, kLb1)) {
        return "Lock mode 1: no memory lock.";
    }
    if (!Programmed(value, kLb2)) {
        return std::string("Lock mode 2: further programming of flash and EEPROM disabled") + fuses(2);
    }
    return std::string("Lock mode 3: programming and reading of flash and EEPROM disabled") + fuses(3);
}

// BLB0x guards the application section, BLB1x the boot loader section, from
// the program's own SPM and LPM instructions (serial programming is not
// affected).
std::string BootLockModeText(const char* name, const char* section, std::uint8_t pair)
{
    static constexpr std::array<const char*, 4> kModes{
        "SPM may not write it; LPM from the other section may not read it",  // 00: mode 3
        "LPM from the other section may not read it",                        // 01: mode 4
        "SPM may not write it",                                              // 10: mode 2
        "no restriction",                                                    // 11: mode 1
    };
    static constexpr std::array<int, 4> kModeNumbers{3, 4, 2, 1};
    return std::string(name) + " mode " + std::to_string(kModeNumbers[pair]) + " (" + section + "): " + kModes[pair] +
           ".";
}
}  // namespace

std::optional<std::uint8_t> LockBits::ReadLockByte()
{
    const FuseByteLayout* lockByte = LockByteOf(session_.FuseLayout());
    if (lockByte == nullptr) {
        return std::nullopt;
    }
    return InCommandLayout(*lockByte, ReadLayoutByte(*lockByte));
}

// True, with line logged, when the chip hides its signature or its lock
// byte has all of bits programmed.
bool LockBits::LockedAgainst(std::uint8_t bits, std::string_view line)
{
    const auto lock = ReadLockByte();
    if (session_.SignatureHidden() || (lock && Programmed(*lock, bits))) {
        log_.Append(line);
        return true;
    }
    return false;
}

bool LockBits::ReadingLocked()
{
    return LockedAgainst(kLb1 | kLb2, "The chip is locked (lock mode 3): its flash and EEPROM cannot be read until a "
                                      "Chip Erase (a Write does one).");
}

bool LockBits::WritingLocked()
{
    return LockedAgainst(
        kLb1, "The chip is locked: a Chip Erase is needed before its EEPROM can be written (a Write does one).");
}

void LockBits::NoteLockUnread()
{
    if (LockByteOf(session_.FuseLayout()) == nullptr) {
        log_.Append("The chip may be locked: its lock bits cannot be read back serially, and in lock mode 2 or 3 its "
                    "EEPROM takes no write until a Chip Erase (a Write does one).");
    }
}

CommandResult LockBits::LockCommand(std::string_view valueText)
{
    log_.Clear();
    UnusedBitsNotes.clear();
    const auto value = ParseFuseField(valueText);
    if (!value) {
        log_.Append("Error");
        return Session::Refused(Fault::InvalidValue);
    }
    return session_.RunInCommandFrame(
        [this, value] { return session_.EnterProgramming(true) && WriteLockByte(*value); });
}

bool LockBits::LockValueAllowed(std::uint8_t value)
{
    if (session_.ChipInUse() == nullptr) {
        log_.Append("Unknown chip: its lock bits are not known.");
        return false;
    }
    const std::uint8_t chipBits = LockBitsOf(LockByteOf(session_.FuseLayout()));
    if (const auto missing = static_cast<std::uint8_t>(~value & kLockValueBits & ~chipBits); missing != 0) {
        log_.Append("LOCK " + TwoHexDigits(value) + " programs " + LockBitNames(missing) +
                    ", which this chip does not have (its lock bits are " + LockBitNames(chipBits) +
                    "); nothing written.");
        return false;
    }
    if (Programmed(value, kLb2) && !Programmed(value, kLb1)) {
        log_.Append("LOCK " + TwoHexDigits(value) +
                    " programs LB2 without LB1, which is no lock mode; nothing written.");
        return false;
    }
    return true;
}

bool LockBits::WriteLockByte(std::uint8_t value)
{
    if (!LockValueAllowed(value)) {
        return false;
    }
    const ChipRecord* chip = session_.ChipInUse();
    const FuseByteLayout* lockByte = LockByteOf(session_.FuseLayout());
    const std::uint8_t chipBits = LockBitsOf(lockByte);
    // Bits the chip does not have are sent as 1, all they ever read.
    const auto sent = static_cast<std::uint8_t>(value | ~chipBits);
    if (sent != value) {
        UnusedBitsNotes.push_back(UnusedBitsNote("LOCK", value, sent));
    }
    log_.Append("Write Lock bit.");
    session_.SendInstruction(chip->lock.WriteInstruction(sent));
    if (!session_.WaitUntilReady(kLockWaitMs, chip->fuseWriteMicros, "lock write")) {
        return false;
    }
    log_.Append(LockModeText(value, *chip));
    if ((chipBits & 0x3C) != 0) {
        log_.Append(BootLockModeText("BLB0", "application section", value >> 2 & 0x03));
        log_.Append(BootLockModeText("BLB1", "boot loader section", value >> 4 & 0x03));
    }
    if (lockByte == nullptr) {
        log_.Append("This chip's lock bits cannot be read back serially.");
        return true;
    }
    const std::uint8_t read = ReadLayoutByte(*lockByte);
    if (const std::string zero = UnusedBitsReadingZero("Lock byte", *lockByte, read); !zero.empty()) {
        log_.Append(zero + ".");
        return false;
    }
    const std::uint8_t readBack = InCommandLayout(*lockByte, read);
    if (readBack != sent) {
        const bool stillProgrammed = (~readBack & sent) != 0;
        log_.Append("LOCK reads back " + TwoHexDigits(readBack) + ", not " + TwoHexDigits(sent) +
                    (stillProgrammed ? ": programmed lock bits are cleared only by a Chip Erase." : "."));
        return false;
    }
    log_.Append("LOCK reads back " + TwoHexDigits(readBack) + ".");
    return true;
}

CommandResult LockBits::ReadFusesCommand()
{
    log_.Clear();
    return session_.RunInCommandFrame([this] { return session_.EnterProgramming(true) && ReadFuseAndLockBytes(); });
}

bool LockBits::ReadFuseAndLockBytes()
{
    const auto layout = session_.FuseLayout();
    if (!layout) {
        log_.Append("Unknown chip: its fuse bytes are not known.");
        return false;
    }
    if (layout->empty()) {
        log_.Append("No fuse or lock byte of this chip can be read serially.");
    }
    for (const FuseByteLayout& byte : *layout) {
        const std::uint8_t value = ReadLayoutByte(byte);
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

std::uint8_t LockBits::ReadLayoutByte(const FuseByteLayout& byte)
{
    const auto& read = byte.readInstruction;
    return session_.QueryInstruction({read[0], read[1], read[2], 0x00});
}

}  // namespace velkor
