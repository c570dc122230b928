#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "CliApp.h"
#include "Interruption.h"
#include "Progress.h"
#include "StandardDescriptors.h"

int main(int argc, char** argv)
{
    velkor::OpenMissingStandardDescriptors();
#ifdef _WIN32
    // The log's lines end in LF alone on every system, so that its bytes are
    // the same wherever it is read: no CR added on the way out.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    velkor::InstallInterruptionHandlers();
    return velkor::RunCli(argc, argv, std::cout, std::cerr, velkor::StandardErrorIsTerminal());
}
