// Checks chip files in the catalogue format: run by the build on the
// catalogue it builds in, so that a fault stops the build.
#include <iostream>

#include "ChipCatalogue.h"

int main(int argc, char** argv)
{
    int faults = 0;
    for (int i = 1; i < argc; ++i) {
        try {
            velkor::ChipCatalogue::Load(argv[i], velkor::ChipSource::Catalogue);
        } catch (const velkor::ChipFileError& e) {
            std::cerr << e.what() << '\n';
            ++faults;
        }
    }
    return faults == 0 ? 0 : 1;
}
