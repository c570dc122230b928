#pragma once

// How each listed chip writes its EEPROM and its lock bits over serial
// programming: the one place these facts live, read by the engine and by the
// simulated chips alike.

#include <cstdint>
#include <optional>

#include "ChipCatalogue.h"

namespace velkor {

struct EepromLockRules {
    std::uint16_t eepromPageBytes = 0;    // 0: written byte by byte (C0); else C1 loads, C2 writes the page
    std::uint32_t eepromWriteMicros = 0;  // one byte, or one page, at 5 V
    // What a read of the EEPROM byte being written answers: the first value
    // during the write's own erase (its first half), the second after it.
    // Data equal to either cannot be confirmed by reading: the write is
    // waited out.
    std::uint8_t eepromPollFirst = 0xFF;
    std::uint8_t eepromPollSecond = 0xFF;
    bool rdyBsyPoll = false;  // F0 00 00 oo, bit 0 set while busy
    // AT90S: the lock bits go in byte 2 of AC 1111 1 LB2 LB1 1; the others
    // take AC E0 00 data, the lock byte in byte 4.
    bool lockBitsInByteTwo = false;
};

// The rules of a device-table chip (signature bytes 1 and 2); nothing for a
// signature the table does not have.
std::optional<EepromLockRules> EepromLockRulesOf(std::uint16_t tableSignature);
// The rules of a chip of a chip list, from its own data.
EepromLockRules EepromLockRulesOf(const CatalogueChip& chip);

}  // namespace velkor
