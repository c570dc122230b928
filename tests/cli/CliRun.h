#pragma once

// velkor-cli run in this process: its exit status and its two streams.

#include <sstream>
#include <string>
#include <vector>

#include "CliApp.h"

namespace velkor {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

inline CliRun Invoke(std::vector<const char*> args, bool errIsTerminal = false, const char* program = "velkor-cli")
{
    args.insert(args.begin(), program);
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCli(static_cast<int>(args.size()), args.data(), out, err, errIsTerminal);
    return {status, out.str(), err.str()};
}

}  // namespace velkor
