#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ChipCatalogue.h"
#include "ClockFuses.h"
#include "Clock.h"
#include "DeviceTable.h"
#include "HexFile.h"
#include "Log.h"
#include "PortOperations.h"
#include "SckPace.h"

namespace velkor {

// The serial programming engine: bit-level transfer over the parallel port,
// programming mode and identification, flash writing, HEX loading and fuse
// writing, plus the frame each command runs in. It reaches the port only
// through PortOperations, waits only through its Clock and reports only
// through its Log, so the same engine drives hardware, the simulated target
// and the tests. One instance holds the state a run of the program keeps.
class Programmer {
public:
    Programmer(PortOperations& port, Clock& clock, Log& log);

    // ---- State kept between commands ----------------------------------
    std::uint16_t PortAddress = 0x378;  // data register; status at PortAddress + 1
    std::uint8_t DeviceIndex = 0;       // row of DeviceTable chosen by the last identification
    std::uint8_t MakerCode = 0;         // signature byte 0 read last
    std::uint16_t DeviceSignature = 0;  // signature bytes 1 and 2 read last
    std::vector<std::uint8_t> PageBuffer = std::vector<std::uint8_t>(65536, 0xFF);
    // How long each SCK phase lasts, port access included (see SckPhaseFor).
    std::chrono::nanoseconds SckPhase = SckPhaseFor(kDefaultChipClockHz);

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

    // Told as a long command moves through the flash: the bytes done so far
    // and the bytes it will cover. Whoever runs the command decides what to
    // show; unset, nobody is told.
    std::function<void(std::uint32_t done, std::uint32_t total)> OnProgress;

    // Asked before every instruction. Once it answers true the command stops
    // there: an instruction already sent has had its wait, so no write is cut
    // short; the log ends with "Interrupted." and the frame still releases
    // the port and closes the driver. Empty: never stop.
    std::function<bool()> StopRequested;

    // ---- Commands: each clears the log and runs in the command frame ----
    // True when the command reached its successful end.
    bool ReadSignatureCommand();
    bool WriteCommand(const std::filesystem::path& hexFile);
    // Checks every field first; an invalid one gives the single line "Error"
    // and no port access. Then writes the fuses in the command frame; the
    // extended byte only when its text is given, on a chip whose fuse layout
    // has one. Bits the chip's layout does not name are written as 1, and a
    // byte is compared with what it reads back on the bits the chip has.
    bool WriteFuses(std::string_view highText, std::string_view lowText,
                    std::optional<std::string_view> extendedText = std::nullopt);
    // Programming mode without erase, then the file's data compared with the
    // chip's flash: one line with the bytes compared, or the first that
    // differs; a file without data has nothing to compare and fails.
    bool VerifyCommand(const std::filesystem::path& hexFile);
    // Programming mode without erase, then the whole flash saved to file as
    // Intel HEX; a failed read or save leaves file as it was.
    bool ReadCommand(const std::filesystem::path& file);
    // Programming mode without erase, then one line per fuse and lock byte
    // the chip lets serial programming read.
    bool ReadFusesCommand();

    // ---- EEPROM and lock bits ------------------------------------------------
    // Programming mode without erase, then the file's data (Intel HEX from
    // address 0, checked whole and against the EEPROM's size first) written
    // to the EEPROM: only the bytes that differ from what the chip holds,
    // each read back. The log ends with how many were written and how many
    // were already right, or with the first byte that reads back otherwise.
    bool WriteEepromCommand(const std::filesystem::path& hexFile);
    // Programming mode without erase, then the whole EEPROM saved to file as
    // Intel HEX, every byte given; a failed read or save leaves file as it was.
    bool ReadEepromCommand(const std::filesystem::path& file);
    // As VerifyCommand, against the EEPROM.
    bool VerifyEepromCommand(const std::filesystem::path& hexFile);
    // Writes the lock byte typed in hexadecimal (bit 0 LB1, bit 1 LB2, the
    // boot lock bits above on chips that have them), reads it back where the
    // chip can, and says which lock modes it sets. A value that programs a
    // lock bit the chip does not have is refused before anything is written;
    // bits 6 and 7, which no chip has, are written as 1 with a note.
    bool LockCommand(std::string_view valueText);
    // The Write, keeping the EEPROM: it is read whole and saved to a new file
    // in copyFolder before the Chip Erase (OnEepromCopySaved is told its
    // name), and once the flash is written and read back it is written back
    // and read back, and the file removed. An interruption or failure after
    // the erase leaves the file for write-eeprom.
    bool WriteKeepingEepromCommand(const std::filesystem::path& hexFile, const std::filesystem::path& copyFolder);
    std::function<void(const std::filesystem::path&)> OnEepromCopySaved;

