#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ClockFuses.h"
#include "CommandResult.h"
#include "Session.h"

namespace velkor {

// What a Write keeps through its Chip Erase (the EEPROM): saved once the
// chip is identified and before the erase, which does not happen when the
// saving fails, and put back once the flash is written.
class KeptThroughErase {
public:
    virtual bool SaveBeforeErase() = 0;
    virtual bool RestoreAfterFlash() = 0;

protected:
    ~KeptThroughErase() = default;
};

// The programmer of the window and the command line: the session's state,
// the page buffer, and the three commands they share, reading the signature,
// writing the flash from an Intel HEX file and writing the fuses. Reading and
// verifying the flash (FlashReader), the EEPROM (EepromMemory) and the lock
// bits (LockBits) work through it.
class Programmer : public Session {
public:
    using Session::Session;

    std::vector<std::uint8_t> PageBuffer = std::vector<std::uint8_t>(65536, 0xFF);

    // ---- Commands: each clears the log and runs in the command frame ----
    CommandResult ReadSignatureCommand();
    // kept, when given, is saved before the erase and restored after the flash.
    CommandResult WriteCommand(const std::filesystem::path& hexFile, KeptThroughErase* kept = nullptr);
    // Checks every field first; an invalid one gives the single line "Error"
    // and no port access. Then writes the fuses in the command frame; the
    // extended byte only when its text is given, on a chip whose fuse layout
    // has one. Bits the chip's layout does not name are written as 1, and a
    // byte is compared with what it reads back on the bits the chip has.
    CommandResult WriteFuses(std::string_view highText, std::string_view lowText,
                             std::optional<std::string_view> extendedText = std::nullopt);

    // Why the last WriteFuses did not leave the values typed on the chip
    // (a byte that reads back otherwise, or no two fuse bytes to write);
    // empty when it did, or when its log already says why it failed.
    std::string FuseProblem;
    // One line for each byte that the last WriteFuses was given with 0 in
    // bits the chip does not have: they are written as 1, which is all they
    // ever read, and the user is told so.
    std::vector<std::string> UnusedBitsNotes;
    // The clock that the fuses read back after the last WriteFuses select,
    // on a chip whose fuses choose its clock; nothing otherwise.
    std::optional<SelectedClock> FuseClock;

    // ---- Flash writing ----------------------------------------------------
    bool WriteFlashByte(std::uint16_t address, std::uint8_t data);
    // Programs the dirty pages and reads each one back. False after "Verify
    // Error." at the first byte that differs, with the port released.
    bool WriteFlashPages();

    // ---- Intel HEX loading ------------------------------------------------
    // The body of the Write command: reads and checks the file, enters
    // programming mode, checks the file against the chip, erases it and
    // programs the flash. True when "---done.---" was logged.
    bool WriteHexFile(const std::filesystem::path& hexFile);
    // WriteHexFile from the point where the file has been read and checked.
    bool WriteCheckedHexFile(const CheckedHexFile& file);
    // The Write from the point where the chip has been checked against the
    // file and erased: the flash programmed and read back.
    bool ProgramErasedFlash(const CheckedHexFile& file);
    // On a chip without pages, whether no address is given two different
    // values; false after the line that says where, with the port released.
    bool ByteModeValuesAgree(const CheckedHexFile& file);

    // ---- Fuse writing -----------------------------------------------------
    // Whether the chip identified last takes these fuse values: two fuse
    // bytes at least, an extended one where given, and no bit that takes it
    // out of reach of serial programming (RSTDISBL, DWEN). False after the
    // line (or FuseProblem) that says why not; nothing is sent.
    bool FuseValuesAllowed(std::uint8_t highValue, std::uint8_t lowValue, std::optional<std::uint8_t> extendedValue);
    // The fuse sequence proper, run inside the frame once both fields are valid.
    bool WriteFuseBytes(std::uint8_t highValue, std::uint8_t lowValue,
                        std::optional<std::uint8_t> extendedValue = std::nullopt);

private:
    bool ProgramPage(unsigned start, unsigned pageSize);
    bool VerifyError();
    bool PrepareChipForFile(const CheckedHexFile& file);
    bool ProgramRecord(const HexEntry& record, bool pageMode);
    void NoteReadBack(const char* which, const FuseByteLayout* byte, std::uint8_t given, std::uint8_t read);

    KeptThroughErase* kept_ = nullptr;  // set while a Write keeps something through its erase
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
