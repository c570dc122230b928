// libFuzzer entry point for the whole Write on a simulated chip.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "WriteCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string violation = velkor::fuzz::CheckWrite({data, size});
    if (!violation.empty()) {
        std::fprintf(stderr, "Write: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
