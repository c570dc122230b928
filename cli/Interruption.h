#pragma once

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed terminal) turned into a
// request that the running command stop at its next instruction, so that it
// still releases the port and saves its state. SIGPIPE is ignored: a reader
// of standard output that goes away never stops a command half-way; so is
// SIGXFSZ: a file-size limit fails the write, which the command reports.

namespace velkor {

// Installs the handlers. Until CommandStarting, a signal ends the process at
// once: nothing has been touched yet.
void InstallInterruptionHandlers();

// From here on a signal only records itself; the command stops at its next
// instruction boundary and the program ends with 128 + the signal.
void CommandStarting();

// The first signal caught, or 0.
int CaughtSignal();

}  // namespace velkor
