#include "EepromLockRules.h"

#include <algorithm>
#include <array>

namespace velkor {

namespace {

// AT90S: a byte takes 4 ms at 5 V. The EEPROM answers P1 then P2 while busy:
// 0x80/0x7F on the 2313/4414/8515, 0x00/0xFF on the others.
constexpr std::uint32_t kAt90sEepromWrite = 4000;
constexpr EepromLockRules kAt90s8x7F{0, kAt90sEepromWrite, 0x80, 0x7F, false, true};
constexpr EepromLockRules kAt90s00FF{0, kAt90sEepromWrite, 0x00, 0xFF, false, true};
// ATtiny26 and ATmega8: byte writes of 9 ms, read as 0xFF until done, no F0.
constexpr EepromLockRules kByteWrites9ms{0, 9000, 0xFF, 0xFF, false, false};
// ATmega48/88/168: 3.6 ms, F0 busy poll, 4-byte EEPROM pages.
constexpr EepromLockRules kMega48Family{4, 3600, 0xFF, 0xFF, true, false};

struct TableChipRules {
    std::uint16_t signature;
    EepromLockRules rules;
};

constexpr std::array<TableChipRules, 15> kTableChips{{
    {0x9001, kAt90s00FF},      // AT90S1200
    {0x9101, kAt90s8x7F},      // AT90S2313
    {0x9102, kAt90s00FF},      // AT90S2323
    {0x9103, kAt90s00FF},      // AT90S2343
    {0x9105, kAt90s00FF},      // AT90S2333
    {0x9109, kByteWrites9ms},  // ATtiny26
    {0x9201, kAt90s8x7F},      // AT90S4414
    {0x9202, kAt90s00FF},      // AT90S4434
    {0x9203, kAt90s00FF},      // AT90S4433
    {0x9301, kAt90s8x7F},      // AT90S8515
    {0x9303, kAt90s00FF},      // AT90S8535
    {0x9307, kByteWrites9ms},  // ATmega8
    {0x9205, kMega48Family},   // ATmega48
    {0x930A, kMega48Family},   // ATmega88
    {0x9406, kMega48Family},   // ATmega168
}};

}  // namespace

std::optional<EepromLockRules> EepromLockRulesOf(std::uint16_t tableSignature)
{
    const auto chip = std::find_if(kTableChips.begin(), kTableChips.end(),
                                   [tableSignature](const TableChipRules& c) { return c.signature == tableSignature; });
    if (chip == kTableChips.end()) {
        return std::nullopt;
    }
    return chip->rules;
}

// Every catalogue chip is of the ATmega/ATtiny generation: lock byte in byte
// 4, and an EEPROM byte being written reads 0xFF until it is done.
EepromLockRules EepromLockRulesOf(const CatalogueChip& chip)
{
    return EepromLockRules{.eepromPageBytes = chip.eepromPageBytes,
                           .eepromWriteMicros = chip.eepromWriteMicros,
                           .eepromPollFirst = 0xFF,
                           .eepromPollSecond = 0xFF,
                           .rdyBsyPoll = chip.rdyBsyPoll,
                           .lockBitsInByteTwo = false};
}

}  // namespace velkor
