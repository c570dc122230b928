// A file read whole on POSIX systems: stat before open, so that a FIFO or a
// device is never opened at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FileReading.h"

namespace velkor {

namespace {

std::error_code SystemError()
{
    return {errno, std::generic_category()};
}

FileReading::Result Refusal(const struct stat& status)
{
    if (S_ISDIR(status.st_mode)) {
        return FileReading::Result::Folder;
    }
    return S_ISREG(status.st_mode) ? FileReading::Result::Read : FileReading::Result::NotRegular;
}

std::optional<std::size_t> ReadSome(int fd, std::uint8_t* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

}  // namespace

FileReading ReadFileWhole(const std::filesystem::path& file, std::uint64_t limit,
                          const std::function<bool()>& stopRequested)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return {FileReading::Result::NotFound, {}, SystemError()};
    }
    if (const FileReading::Result refusal = Refusal(status); refusal != FileReading::Result::Read) {
        return {refusal, {}, {}};
    }
    // Non-blocking and checked again once open: the name may have been given
    // to a FIFO since the stat.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return {FileReading::Result::NotFound, {}, SystemError()};
    }
    FileReading reading;
    if (::fstat(fd, &status) != 0) {
        reading = {FileReading::Result::ReadError, {}, SystemError()};
    } else if (const FileReading::Result refusal = Refusal(status); refusal != FileReading::Result::Read) {
        reading.result = refusal;
    } else {
        reading = ReadOpenFile(
            static_cast<std::uint64_t>(status.st_size), limit,
            [fd](std::uint8_t* buffer, std::size_t size) { return ReadSome(fd, buffer, size); }, stopRequested);
        if (reading.result == FileReading::Result::ReadError) {
            reading.error = SystemError();
        }
    }
    ::close(fd);
    return reading;
}

}  // namespace velkor
