#include "ChipRecord.h"

#include <algorithm>

#include "NameMatch.h"

namespace velkor {

std::optional<std::pair<unsigned, unsigned>> ChipRecord::FuseBitPosition(std::string_view bitName) const
{
    return velkor::FuseBitPosition(fuses, bitName);
}

std::uint8_t ChipRecord::WritableBits(unsigned fuseByte) const
{
    return fuseByte < fuses.size() ? fuses[fuseByte].WritableBits() : 0;
}

std::uint8_t ChipRecord::LockWritableBits() const
{
    return lock.WritableBits();
}

bool ChipRecord::FusesFrozenIn(unsigned lockMode) const
{
    return fusesFrozenFromLockMode && lockMode >= *fusesFrozenFromLockMode;
}

EepromRules ChipRecord::Eeprom() const
{
    return EepromRules{.eepromPageBytes = eepromPageBytes,
                       .eepromWriteMicros = eepromWriteMicros,
                       .eepromPollFirst = eepromPollValues[0],
                       .eepromPollSecond = eepromPollValues[1],
                       .rdyBsyPoll = rdyBsyPoll};
}

// A chip tells its reads apart by the opcode (50, 58) and, where a read has
// a byte 2 of its own, by bit 3 of byte 2 (58 08 the high fuse, 58 00 the
// lock byte); the AT90S parts take any byte 2.
const FuseByteLayout* ChipRecord::ReadAnswering(const Instruction& instruction) const
{
    constexpr std::uint8_t kSelector = 0x08;
    const bool byteTwoCounts =
        std::ranges::any_of(layout, [](const FuseByteLayout& read) { return read.readInstruction[1] != 0; });
    const auto found = std::ranges::find_if(layout, [&](const FuseByteLayout& read) {
        return read.readInstruction[0] == instruction[0] &&
               (!byteTwoCounts || ((read.readInstruction[1] ^ instruction[1]) & kSelector) == 0);
    });
    return found == layout.end() ? nullptr : &*found;
}

bool ChipRecord::Answers(std::string_view chipName) const
{
    return SameNameIgnoringCase(name, chipName) ||
           std::ranges::any_of(otherNames,
                               [chipName](const std::string& other) { return SameNameIgnoringCase(other, chipName); });
}

}  // namespace velkor
