#include "SimulatedTarget.h"

namespace velkor::sim {

namespace {

// A chip whose RESET line nobody drives: the board's pull-up holds it high.
constexpr ChipInputs kUndriven{.sck = false, .mosi = false, .reset = true};

}  // namespace

SimulatedPort::SimulatedPort(TimeSource& time, SimulatedChip* chip) : time_(time), chip_(chip) {}

void SimulatedPort::OpenDriver(std::uint16_t portAddress)
{
    open_ = true;
    base_ = portAddress;
}

void SimulatedPort::CloseDriver()
{
    open_ = false;
}

const Cable& SimulatedPort::BoardCable() const
{
    const WiringFaults* faults = chip_ != nullptr ? &chip_->InjectedFaults().wiring : nullptr;
    return faults != nullptr && faults->boardCable != nullptr ? *faults->boardCable : *cable_;
}

std::optional<ChipInputs> SimulatedPort::LinesAtChip() const
{
    std::optional<ChipInputs> lines = ChipInputsFrom(BoardCable(), data_, control_);
    if (!lines || chip_ == nullptr) {
        return lines;
    }
    const WiringFaults& faults = chip_->InjectedFaults().wiring;
    if (faults.noPower) {
        return std::nullopt;
    }
    if (faults.sckMosiSwapped || faults.headerTurned) {
        std::swap(lines->sck, lines->mosi);
    }
    if (faults.resetOpen || faults.headerTurned) {
        lines->reset = true;
    }
    return lines;
}

void SimulatedPort::DriveChip()
{
    if (chip_ == nullptr) {
        return;
    }
    const ChipInputs lines = LinesAtChip().value_or(kUndriven);
    chip_->Drive(lines.sck, lines.mosi, lines.reset);
}

void SimulatedPort::RestoreControl(std::uint8_t control)
{
    control_ = control;
    DriveChip();
}

void SimulatedPort::WritePortUchar(std::uint16_t port, std::uint8_t value)
{
    if (!open_) {
        return;
    }
    time_.ChargePortAccess();
    ++accesses_;
    if (port == base_) {
        data_ = value;
    } else if (port == base_ + 2) {
        control_ = value;
    } else {
        return;
    }
    DriveChip();
}

std::uint8_t SimulatedPort::ReadPortUchar(std::uint16_t port)
{
    if (!open_) {
        return 0xFF;
    }
    time_.ChargePortAccess();
    ++accesses_;
    if (port == base_) {
        return data_;  // an SPP data register reads back its latch
    }
    if (port == base_ + 2) {
        return control_;
    }
    if (port != base_ + 1) {
        return 0xFF;
    }
    const Cable& board = BoardCable();
    if (chip_ == nullptr || !LinesAtChip()) {
        return StatusWithMiso(board, std::nullopt);
    }
    const WiringFaults& faults = chip_->InjectedFaults().wiring;
    if (faults.headerTurned) {
        return StatusWithMiso(board, false);  // the MISO wire lands on the board's ground
    }
    if (faults.misoOpen) {
        return StatusWithMiso(board, std::nullopt);
    }
    return StatusWithMiso(board, chip_->Miso());
}

}  // namespace velkor::sim
