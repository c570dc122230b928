#pragma once

// A virtual parallel port with an AVR chip on it through a cable: by default
// the built-in one (data bit 0 SCK, bit 1 MOSI, bit 2 RESET, D7 low while
// programming; MISO on status bit 7, which the port reports inverted), or any
// other cable the programs know. Written from the chips' published behaviour
// and the port's pin map, not from the engine, so that the two cannot share a
// mistake.

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

#include "Cable.h"
#include "ChipRecord.h"
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

// Virtual time: a sleep advances it by its length, a port access by 1 us, a
// short delay to the end of its phase as the real clock's pacing reckons it.
// Nothing really waits.
class VirtualClock final : public Clock, public TimeSource {
public:
    void Sleep(unsigned milliseconds) override;
    void PortAccessed() override;
    void ShortDelay(std::chrono::nanoseconds phase) override;
    std::chrono::nanoseconds Now() const override { return std::chrono::nanoseconds(now_); }
    std::uint64_t NowNanoseconds() const override { return now_; }
    void ChargePortAccess() override;
    void Advance(std::uint64_t nanoseconds) { now_ += nanoseconds; }

private:
    std::uint64_t now_ = 0;
    PhasePacer pacer_;
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

// A fuse bit by position (SPIEN, EESAVE).
struct FuseBit {
    LockoutBit::Fuse fuse;
    std::uint8_t bit;
};

// A chip as data, made from its record (the one the engine programs by):
// what it answers, how big it is, how long it is busy. (The first fields are
// the contract other parts rely on; the rest are the model's own.)
//
// The fuse and lock bytes are held as the record lists their bits: the lock
// byte with LB1 in bit 0 and LB2 in bit 1, the boot lock bits above where
// the chip has them, unused bits 1. The AT90S parts hold their one fuse byte
// as the low fuse, SPIEN in bit 5, also where only parallel programming
// reaches it. How each byte is read and written over the serial interface
// is the record's.
struct ChipModel {
    const ChipRecord* record;
    const char* name;
    std::array<std::uint8_t, 3> signature;
    std::uint32_t flashBytes;
    std::uint16_t pageBytes;  // 0: byte mode
    std::uint16_t eepromBytes;
    std::uint8_t fuseBytes;  // fuse bytes serial programming writes (0 to 3)
    std::uint8_t factoryLow, factoryHigh, factoryExtended;
    std::uint8_t factoryLock;
    std::vector<LockoutBit> lockoutBits;

    // Instruction set.
    bool hasPollRdyBsy;  // F0 00 00 oo
    // Bits an ISP fuse/lock write can change; the others (SPIEN, unused
    // bits) keep their value.
    std::uint8_t lowWritable, highWritable, extendedWritable, lockWritable;
    // In lock mode 3 (LB1 and LB2 programmed) an AT90S answers a signature
    // read with the instruction's address byte (00 01 02); the ATmega and
    // ATtiny parts show their signature even when locked.
    bool hidesSignatureWhenLocked;
    FuseBit spien;
    std::optional<FuseBit> eesave;  // programmed: Chip Erase keeps the EEPROM

    // Flash busy behaviour: a byte-mode chip answers a read of the byte being
    // written with this value until the write is done; a page-mode chip
    // answers 0xFF within the page being written.
    std::uint8_t flashPollValue;
    bool flashPollable;  // false: a read of the byte or page being written is lost

    // Clock and timing (5 V). An SCK phase must last MORE than the given
    // number of target clock cycles, one more from 12 MHz up where the rule
    // says so (the ATmega and ATtiny parts).
    std::uint32_t clockHz;  // the factory clock
    std::uint8_t sckLowMinCycles, sckHighMinCycles;
    bool sckExtraCycleFrom12MHz;
    std::uint32_t byteWriteMicros;  // byte mode: one flash byte
    std::uint32_t pageWriteMicros;  // page mode: one page
    std::uint32_t chipEraseMicros;
    std::uint32_t fuseWriteMicros;  // also a lock write

    // EEPROM: byte writes (C0) with their own erase, or loads (C1) and a page
    // write (C2) where eepromPageBytes is not 0; a byte or a page is busy for
    // eepromWriteMicros. A read of the byte (or page) being written answers
    // eepromPollFirst during the first half (the erase), then
    // eepromPollSecond.
    std::uint16_t eepromPageBytes = 0;
    std::uint32_t eepromWriteMicros = 0;
    std::uint8_t eepromPollFirst = 0xFF;
    std::uint8_t eepromPollSecond = 0xFF;
    // How the fuses choose the clock (nullptr: the chip runs at clockHz
    // whatever its fuses), and what the simulated board offers when they
    // choose a clock or crystal on the board.
    const ClockFuses* clockFuses = nullptr;
    std::uint32_t boardClockHz = 16'000'000;

