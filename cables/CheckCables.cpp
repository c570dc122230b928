// Checks the known cables' file: run by the build before it embeds them, so
// that a cable breaking a rule of the port stops the build.
//   velkor-check-cables CABLES
#include <fstream>
#include <iostream>
#include <sstream>

#include "Cable.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: velkor-check-cables CABLES\n";
        return 2;
    }
    std::ifstream file(argv[1]);
    std::ostringstream text;
    text << file.rdbuf();
    try {
        const std::vector<velkor::Cable> cables = velkor::ParseCables(text.str());
        if (cables.empty() || cables.front().name != "built-in") {
            std::cerr << argv[1] << ": the first cable is the built-in wiring, named built-in\n";
            return 1;
        }
    } catch (const velkor::CableFileError& e) {
        std::cerr << argv[1] << ": " << e.what() << '\n';
        return 1;
    }
    return 0;
}
