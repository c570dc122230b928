#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velkor::fuzz {

// Reads the bytes as a cable file and checks what must hold for any input:
// it is refused with a CableFileError, or every cable it gives keeps the
// port's rules (MISO on a status pin, every other pin an output, no pin
// twice, a name not known already) and the chip sees through it what it
// drives. Returns what was violated, or nothing.
std::string CheckCableFile(std::span<const std::uint8_t> bytes);

}  // namespace velkor::fuzz
