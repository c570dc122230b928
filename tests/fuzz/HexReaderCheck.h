#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velkor::fuzz {

// Reads the bytes as a HEX file to the end and checks what the reader must
// hold for any input: the reading ends, every data record has 1 to 255 bytes
// on a later line than the one before, the entry that ends the reading stays,
// and an error comes with its log line. Returns what was violated, or nothing.
std::string CheckHexReader(std::span<const std::uint8_t> bytes);

}  // namespace velkor::fuzz
