#pragma once

// A port and a clock that record every call in one trace, in order, and pass
// it on to the port and clock they wrap (usually a simulated target's), so a
// test can assert on exactly what went over the wires and when it waited.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Clock.h"
#include "PortOperations.h"

namespace velkor::testing {

struct Event {
    enum class Kind { Open, Close, Write, Read, Delay, Sleep } kind;
    std::uint16_t address = 0;
    std::uint32_t value = 0;  // byte written or read, or milliseconds slept

    bool operator==(const Event&) const = default;
};

class Trace {
public:
    std::vector<Event> events;

    std::vector<std::uint8_t> Writes() const;
    // The bytes that went out on MOSI (data bit 1), sampled at each rising
    // SCK edge (data bit 0) as the chip samples them, four to an instruction.
    // A read's fourth byte is clocked with MOSI low and so shows as 0x00.
    std::vector<std::array<std::uint8_t, 4>> SentInstructions() const;
    std::vector<unsigned> Sleeps() const;
    std::size_t Count(Event::Kind kind) const;
    // What went over the wires, as the chip would tell it: "open 378",
    // "close", "sleep 5", "port 84" for a write that clocks nothing, and for
    // each byte clocked on SCK the byte sent on MOSI (">AC") or, when MISO
    // was read while SCK was high, the byte received ("<53"); clock pulses
    // that make no whole byte show as "pulses 7". Delays are left out.
    std::string Text() const;
    void Clear() { events.clear(); }
};

class RecordingPort final : public PortOperations {
public:
    RecordingPort(PortOperations& inner, Trace& trace) : inner_(inner), trace_(trace) {}

    void OpenDriver(std::uint16_t portAddress) override;
    void CloseDriver() override;
    void WritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t ReadPortUchar(std::uint16_t port) override;
    bool ActiveHW() const override { return inner_.ActiveHW(); }
    std::string OpenFailure() const override { return inner_.OpenFailure(); }

private:
    PortOperations& inner_;
    Trace& trace_;
};

class RecordingClock final : public Clock {
public:
    RecordingClock(Clock& inner, Trace& trace) : inner_(inner), trace_(trace) {}

    void Sleep(unsigned milliseconds) override;
    void PortAccessed() override { inner_.PortAccessed(); }
    void ShortDelay(std::chrono::nanoseconds phase) override;
    std::chrono::nanoseconds Now() const override { return inner_.Now(); }

private:
    Clock& inner_;
    Trace& trace_;
};

// A port with nothing behind it that answers every read with a fixed status
// byte; for tests that only look at what the engine writes.
class ScriptedStatusPort final : public PortOperations {
public:
    explicit ScriptedStatusPort(std::uint8_t status = 0x78) : status(status) {}

    void OpenDriver(std::uint16_t) override { open = true; }
    void CloseDriver() override { open = false; }
    void WritePortUchar(std::uint16_t, std::uint8_t) override {}
    std::uint8_t ReadPortUchar(std::uint16_t) override { return status; }
    bool ActiveHW() const override { return open; }
    std::string OpenFailure() const override { return {}; }

    std::uint8_t status;
    bool open = false;
};

// A clock that does not wait at all.
class NullClock final : public Clock {
public:
    void Sleep(unsigned) override {}
    void PortAccessed() override {}
    void ShortDelay(std::chrono::nanoseconds) override {}
    std::chrono::nanoseconds Now() const override { return {}; }
};

}  // namespace velkor::testing
