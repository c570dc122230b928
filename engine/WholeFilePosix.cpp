// A file replaced whole on POSIX systems: write, fsync, rename.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "WholeFile.h"

namespace velkor {

namespace {

[[noreturn]] void FailOn(const std::string& what, const std::filesystem::path& file)
{
    throw std::runtime_error("cannot " + what + " " + file.string() + ": " + std::strerror(errno));
}

void WriteAll(int fd, std::string_view contents, const std::filesystem::path& file)
{
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            FailOn("write", file);
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

void WriteFileWhole(const std::filesystem::path& file, std::string_view contents)
{
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        FailOn("create", temporary);
    }
    try {
        WriteAll(fd, contents, temporary);
        if (::fsync(fd) != 0) {
            FailOn("flush", temporary);
        }
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (::close(fd) != 0) {
        FailOn("write", temporary);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        FailOn("replace", file);
    }
}

}  // namespace velkor
