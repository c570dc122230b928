#pragma once

// Reading the ELF files avr-gcc makes: each memory's bytes by their load
// addresses, as avr-objcopy would extract them. Nothing here touches the chip.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "HexFile.h"

namespace velkor {

// What one ELF file holds for each memory of an AVR. Flash and EEPROM are
// given as segments at addresses within the memory (0 is its first byte);
// the fuse bytes (low, high, extended in that order), the lock byte and the
// signature (byte 2, byte 1, byte 0, as <avr/signature.h> lays it out) as
// the bytes the file gives from the start of their space.
struct ElfMemories {
    std::vector<HexSegment> flash;
    std::vector<HexSegment> eeprom;
    std::vector<std::uint8_t> fuses;
    std::vector<std::uint8_t> lock;
    std::vector<std::uint8_t> signature;
};

// The memories, or the log line that says why the file cannot be used.
struct ElfReading {
    std::optional<ElfMemories> memories;
    std::string fault;
};

// Whether bytes start as every ELF file does.
bool IsElfFile(std::span<const std::uint8_t> bytes);

// Reads an AVR ELF file held whole in memory: every section that takes
// space in the file and is loaded (.text, .data, .eeprom, .fuse, .lock,
// .signature and the rest), placed at its load address. A file cut short, one
// for another machine, or one whose sections overlap their memory's end
// gives a fault and no memories.
ElfReading ReadElfFile(std::span<const std::uint8_t> bytes);

// Whether this build reads ELF files at all (it does wherever libelf was found).
bool ElfFilesSupported();

}  // namespace velkor
