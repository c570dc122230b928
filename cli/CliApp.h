#pragma once

#include <iosfwd>

namespace velkor {

// velkor-cli: runs one command of the window from the command line. The log
// lines go to out, one per line; usage errors, hints and --stats go to err,
// and, when errIsTerminal, the progress of a long command.
// Returns the exit status: 0 success, 1 the command failed, 2 usage error.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool errIsTerminal = false);

}  // namespace velkor