    FlashMode Mode() const { return pageBytes == 0 ? FlashMode::Byte : FlashMode::Page; }
};

// The longest SCK phase (low or high) the chip misses at clockHz, in ns: a
// phase must last longer than that.
std::uint64_t SckPhaseMinimumNs(const ChipModel& model, std::uint32_t clockHz, bool high);

std::span<const ChipModel> AllChipModels();
// Case-insensitive, and the other names of a record ("ATiny26", the table's
// old spelling; "ATtiny13" for the ATtiny13/13A) name its chip; nullptr when
// no chip has that name. "none" is not a chip: callers treat it as nothing
// attached.
const ChipModel* FindChipModel(std::string_view name);

// ---- Faults a test can inject ----------------------------------------------

// Faults of the cable between the port and the chip.
struct WiringFaults {
    bool sckMosiSwapped = false;  // SCK and MOSI change places
    bool misoOpen = false;        // the MISO wire is broken: the port sees it float
    bool resetOpen = false;       // the RESET wire is broken: the board's pull-up holds RESET high
    bool headerTurned = false;    // the 6-pin plug turned round: MISO on ground, RESET on VCC, SCK and MOSI swapped
    bool noPower = false;         // the board has no power: the chip sees nothing, MISO floats
    // The board is wired as this cable, not as the one the port is told of.
    const Cable* boardCable = nullptr;

    bool Any() const
    {
        return sckMosiSwapped || misoOpen || resetOpen || headerTurned || noPower || boardCable != nullptr;
    }
};

struct Faults {
    bool silentAfterErase = false;             // stops answering after a Chip Erase
    std::set<std::uint32_t> stuckFlashBytes;   // byte addresses whose cells never take a value
    std::set<std::uint32_t> stuckEepromBytes;  // EEPROM addresses that keep their value
    std::optional<std::uint8_t> makerCode;     // answer this instead of 0x1E
    unsigned outOfStepBits = 0;                // extra SCK edges seen after each RESET fall
    // Writes and erases take this share of their time, in percent: an AT90S
    // at a supply under 5 V takes longer than its 5 V figure.
    unsigned busyTimePercent = 100;
    // The port reads these; the chip does not.
    WiringFaults wiring{};
};

// ---- The chip ---------------------------------------------------------------

// The chip's serial programming interface, pin by pin:
// - While RESET is low, MOSI is sampled on each rising SCK edge (as it is
//   written in the same port access, if that access also raises SCK) and
//   MISO moves to the next bit on each falling edge; the MSB of an output
//   byte is there before the byte's first rising edge. Output byte k+1 is
//   input byte k; a read puts its data in byte 4.
// - Bytes are framed by the edges counted since RESET fell. Until it is in
//   step the chip checks every byte boundary for AC 53; a stray SCK pulse
//   moves the framing by one bit, a RESET pulse restarts it.
// - MISO is undriven (reads 1) while RESET is high and until AC 53 has been
//   recognised; then byte 3 of that Programming Enable echoes 0x53.
// - A Programming Enable that begins less than 20 ms after RESET fell is a
//   timing violation and is not answered; the programmer's retry is.
// - An SCK phase at or under the chip's minimum at its clock is a timing
//   violation, and the edge that ends it is lost: the chip samples SCK with
//   its own clock and does not see so short a pulse. Its phases go on from
//   the last edge it saw.
// - Writes and erases are busy for the chip's time from the instruction's
//   last bit. An instruction whose first bit comes earlier is lost (a
//   violation), except RDY/BSY and a read of the byte (byte mode, pollable
//   chips) or page (page mode) being written, which gives the poll value.
//   Raising RESET while busy is a violation too.
// - A programmed LB1 stops flash and EEPROM writes (and on the ATmega and
//   ATtiny parts fuse writes); LB1 and LB2 programmed (mode 3) also stop flash and
//   EEPROM reads, which then echo the instruction's third byte as a chip
//   that drives no data does. Only Chip Erase clears lock bits, and it keeps
//   the EEPROM when EESAVE is programmed.
// - EEPROM: A0 reads, C0 writes a byte (no erase needed: the write erases
//   the byte first); C1 loads and C2 writes a page where the chip has EEPROM
//   pages, changing only the bytes loaded.
class SimulatedChip {
public:
    // clockHz: the clock the chip runs on whatever its fuses select; if not
    // given, the clock its fuses select (latched at power-up and whenever
    // RESET rises, as the chip does), the model's board clock for a source
    // on the board.
    SimulatedChip(const ChipModel& model, TimeSource& time, std::optional<std::uint32_t> clockHz = std::nullopt);
    ~SimulatedChip();

