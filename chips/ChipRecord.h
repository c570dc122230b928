#pragma once

// One chip as the programs know it: its device-table row and everything the
// engine and the simulated chip need beyond it. The table's chips
// (table.json), the catalogue's (chips.json) and a user's chip file are
// records of this one kind, read by one reader (ChipCatalogue).

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ClockFuses.h"
#include "DeviceTable.h"
#include "FuseLayouts.h"

namespace velkor {

// How a chip writes its EEPROM over serial programming.
struct EepromRules {
    std::uint16_t eepromPageBytes = 0;    // 0: written byte by byte (C0); else C1 loads, C2 writes the page
    std::uint32_t eepromWriteMicros = 0;  // one byte, or one page, at 5 V
    // What a read of the EEPROM byte being written answers: the first value
    // during the write's own erase (its first half), the second after it.
    // Data equal to either cannot be confirmed by reading: the write is
    // waited out.
    std::uint8_t eepromPollFirst = 0xFF;
    std::uint8_t eepromPollSecond = 0xFF;
    bool rdyBsyPoll = false;  // F0 00 00 oo, bit 0 set while busy
};

// How short an SCK phase the chip still sees: each phase must last more
// than this many of its clock cycles, one more from 12 MHz up where the
// rule says so.
struct SckRule {
    unsigned lowCycles = 2;
    unsigned highCycles = 2;
    bool plusOneFrom12MHz = true;
};

// Not copyable: the row's name and the bytes' bit names point into the
// record's own strings.
struct ChipRecord {
    ChipRecord() = default;
    ChipRecord(const ChipRecord&) = delete;
    ChipRecord& operator=(const ChipRecord&) = delete;

    std::string name;
    std::vector<std::string> otherNames;  // chips that read the same signature, or other spellings of the name
    DEVTYPE row{};                        // row.Name is name
    std::array<std::uint8_t, 3> signature{};
    std::uint16_t eepromPageBytes = 0;  // 0: EEPROM written byte by byte
    std::vector<ChipByte> fuses;        // low, high, extended: as many as the chip has
    ChipByte lock;                      // LB1 bit 0, LB2 bit 1, the boot lock bits above where it has them
    // The bytes serial programming reads, in order: what read-fuses shows.
    std::vector<FuseByteLayout> layout;
    bool flashPollable = true;  // false: a flash write cannot be polled, only waited out
    std::array<std::uint8_t, 2> eepromPollValues{0xFF, 0xFF};
    bool rdyBsyPoll = false;             // answers F0 00 xx oo
    std::uint32_t flashWriteMicros = 0;  // a page, or a byte on a chip without pages
    std::uint32_t eepromWriteMicros = 0;
    std::uint32_t chipEraseMicros = 0;
    std::uint32_t fuseWriteMicros = 0;     // a lock write too
    std::uint32_t clockHz = 0;             // the factory clock
    std::optional<ClockFuses> clockFuses;  // how the fuses choose the clock; nothing: a fixed clock
    SckRule sck;
    // The lock mode (2 or 3) from which the fuses cannot be written either;
    // nothing: no lock mode stops them.
    std::optional<unsigned> fusesFrozenFromLockMode = 2;
    // In lock mode 3 the chip answers a signature read with the address
    // byte of the instruction (00 01 02), as the AT90S parts do.
    bool hidesSignatureWhenLocked = false;
    std::string note;
    std::deque<std::string> bitNames;  // the texts the bytes' bits and the reads' names point to

    // The position of a fuse bit by name, if the chip has it: fuse byte
    // (0 low, 1 high, 2 extended) and bit.
    std::optional<std::pair<unsigned, unsigned>> FuseBitPosition(std::string_view bitName) const;
    // The fuse byte's bits a write can change: nothing for a byte the chip lacks.
    std::uint8_t WritableBits(unsigned fuseByte) const;
    std::uint8_t LockWritableBits() const;
    // Whether the fuses stay as they are in this lock mode (1 to 3).
    bool FusesFrozenIn(unsigned lockMode) const;
    EepromRules Eeprom() const;
    // The read that answers instruction (50 or 58 first), if one does.
    const FuseByteLayout* ReadAnswering(const Instruction& instruction) const;
    // The signature's name or one of its other names, any case.
    bool Answers(std::string_view chipName) const;
};

}  // namespace velkor
