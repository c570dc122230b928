#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velkor {

// The program's own number formatting, which is not printf. The pattern holds
// one conversion "%[width]d" (decimal) or "%[width]x" (hexadecimal, letter in
// either case); digits are always upper case, and the width pads with blanks
// on the left. A leading 0 in the width is just part of the number: "%02X" of
// 5 gives " 5", never "05". Text around the conversion is copied as it is.
std::string FormatNumber(std::string_view pattern, long long value);

// A byte as exactly two upper-case hexadecimal digits ("0C", "AB").
std::string TwoHexDigits(std::uint8_t value);

// A chip's two signature bytes after the maker code, as two-digit pairs
// joined by separator ("95 0F", "950F").
std::string SignatureBytesText(std::uint16_t signature, std::string_view separator);

}  // namespace velkor