    const ChipModel& Model() const;
    std::uint32_t ClockHz() const;  // the clock it runs on now

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
    // RESET raised while busy, a high byte loaded before its low byte), one
    // text each with the time since the chip was created. Only the first
    // kMaxViolationTexts are kept as text; TimingViolationCount counts all.
    const std::vector<std::string>& TimingViolations() const;
    std::size_t TimingViolationCount() const;
    static constexpr std::size_t kMaxViolationTexts = 1000;

    // True once the chip has left the reach of serial programming (RSTDISBL
    // or DWEN programmed at the last RESET high or power-up, or SPIEN not
    // programmed): it no longer answers Programming Enable.
    bool OutOfReach() const;

    // The memories as JSON: {"chip", "flash", "eeprom", "fuses", "lock"}.
    // Load throws std::runtime_error when the file names another chip or is
    // malformed, and then leaves the chip as it was; a loaded chip starts as
    // if just powered up (fuses latched, not in programming mode).
    void LoadState(const std::filesystem::path& file);
    void SaveState(const std::filesystem::path& file) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---- The port ----------------------------------------------------------------

// The parallel port the chip hangs on, through its cable. It answers at the
// base address given to OpenDriver: the data register (base), the status
// register (base + 1) and the control register (base + 2, at 0x0C when the
// port starts, as a PC's port rests); writes elsewhere are ignored and reads
// elsewhere give 0xFF. The chip sees its lines only while the cable is
// engaged (its enable pins low, its power pins high); otherwise, or with no
// chip attached, MISO floats high: on the built-in cable the status register
// reads 0x78.
class SimulatedPort final : public PortOperations {
public:
    SimulatedPort(TimeSource& time, SimulatedChip* chip);

    void OpenDriver(std::uint16_t portAddress) override;
    void CloseDriver() override;
    void WritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t ReadPortUchar(std::uint16_t port) override;
    bool ActiveHW() const override { return open_; }
    std::string OpenFailure() const override { return {}; }

    std::uint64_t AccessCount() const { return accesses_; }
    std::uint8_t DataRegister() const { return data_; }
    std::uint8_t ControlRegister() const { return control_; }
    // Plugs a chip in (or, with nullptr, pulls it out) between two accesses.
    void Attach(SimulatedChip* chip) { chip_ = chip; }
    // The cable the chip hangs on; it must outlive the port.
    void UseCable(const Cable& cable) { cable_ = &cable; }
    const Cable& CableInUse() const { return *cable_; }
    // The control register as the system sets it when a program claims the
    // port: no access of the program's.
    void RestoreControl(std::uint8_t control);
    // What the chip sees now through the cable: nothing while the cable is
    // not engaged.
    std::optional<ChipInputs> LinesAtChip() const;

private:
    const Cable& BoardCable() const;
    void DriveChip();

    TimeSource& time_;
    SimulatedChip* chip_;
    const Cable* cable_ = &BuiltInCable();
    bool open_ = false;
    std::uint16_t base_ = 0x378;
    std::uint8_t data_ = 0;
    std::uint8_t control_ = 0x0C;
    std::uint64_t accesses_ = 0;
};

// A chip (or nothing, for "none"), its port and its virtual clock together:
// what tests, velkor-cli --simulate and the window's --simulate use.
class SimulatedTarget {
public:
    // Throws std::invalid_argument for a name that is neither a chip nor "none".
    // chipClockHz: the chip's clock whatever its fuses select; if not given,
    // the clock they select.
    explicit SimulatedTarget(std::string_view chipName, std::optional<std::uint32_t> chipClockHz = std::nullopt);

    VirtualClock& clock() { return clock_; }
    SimulatedPort& port() { return port_; }
    SimulatedChip* chip() { return chip_.get(); }  // nullptr for "none"

    // Seconds of virtual time since construction.
    double ElapsedSeconds() const;
    // Timing violations of the chip (0 with nothing attached).
    std::size_t ViolationCount() const;

private:
    VirtualClock clock_;
    std::unique_ptr<SimulatedChip> chip_;
    SimulatedPort port_;
};

}  // namespace velkor::sim
