// The flash family: signature, write (and write --keep-eeprom), verify, read.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CommandOptions.h"
#include "Commands.h"
#include "Hints.h"

namespace velkor {

namespace {

struct WriteValues {
    std::optional<std::filesystem::path> hexFile;
    bool keepEeprom = false;
};

// The Write keeping the EEPROM: its copy goes to the current folder, named on
// err when saved, and again when a failure or an interruption leaves it there,
// with the command that writes it back: the program and the options that reach
// this chip, and write-eeprom with the copy, quoted for the shell.
CommandResult WriteKeepingEeprom(EepromMemory& eeprom, const std::filesystem::path& hexFile,
                                 const Invocation& invocation)
{
    std::ostream& err = invocation.err;
    std::optional<std::filesystem::path> copy;
    eeprom.OnEepromCopySaved = [&](const std::filesystem::path& file) {
        copy = file;
        err << "velkor-cli: the EEPROM is saved in " << file.string() << " until it is written back\n" << std::flush;
    };
    CommandResult written = eeprom.WriteKeepingEepromCommand(hexFile, std::filesystem::current_path());
    eeprom.OnEepromCopySaved = nullptr;
    std::error_code error;
    if (copy && std::filesystem::exists(*copy, error)) {
        std::vector<std::string> restore = SameChipCommand(invocation.options);
        restore.insert(restore.end(), {"write-eeprom", copy->string()});
        err << "velkor-cli: the EEPROM's copy stays in " << copy->string()
            << "; write it back with: " << ShellCommand(restore) << '\n';
    }
    return written;
}

int Write(const Invocation& invocation, const WriteValues& values)
{
    const std::filesystem::path hexFile = HexFileOrDefault(values.hexFile);
    ChipCommand write("write", [&](EngineParts& engine) {
        return values.keepEeprom ? WriteKeepingEeprom(engine.eeprom, hexFile, invocation)
                                 : engine.programmer.WriteCommand(hexFile);
    });
    write.report.hexFile = hexFile;
    return RunOnChip(invocation, write);
}

int Verify(const Invocation& invocation, const std::optional<std::filesystem::path>& givenHexFile)
{
    const std::filesystem::path hexFile = HexFileOrDefault(givenHexFile);
    ChipCommand verify("verify", [&](EngineParts& engine) { return engine.flash.VerifyCommand(hexFile); });
    verify.report.hexFile = hexFile;
    return RunOnChip(invocation, verify);
}

int Read(const Invocation& invocation, const std::filesystem::path& file)
{
    ChipCommand read("read", [&](EngineParts& engine) { return engine.flash.ReadCommand(file); });
    read.writes = {file};
    return RunOnChip(invocation, read);
}

}  // namespace

void DefineSignature(CLI::App& app, Invocation& invocation)
{
    AddCommand(app, invocation, "signature", "read the chip's signature (Read Signature)", [&invocation] {
        return RunOnChip(invocation,
                         {"signature", [](EngineParts& engine) { return engine.programmer.ReadSignatureCommand(); }});
    });
}

void DefineWrite(CLI::App& app, Invocation& invocation)
{
    const auto values = std::make_shared<WriteValues>();
    CLI::App& write =
        AddCommand(app, invocation, "write", "erase the chip and program its flash from a HEX file (Write)",
                   [&invocation, values] { return Write(invocation, *values); });
    AddHexFileArgument(write, values->hexFile);
    write.add_flag("--keep-eeprom", values->keepEeprom,
                   "save the EEPROM to a file before the erase and write it back after the flash");
}

void DefineVerify(CLI::App& app, Invocation& invocation)
{
    const auto hexFile = std::make_shared<std::optional<std::filesystem::path>>();
    CLI::App& verify = AddCommand(app, invocation, "verify", "compare the chip's flash with a HEX file; never writes",
                                  [&invocation, hexFile] { return Verify(invocation, *hexFile); });
    AddHexFileArgument(verify, *hexFile);
}

void DefineRead(CLI::App& app, Invocation& invocation)
{
    const auto file = std::make_shared<std::filesystem::path>();
    AddCommand(app, invocation, "read", "save the chip's whole flash as an Intel HEX file",
               [&invocation, file] { return Read(invocation, *file); })
        .add_option("FILE", *file, "the HEX file to write")
        ->required();
}

}  // namespace velkor
