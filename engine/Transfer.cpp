// Bit-level transfer: the PC drives SCK, MOSI and RESET on data bits 0, 1, 2
// and reads MISO on status bit 7 (BUSY, which the port reports inverted).
#include "Session.h"

namespace velkor {

namespace {
constexpr std::uint8_t kSck = 0x01;
constexpr std::uint8_t kMosi = 0x02;
// RESET high, SCK and MOSI low, bit 7 high: the level the port rests at.
constexpr std::uint8_t kIdlePattern = 0x84;
constexpr std::uint8_t kBusy = 0x80;
}  // namespace

void Session::PortWrite(std::uint16_t port, std::uint8_t value)
{
    port_.WritePortUchar(port, value);
    clock_.PortAccessed();
}

std::uint8_t Session::PortRead()
{
    const std::uint8_t value = port_.ReadPortUchar(static_cast<std::uint16_t>(PortAddress + 1));
    clock_.PortAccessed();
    return value;
}

// The phase counts from the access before it, so a port access of its own
// length does not add to it.
void Session::ShortDelay()
{
    clock_.ShortDelay(SckPhase);
}

// MSB first. MOSI changes only while SCK is low; the chip samples it on the
// rising edge. RESET stays low (bit 2 clear) to keep the chip in programming.
void Session::SendByte(std::uint8_t value)
{
    for (int bit = 0; bit < 8; ++bit) {
        const std::uint8_t d = (value & 0x80) ? kMosi : 0x00;
        value = static_cast<std::uint8_t>(value << 1);
        PortWrite(PortAddress, d);
        ShortDelay();
        PortWrite(PortAddress, d | kSck);
        ShortDelay();
        PortWrite(PortAddress, d);
        ShortDelay();
    }
}

// The chip shifts MISO out on the falling edge, so it is sampled after SCK
// has been high for one delay, just before SCK falls. MOSI stays 0.
std::uint8_t Session::ReceiveByte()
{
    std::uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        PortWrite(PortAddress, kSck);
        ShortDelay();
        result = static_cast<std::uint8_t>(result << 1);
        if ((PortRead() & kBusy) == 0) {
            result |= 0x01;
        }
        PortWrite(PortAddress, 0x00);
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

void Session::ReleasePort()
{
    PortWrite(PortAddress, kIdlePattern);
}

}  // namespace velkor
