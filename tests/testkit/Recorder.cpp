#include "Recorder.h"

#include <algorithm>
#include <cstdio>
#include <optional>

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

namespace {

constexpr std::uint8_t kSck = 0x01;
constexpr std::uint8_t kMosi = 0x02;
constexpr std::uint8_t kBusy = 0x80;  // MISO, inverted by the port

std::string Hex(const char* pattern, unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// The bits clocked since the last whole byte.
struct ClockedBits {
    unsigned count = 0;
    unsigned sent = 0;
    unsigned received = 0;
    bool read = false;
};

}  // namespace

std::string Trace::Text() const
{
    std::string text;
    const auto put = [&text](const std::string& token) { text += (text.empty() ? "" : " ") + token; };
    ClockedBits bits;
    const auto endRun = [&] {
        if (bits.count != 0) {
            put("pulses " + std::to_string(bits.count));
        }
        bits = {};
    };
    std::optional<std::uint8_t> last;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        switch (e.kind) {
        case Event::Kind::Open:
            endRun();
            put(Hex("open %X", e.address));
            break;
        case Event::Kind::Close:
            endRun();
            put("close");
            break;
        case Event::Kind::Sleep:
            endRun();
            put("sleep " + std::to_string(e.value));
            break;
        case Event::Kind::Delay:
            break;
        case Event::Kind::Read:
            if (last && (*last & kSck) != 0) {
                bits.received = bits.received << 1 | ((e.value & kBusy) == 0 ? 1u : 0u);
                bits.read = true;
            } else {
                put(Hex("read %02X", e.value));
            }
            break;
        case Event::Kind::Write: {
            const bool sckHigh = (e.value & kSck) != 0;
            const bool wasHigh = last && (*last & kSck) != 0;
            if (sckHigh && !wasHigh) {  // the rising edge, where the chip samples MOSI
                bits.sent = bits.sent << 1 | ((e.value & kMosi) != 0 ? 1u : 0u);
                ++bits.count;
            } else if (!sckHigh && wasHigh) {  // the falling edge ends the bit
                if (bits.count == 8) {
                    put(bits.read ? Hex("<%02X", bits.received) : Hex(">%02X", bits.sent));
                    bits = {};
                }
            } else if (!sckHigh) {
                const auto next = std::find_if(events.begin() + static_cast<std::ptrdiff_t>(i) + 1, events.end(),
                                               [](const Event& n) { return n.kind == Event::Kind::Write; });
                const bool setsUpABit = next != events.end() && (next->value & kSck) != 0;
                if (!setsUpABit) {
                    endRun();
                    put(Hex("port %02X", e.value));
                }
            }
            last = static_cast<std::uint8_t>(e.value);
            break;
        }
        }
    }
    endRun();
    return text;
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
