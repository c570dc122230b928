// program: the whole chip in one command, from an ELF file or from a HEX
// file for each memory and the fuse and lock values.
#include <CLI/CLI.hpp>

#include <memory>

#include "CommandOptions.h"
#include "Commands.h"
#include "WholeChip.h"

namespace velkor {

namespace {

int Program(const Invocation& invocation, const WholeChipRequest& request)
{
    ChipCommand program("program", [&](EngineParts& engine) {
        WholeChip whole(engine.programmer, engine.eeprom, engine.lock);
        return whole.ProgramCommand(request);
    });
    if (!request.files.empty()) {
        program.report.hexFile = request.files.front();
    }
    return RunOnChip(invocation, program);
}

}  // namespace

void DefineProgram(CLI::App& app, Invocation& invocation)
{
    const auto request = std::make_shared<WholeChipRequest>();
    CLI::App& program =
        AddCommand(app, invocation, "program",
                   "the whole chip in one command: Chip Erase, flash, EEPROM, fuses, lock byte last, each read back",
                   [&invocation, request] { return Program(invocation, *request); });
    program.add_option("FILE", request->files, "ELF files (every memory they hold) or HEX files (the flash)");
    program.add_option("--flash", request->flash, "the flash from this HEX or ELF file")->type_name("FILE");
    program.add_option("--eeprom", request->eeprom, "the EEPROM from this HEX or ELF file")->type_name("FILE");
    program.add_option("--fuses", request->fuses, "the fuse bytes in hexadecimal, as the fuse command takes them")
        ->type_name("HIGH LOW [EXT]")
        ->expected(2, 3);
    program.add_option("--lock", request->lock, "the lock byte in hexadecimal, written last")->type_name("VALUE");
    program.add_flag("--erase", request->erase, "a Chip Erase even without flash to write (alone: only the erase)");
}

}  // namespace velkor
