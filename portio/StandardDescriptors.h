#pragma once

namespace velkor {

// Opens each of standard input, output and error that the program was
// started without on the null device. Called first thing in main: otherwise
// the next file opened (the port's device, a lock file) would take that
// descriptor, and the log lines written to standard output would go into it.
void OpenMissingStandardDescriptors();

}  // namespace velkor
