#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velkor::fuzz {

// Reads the bytes as an ELF file and checks what the reader must hold for any
// input: a refusal comes with its log line; memories come only within their
// spaces (flash below 8 MiB, the others below 64 KiB), never more bytes than
// the file has, and laid out as Intel HEX they read back whole and sound.
// Returns what was violated, or nothing.
std::string CheckElfReader(std::span<const std::uint8_t> bytes);

}  // namespace velkor::fuzz
