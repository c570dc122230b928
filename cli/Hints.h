#pragma once

#include <filesystem>
#include <string>
#include <vector>

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

}  // namespace velkor
