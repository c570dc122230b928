// State files on POSIX systems: flock on FILE.lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "StateFiles.h"

namespace velkor::sim {

namespace {

[[noreturn]] void FailOn(const std::string& what, const std::filesystem::path& file)
{
    throw std::runtime_error("cannot " + what + " " + file.string() + ": " + std::strerror(errno));
}

// One command at a time on a state file: a shared lock would let in both.
constexpr int kStateLock = LOCK_EX;

std::filesystem::path Beside(const std::filesystem::path& file, const char* suffix)
{
    std::filesystem::path sibling = file;
    sibling += suffix;
    return sibling;
}

}  // namespace

StateFileLock::StateFileLock(const std::filesystem::path& file, const WaitReport& reportWait)
{
    const std::filesystem::path lockFile = Beside(file, ".lock");
    // O_NOFOLLOW: a link planted at the lock's name would make this create or
    // lock a file elsewhere; O_NONBLOCK, and a regular file only: a FIFO or a
    // device put there is neither waited on nor used.
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        FailOn("create the lock file", lockFile);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw std::runtime_error("cannot use the lock file " + lockFile.string() + ": it is not a regular file");
    }
    if (::flock(fd, kStateLock | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK && reportWait) {
            reportWait(file);
        }
        while (::flock(fd, kStateLock) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                ::close(fd);
                errno = error;
                FailOn("lock", lockFile);
            }
        }
    }
    handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
}

StateFileLock::~StateFileLock()
{
    // Closing the only descriptor of the lock file releases the lock.
    ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(handle_)));
}

}  // namespace velkor::sim