    // Told just before an instruction that writes EEPROM cells goes out:
    // from then on the bytes may be on the chip, whatever ends the command.
    std::function<void()> OnEepromWrite;

    // Within an open programming session, on the chip identified last:
    // the EEPROM rules of the chip in use, nothing for an unknown one;
    std::optional<EepromRules> MemoryRules() const;
    // the whole EEPROM, or nothing with a log line saying why;
    std::optional<std::vector<std::uint8_t>> ReadEeprom();
    // bytes written from address on, as WriteEepromCommand writes its file's
    // data (a serial number, a calibration value);
    bool WriteEepromBytes(std::uint16_t address, std::span<const std::uint8_t> bytes);
    // true, with a log line, when lock mode 3 (LB1 and LB2 programmed, or a
    // hidden signature) keeps the flash and EEPROM from being read.
    bool ReadingLocked();

    // Why the last WriteFuses did not leave the values typed on the chip
    // (a byte that reads back otherwise, or no two fuse bytes to write);
    // empty when it did, or when its log already says why it failed.
    std::string FuseProblem;
    // One line for each byte that the last WriteFuses or LockCommand was
    // given with 0 in bits the chip does not have: they are written as 1,
    // which is all they ever read, and the user is told so.
    std::vector<std::string> UnusedBitsNotes;
    // The clock that the fuses read back after the last WriteFuses select,
    // on a chip whose fuses choose its clock; nothing otherwise.
    std::optional<SelectedClock> FuseClock;

    // Opens the driver for PortAddress, runs operation, leaves the port at its
    // idle pattern and closes the driver. When the port cannot be opened it
    // logs one line saying why and touches no port.
    bool RunInCommandFrame(const std::function<bool()>& operation);

    // ---- Serial transfer ------------------------------------------------
    void PortWrite(std::uint16_t port, std::uint8_t value);
    std::uint8_t PortRead();
    void ShortDelay();
    void SendByte(std::uint8_t value);
    std::uint8_t ReceiveByte();
    void SendInstruction(const Instruction& instruction);
    std::uint8_t QueryInstruction(const Instruction& instruction);
    void ReleasePort();

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
    // released.
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

    // ---- Flash writing ----------------------------------------------------
    bool WriteFlashByte(std::uint16_t address, std::uint8_t data);
    // Programs the dirty pages and reads each one back. False after "Verify
    // Error." at the first byte that differs, with the port released.
    bool WriteFlashPages();
    // Read Program Memory of one byte.
    std::uint8_t ReadFlashByte(std::uint16_t address);

    // ---- Intel HEX loading ------------------------------------------------
    // The body of the Write command: reads and checks the file, enters
    // programming mode, checks the file against the chip, erases it and
    // programs the flash. True when "---done.---" was logged.
    bool WriteHexFile(const std::filesystem::path& hexFile);
    // A HEX file read once into memory and found sound by itself.
    struct CheckedHexFile {
        std::vector<std::uint8_t> text;
        HexFileCheck check;
    };
    // Reads and checks the file; logs the one line of a file that cannot be
    // used. Sends nothing to the chip.
    std::optional<CheckedHexFile> ReadHexFile(const std::filesystem::path& hexFile);
    // WriteHexFile from the point where the file has been read and checked.
    bool WriteCheckedHexFile(const CheckedHexFile& file);

    // ---- Fuse writing -----------------------------------------------------
    // The fuse sequence proper, run inside the frame once both fields are valid.
    bool WriteFuseBytes(std::uint8_t highValue, std::uint8_t lowValue,
                        std::optional<std::uint8_t> extendedValue = std::nullopt);
    bool ReadFuseAndLockBytes();

