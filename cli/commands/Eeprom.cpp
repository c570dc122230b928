// The EEPROM family: write-eeprom, read-eeprom, verify-eeprom.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
#include <vector>

#include "CommandOptions.h"
#include "Commands.h"

namespace velkor {

namespace {

// An EEPROM command over the one HEX file its argument names.
struct EepromCommand {
    const char* name;
    const char* description;
    const char* argument;
    const char* argumentDescription;
    CommandResult (EepromMemory::*run)(const std::filesystem::path&);
    bool writesFile;  // else it reads the file, and the hints may look into it
};

constexpr EepromCommand kWriteEeprom{
    "write-eeprom",
    "write an Intel HEX image to the EEPROM: only the bytes that differ, each read back",
    "HEXFILE",
    "Intel HEX file, addresses from 0",
    &EepromMemory::WriteEepromCommand,
    false};
constexpr EepromCommand kReadEeprom{"read-eeprom",
                                    "save the chip's whole EEPROM as an Intel HEX file",
                                    "FILE",
                                    "the HEX file to write",
                                    &EepromMemory::ReadEepromCommand,
                                    true};
constexpr EepromCommand kVerifyEeprom{"verify-eeprom",
                                      "compare the chip's EEPROM with a HEX file; never writes",
                                      "HEXFILE",
                                      "Intel HEX file, addresses from 0",
                                      &EepromMemory::VerifyEepromCommand,
                                      false};

int RunEepromCommand(const Invocation& invocation, const EepromCommand& command, const std::filesystem::path& file)
{
    ChipCommand eeprom(command.name, [&](EngineParts& engine) { return (engine.eeprom.*command.run)(file); });
    if (command.writesFile) {
        eeprom.writes = {file};
    } else {
        eeprom.report.hexFile = file;
    }
    return RunOnChip(invocation, eeprom);
}

void DefineEepromCommand(CLI::App& app, Invocation& invocation, const EepromCommand& command)
{
    const auto file = std::make_shared<std::filesystem::path>();
    AddCommand(app, invocation, command.name, command.description,
               [&invocation, &command, file] { return RunEepromCommand(invocation, command, *file); })
        .add_option(command.argument, *file, command.argumentDescription)
        ->required();
}

}  // namespace

void DefineWriteEeprom(CLI::App& app, Invocation& invocation)
{
    DefineEepromCommand(app, invocation, kWriteEeprom);
}

void DefineReadEeprom(CLI::App& app, Invocation& invocation)
{
    DefineEepromCommand(app, invocation, kReadEeprom);
}

void DefineVerifyEeprom(CLI::App& app, Invocation& invocation)
{
    DefineEepromCommand(app, invocation, kVerifyEeprom);
}

}  // namespace velkor
