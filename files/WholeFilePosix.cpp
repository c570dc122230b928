// A file replaced whole on POSIX systems: a new file beside it, written,
// fsync'd and renamed over it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "WholeFile.h"

namespace velkor {

namespace {

constexpr int kTemporaryAttempts = 100;

[[noreturn]] void FailOn(const std::string& what, const std::filesystem::path& file, int error = errno)
{
    throw std::runtime_error("cannot " + what + " " + file.string() + ": " + std::strerror(error));
}

// The folder the file is in, open for the *at calls, so that every name
// used is the short one inside it.
class Folder {
public:
    explicit Folder(const std::filesystem::path& file)
        : path_(file.has_parent_path() ? file.parent_path() : std::filesystem::path(".")),
          fd_(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd_ < 0) {
            FailOn("open the folder", path_);
        }
    }
    ~Folder() { ::close(fd_); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    int fd_;
};

// What a file that is not a regular one is, for a refusal.
std::string KindOf(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO, not a regular file";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device, not a regular file";
    }
    if (S_ISSOCK(mode)) {
        return "a socket, not a regular file";
    }
    return "not a regular file";
}

[[noreturn]] void RefuseKind(const std::filesystem::path& file, mode_t mode)
{
    throw std::runtime_error("cannot write " + file.string() + ": it is " + KindOf(mode));
}

// The file as it is now, or nothing when there is none yet. A symbolic link
// counts as nothing: it is replaced itself, never followed, and nothing of it
// is taken over.
std::optional<struct stat> Existing(const Folder& folder, const std::filesystem::path& file)
{
    CheckOutputFile(file);
    struct stat status {};
    if (::fstatat(folder.fd(), file.filename().c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        return S_ISLNK(status.st_mode) ? std::nullopt : std::optional(status);
    }
    if (errno != ENOENT) {
        FailOn("examine", file);
    }
    return std::nullopt;
}

// A file the user may not write is left alone, although the folder would let
// a rename replace it.
void CheckMayReplace(const Folder& folder, const std::filesystem::path& file)
{
    if (::faccessat(folder.fd(), file.filename().c_str(), W_OK, AT_EACCESS) != 0) {
        FailOn("replace", file);
    }
}

// The new file takes the old one's permission bits and, where the user may
// give it away (root), its owner and group.
void TakeOver(int fd, const struct stat& existing, const std::filesystem::path& temporary)
{
    if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
        // Failing leaves the new file the user's own, as any new file is.
        [[maybe_unused]] const int given = ::fchown(fd, existing.st_uid, existing.st_gid);
    }
    if (::fchmod(fd, existing.st_mode & 0777) != 0) {
        FailOn("set the permissions of", temporary);
    }
}

// O_EXCL: a name that exists already, a planted link included, is never
// opened; another name is drawn, nextName(attempt), up to attempts of them.
int CreateExclusively(const Folder& folder, std::string& name, int attempts,
                      const std::function<std::string(int)>& nextName)
{
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        name = nextName(attempt);
        const int fd = ::openat(folder.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
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

// Writes what text() gives and flushes it to the disk (before a rename makes
// it the file, or the call returns); fd is closed whatever happens, and a
// failed close is a failed write.
template <typename Text>
void FillAndClose(int fd, const std::filesystem::path& file, Text text)
{
    try {
        WriteAll(fd, text(), file);
        if (::fsync(fd) != 0) {
            FailOn("flush", file);
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) {
        FailOn("write", file);
    }
}

// Runs work on the file just created as name in folder. When it fails the
// file is removed, so no half-written file is left; when it succeeds the
// folder is flushed, so that the new name (a rename too) reaches the disk.
void KeepOnlyWhenDone(const Folder& folder, const std::string& name, const std::function<void()>& work)
{
    try {
        work();
    } catch (...) {
        ::unlinkat(folder.fd(), name.c_str(), 0);
        throw;
    }
    ::fsync(folder.fd());
}

}  // namespace

void WriteFileWhole(const std::filesystem::path& file, std::string_view contents)
{
    const Folder folder(file);
    const std::optional<struct stat> existing = Existing(folder, file);
    if (existing) {
        CheckMayReplace(folder, file);
    }
    std::string name;
    const int fd = CreateExclusively(folder, name, kTemporaryAttempts, [](int) { return TemporaryFileName(); });
    if (fd < 0) {
        FailOn("create a temporary file in", folder.path());
    }
    const std::filesystem::path temporary = folder.path() / name;
    KeepOnlyWhenDone(folder, name, [&] {
        FillAndClose(fd, file, [&] {
            if (existing) {
                TakeOver(fd, *existing, temporary);
            }
            return contents;
        });
        if (::renameat(folder.fd(), name.c_str(), folder.fd(), file.filename().c_str()) != 0) {
            FailOn("replace", file);
        }
    });
}

void CheckOutputFile(const std::filesystem::path& file)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        RefuseKind(file, status.st_mode);
    }
}

void AppendToFile(const std::filesystem::path& file, std::string_view contents, std::string_view headerWhenEmpty)
{
    CheckOutputFile(file);
    // O_NONBLOCK: a FIFO put at the name since the check gives an error
    // instead of a wait for a reader; it and a device are then refused.
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        FailOn("open", file);
    }
    FillAndClose(fd, file, [&] {
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            FailOn("examine", file);
        }
        if (!S_ISREG(status.st_mode)) {
            RefuseKind(file, status.st_mode);
        }
        // Closing the descriptor releases the lock, once the write is flushed.
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                FailOn("lock", file);
            }
        }
        if (::fstat(fd, &status) != 0) {
            FailOn("examine", file);
        }
        return std::string(status.st_size == 0 ? headerWhenEmpty : "") + std::string(contents);
    });
}

std::filesystem::path WriteNewFile(const std::filesystem::path& first, std::string_view contents)
{
    const Folder folder(first);
    std::string name;
    const int fd =
        CreateExclusively(folder, name, kMostNumberedFiles, [&first](int n) { return NumberedFileName(first, n); });
    const std::filesystem::path file = folder.path() / name;
    if (fd < 0) {
        FailOn("create", file);
    }
    KeepOnlyWhenDone(folder, name, [&] { FillAndClose(fd, file, [contents] { return contents; }); });
    return file;
}

}  // namespace velkor
