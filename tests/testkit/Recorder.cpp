#include "Recorder.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace velkor::testing {

std::vector<std::uint8_t> Trace::Writes() const
{
    std::vector<std::uint8_t> writes;
    for (const Event& e : events) {
        if (e.kind == Event::Kind::Write) {
            writes.push_back(static_cast<std::uint8_t>(e.value));
        }
    }
    return writes;
}

std::vector<std::array<std::uint8_t, 4>> Trace::SentInstructions() const
{
    std::vector<std::array<std::uint8_t, 4>> sent;
    std::uint8_t previous = 0;
    unsigned bits = 0;
    std::uint8_t byte = 0;
    for (const std::uint8_t value : Writes()) {
        if ((previous & 0x01) == 0 && (value & 0x01) != 0) {
            byte = static_cast<std::uint8_t>(byte << 1 | ((value >> 1) & 1));
            if (++bits % 8 == 0) {
                if (bits % 32 == 8) {
                    sent.emplace_back();
                }
                sent.back()[(bits / 8 + 3) % 4] = byte;
            }
        }
        previous = value;
    }
    EXPECT_EQ(bits % 32, 0u) << "an instruction was cut short";
    return sent;
}

std::vector<unsigned> Trace::Sleeps() const
{
    std::vector<unsigned> sleeps;
    for (const Event& e : events) {
        if (e.kind == Event::Kind::Sleep) {
            sleeps.push_back(e.value);
        }
    }
    return sleeps;
}

std::size_t Trace::Count(Event::Kind kind) const
{
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(), [kind](const Event& e) { return e.kind == kind; }));
}

void RecordingPort::OpenDriver(std::uint16_t portAddress)
{
    trace_.events.push_back({Event::Kind::Open, portAddress, 0});
    inner_.OpenDriver(portAddress);
}

void RecordingPort::CloseDriver()
{
    trace_.events.push_back({Event::Kind::Close, 0, 0});
    inner_.CloseDriver();
}

void RecordingPort::WritePortUchar(std::uint16_t port, std::uint8_t value)
{
    trace_.events.push_back({Event::Kind::Write, port, value});
    inner_.WritePortUchar(port, value);
}

std::uint8_t RecordingPort::ReadPortUchar(std::uint16_t port)
{
    const std::uint8_t value = inner_.ReadPortUchar(port);
    trace_.events.push_back({Event::Kind::Read, port, value});
    return value;
}

void RecordingClock::Sleep(unsigned milliseconds)
{
    trace_.events.push_back({Event::Kind::Sleep, 0, milliseconds});
    inner_.Sleep(milliseconds);
}

void RecordingClock::ShortDelay(std::chrono::nanoseconds phase)
{
    trace_.events.push_back({Event::Kind::Delay, 0, 0});
    inner_.ShortDelay(phase);
}

}  // namespace velkor::testing
