#pragma once

#include <chrono>

namespace velkor {

// Every wait of the engine goes through a Clock, so that the same engine runs
// in real time on hardware and in virtual time against the simulated target.
class Clock {
public:
    virtual ~Clock() = default;

    virtual void Sleep(unsigned milliseconds) = 0;
    // Paces one phase of the serial clock (SCK high or low).
    virtual void ShortDelay() = 0;
};

// The length of ShortDelay. A chip on its factory 1 MHz clock needs each SCK
// phase to last more than two of its cycles (2 us); 4 us leaves room for an
// internal RC oscillator running well below its nominal rate. With the port
// access itself (about 1 us) one bit takes three 5 us steps: SCK ~ 67 kHz.
inline constexpr std::chrono::microseconds kShortDelay{4};

// Real time: sleeps for the millisecond waits, a busy-wait on the steady clock
// for ShortDelay (a sleep that short would overshoot by far).
class SystemClock final : public Clock {
public:
    void Sleep(unsigned milliseconds) override;
    void ShortDelay() override;
};

}  // namespace velkor
