#pragma once

// A minimal programmer of its own for the chip model tests: it drives the
// simulated chip's SCK, MOSI and RESET pins directly and samples MISO while
// SCK is high, in virtual time. Independent of the engine on purpose.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "SimulatedTarget.h"

namespace velkor::sim::testing {

using Bytes4 = std::array<std::uint8_t, 4>;

class Wires {
public:
    // phaseNanoseconds: how long SCK stays low and high per bit; clockHz: the
    // chip's clock, its factory clock if not given.
    explicit Wires(std::string_view chipName, std::uint64_t phaseNanoseconds = 5000,
                   std::optional<std::uint32_t> clockHz = std::nullopt);

    SimulatedChip& Chip() { return *target_.chip(); }
    const ChipModel& Model() { return Chip().Model(); }

    void Wait(std::uint64_t nanoseconds) { target_.clock().Advance(nanoseconds); }
    void WaitMs(double milliseconds) { Wait(static_cast<std::uint64_t>(milliseconds * 1e6)); }
    void SetReset(bool high);

    // RESET low (SCK low), then the 20 ms the chip needs, with margin.
    void EnterReset(double waitMs = 25);
    // RESET high for 1 ms, then EnterReset.
    void PulseReset();
    void PulseSck();

    std::uint8_t Transfer(std::uint8_t out);
    Bytes4 Send(Bytes4 instruction);
    std::uint8_t Query(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) { return Send({b1, b2, b3, 0x00})[3]; }
    // Programming Enable; true when the chip echoed 0x53 in byte 3.
    bool Enable() { return Send({0xAC, 0x53, 0x00, 0x00})[2] == 0x53; }
    bool EnterProgramming()
    {
        EnterReset();
        return Enable();
    }

    std::size_t Violations() { return Chip().TimingViolationCount(); }

    std::uint64_t phase;

private:
    void Drive(bool sck, bool mosi);

    SimulatedTarget target_;
    bool sck_ = false;
    bool mosi_ = false;
    bool reset_ = true;
};

// Test names for cases parameterised by a struct with a `chip` field.
template <typename Case>
std::string ChipCaseName(const ::testing::TestParamInfo<Case>& info)
{
    return std::string(info.param.chip) + "_" + std::to_string(info.index);
}

}  // namespace velkor::sim::testing
