#pragma once

#include <iosfwd>

#include "CommandOptions.h"

namespace CLI {
class App;
}

namespace velkor {

// produce HEXFILE: its arguments and options, on the command given.
void DefineProduceCommand(CLI::App& command, Options& options);

// Board after board until Ctrl-C (or, on the simulated target, until the
// boards of --sim-boards have come and gone). The board lines and the
// summary go to out; the bell, the waiting notes and --stats to err.
int RunProduce(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace velkor
