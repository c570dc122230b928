#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velkor {

// One row of the device table.
struct DEVTYPE {
    std::uint16_t Signature;   // signature byte 1 high, byte 2 low (the maker code is not stored)
    std::uint16_t FlashSize;   // bytes
    std::uint16_t SramSize;    // bytes
    std::uint16_t EepromSize;  // bytes
    std::uint8_t Pins;         // package pin count, for the log
    std::uint8_t NoPollValue;  // data whose write cannot be confirmed by reading back
    const char* Name;
    std::uint8_t PageSize;   // flash page in bytes; 0 = written byte by byte
    std::uint8_t FuseCount;  // fuse bytes; fuses are written only when it is 2
};

inline constexpr std::size_t kDeviceRows = 16;
// The all-zero last row: ends the search and stands for an unlisted chip.
inline constexpr std::uint8_t kUnknownDeviceRow = 15;

// Generated at build time from table.json, the records of its chips.
extern const std::array<DEVTYPE, kDeviceRows> DeviceTable;

// The first byte address the chip cannot take: its flash size when it is a
// listed chip, else the end of the 16-bit flash address.
inline std::uint32_t AddressLimit(const DEVTYPE& device)
{
    constexpr std::uint32_t kAddressSpace = 65536;
    return device.Signature != 0 ? device.FlashSize : kAddressSpace;
}

}  // namespace velkor
