#pragma once

// velkor-cli's commands, one family a file. Each Define function adds its
// command, with its arguments and options, to app; CliApp.cpp calls them in
// the order --help lists the commands.

namespace CLI {
class App;
}

namespace velkor {

struct Invocation;

// Flash.cpp: signature, write, verify, read.
void DefineSignature(CLI::App& app, Invocation& invocation);
void DefineWrite(CLI::App& app, Invocation& invocation);
void DefineVerify(CLI::App& app, Invocation& invocation);
void DefineRead(CLI::App& app, Invocation& invocation);

// Eeprom.cpp: write-eeprom, read-eeprom, verify-eeprom.
void DefineWriteEeprom(CLI::App& app, Invocation& invocation);
void DefineReadEeprom(CLI::App& app, Invocation& invocation);
void DefineVerifyEeprom(CLI::App& app, Invocation& invocation);

// FusesAndLock.cpp: fuse, read-fuses, lock.
void DefineFuse(CLI::App& app, Invocation& invocation);
void DefineReadFuses(CLI::App& app, Invocation& invocation);
void DefineLock(CLI::App& app, Invocation& invocation);

// Program.cpp: program, the whole chip.
void DefineProgram(CLI::App& app, Invocation& invocation);

// Produce.cpp: produce, board after board.
void DefineProduce(CLI::App& app, Invocation& invocation);

// Information.cpp: ports, chips, and the program's --version.
void DefinePorts(CLI::App& app, Invocation& invocation);
void DefineChips(CLI::App& app, Invocation& invocation);
void DefineVersion(CLI::App& app);

// Cables.cpp: cables.
void DefineCables(CLI::App& app, Invocation& invocation);

// Doctor.cpp: doctor.
void DefineDoctor(CLI::App& app, Invocation& invocation);

}  // namespace velkor
