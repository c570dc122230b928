#pragma once

// How fast SCK may run for a target clock. A chip samples SCK with its own
// clock, so each SCK phase (high or low) must last more than 2 of its cycles
// below 12 MHz and more than 3 from 12 MHz up; shorter pulses go unseen.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velkor {

// The slowest clock a fuse can select: the 128 kHz oscillator divided by 8.
inline constexpr std::uint32_t kMinChipClockHz = 16'000;
inline constexpr std::uint32_t kMaxChipClockHz = 20'000'000;
// The factory clock of the ATmega and ATtiny parts: their internal RC at 1 MHz.
inline constexpr std::uint32_t kDefaultChipClockHz = 1'000'000;
// From this clock up each phase must last one cycle more.
inline constexpr std::uint32_t kThreeCycleClockHz = 12'000'000;

// "16k", "128k", "3.6864M", "8M" or plain Hz ("1000000"); nullopt when the
// text is no frequency or lies outside kMinChipClockHz..kMaxChipClockHz.
std::optional<std::uint32_t> ParseChipClock(std::string_view text);

// hz as --chip-clock takes it: "16k", "1.2M", "8M".
std::string ChipClockText(std::uint32_t hz);

// Why a text was refused, for usage errors: names the accepted range.
std::string ChipClockError(std::string_view option, std::string_view text);

// The SCK phase for a chip on chipClockHz: just over the rule's minimum for a
// clock running 20 % slow (an RC oscillator off calibration).
std::chrono::nanoseconds SckPhaseFor(std::uint32_t chipClockHz);
// The same for a chip whose phases must last more than cycles of its clock,
// one more from 12 MHz up where extraCycleFrom12MHz.
std::chrono::nanoseconds SckPhaseFor(std::uint32_t chipClockHz, unsigned cycles, bool extraCycleFrom12MHz);

}  // namespace velkor
