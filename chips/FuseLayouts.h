#pragma once

// The fuse and lock bytes each listed chip lets serial programming read,
// with the names of their bits, as the chips' data sheets give them.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velkor {

struct FuseByteLayout {
    const char* name;                             // "Fuse low", "Fuse high", "Fuse ext", "Lock", ...
    std::array<std::uint8_t, 3> readInstruction;  // the fourth byte is the one read
    std::array<const char*, 8> bits;              // bit 7 first; nullptr for an unused bit
};

// The readable bytes of the chip with this signature (bytes 1 and 2): empty
// for a listed chip that has none, nothing for a chip not listed.
std::optional<std::span<const FuseByteLayout>> FuseLayoutOf(std::uint16_t signature);

// The byte called name among a chip's bytes, if it has one.
const FuseByteLayout* FindFuseByte(const std::optional<std::span<const FuseByteLayout>>& bytes, std::string_view name);

// The names of the bits that value programs (0 = programmed), bit 7 first;
// unused bits are left out.
std::vector<std::string_view> ProgrammedBits(const FuseByteLayout& layout, std::uint8_t value);

}  // namespace velkor
