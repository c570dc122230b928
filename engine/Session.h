#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Cable.h"
#include "ChipCatalogue.h"
#include "ClockFuses.h"
#include "Clock.h"
#include "CommandResult.h"
#include "DeviceTable.h"
#include "ElfFile.h"
#include "HexFile.h"
#include "Log.h"
#include "PortOperations.h"
#include "SckPace.h"

namespace velkor {

// Whether a chip of rowName answers to name, in any case: "ATtiny13/13A" is
// the ATtiny13 and the ATtiny13A (avr-gcc's -mmcu attiny13a), the letters
// before the first digit shared.
bool ChipAnswersTo(std::string_view rowName, std::string_view name);

// What every command of the serial programming engine runs on: bit-level
// transfer over the parallel port, programming mode and identification, the
// HEX file a command works from, and the frame each command runs in. It
// reaches the port only through PortOperations, waits only through its Clock
// and reports only through its Log, so the same engine drives hardware, the
// simulated target and the tests. One instance holds the state a run of the
// program keeps; the Programmer is one, and the flash reader, the EEPROM and
// the lock bits work through it.
class Session {
public:
    Session(PortOperations& port, Clock& clock, Log& log);

    // ---- State kept between commands ----------------------------------
    std::uint16_t PortAddress = 0x378;  // data register; status at PortAddress + 1
    std::uint8_t DeviceIndex = 0;       // row of DeviceTable chosen by the last identification
    std::uint8_t MakerCode = 0;         // signature byte 0 read last
    std::uint16_t DeviceSignature = 0;  // signature bytes 1 and 2 read last
    // How long each SCK phase lasts, port access included (see SckPhaseFor).
    std::chrono::nanoseconds SckPhase = SckPhaseFor(kDefaultChipClockHz);
    // The cable between the port and the board (the built-in one until
    // another is chosen); it must outlive the session.
    void UseCable(const Cable& cable);
    const Cable& CableInUse() const { return *wiring_; }

    // Whether the pace follows the chip (no --chip-clock given): each command
    // identifies the chip at SckPhase, reads the fuses that select its clock
    // and goes on at the pace they allow, never faster; a chip that misses
    // SckPhase is tried once more at the slowest pace. False: SckPhase
    // throughout, as given. Either way SckPhase is as set again once the
    // command ends.
    bool PaceFromFuses = false;
    // The clock the pace of the last command was set for and why, once it
    // followed the chip; nothing while SckPhase held.
    struct ChosenPace {
        std::uint32_t clockHz = kDefaultChipClockHz;
        std::string reason;  // "its fuses select an external crystal of 8 MHz or more"
        // The chip missed SckPhase and answered at the slowest pace.
        bool foundAtSlowestPace = false;
    };
    std::optional<ChosenPace> PaceChosen;

    // Chip lists searched in this order once identification reaches the
    // table's zero row (the user's chip file, the catalogue); empty: the
    // table alone, as described.
    std::vector<const ChipCatalogue*> ChipLists;

    // The record of the chip in use: the chip lists' chip identified last,
    // else the table's chip of row DeviceIndex; nullptr for an unknown chip.
    // The one place that tells a table chip from a catalogue chip.
    const ChipRecord* ChipInUse() const;
    // The row in use: the record's, or the table's zero row for an unknown chip.
    const DEVTYPE& Device() const;
    // The fuse and lock bytes of the chip in use: empty for a listed chip
    // that has none, nothing for an unknown one.
    std::optional<std::span<const FuseByteLayout>> FuseLayout() const;
    // How the fuses of the chip in use choose its clock; nullptr where they do not.
    const ClockFuses* ClockFusesInUse() const;
    // The EEPROM rules of the chip in use, nothing for an unknown one.
    std::optional<EepromRules> MemoryRules() const;

    // Told as a long command moves through the flash: the bytes done so far
    // and the bytes it will cover. Whoever runs the command decides what to
    // show; unset, nobody is told.
    std::function<void(std::uint32_t done, std::uint32_t total)> OnProgress;

    // Asked before every instruction. Once it answers true the command stops
    // there: an instruction already sent has had its wait, so no write is cut
    // short; the log ends with "Interrupted." and the frame still releases
    // the port and closes the driver. Empty: never stop.
    std::function<bool()> StopRequested;

    // ---- The command frame ----------------------------------------------
    // Opens the driver for PortAddress, runs operation, leaves the port at its
    // idle pattern and closes the driver. When the port cannot be opened it
    // logs one line saying why and touches no port. The result tells whether
    // operation answered true, and the first fault noted on the way.
    CommandResult RunInCommandFrame(const std::function<bool()>& operation);
    // Notes why the command in the frame fails, beside the log line that says
    // so; the first fault noted counts.
    void Fail(const Failure& failure);
    // The result of a command refused before the frame: nothing was sent.
    static CommandResult Refused(Fault fault);

