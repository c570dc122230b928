#include "ClockFuses.h"

#include <cstdio>

namespace velkor {

namespace {

using Kind = ClockSource::Kind;

constexpr ClockSource Internal(std::uint32_t hz)
{
    return {Kind::Internal, hz};
}
constexpr ClockSource kExternalClock{Kind::ExternalClock, 0};
constexpr ClockSource kCrystal{Kind::Crystal, 0};
constexpr ClockSource kLowFrequencyCrystal{Kind::LowFrequencyCrystal, 0};
constexpr ClockSource kExternalRc{Kind::ExternalRc, 0};
constexpr ClockSource kReserved{Kind::Reserved, 0};

const std::vector<std::string> kCksel3To0{"CKSEL3", "CKSEL2", "CKSEL1", "CKSEL0"};

// ATmega8 and ATtiny26: CKSEL 0001..0100 the calibrated RC at 1, 2, 4, 8 MHz.
// (The ATtiny26's PLL, PLLCK with CKSEL 0001, only makes the chip faster.)
const ClockFuses kATmega8Clock{
    kCksel3To0,
    "",
    {kExternalClock, Internal(1'000'000), Internal(2'000'000), Internal(4'000'000), Internal(8'000'000), kExternalRc,
     kExternalRc, kExternalRc, kExternalRc, kLowFrequencyCrystal, kCrystal, kCrystal, kCrystal, kCrystal, kCrystal,
     kCrystal},
};

// ATmega48/88/168: the 8 MHz RC, the 128 kHz oscillator, and CKDIV8.
const ClockFuses kATmega48Clock{
    kCksel3To0,
    "CKDIV8",
    {kExternalClock, kReserved, Internal(8'000'000), Internal(128'000), kLowFrequencyCrystal, kLowFrequencyCrystal,
     kCrystal, kCrystal, kCrystal, kCrystal, kCrystal, kCrystal, kCrystal, kCrystal, kCrystal, kCrystal},
};

bool Programmed(std::uint8_t value, unsigned bit)
{
    return (value >> bit & 1) == 0;
}

// The value of a named fuse bit as read (1 unprogrammed), if known.
std::optional<unsigned> BitValue(std::span<const FuseByteLayout> layout,
                                 const std::array<std::optional<std::uint8_t>, 3>& fuses, std::string_view name)
{
    const auto at = FuseBitPosition(layout, name);
    if (!at || at->first >= fuses.size() || !fuses[at->first]) {
        return std::nullopt;
    }
    return Programmed(*fuses[at->first], at->second) ? 0u : 1u;
}

std::string WithArticle(const char* text)
{
    return std::string(text[0] == 'a' || text[0] == 'e' ? "an " : "a ") + text;
}

}  // namespace

std::optional<std::uint32_t> SelectedClock::Hz() const
{
    if (source.kind != Kind::Internal) {
        return std::nullopt;
    }
    return dividedBy8 ? source.hz / 8 : source.hz;
}

std::string SelectedClock::Describe() const
{
    const std::string divided = dividedBy8 ? " divided by 8" : "";
    switch (source.kind) {
    case Kind::Internal:
        return "the internal " + FrequencyText(source.hz) + " oscillator" + divided + " (" + FrequencyText(*Hz()) + ")";
    case Kind::ExternalClock:
        return WithArticle("external clock") + divided;
    case Kind::Crystal:
        return WithArticle("external crystal") + divided;
    case Kind::LowFrequencyCrystal:
        return WithArticle("low-frequency crystal") + divided;
    case Kind::ExternalRc:
        return WithArticle("external RC oscillator") + divided;
    case Kind::Reserved:
        break;
    }
    return "a reserved clock setting, which the data sheet leaves undefined";
}

std::optional<std::pair<unsigned, unsigned>> FuseBitPosition(std::span<const FuseByteLayout> layout,
                                                             std::string_view bitName)
{
    for (unsigned byte = 0; byte < layout.size() && std::string_view(layout[byte].name) != "Lock"; ++byte) {
        for (unsigned i = 0; i < 8; ++i) {
            if (layout[byte].bits[i] != nullptr && layout[byte].bits[i] == bitName) {
                return std::pair{byte, 7 - i};
            }
        }
    }
    return std::nullopt;
}

std::optional<SelectedClock> SelectClock(const ClockFuses& clock, std::span<const FuseByteLayout> layout,
                                         const std::array<std::optional<std::uint8_t>, 3>& fuses)
{
    std::size_t select = 0;
    for (const std::string& name : clock.selectBits) {
        const auto bit = BitValue(layout, fuses, name);
        if (!bit) {
            return std::nullopt;
        }
        select = select << 1 | *bit;
    }
    SelectedClock selected{.source = clock.sources.at(select)};
    if (!clock.divideBy8Bit.empty()) {
        const auto divider = BitValue(layout, fuses, clock.divideBy8Bit);
        if (!divider) {
            return std::nullopt;
        }
        selected.dividedBy8 = *divider == 0;
    }
    return selected;
}

const ClockFuses* TableClockFuses(std::uint16_t signature)
{
    switch (signature) {
    case 0x9109:  // ATtiny26
    case 0x9307:  // ATmega8
        return &kATmega8Clock;
    case 0x9205:  // ATmega48
    case 0x930A:  // ATmega88
    case 0x9406:  // ATmega168
        return &kATmega48Clock;
    default:
        return nullptr;
    }
}

std::string FrequencyText(std::uint32_t hz)
{
    char text[32];
    if (hz >= 1'000'000) {
        std::snprintf(text, sizeof text, "%g MHz", hz / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%g kHz", hz / 1e3);
    }
    return text;
}

}  // namespace velkor
