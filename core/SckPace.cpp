#include "SckPace.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace velkor {

namespace {

// k and M scale; a frequency in Hz has no suffix.
double Multiplier(char suffix)
{
    switch (suffix) {
    case 'k':
    case 'K':
        return 1e3;
    case 'M':
        return 1e6;
    default:
        return 0;
    }
}

}  // namespace

std::optional<std::uint32_t> ParseChipClock(std::string_view text)
{
    double multiplier = 1;
    if (!text.empty() && !std::isdigit(static_cast<unsigned char>(text.back()))) {
        multiplier = Multiplier(text.back());
        text.remove_suffix(1);
    }
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (multiplier == 0 || text.empty() || error != std::errc{} || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    const double hz = std::round(value * multiplier);
    if (hz < kMinChipClockHz || hz > kMaxChipClockHz) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(hz);
}

std::string ChipClockError(std::string_view option, std::string_view text)
{
    return std::string(option) + ": '" + std::string(text) +
           "' is not a clock from 16k to 20M (write it as 16k, 128k, 1M, 8M, 20M or in Hz)";
}

std::string ChipClockText(std::uint32_t hz)
{
    char text[32];
    if (hz >= 1'000'000) {
        std::snprintf(text, sizeof text, "%gM", hz / 1e6);
    } else if (hz % 1000 == 0) {
        std::snprintf(text, sizeof text, "%uk", static_cast<unsigned>(hz / 1000));
    } else {
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(hz));
    }
    return text;
}

std::chrono::nanoseconds SckPhaseFor(std::uint32_t chipClockHz)
{
    return SckPhaseFor(chipClockHz, 2, true);
}

std::chrono::nanoseconds SckPhaseFor(std::uint32_t chipClockHz, unsigned cycles, bool extraCycleFrom12MHz)
{
    const std::uint64_t needed = cycles + (extraCycleFrom12MHz && chipClockHz >= kThreeCycleClockHz ? 1 : 0);
    // needed cycles at 80 % of the clock, in ns: needed * 1e9 / (0.8 * Hz);
    // one nanosecond more makes the phase last MORE than that.
    return std::chrono::nanoseconds(needed * 1'250'000'000 / chipClockHz + 1);
}

}  // namespace velkor