    // ---- Reading the flash --------------------------------------------------
    bool ReadFlash(const std::filesystem::path& file);

private:
    // Thrown at an instruction boundary when StopRequested; caught by the
    // command frame only.
    struct Interrupted {};
    void StopIfRequested();
    // A query that belongs to the write before it (polling for its end):
    // never a stop point, so that the write gets its wait.
    std::uint8_t PollInstruction(const Instruction& instruction);
    void Wait(unsigned milliseconds) { clock_.Sleep(milliseconds); }
    void ReportProgress(std::uint32_t done, std::uint32_t total) const
    {
        if (OnProgress) {
            OnProgress(done, total);
        }
    }
    void ResetIntoProgrammingMode(unsigned leadInMilliseconds);
    bool TryProgrammingEnable();
    void LogDeviceDescription(const DEVTYPE& device);
    bool ProgramPage(unsigned start, unsigned pageSize);
    bool VerifyError();
    // Each data record of the file in order, while use answers true.
    void ForEachRecord(const CheckedHexFile& file, const std::function<bool(const HexEntry&)>& use);
    bool PrepareChipForFile(const CheckedHexFile& file);
    bool DataFitsChip(const CheckedHexFile& file);
    bool ByteModeValuesAgree(const CheckedHexFile& file);
    bool ProgramRecord(const HexEntry& record, bool pageMode);
    // Compares the file's data with the chip's flash.
    bool VerifyFlash(const CheckedHexFile& file);
    // The file's data below limit, by address; the value given last counts.
    using MemoryImage = std::vector<std::optional<std::uint8_t>>;
    MemoryImage FileImage(const CheckedHexFile& file, std::uint32_t limit);
    // Compares the image's bytes with what read gives: one line either way.
    bool CompareWithChip(const MemoryImage& image, const std::function<std::uint8_t(std::uint32_t)>& read,
                         std::string_view memory);
    std::uint8_t ReadEepromByte(std::uint16_t address);
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
    bool EepromKnown();
    bool WritingLocked();
    // After an EEPROM write that did not take, on a chip whose lock bits
    // cannot be read: a line saying that a lock would explain it.
    void NoteLockUnread();
    bool LockedAgainst(std::uint8_t bits, std::string_view line);
    std::optional<std::uint8_t> ReadLockByte();
    bool WriteEepromImage(const MemoryImage& image);
    bool WriteEepromPage(const EepromRules& rules, std::uint32_t first, const std::vector<std::uint8_t>& held,
                         const MemoryImage& image);
    void SendEepromWrite(const Instruction& instruction);
    void WaitForEepromWrite(const EepromRules& rules, std::uint16_t address, std::uint8_t value);
    bool EepromReadsBack(std::uint16_t address, std::uint8_t value);
    bool EepromFileFits(const CheckedHexFile& file);
    bool WriteLockByte(std::uint8_t value);
    bool SaveEepromCopy();
    bool RestoreEepromCopy();
    std::optional<std::filesystem::path> eepromCopyFolder_;  // set while a Write keeps the EEPROM
    // The EEPROM saved before a Write's erase, and the file that holds it.
    struct KeptEeprom {
        std::filesystem::path file;
        std::vector<std::uint8_t> bytes;
    };
    std::optional<KeptEeprom> keptEeprom_;
    void NoteReadBack(const char* which, const FuseByteLayout* byte, std::uint8_t given, std::uint8_t read);
    // The byte as the chip's own read instruction gives it.
    std::uint8_t ReadLayoutByte(const FuseByteLayout& byte);

    const ChipRecord* FindInChipLists(std::uint16_t signature) const;

    const ChipRecord* catalogueChip_ = nullptr;  // found in ChipLists by the last identification
    PortOperations& port_;
    Clock& clock_;
    Log& log_;
};

// A fuse field: one or two hexadecimal digits (either case) and nothing
// else. nullopt for anything else.
std::optional<std::uint8_t> ParseFuseField(std::string_view text);

// The bits of a fuse or lock byte that the chip's layout leaves unnamed:
// the chip does not have them, and they always read 1.
std::uint8_t UnusedBits(const FuseByteLayout& byte);
// The note for a value given with 0 in unused bits and written as sent;
// what names the byte ("extended fuse", "LOCK").
std::string UnusedBitsNote(std::string_view what, std::uint8_t given, std::uint8_t sent);
// Why a byte read back with 0 in bits its layout leaves unused cannot be
// trusted; empty when every unused bit reads 1.
std::string UnusedBitsReadingZero(std::string_view what, const FuseByteLayout& byte, std::uint8_t read);

}  // namespace velkor
