// Bit-level transfer through the cable in use: each change of the lines
// writes the data register, the control register or both, as the cable's
// pins need, and MISO is read from the cable's status pin. On the built-in
// cable SCK, MOSI and RESET are data bits 0, 1 and 2, D7 is low while
// programming, and MISO is status bit 7 (BUSY, which the port reports
// inverted).
#include <algorithm>

#include "Session.h"

namespace velkor {

void Session::PortWrite(std::uint16_t port, std::uint8_t value)
{
    port_.WritePortUchar(port, value);
    clock_.PortAccessed();
}

namespace {

constexpr unsigned kPowerUpMs = 1;
constexpr std::array kLamps{Lamp::Ready, Lamp::Programming, Lamp::Verifying, Lamp::Error};

std::size_t LampIndex(std::optional<Lamp> lamp)
{
    return lamp ? 1 + static_cast<std::size_t>(std::ranges::find(kLamps, *lamp) - kLamps.begin()) : 0;
}

std::size_t LinesIndex(const CableLines& lines)
{
    return (lines.sck ? 1u : 0u) | (lines.mosi ? 2u : 0u) | (lines.reset ? 4u : 0u) | (lines.engaged ? 8u : 0u);
}

}  // namespace

void Session::UseCable(const Cable& cable)
{
    wiring_ = &cable;
    cableUsesData_ = cable.UsesRegister(PortRegister::Data);
    cableUsesControl_ = cable.UsesRegister(PortRegister::Control);
    for (std::size_t lamp = 0; lamp < cableRegisters_.size(); ++lamp) {
        for (std::size_t index = 0; index < cableRegisters_[lamp].size(); ++index) {
            const CableLines lines{.sck = (index & 1) != 0,
                                   .mosi = (index & 2) != 0,
                                   .reset = (index & 4) != 0,
                                   .engaged = (index & 8) != 0,
                                   .lit = lamp == 0 ? std::nullopt : std::optional<Lamp>(kLamps[lamp - 1])};
            cableRegisters_[lamp][index] = RegistersFor(cable, lines);
        }
    }
}

void Session::DriveCable(const CableLines& lines)
{
    const PortRegisters& registers = cableRegisters_[LampIndex(lines.lit)][LinesIndex(lines)];
    if (cableUsesData_) {
        PortWrite(PortAddress, registers.data);
    }
    if (cableUsesControl_) {
        PortWrite(static_cast<std::uint16_t>(PortAddress + 2), registers.control);
    }
}

void Session::DriveLines(bool sck, bool mosi, bool reset)
{
    DriveCable({.sck = sck, .mosi = mosi, .reset = reset, .engaged = true, .lit = lamp_});
}

// A cable powered from the port's pins gets its power, and a moment to come
// up, before the reset sequence drives its lines; on the others that
// sequence's first write switches the buffer on.
void Session::OpenCable()
{
    lamp_ = Lamp::Programming;
    if (!wiring_->power.empty()) {
        DriveLines(false, false, true);
        Wait(kPowerUpMs);
    }
}

std::uint8_t Session::PortReadAt(std::uint16_t port)
{
    const std::uint8_t value = port_.ReadPortUchar(port);
    clock_.PortAccessed();
    return value;
}

std::uint8_t Session::PortRead()
{
    return PortReadAt(static_cast<std::uint16_t>(PortAddress + 1));
}

// The phase counts from the access before it, so a port access of its own
// length does not add to it.
void Session::ShortDelay()
{
    clock_.ShortDelay(SckPhase);
}

// MSB first. MOSI changes only while SCK is low; the chip samples it on the
// rising edge. RESET stays low to keep the chip in programming.
void Session::SendByte(std::uint8_t value)
{
    for (int bit = 0; bit < 8; ++bit) {
        const bool mosi = (value & 0x80) != 0;
        value = static_cast<std::uint8_t>(value << 1);
        DriveLines(false, mosi, false);
        ShortDelay();
        DriveLines(true, mosi, false);
        ShortDelay();
        DriveLines(false, mosi, false);
        ShortDelay();
    }
}

// The chip shifts MISO out on the falling edge, so it is sampled after SCK
// has been high for one delay, just before SCK falls. MOSI stays 0.
std::uint8_t Session::ReceiveByte()
{
    std::uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        DriveLines(true, false, false);
        ShortDelay();
        result = static_cast<std::uint8_t>(result << 1);
        if (MisoInStatus(*wiring_, PortRead())) {
            result |= 0x01;
        }
        DriveLines(false, false, false);
        ShortDelay();
    }
    return result;
}

void Session::StopIfRequested()
{
    if (StopRequested && StopRequested()) {
        throw Interrupted{};
    }
}

void Session::SendInstruction(const Instruction& instruction)
{
    StopIfRequested();
    for (const std::uint8_t byte : instruction) {
        SendByte(byte);
    }
}

std::uint8_t Session::QueryInstruction(const Instruction& instruction)
{
    StopIfRequested();
    return PollInstruction(instruction);
}

std::uint8_t Session::PollInstruction(const Instruction& instruction)
{
    SendByte(instruction[0]);
    SendByte(instruction[1]);
    SendByte(instruction[2]);
    return ReceiveByte();
}

// RESET released, SCK and MOSI low, the buffer off and the lamps dark: the
// cable lets go of the board (on the built-in cable the idle pattern 0x84).
void Session::ReleasePort()
{
    lamp_.reset();
    DriveCable({});
}

}  // namespace velkor
