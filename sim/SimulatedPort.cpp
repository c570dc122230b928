#include "SimulatedTarget.h"

namespace velkor::sim {

namespace {

constexpr std::uint8_t kSck = 0x01;
constexpr std::uint8_t kMosi = 0x02;
constexpr std::uint8_t kReset = 0x04;
// Status bits 6..3 float high through the port's pull-ups; bit 7 (BUSY,
// wired to MISO) is inverted by the port, so a high MISO reads as 0.
constexpr std::uint8_t kStatusIdle = 0x78;
constexpr std::uint8_t kStatusBusy = 0x80;

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

void SimulatedPort::WritePortUchar(std::uint16_t port, std::uint8_t value)
{
    if (!open_) {
        return;
    }
    time_.ChargePortAccess();
    ++accesses_;
    if (port != base_) {
        return;
    }
    data_ = value;
    if (chip_ != nullptr) {
        chip_->Drive((value & kSck) != 0, (value & kMosi) != 0, (value & kReset) != 0);
    }
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
    if (port != base_ + 1) {
        return 0xFF;
    }
    const bool misoHigh = chip_ == nullptr || chip_->Miso();
    return misoHigh ? kStatusIdle : kStatusIdle | kStatusBusy;
}

}  // namespace velkor::sim
