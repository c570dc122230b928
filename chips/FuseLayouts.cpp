#include "FuseLayouts.h"

#include <algorithm>

namespace velkor {

namespace {

constexpr std::array<std::uint8_t, 3> kRead50{0x50, 0x00, 0x00};
constexpr std::array<std::uint8_t, 3> kRead58{0x58, 0x00, 0x00};
constexpr std::array<std::uint8_t, 3> kReadFuseHigh{0x58, 0x08, 0x00};
constexpr std::array<std::uint8_t, 3> kReadFuseExtended{0x50, 0x08, 0x00};

// AT90S2323/2343/4434/8535 read lock bits, SPIEN and their one fuse bit in one byte.
constexpr std::array<FuseByteLayout, 1> kLockAndFstrt{
    {{"Lock/fuse", kRead58, {"LB1", "LB2", "SPIEN", nullptr, nullptr, nullptr, nullptr, "FSTRT"}}}};
constexpr std::array<FuseByteLayout, 1> kLockAndRcen{
    {{"Lock/fuse", kRead58, {"LB1", "LB2", "SPIEN", nullptr, nullptr, nullptr, nullptr, "RCEN"}}}};

// AT90S2333/4433.
constexpr std::array<FuseByteLayout, 2> kSeparateFuseByte{{
    {"Fuse", kRead50, {nullptr, nullptr, "SPIEN", "BODLEVEL", "BODEN", "CKSEL2", "CKSEL1", "CKSEL0"}},
    {"Lock", kRead58, {nullptr, nullptr, nullptr, nullptr, nullptr, "LB2", "LB1", nullptr}},
}};

constexpr std::array<FuseByteLayout, 3> kATtiny26{{
    {"Fuse low", kRead50, {"PLLCK", "CKOPT", "SUT1", "SUT0", "CKSEL3", "CKSEL2", "CKSEL1", "CKSEL0"}},
    {"Fuse high", kReadFuseHigh, {nullptr, nullptr, nullptr, "RSTDISBL", "SPIEN", "EESAVE", "BODLEVEL", "BODEN"}},
    {"Lock", kRead58, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "LB2", "LB1"}},
}};

constexpr std::array<const char*, 8> kBootLockBits{nullptr, nullptr, "BLB12", "BLB11", "BLB02", "BLB01", "LB2", "LB1"};

constexpr std::array<FuseByteLayout, 3> kATmega8{{
    {"Fuse low", kRead50, {"BODLEVEL", "BODEN", "SUT1", "SUT0", "CKSEL3", "CKSEL2", "CKSEL1", "CKSEL0"}},
    {"Fuse high", kReadFuseHigh, {"RSTDISBL", "WDTON", "SPIEN", "CKOPT", "EESAVE", "BOOTSZ1", "BOOTSZ0", "BOOTRST"}},
    {"Lock", kRead58, kBootLockBits},
}};

constexpr FuseByteLayout kATmega48LowFuse{
    "Fuse low", kRead50, {"CKDIV8", "CKOUT", "SUT1", "SUT0", "CKSEL3", "CKSEL2", "CKSEL1", "CKSEL0"}};
constexpr FuseByteLayout kATmega48HighFuse{
    "Fuse high",
    kReadFuseHigh,
    {"RSTDISBL", "DWEN", "SPIEN", "WDTON", "EESAVE", "BODLEVEL2", "BODLEVEL1", "BODLEVEL0"}};

constexpr std::array<FuseByteLayout, 4> kATmega48{{
    kATmega48LowFuse,
    kATmega48HighFuse,
    {"Fuse ext", kReadFuseExtended, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "SELFPRGEN"}},
    {"Lock", kRead58, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "LB2", "LB1"}},
}};

// ATmega88 and ATmega168.
constexpr std::array<FuseByteLayout, 4> kATmega88{{
    kATmega48LowFuse,
    kATmega48HighFuse,
    {"Fuse ext", kReadFuseExtended, {nullptr, nullptr, nullptr, nullptr, nullptr, "BOOTSZ1", "BOOTSZ0", "BOOTRST"}},
    {"Lock", kRead58, kBootLockBits},
}};

struct ChipLayout {
    std::uint16_t signature;
    std::span<const FuseByteLayout> bytes;
};

// The AT90S1200/2313/4414/8515 have fuses, but only parallel programming
// reaches them, and their lock bits can be written, not read.
const std::array<ChipLayout, 15> kChipLayouts{{
    {0x9001, {}},
    {0x9101, {}},
    {0x9102, kLockAndFstrt},
    {0x9103, kLockAndRcen},
    {0x9105, kSeparateFuseByte},
    {0x9109, kATtiny26},
    {0x9201, {}},
    {0x9202, kLockAndFstrt},
    {0x9203, kSeparateFuseByte},
    {0x9301, {}},
    {0x9303, kLockAndFstrt},
    {0x9307, kATmega8},
    {0x9205, kATmega48},
    {0x930A, kATmega88},
    {0x9406, kATmega88},
}};

}  // namespace

std::optional<std::span<const FuseByteLayout>> FuseLayoutOf(std::uint16_t signature)
{
    const auto chip = std::find_if(kChipLayouts.begin(), kChipLayouts.end(),
                                   [signature](const ChipLayout& c) { return c.signature == signature; });
    if (chip == kChipLayouts.end()) {
        return std::nullopt;
    }
    return chip->bytes;
}

const FuseByteLayout* FindFuseByte(const std::optional<std::span<const FuseByteLayout>>& bytes, std::string_view name)
{
    if (!bytes) {
        return nullptr;
    }
    const auto byte =
        std::find_if(bytes->begin(), bytes->end(), [name](const FuseByteLayout& b) { return name == b.name; });
    return byte == bytes->end() ? nullptr : &*byte;
}

std::vector<std::string_view> ProgrammedBits(const FuseByteLayout& layout, std::uint8_t value)
{
    std::vector<std::string_view> names;
    for (unsigned i = 0; i < 8; ++i) {
        const bool programmed = (value & (0x80u >> i)) == 0;
        if (programmed && layout.bits[i] != nullptr) {
            names.emplace_back(layout.bits[i]);
        }
    }
    return names;
}

}  // namespace velkor
