#include "Wires.h"

namespace velkor::sim::testing {

Wires::Wires(std::string_view chipName, std::uint64_t phaseNanoseconds, std::optional<std::uint32_t> clockHz)
    : phase(phaseNanoseconds), target_(chipName, clockHz)
{
}

void Wires::Drive(bool sck, bool mosi)
{
    sck_ = sck;
    mosi_ = mosi;
    Chip().Drive(sck_, mosi_, reset_);
}

void Wires::SetReset(bool high)
{
    reset_ = high;
    Chip().Drive(sck_, mosi_, reset_);
}

void Wires::EnterReset(double waitMs)
{
    Drive(false, false);
    SetReset(false);
    WaitMs(waitMs);
}

void Wires::PulseReset()
{
    SetReset(true);
    WaitMs(1);
    EnterReset();
}

void Wires::PulseSck()
{
    Drive(true, mosi_);
    Wait(phase);
    Drive(false, mosi_);
    Wait(phase);
}

std::uint8_t Wires::Transfer(std::uint8_t out)
{
    std::uint8_t in = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const bool level = (out >> bit & 1) != 0;
        Drive(false, level);
        Wait(phase);
        Drive(true, level);
        Wait(phase);
        in = static_cast<std::uint8_t>(in << 1 | (Chip().Miso() ? 1 : 0));
    }
    Drive(false, mosi_);
    Wait(phase);
    return in;
}

Bytes4 Wires::Send(Bytes4 instruction)
{
    Bytes4 answer{};
    for (std::size_t i = 0; i < 4; ++i) {
        answer[i] = Transfer(instruction[i]);
    }
    return answer;
}

}  // namespace velkor::sim::testing
