// libFuzzer entry point for the HEX reader.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HexReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string violation = velkor::fuzz::CheckHexReader({data, size});
    if (!violation.empty()) {
        std::fprintf(stderr, "HEX reader: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
