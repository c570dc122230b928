#pragma once

// A virtual parallel port with an AVR chip on it, wired as the programmer
// expects: data bit 0 SCK, bit 1 MOSI, bit 2 RESET; MISO on status bit 7,
// which the port reports inverted. Written from the chips' published
// behaviour, not from the engine, so that the two cannot share a mistake.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Clock.h"
#include "PortOperations.h"

namespace velkor::sim {

// ---- Time ----------------------------------------------------------------

// Where the simulated chip reads the time. Virtual time in tests and in
// velkor-cli --simulate; real monotonic time behind the virtual ppdev port,
// where the program under test really sleeps.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual std::uint64_t NowNanoseconds() const = 0;
    // Called once for every port access (virtual time charges 1 us for it).
    virtual void ChargePortAccess() = 0;
};

// Virtual time: a sleep advances it by its length, a short delay by its
// nominal length, a port access by 1 us. Nothing really waits.
class VirtualClock final : public Clock, public TimeSource {
public:
    void Sleep(unsigned milliseconds) override;
    void ShortDelay() override;
    std::uint64_t NowNanoseconds() const override { return now_; }
    void ChargePortAccess() override;
    void Advance(std::uint64_t nanoseconds) { now_ += nanoseconds; }

private:
    std::uint64_t now_ = 0;
};

// Real monotonic time, for a chip behind a program that waits for real.
class RealTimeSource final : public TimeSource {
public:
    std::uint64_t NowNanoseconds() const override;
    void ChargePortAccess() override {}
};

// ---- Chips ---------------------------------------------------------------

enum class FlashMode { Byte, Page };

// One fuse bit whose programming (0) takes the chip out of reach of serial
// programming.
struct LockoutBit {
    enum class Fuse { Low, High, Extended } fuse;
    std::uint8_t bit;
    const char* name;  // "RSTDISBL" or "DWEN"
};

// A chip as data: what it answers, how big it is, how long it is busy.
// (The fields below are the contract other parts rely on; the model may
// carry more.)
struct ChipModel {
    const char* name;
    std::array<std::uint8_t, 3> signature;
    std::uint32_t flashBytes;
    std::uint16_t pageBytes;     // 0: byte mode
    std::uint16_t eepromBytes;
    std::uint8_t fuseBytes;      // fuse bytes reachable over ISP (0 to 3)
    std::uint8_t factoryLow, factoryHigh, factoryExtended;
    std::uint8_t factoryLock;
    std::vector<LockoutBit> lockoutBits;
    // ... timing, clock and instruction-set details are the model's own.
};

std::span<const ChipModel> AllChipModels();
// Case-insensitive; nullptr when no chip has that name. "none" is not a chip:
// callers treat it as nothing attached.
const ChipModel* FindChipModel(std::string_view name);

// ---- Faults a test can inject ----------------------------------------------

struct Faults {
    bool silentAfterErase = false;            // stops answering after a Chip Erase
    std::set<std::uint32_t> stuckFlashBytes;  // byte addresses whose cells never take a value
    std::optional<std::uint8_t> makerCode;    // answer this instead of 0x1E
    unsigned outOfStepBits = 0;               // extra SCK edges seen after each RESET fall
};

// ---- The chip ---------------------------------------------------------------

class SimulatedChip {
public:
    SimulatedChip(const ChipModel& model, TimeSource& time);
    ~SimulatedChip();

    const ChipModel& Model() const;

    // Pin levels driven by the port, at time.NowNanoseconds().
    void Drive(bool sck, bool mosi, bool reset);
    // The MISO line: true = high. Floats high (reads as 1) until the chip
    // drives it.
    bool Miso() const;

    Faults& InjectedFaults();

    // Memories, as the chip holds them now.
    std::vector<std::uint8_t>& Flash();
    std::vector<std::uint8_t>& Eeprom();
    std::uint8_t& FuseLow();
    std::uint8_t& FuseHigh();
    std::uint8_t& FuseExtended();
    std::uint8_t& LockBits();

    // Every breach of the published timing (SCK phase too short, RESET not
    // low long enough before Programming Enable, an instruction while busy,
    // a high byte loaded before its low byte), one text each.
    const std::vector<std::string>& TimingViolations() const;

    // The memories as JSON: {"chip", "flash", "eeprom", "fuses", "lock"}.
    // Load throws std::runtime_error when the file names another chip or is malformed.
    void LoadState(const std::filesystem::path& file);
    void SaveState(const std::filesystem::path& file) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---- The port ----------------------------------------------------------------

// The parallel port the chip hangs on. It answers at the base address given
// to OpenDriver; writes elsewhere are ignored and reads elsewhere give 0xFF.
// With no chip attached MISO floats high: the status register reads 0x78.
class SimulatedPort final : public PortOperations {
public:
    SimulatedPort(TimeSource& time, SimulatedChip* chip);

    void OpenDriver(std::uint16_t portAddress) override;
    void CloseDriver() override;
    void WritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t ReadPortUchar(std::uint16_t port) override;
    bool ActiveHW() const override { return open_; }
    std::string LastError() const override { return {}; }

    std::uint64_t AccessCount() const { return accesses_; }
    std::uint8_t DataRegister() const { return data_; }

private:
    TimeSource& time_;
    SimulatedChip* chip_;
    bool open_ = false;
    std::uint16_t base_ = 0x378;
    std::uint8_t data_ = 0;
    std::uint64_t accesses_ = 0;
};

// A chip (or nothing, for "none"), its port and its virtual clock together:
// what tests, velkor-cli --simulate and the window's --simulate use.
class SimulatedTarget {
public:
    // Throws std::invalid_argument for a name that is neither a chip nor "none".
    explicit SimulatedTarget(std::string_view chipName);

    VirtualClock& clock() { return clock_; }
    SimulatedPort& port() { return port_; }
    SimulatedChip* chip() { return chip_.get(); }  // nullptr for "none"

    // Seconds of virtual time since construction.
    double ElapsedSeconds() const;
    std::size_t ViolationCount() const;

private:
    VirtualClock clock_;
    std::unique_ptr<SimulatedChip> chip_;
    SimulatedPort port_;
};

}  // namespace velkor::sim
