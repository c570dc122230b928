#pragma once

// Boards plugged in and pulled out one after another on one simulated port,
// in virtual time: production tried without hardware.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SimulatedTarget.h"

namespace velkor::sim {

struct PlannedBoard {
    std::string chip;  // a simulated chip's name (any case)
    Faults faults;
};

// Each board arrives kArrivalNs after the start or after the board before
// it left, with fresh memories, and stays at least kStayNs; it is pulled out
// at the first port access after that at which RESET is released (high, or
// the cable no longer driving it), as
// a person unplugs a board once it is no longer being programmed.
class SimulatedBoards final : public PortOperations {
public:
    static constexpr std::uint64_t kArrivalNs = 1'000'000'000;
    static constexpr std::uint64_t kStayNs = 5'000'000'000;

    // Throws std::invalid_argument when a board names no simulated chip.
    explicit SimulatedBoards(std::vector<PlannedBoard> plan, std::optional<std::uint32_t> chipClockHz = std::nullopt);

    VirtualClock& clock() { return clock_; }
    // True once every board of the plan has come and gone.
    bool Exhausted();
    // The chip of board index (from 0) once it has arrived; nullptr before.
    SimulatedChip* Board(std::size_t index);
    std::uint64_t AccessCount() const { return port_.AccessCount(); }
    double ElapsedSeconds() const { return static_cast<double>(clock_.NowNanoseconds()) / 1e9; }
    std::size_t ViolationCount() const;
    // The cable the boards hang on; it must outlive them.
    void UseCable(const Cable& cable) { port_.UseCable(cable); }

    void OpenDriver(std::uint16_t portAddress) override { port_.OpenDriver(portAddress); }
    void CloseDriver() override { port_.CloseDriver(); }
    void WritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t ReadPortUchar(std::uint16_t port) override;
    bool ActiveHW() const override { return port_.ActiveHW(); }
    std::string OpenFailure() const override { return {}; }

private:
    void Update();

    VirtualClock clock_;
    SimulatedPort port_;
    std::vector<PlannedBoard> plan_;
    std::vector<const ChipModel*> models_;
    std::optional<std::uint32_t> chipClockHz_;
    std::vector<std::unique_ptr<SimulatedChip>> arrived_;
    bool present_ = false;
    std::uint64_t nextEventNs_ = kArrivalNs;  // the next arrival, or the earliest the board there may leave
};

}  // namespace velkor::sim
