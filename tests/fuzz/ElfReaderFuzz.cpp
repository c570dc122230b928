// libFuzzer entry point for the ELF reader.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ElfReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string violation = velkor::fuzz::CheckElfReader({data, size});
    if (!violation.empty()) {
        std::fprintf(stderr, "ELF reader: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
