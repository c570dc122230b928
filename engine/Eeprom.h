#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "CommandResult.h"
#include "ChipRecord.h"
#include "Programmer.h"

namespace velkor {

// The EEPROM: reading it whole, comparing it with a file, writing only the
// bytes that differ, each chip its own way, and keeping it through a Write.
class EepromMemory : private KeptThroughErase {
public:
    explicit EepromMemory(Programmer& programmer) : programmer_(programmer), log_(programmer.CommandLog()) {}

    // Programming mode without erase, then the file's data (Intel HEX from
    // address 0, checked whole and against the EEPROM's size first) written
    // to the EEPROM: only the bytes that differ from what the chip holds,
    // each read back. The log ends with how many were written and how many
    // were already right, or with the first byte that reads back otherwise.
    CommandResult WriteEepromCommand(const std::filesystem::path& hexFile);
    // Programming mode without erase, then the whole EEPROM saved to file as
    // Intel HEX, every byte given; a failed read or save leaves file as it was.
    CommandResult ReadEepromCommand(const std::filesystem::path& file);
    // As the flash's verify, against the EEPROM.
    CommandResult VerifyEepromCommand(const std::filesystem::path& hexFile);
    // The Write, keeping the EEPROM: it is read whole and saved to a new file
    // in copyFolder before the Chip Erase (OnEepromCopySaved is told its
    // name), and once the flash is written and read back it is written back
    // and read back, and the file removed. An interruption or failure after
    // the erase leaves the file for write-eeprom.
    CommandResult WriteKeepingEepromCommand(const std::filesystem::path& hexFile,
                                            const std::filesystem::path& copyFolder);
    std::function<void(const std::filesystem::path&)> OnEepromCopySaved;

    // Told just before an instruction that writes EEPROM cells goes out:
    // from then on the bytes may be on the chip, whatever ends the command.
    std::function<void()> OnEepromWrite;

    // Within an open programming session, on the chip identified last:
    // the whole EEPROM, or nothing with a log line saying why;
    std::optional<std::vector<std::uint8_t>> ReadEeprom();
    // bytes written from address on, as WriteEepromCommand writes its file's
    // data (a serial number, a calibration value).
    bool WriteEepromBytes(std::uint16_t address, std::span<const std::uint8_t> bytes);

    // Within an open programming session, on the chip identified last:
    // whether the file's data is for this chip and fits its EEPROM, false
    // after the line that says why not;
    bool EepromFileFits(const Session::CheckedHexFile& file);
    // the file's data written as WriteEepromCommand writes it, the lock bits
    // left to the caller.
    bool WriteEepromFile(const Session::CheckedHexFile& file);

private:
    using MemoryImage = Session::MemoryImage;
    std::uint8_t ReadEepromByte(std::uint16_t address);
    bool EepromKnown();
    bool WriteEepromImage(const MemoryImage& image);
    bool WriteEepromPage(const EepromRules& rules, std::uint32_t first, const std::vector<std::uint8_t>& held,
                         const MemoryImage& image);
    void SendEepromWrite(const Instruction& instruction);
    bool WaitForEepromWrite(const EepromRules& rules, std::uint16_t address, std::uint8_t value);
    bool EepromReadsBack(std::uint16_t address, std::uint8_t value);
    // What the Write that keeps the EEPROM does around its erase.
    bool SaveBeforeErase() override;
    bool RestoreAfterFlash() override;

    Programmer& programmer_;
    Log& log_;
    std::filesystem::path copyFolder_;  // where a Write that keeps the EEPROM saves it
    // The EEPROM saved before a Write's erase, and the file that holds it.
    struct KeptEeprom {
        std::filesystem::path file;
        std::vector<std::uint8_t> bytes;
    };
    std::optional<KeptEeprom> keptEeprom_;
};

}  // namespace velkor
