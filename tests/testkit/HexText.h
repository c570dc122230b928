#pragma once

// Intel HEX text for tests, built independently of the reader under test.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::testing {

// One record without a line end: start code, count, address, type, data and
// the checksum that makes all bytes add up to 0.
inline std::string HexRecordText(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                                    static_cast<std::uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    std::string text = ":";
    for (const std::uint8_t b : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    return text;
}

inline std::string DataRecord(std::uint16_t address, std::span<const std::uint8_t> data)
{
    return HexRecordText(0x00, address, data);
}

inline std::string EndOfFileRecord()
{
    return HexRecordText(0x01, 0, {});
}

// Extended linear (type 04) or segment (type 02) address record.
inline std::string AddressRecord(std::uint8_t type, std::uint16_t value)
{
    const std::uint8_t data[2] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
    return HexRecordText(type, 0, data);
}

inline std::string Lowercase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Every line followed by lineEnd.
inline std::string JoinLines(const std::vector<std::string>& lines, std::string_view lineEnd)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += lineEnd;
    }
    return text;
}

}  // namespace velkor::testing
