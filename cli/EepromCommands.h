#pragma once

// The EEPROM and lock commands (write-eeprom, read-eeprom, verify-eeprom,
// lock) and the Write that keeps the EEPROM, over the shared options.

#include <CLI/CLI.hpp>

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "CommandResult.h"
#include "Eeprom.h"
#include "LockBits.h"

namespace velkor {

struct EepromOptions {
    std::filesystem::path file;
    std::string lockValue;
};

using AddCommand = std::function<CLI::App*(const std::string& name, const std::string& description)>;

void DefineEepromCommands(const AddCommand& addCommand, EepromOptions& options);

// Runs command when it is one of this family: how it ended; nothing for a
// command of another family.
std::optional<CommandResult> RunEepromCommand(EepromMemory& eeprom, LockBits& lock, const std::string& command,
                                              const EepromOptions& options);

// The Write keeping the EEPROM: its copy goes to the current folder, named on
// err when saved, and again when a failure or an interruption leaves it there,
// with the command that writes it back: sameChip (the program and the options
// that reach this chip) and write-eeprom with the copy, quoted for the shell.
CommandResult WriteKeepingEeprom(EepromMemory& eeprom, const std::filesystem::path& hexFile,
                                 const std::vector<std::string>& sameChip, std::ostream& err);

}  // namespace velkor
