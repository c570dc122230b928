#include <random>

#include "WholeFile.h"

namespace velkor {

std::string TemporaryFileName()
{
    // 64 random bits: a name nobody can plant in advance.
    std::random_device random;
    constexpr char kDigits[] = "0123456789abcdef";
    std::string name = ".velkor-";
    for (int i = 0; i < 2; ++i) {
        unsigned bits = random();
        for (int digit = 0; digit < 8; ++digit, bits >>= 4) {
            name += kDigits[bits & 0xF];
        }
    }
    return name + ".tmp";
}

std::string NumberedFileName(const std::filesystem::path& first, int n)
{
    if (n == 1) {
        return first.filename().string();
    }
    return first.stem().string() + "-" + std::to_string(n) + first.extension().string();
}

}  // namespace velkor
