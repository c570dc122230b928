#include "FileReading.h"

#include <algorithm>

namespace velkor {

namespace {
constexpr std::size_t kChunk = std::size_t{1} << 20;
}  // namespace

FileReading ReadOpenFile(std::uint64_t expectedSize, std::uint64_t limit,
                         const std::function<std::optional<std::size_t>(std::uint8_t*, std::size_t)>& readSome,
                         const std::function<bool()>& stopRequested)
{
    if (expectedSize > limit) {
        return {FileReading::Result::TooLarge, {}};
    }
    FileReading reading;
    std::vector<std::uint8_t>& bytes = reading.bytes;
    // One byte more than the limit tells a file that grew past it; reserved
    // ahead so that a large file is never held twice while the buffer grows.
    bytes.reserve(static_cast<std::size_t>(std::min(expectedSize, limit)) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used > limit) {
            return {FileReading::Result::TooLarge, {}};
        }
        if (used == bytes.size()) {
            if (used != 0 && stopRequested && stopRequested()) {
                return {FileReading::Result::Stopped, {}};
            }
            // Within the reserved room while the file is as large as it said.
            const std::size_t room = bytes.capacity() > used ? bytes.capacity() : used + kChunk;
            bytes.resize(std::min({used + kChunk, room, static_cast<std::size_t>(limit) + 1}));
        }
        const std::optional<std::size_t> got = readSome(bytes.data() + used, bytes.size() - used);
        if (!got) {
            return {FileReading::Result::ReadError, {}};
        }
        if (*got == 0) {
            break;
        }
        used += *got;
    }
    bytes.resize(used);
    return reading;
}

}  // namespace velkor
