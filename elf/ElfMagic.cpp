#include <algorithm>
#include <array>

#include "ElfFile.h"

namespace velkor {

bool IsElfFile(std::span<const std::uint8_t> bytes)
{
    constexpr std::array<std::uint8_t, 4> kMagic{0x7F, 'E', 'L', 'F'};
    return bytes.size() >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes.begin());
}

}  // namespace velkor
