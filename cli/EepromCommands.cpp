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

std::optional<bool> RunEepromCommand(Programmer& programmer, const std::string& command, const EepromOptions& options)
{
    if (command == "write-eeprom") {
        return programmer.WriteEepromCommand(options.file);
    }
    if (command == "read-eeprom") {
        return programmer.ReadEepromCommand(options.file);
    }
    if (command == "verify-eeprom") {
        return programmer.VerifyEepromCommand(options.file);
    }
    if (command == "lock") {
        return programmer.LockCommand(options.lockValue);
    }
    return std::nullopt;
}

bool WriteKeepingEeprom(Programmer& programmer, const std::filesystem::path& hexFile,
                        const std::vector<std::string>& sameChip, std::ostream& err)
{
    std::optional<std::filesystem::path> copy;
    programmer.OnEepromCopySaved = [&](const std::filesystem::path& file) {
        copy = file;
        err << "velkor-cli: the EEPROM is saved in " << file.string() << " until it is written back\n" << std::flush;
    };
    const bool written = programmer.WriteKeepingEepromCommand(hexFile, std::filesystem::current_path());
    programmer.OnEepromCopySaved = nullptr;
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
