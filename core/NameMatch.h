#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace velkor {

// Chip names are matched without regard to case ("atmega8" is the ATmega8).
inline bool SameNameIgnoringCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace velkor
