#pragma once

// How a chip's fuses choose its clock: the clock-select bits (CKSEL) pick a
// source, and a programmed CKDIV8 divides it by 8. A chip fact, read by the
// fuse command (to say which pace the new values need) and by the simulated
// chip (to run at that clock).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FuseLayouts.h"

namespace velkor {

// What one value of the clock-select bits picks.
struct ClockSource {
    enum class Kind { Internal, ExternalClock, Crystal, LowFrequencyCrystal, ExternalRc, Reserved };
    Kind kind = Kind::Reserved;
    std::uint32_t hz = 0;  // Internal: the oscillator's frequency; else 0
    // A crystal: the lowest frequency the setting is meant for; 0 where the
    // record does not say, so only the user knows.
    std::uint32_t crystalMinHz = 0;
};

struct ClockFuses {
    std::vector<std::string> selectBits;  // fuse bit names, most significant first
    std::string divideBy8Bit;             // "CKDIV8"; empty on chips without one
    std::vector<ClockSource> sources;     // one per select value: 2 to the power of selectBits.size()
};

// The clock that a set of fuse values selects.
struct SelectedClock {
    ClockSource source;
    bool dividedBy8 = false;

    // The chip's clock in Hz, where the chip itself decides it (an internal
    // oscillator); nothing for a source on the board.
    std::optional<std::uint32_t> Hz() const;
    // The slowest clock the chip can be on: an internal oscillator's, or a
    // crystal setting's lower bound, divided by 8 where it is; nothing where
    // only the board decides (an external clock or RC, a crystal without a
    // bound, a reserved setting).
    std::optional<std::uint32_t> SlowestHz() const;
    // "the internal 128 kHz oscillator divided by 8 (16 kHz)", "an external crystal".
    std::string Describe() const;
    // Describe, with a crystal's lower bound: "an external crystal of 8 MHz or more".
    std::string DescribeWithRange() const;
};

// The position of a fuse bit by name among a chip's fuse bytes: fuse byte
// (0 low, 1 high, 2 extended) and bit.
std::optional<std::pair<unsigned, unsigned>> FuseBitPosition(std::span<const ChipByte> fuses, std::string_view bitName);

// The clock the fuse values (low, high, extended; nothing where unknown)
// select; nothing when a bit the choice needs is unknown or not a fuse bit.
std::optional<SelectedClock> SelectClock(const ClockFuses& clock, std::span<const ChipByte> fuses,
                                         const std::array<std::optional<std::uint8_t>, 3>& values);

// "16 kHz", "9.6 MHz".
std::string FrequencyText(std::uint32_t hz);

}  // namespace velkor
