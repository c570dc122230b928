#include "Format.h"

#include <cctype>
#include <cstdlib>

namespace velkor {

namespace {

std::string Digits(long long value, unsigned base)
{
    const bool negative = value < 0;
    unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEF"[magnitude % base]);
        magnitude /= base;
    } while (magnitude != 0);
    if (negative) {
        digits.insert(digits.begin(), '-');
    }
    return digits;
}

}  // namespace

std::string FormatNumber(std::string_view pattern, long long value)
{
    std::string out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] != '%') {
            out += pattern[i++];
            continue;
        }
        std::size_t j = i + 1;
        std::size_t width = 0;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) {
            width = width * 10 + static_cast<std::size_t>(pattern[j] - '0');
            ++j;
        }
        const char conversion =
            j < pattern.size() ? static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[j]))) : '\0';
        if (conversion != 'd' && conversion != 'x') {
            out += pattern[i++];  // not a conversion: the percent sign stands as text
            continue;
        }
        std::string digits = Digits(value, conversion == 'd' ? 10 : 16);
        if (digits.size() < width) {
            digits.insert(0, width - digits.size(), ' ');
        }
        out += digits;
        i = j + 1;
    }
    return out;
}

std::string TwoHexDigits(std::uint8_t value)
{
    // "%2x" pads with a blank; the zero is put in by hand.
    std::string digits = FormatNumber("%2x", value);
    if (digits.front() == ' ') {
        digits.front() = '0';
    }
    return digits;
}

std::string SignatureBytesText(std::uint16_t signature, std::string_view separator)
{
    return TwoHexDigits(static_cast<std::uint8_t>(signature >> 8)) + std::string(separator) +
           TwoHexDigits(static_cast<std::uint8_t>(signature & 0xFF));
}

}  // namespace velkor
