#include "FileReading.h"

#include <algorithm>
#include <stdexcept>

namespace velkor {

namespace {
constexpr std::size_t kChunk = std::size_t{1} << 20;

std::string SizeText(std::uint64_t bytes)
{
    if (bytes >= kChunk && bytes % kChunk == 0) {
        return std::to_string(bytes / kChunk) + " MiB";
    }
    return std::to_string(bytes) + " bytes";
}
}  // namespace

std::string ReadingFault(const FileReading& reading, std::uint64_t limit)
{
    switch (reading.result) {
    case FileReading::Result::Read:
        break;
    case FileReading::Result::Folder:
        return "it is a folder";
    case FileReading::Result::NotRegular:
        return "it is not a regular file: a FIFO, a device or a socket";
    case FileReading::Result::TooLarge:
        return "it is larger than " + SizeText(limit);
    case FileReading::Result::Stopped:
        return "stopped";
    case FileReading::Result::NotFound:
    case FileReading::Result::ReadError:
        return reading.error ? reading.error.message() : "read error";
    }
    return {};
}

std::vector<std::uint8_t> ReadInputFile(const std::filesystem::path& file, std::uint64_t limit)
{
    FileReading reading = ReadFileWhole(file, limit, {});
    if (reading.result != FileReading::Result::Read) {
        throw std::runtime_error("cannot be read (" + ReadingFault(reading, limit) + ")");
    }
    return std::move(reading.bytes);
}

FileReading ReadOpenFile(std::uint64_t expectedSize, std::uint64_t limit,
                         const std::function<std::optional<std::size_t>(std::uint8_t*, std::size_t)>& readSome,
                         const std::function<bool()>& stopRequested)
{
    if (expectedSize > limit) {
        return {FileReading::Result::TooLarge, {}, {}};
    }
    FileReading reading;
    std::vector<std::uint8_t>& bytes = reading.bytes;
    // One byte more than the limit tells a file that grew past it; reserved
    // ahead so that a large file is never held twice while the buffer grows.
    bytes.reserve(static_cast<std::size_t>(std::min(expectedSize, limit)) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used > limit) {
            return {FileReading::Result::TooLarge, {}, {}};
        }
        if (used == bytes.size()) {
            if (used != 0 && stopRequested && stopRequested()) {
                return {FileReading::Result::Stopped, {}, {}};
            }
            // Within the reserved room while the file is as large as it said.
            const std::size_t room = bytes.capacity() > used ? bytes.capacity() : used + kChunk;
            bytes.resize(std::min({used + kChunk, room, static_cast<std::size_t>(limit) + 1}));
        }
        const std::optional<std::size_t> got = readSome(bytes.data() + used, bytes.size() - used);
        if (!got) {
            return {FileReading::Result::ReadError, {}, {}};
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
