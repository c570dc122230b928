// The lock byte: writing it with each chip's instruction, reading it back in
// each chip's own bit layout, and what a locked chip keeps from the
// programmer. Values are given as the ATmega parts read them: bit 0 LB1,
// bit 1 LB2, bits 2 to 5 BLB01, BLB02, BLB11, BLB12; 0 = programmed.
#include <algorithm>
#include <array>
#include <string>

#include "Format.h"
#include "FuseLayouts.h"
#include "Programmer.h"
#include "ProgrammerWaits.h"

namespace velkor {

namespace {
constexpr std::array<const char*, 6> kLockBitNames{"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12"};
constexpr std::uint8_t kLb1 = 0x01;
constexpr std::uint8_t kLb2 = 0x02;

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

std::optional<std::uint8_t> Programmer::ReadLockByte()
{
    const FuseByteLayout* lockByte = LockByteOf(FuseLayout());
    if (lockByte == nullptr) {
        return std::nullopt;
    }
    const auto& read = lockByte->readInstruction;
    return InCommandLayout(*lockByte, QueryInstruction({read[0], read[1], read[2], 0x00}));
}

// True, with line logged, when the chip hides its signature or its lock
// byte has all of bits programmed.
bool Programmer::LockedAgainst(std::uint8_t bits, std::string_view line)
{
    const auto lock = ReadLockByte();
    if (SignatureHidden() || (lock && Programmed(*lock, bits))) {
        log_.Append(line);
        return true;
    }
    return false;
}

bool Programmer::ReadingLocked()
{
    return LockedAgainst(kLb1 | kLb2, "The chip is locked (lock mode 3): its flash and EEPROM cannot be read until a "
                                      "Chip Erase (a Write does one).");
}

bool Programmer::WritingLocked()
{
    return LockedAgainst(
        kLb1, "The chip is locked: a Chip Erase is needed before its EEPROM can be written (a Write does one).");
}

bool Programmer::LockCommand(std::string_view valueText)
{
    log_.Clear();
    const auto value = ParseFuseField(valueText);
    if (!value) {
        log_.Append("Error");
        return false;
    }
    return RunInCommandFrame([this, value] { return EnterProgramming(true) && WriteLockByte(*value); });
}

bool Programmer::WriteLockByte(std::uint8_t value)
{
    const ChipRecord* chip = ChipInUse();
    if (chip == nullptr) {
        log_.Append("Unknown chip: its lock bits are not known.");
        return false;
    }
    const FuseByteLayout* lockByte = LockByteOf(FuseLayout());
    const std::uint8_t chipBits = LockBitsOf(lockByte);
    if (static_cast<std::uint8_t>(~value & ~chipBits) != 0) {
        log_.Append("LOCK " + TwoHexDigits(value) + " programs bits this chip does not have (its lock bits are " +
                    TwoHexDigits(chipBits) + "); nothing written.");
        return false;
    }
    if (Programmed(value, kLb2) && !Programmed(value, kLb1)) {
        log_.Append("LOCK " + TwoHexDigits(value) +
                    " programs LB2 without LB1, which is no lock mode; nothing written.");
        return false;
    }
    log_.Append("Write Lock bit.");
    SendInstruction(chip->lock.WriteInstruction(static_cast<std::uint8_t>(value | ~chipBits)));
    Wait(kLockWaitMs);
    log_.Append(LockModeText(value, *chip));
    if ((chipBits & 0x3C) != 0) {
        log_.Append(BootLockModeText("BLB0", "application section", value >> 2 & 0x03));
        log_.Append(BootLockModeText("BLB1", "boot loader section", value >> 4 & 0x03));
    }
    if (lockByte == nullptr) {
        log_.Append("This chip's lock bits cannot be read back serially.");
        return true;
    }
    const auto readBack = ReadLockByte();
    const auto expected = static_cast<std::uint8_t>(value | ~chipBits);
    if (*readBack != expected) {
        const bool stillProgrammed = (~*readBack & expected) != 0;
        log_.Append("LOCK reads back " + TwoHexDigits(*readBack) + ", not " + TwoHexDigits(expected) +
                    (stillProgrammed ? ": programmed lock bits are cleared only by a Chip Erase." : "."));
        return false;
    }
    log_.Append("LOCK reads back " + TwoHexDigits(*readBack) + ".");
    return true;
}

}  // namespace velkor
