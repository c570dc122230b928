#include "ClockFuses.h"

#include <cstdio>

namespace velkor {

namespace {

using Kind = ClockSource::Kind;

bool Programmed(std::uint8_t value, unsigned bit)
{
    return (value >> bit & 1) == 0;
}

// The value of a named fuse bit as read (1 unprogrammed), if known.
std::optional<unsigned> BitValue(std::span<const ChipByte> fuses,
                                 const std::array<std::optional<std::uint8_t>, 3>& values, std::string_view name)
{
    const auto at = FuseBitPosition(fuses, name);
    if (!at || at->first >= values.size() || !values[at->first]) {
        return std::nullopt;
    }
    return Programmed(*values[at->first], at->second) ? 0u : 1u;
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

std::optional<std::uint32_t> SelectedClock::SlowestHz() const
{
    const bool crystal = source.kind == Kind::Crystal || source.kind == Kind::LowFrequencyCrystal;
    if (!crystal || source.crystalMinHz == 0) {
        return Hz();
    }
    return dividedBy8 ? source.crystalMinHz / 8 : source.crystalMinHz;
}

std::string SelectedClock::DescribeWithRange() const
{
    if (source.kind == Kind::Internal || source.crystalMinHz == 0) {
        return Describe();
    }
    const std::string crystal = source.kind == Kind::Crystal ? "an external crystal" : "a low-frequency crystal";
    return crystal + " of " + FrequencyText(source.crystalMinHz) + " or more" + (dividedBy8 ? " divided by 8" : "");
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

std::optional<std::pair<unsigned, unsigned>> FuseBitPosition(std::span<const ChipByte> fuses, std::string_view bitName)
{
    for (unsigned byte = 0; byte < fuses.size(); ++byte) {
        if (const auto bit = fuses[byte].BitOf(bitName)) {
            return std::pair{byte, *bit};
        }
    }
    return std::nullopt;
}

std::optional<SelectedClock> SelectClock(const ClockFuses& clock, std::span<const ChipByte> fuses,
                                         const std::array<std::optional<std::uint8_t>, 3>& values)
{
    std::size_t select = 0;
    for (const std::string& name : clock.selectBits) {
        const auto bit = BitValue(fuses, values, name);
        if (!bit) {
            return std::nullopt;
        }
        select = select << 1 | *bit;
    }
    SelectedClock selected{.source = clock.sources.at(select)};
    if (!clock.divideBy8Bit.empty()) {
        const auto divider = BitValue(fuses, values, clock.divideBy8Bit);
        if (!divider) {
            return std::nullopt;
        }
        selected.dividedBy8 = *divider == 0;
    }
    return selected;
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
