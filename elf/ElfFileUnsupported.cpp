// A build made without libelf (the Windows one): an ELF file is recognised
// and refused with a line that says why.
#include "ElfFile.h"

namespace velkor {

ElfReading ReadElfFile(std::span<const std::uint8_t> /*bytes*/)
{
    return {.memories = std::nullopt,
            .fault = "ELF files cannot be read by this build of Velkor: give the HEX file avr-objcopy makes from it."};
}

bool ElfFilesSupported()
{
    return false;
}

}  // namespace velkor
