#include "Numbers.h"

namespace velkor {

std::optional<std::uint8_t> HexDigit(char character)
{
    if (character >= '0' && character <= '9') {
        return static_cast<std::uint8_t>(character - '0');
    }
    if (character >= 'A' && character <= 'F') {
        return static_cast<std::uint8_t>(character - 'A' + 10);
    }
    if (character >= 'a' && character <= 'f') {
        return static_cast<std::uint8_t>(character - 'a' + 10);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> ParseDigits(std::string_view text, unsigned base, std::uint64_t max)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char character : text) {
        const std::optional<std::uint8_t> digit = HexDigit(character);
        // value * base + digit must stay at most max.
        if (!digit || *digit >= base || *digit > max || value > (max - *digit) / base) {
            return std::nullopt;
        }
        value = value * base + *digit;
    }
    return value;
}

std::optional<std::uint8_t> ParseHexByte(std::string_view text)
{
    const std::optional<std::uint64_t> byte = text.size() == 2 ? ParseDigits(text, 16, 0xFF) : std::nullopt;
    if (!byte) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*byte);
}

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max)
{
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    const std::optional<std::uint64_t> value = hex ? ParseDigits(text.substr(2), 16, max) : ParseDigits(text, 10, max);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

}  // namespace velkor
