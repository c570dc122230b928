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

// What velkor-cli knows of a command once it has run: enough to say what its
// failure means for this run and what to check.
struct CommandReport {
    std::string command;  // "signature", "write", "fuse"
    CommandResult result;
    std::string port;               // as given with --port
    bool simulated = false;         // on a simulated chip (--simulate), where no port or cable is involved
    bool paceGiven = false;         // --chip-clock set the pace: no chip on a slow clock was looked for
    std::filesystem::path hexFile;  // the HEX file the command reads
    std::string fuseHigh;
    std::string fuseLow;
    std::optional<std::string> fuseExtended;
    std::string lockValue;
};

// Lines for standard error that explain the result: a chip no list knows,
// a chip that gave no answer, a value refused, a file not found, a port that
// did not open, an EEPROM image's address out of range. None when the result
// has nothing to explain.
std::vector<std::string> HintsFor(const CommandReport& report);

// A word of a command printed for the user to paste: as it is when it is
// plain, else quoted for the shell so that it stays one word and nothing in
// it is expanded or run (single quotes; double quotes on Windows).
std::string ShellWord(std::string_view word);
// The words as one command line, each a ShellWord.
std::string ShellCommand(const std::vector<std::string>& words);

// After a fuse write: the clock the fuses now select and, when the pace set
// for paceHz (--chip-clock) is too fast for it or the chip's clock is on the
// board, the --chip-clock to give from now on.
std::string FuseClockLine(const SelectedClock& clock, std::uint32_t paceHz);

// The clock the SCK pace of a command was for and why: chipClockHz where
// --chip-clock gave it, else the pace the engine chose, else the default.
// brief: the few words of the progress line, else the --stats line's.
std::string PaceText(std::optional<std::uint32_t> chipClockHz, const std::optional<Session::ChosenPace>& chosen,
                     bool brief);
// After a chip that missed the default pace was found at the slowest: which
// clock it runs on, and the --chip-clock that skips the search.
std::string SlowClockFoundLine(const Session::ChosenPace& chosen);

}  // namespace velkor
