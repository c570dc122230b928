// Checks chip files: run by the build on the device table's records and the
// catalogue it builds in, so that a fault stops the build.
//   velkor-check-chips TABLE [CATALOGUE...]
#include <iostream>
#include <vector>

#include "ChipCatalogue.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: velkor-check-chips TABLE [CATALOGUE...]\n";
        return 2;
    }
    int faults = 0;
    try {
        const velkor::ChipCatalogue table = velkor::ChipCatalogue::Load(argv[1], velkor::ChipSource::Table);
        // One record per row of the described device table.
        if (table.Chips().size() != velkor::kUnknownDeviceRow) {
            std::cerr << argv[1] << ": the device table holds " << unsigned{velkor::kUnknownDeviceRow} << " chips, not "
                      << table.Chips().size() << "; chips beyond them go in chips.json\n";
            ++faults;
        }
        const std::vector<const velkor::ChipCatalogue*> earlier{&table};
        for (int i = 2; i < argc; ++i) {
            try {
                velkor::ChipCatalogue::Load(argv[i], velkor::ChipSource::Catalogue, earlier);
            } catch (const velkor::ChipFileError& e) {
                std::cerr << e.what() << '\n';
                ++faults;
            }
        }
    } catch (const velkor::ChipFileError& e) {
        std::cerr << e.what() << '\n';
        ++faults;
    }
    return faults == 0 ? 0 : 1;
}
