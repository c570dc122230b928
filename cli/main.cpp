#include <iostream>

#include "CliApp.h"
#include "Progress.h"

int main(int argc, char** argv)
{
    return velkor::RunCli(argc, argv, std::cout, std::cerr, velkor::StandardErrorIsTerminal());
}