    // The log every command writes to.
    Log& CommandLog() const { return log_; }
    void Wait(unsigned milliseconds) { clock_.Sleep(milliseconds); }
    void ReportProgress(std::uint32_t done, std::uint32_t total) const
    {
        if (OnProgress) {
            OnProgress(done, total);
        }
    }
    // Stops the command here when StopRequested says so.
    void StopIfRequested();

    // ---- Serial transfer ------------------------------------------------
    void PortWrite(std::uint16_t port, std::uint8_t value);
    // Reads any of the port's registers (PortRead reads the status register).
    std::uint8_t PortReadAt(std::uint16_t port);
    // Puts SCK, MOSI and RESET at these levels at the chip, the cable engaged.
    void DriveLines(bool sck, bool mosi, bool reset);
    // Writes the registers that carry the cable's pins for lines.
    void DriveCable(const CableLines& lines);
    // Shows lamp on the cable's lamp for it, where the cable has one, from the
    // next write on; nothing: the programming lamp.
    void ShowLamp(std::optional<Lamp> lamp) { lamp_ = lamp.value_or(Lamp::Programming); }
    std::uint8_t PortRead();
    void ShortDelay();
    void SendByte(std::uint8_t value);
    std::uint8_t ReceiveByte();
    void SendInstruction(const Instruction& instruction);
    std::uint8_t QueryInstruction(const Instruction& instruction);
    // A query that belongs to the write before it (polling for its end):
    // never a stop point, so that the write gets its wait.
    std::uint8_t PollInstruction(const Instruction& instruction);
    void ReleasePort();
    // Read Program Memory of one byte.
    std::uint8_t ReadFlashByte(std::uint16_t address);

    // ---- Programming mode and identification ----------------------------
    // Programming Enable until the chip echoes it: attemptsPerRound tries,
    // then the pulses that bring a chip out of step back in step, and as
    // many tries again.
    static constexpr int kAttemptsPerRound = 32;
    bool ProgrammingEnable(int attemptsPerRound = kAttemptsPerRound);
    bool EnterProgramming(bool noErase);
    // Whether a chip is there: Programming Enable after its RESET pulse, in
    // the two rounds EnterProgramming gives it, the resynchronising pulses
    // between them, and the signature read when it answers. Leaves the port
    // released. A probe is no command: what it identifies is not noted.
    bool ProbeChip();
    void ReadSignature();
    // Whether the chip identified last is one the engine knows how to write:
    // the one place that decides it.
    bool IdentifiedChipIsListed() const;
    // Signature bytes 00 01 02: an AT90S in lock mode 3 answers its address
    // bytes instead of its signature until it is erased.
    bool SignatureHidden() const;
    // Erases the chip and enters programming mode again, as EnterProgramming
    // does when asked to erase.
    bool ChipErase();

    // ---- Waiting for the chip ---------------------------------------------
    // Whether the chip in use is told ready by RDY/BSY polling rather than
    // waited for: a chip beyond the table whose record has the F0 poll. The
    // table's chips keep their fixed waits.
    bool PollsReadyBusy() const;
    // Poll RDY/BSY once: true while the chip is still busy.
    bool ReportsBusy();
    // After a write or erase the chip times itself (busyMicros by its
    // record): RDY/BSY polls until it is ready, at most twice that long,
    // where PollsReadyBusy; else the fixed wait. False, after the line saying
    // the chip stayed busy (what: "page write"), with the port released.
    bool WaitUntilReady(unsigned fixedWaitMs, std::uint32_t busyMicros, std::string_view what);

    // ---- The HEX file a command works from --------------------------------
    // A HEX file read once into memory and found sound by itself. An ELF
    // file is read once too, and the memory a command takes from it is laid
    // out as such a text, so that every check of a HEX file applies to it.
    struct CheckedHexFile {
        std::vector<std::uint8_t> text;
        HexFileCheck check;
        bool fromElf = false;
        // The chip an ELF file was built for, from its signature section.
        std::optional<ChipSignature> builtFor{};
    };
    // Which memory of an ELF file a command takes; a HEX file is one memory.
    enum class FileMemory { Flash, Eeprom };
    // Reads and checks the file (Intel HEX, or ELF told by its content);
    // logs the one line of a file that cannot be used. Sends nothing to the
    // chip.
    std::optional<CheckedHexFile> ReadHexFile(const std::filesystem::path& hexFile,
                                              FileMemory memory = FileMemory::Flash);
    // The file's bytes, read whole; nothing after the line that says why not.
    std::optional<std::vector<std::uint8_t>> ReadInputFile(const std::filesystem::path& file);
    // A HEX text checked whole; nothing after the line of its fault.
    std::optional<CheckedHexFile> CheckHexText(std::vector<std::uint8_t> text);
    // One memory of an ELF file as a checked file.
    std::optional<CheckedHexFile> ElfMemoryFile(const ElfMemories& memories, FileMemory memory);
    // An ELF file's memories; nothing after the line that says why not.
    std::optional<ElfMemories> ReadElf(std::span<const std::uint8_t> bytes);
    // False, with the port released and a line naming both chips, when the
    // file was built for another chip than the one identified.
    bool FileIsForChip(const CheckedHexFile& file);
    // The start of the line for data at or beyond limit: the HEX file's line,
    // or the ELF file's address.
    std::string OutOfRangeText(const CheckedHexFile& file, std::size_t line, std::uint32_t limit);
    // The name of the chip with signature, as the table and the chip lists
    // know it, and its three bytes: "ATmega328P (1E 95 0F)".
    std::string ChipDescription(ChipSignature signature) const;

