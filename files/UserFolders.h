#pragma once

#include <filesystem>

namespace velkor {

// Where the Write command reads its HEX file: "c:\avrtools\avr.hex" on
// Windows, HOME/avrtools/avr.hex elsewhere; empty when there is no home
// folder (the Write then finds no file).
std::filesystem::path DefaultHexFilePath();

// The folder where velkor keeps what it must remember between runs:
// $XDG_STATE_HOME/velkor (an absolute one), else ~/.local/state/velkor;
// %LOCALAPPDATA%\velkor on Windows. Empty when there is no home folder.
std::filesystem::path UserStateFolder();

}  // namespace velkor
