// libFuzzer entry point for the cable file reader.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CableFileCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string violation = velkor::fuzz::CheckCableFile({data, size});
    if (!violation.empty()) {
        std::fprintf(stderr, "cable file reader: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