    // ---- The chip a command expects ---------------------------------------
    // Set: once identified, a chip of another name ends the command before
    // anything is written (EnterProgramming fails with a line naming both).
    // The chip's own name or avr-gcc's -mmcu name, any case.
    std::optional<std::string> ExpectedChip;
    // Each data record of the file in order, while use answers true.
    void ForEachRecord(const CheckedHexFile& file, const std::function<bool(const HexEntry&)>& use);
    // False, with the port released, when the file's data reaches past the
    // flash of the chip in use.
    bool DataFitsChip(const CheckedHexFile& file);
    // The file's data below limit, by address; the value given last counts.
    using MemoryImage = std::vector<std::optional<std::uint8_t>>;
    MemoryImage FileImage(const CheckedHexFile& file, std::uint32_t limit);
    // Compares the image's bytes with what read gives: one line either way.
    bool CompareWithChip(const MemoryImage& image, const std::function<std::uint8_t(std::uint32_t)>& read,
                         std::string_view memory);
    // Every byte of a memory of size bytes, through readByte, with progress.
    std::vector<std::uint8_t> ReadWholeMemory(std::uint32_t size,
                                              const std::function<std::uint8_t(std::uint16_t)>& readByte);
    // memory as Intel HEX, given to save (which throws std::runtime_error
    // with the reason it could not); false after the line "failure: why."
    // when it could not be saved.
    using MemorySaver = std::function<void(std::string_view text)>;
    bool SaveMemory(const MemorySaver& save, std::span<const std::uint8_t> memory, bool everyRecord,
                    const char* failure);
    // Saving into file, replaced whole.
    static MemorySaver WholeFileSaver(const std::filesystem::path& file);

    // A positive RESET pulse with SCK low, then RESET held low, after
    // leadInMilliseconds with RESET low (none: straight away).
    void ResetIntoProgrammingMode(unsigned leadInMilliseconds);

private:
    // Thrown at an instruction boundary when StopRequested; caught by the
    // command frame only.
    struct Interrupted {};
    // Where PaceFromFuses: one more RESET and Programming Enable at the
    // slowest pace, for a chip on a slow clock; false, at the pace before,
    // when nothing answers there either.
    bool FoundAtSlowestPace();
    // Where PaceFromFuses: the pace for the clock the chip's fuses allow,
    // read once the chip is identified.
    void FollowChipClock();
    std::optional<SelectedClock> ReadClockFuses(const ChipRecord& chip, const ClockFuses& clock);
    std::chrono::nanoseconds PhaseForChip(const SelectedClock& clock, std::uint32_t slowestHz) const;
    void OpenCable();
    bool TryProgrammingEnable();
    // Reads the signature and finds the chip, with its log lines.
    void Identify();
    void LogDeviceDescription(const DEVTYPE& device);
    const ChipRecord* FindInChipLists(std::uint16_t signature) const;
    bool IsExpectedChip() const;

    const ChipRecord* catalogueChip_ = nullptr;  // found in ChipLists by the last identification
    std::chrono::nanoseconds missedPhase_{};     // the pace a chip found at the slowest pace missed
    // What the command in the frame has met so far.
    std::optional<Failure> failure_;
    std::vector<ChipSignature> unlisted_;
    std::optional<Lamp> lamp_;  // lit while a command drives the cable
    // The register values for every pattern of the lines on the cable in use,
    // worked out once when it is chosen: by SCK, MOSI, RESET and engaged
    // (bits 0 to 3), for no lamp and for each lamp.
    const Cable* wiring_ = nullptr;
    std::array<std::array<PortRegisters, 16>, 5> cableRegisters_{};
    bool cableUsesData_ = true;
    bool cableUsesControl_ = false;
    PortOperations& port_;
    Clock& clock_;

protected:
    Log& log_;
};

}  // namespace velkor
