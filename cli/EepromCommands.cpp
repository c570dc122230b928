#include "EepromCommands.h"

#include <ostream>

#include "Hints.h"

namespace velkor {

void DefineEepromCommands(const AddCommand& addCommand, EepromOptions& options)
{
    addCommand("write-eeprom", "write an Intel HEX image to the EEPROM: only the bytes that differ, each read back")
        ->add_option("HEXFILE", options.file, "Intel HEX file, addresses from 0")
        ->required();
    addCommand("read-eeprom", "save the chip's whole EEPROM as an Intel HEX file")
        ->add_option("FILE", options.file, "the HEX file to write")
        ->required();
    addCommand("verify-eeprom", "compare the chip's EEPROM with a HEX file; never writes")
        ->add_option("HEXFILE", options.file, "Intel HEX file, addresses from 0")
        ->required();
    addCommand("lock", "write the lock byte (bit 0 LB1, bit 1 LB2, BLB01..BLB12 above) and read it back")
        ->add_option("VALUE", options.lockValue, "the lock byte in hexadecimal, e.g. FC for lock mode 3")
        ->required();
}

std::optional<CommandResult> RunEepromCommand(EepromMemory& eeprom, LockBits& lock, const std::string& command,
                                              const EepromOptions& options)
{
    if (command == "write-eeprom") {
        return eeprom.WriteEepromCommand(options.file);
    }
    if (command == "read-eeprom") {
        return eeprom.ReadEepromCommand(options.file);
    }
    if (command == "verify-eeprom") {
        return eeprom.VerifyEepromCommand(options.file);
    }
    if (command == "lock") {
        return lock.LockCommand(options.lockValue);
    }
    return std::nullopt;
}

CommandResult WriteKeepingEeprom(EepromMemory& eeprom, const std::filesystem::path& hexFile,
                                 const std::vector<std::string>& sameChip, std::ostream& err)
{
    std::optional<std::filesystem::path> copy;
    eeprom.OnEepromCopySaved = [&](const std::filesystem::path& file) {
        copy = file;
        err << "velkor-cli: the EEPROM is saved in " << file.string() << " until it is written back\n" << std::flush;
    };
    CommandResult written = eeprom.WriteKeepingEepromCommand(hexFile, std::filesystem::current_path());
    eeprom.OnEepromCopySaved = nullptr;
    std::error_code error;
    if (copy && std::filesystem::exists(*copy, error)) {
        std::vector<std::string> restore = sameChip;
        restore.insert(restore.end(), {"write-eeprom", copy->string()});
        err << "velkor-cli: the EEPROM's copy stays in " << copy->string()
            << "; write it back with: " << ShellCommand(restore) << '\n';
    }
    return written;
}

}  // namespace velkor
