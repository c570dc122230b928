#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velkor {

// Numbers as the programs read them, from the user and from their own files.
// Only digits count: no sign, blank or other character, before or after.

// The value of a hexadecimal digit of either case; nothing for any other character.
std::optional<std::uint8_t> HexDigit(char character);

// The whole of text as digits in base 10 or 16 (hex digits of either case),
// no greater than max; nothing for an empty text or any other.
std::optional<std::uint64_t> ParseDigits(std::string_view text, unsigned base, std::uint64_t max);

// A byte as exactly two hexadecimal digits ("0C", "ab"), as files hold them.
std::optional<std::uint8_t> ParseHexByte(std::string_view text);

// A number as the user types it: decimal digits, or hexadecimal digits after
// 0x or 0X; no greater than max.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max);

}  // namespace velkor
