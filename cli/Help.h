#pragma once

namespace CLI {
class App;
}

namespace velkor {

// Gives velkor-cli's --help its shape: a usage line that lists every global
// option with its value, each command with its arguments, what PORT and CHIP
// may be, and examples. Call it once all options and commands are defined.
void ConfigureHelp(CLI::App& app);

}  // namespace velkor
