#include <iostream>

#include "CliApp.h"
#include "Interruption.h"
#include "Progress.h"

int main(int argc, char** argv)
{
    velkor::InstallInterruptionHandlers();
    return velkor::RunCli(argc, argv, std::cout, std::cerr, velkor::StandardErrorIsTerminal());
}
