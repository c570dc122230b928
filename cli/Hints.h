#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ClockFuses.h"

namespace velkor {

// What velkor-cli knows of a command once it has run: enough to say what a
// log line means for this run and what to check.
struct CommandReport {
    std::string command;  // "signature", "write", "fuse"
    std::vector<std::string> log;
    std::string port;        // as given with --port
    bool simulated = false;  // on a simulated chip (--simulate), where no port or cable is involved
    std::filesystem::path hexFile;
    std::string fuseHigh;
    std::string fuseLow;
};

// Lines for standard error that explain the log's failure lines ("Program
// enable fault.", "Error", "Unknown CPU N", "File not found.", "Cannot open
// the port: ..."). None when the log has nothing to explain.
std::vector<std::string> HintsFor(const CommandReport& report);

// After a fuse write: the clock the fuses now select and, when the pace set
// for paceHz (--chip-clock) is too fast for it or the chip's clock is on the
// board, the --chip-clock to give from now on.
std::string FuseClockLine(const SelectedClock& clock, std::uint32_t paceHz);

}  // namespace velkor
