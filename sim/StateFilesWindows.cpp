// State files on Windows: LockFileEx on FILE.lock.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "StateFiles.h"

namespace velkor::sim {

namespace {

[[noreturn]] void FailOn(const std::string& what, const std::filesystem::path& file)
{
    throw std::runtime_error("cannot " + what + " " + file.string() + ": Windows error " +
                             std::to_string(::GetLastError()));
}

std::filesystem::path Beside(const std::filesystem::path& file, const wchar_t* suffix)
{
    std::filesystem::path sibling = file;
    sibling += suffix;
    return sibling;
}

HANDLE OpenShared(const std::filesystem::path& file, DWORD disposition)
{
    // FILE_FLAG_OPEN_REPARSE_POINT: a link planted at the lock's name is
    // opened itself, never followed to a file elsewhere.
    return ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

StateFileLock::StateFileLock(const std::filesystem::path& file, const WaitReport& reportWait)
{
    const std::filesystem::path lockFile = Beside(file, L".lock");
    const HANDLE handle = OpenShared(lockFile, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) {
        FailOn("create the lock file", lockFile);
    }
    OVERLAPPED region{};
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
        if (reportWait) {
            reportWait(file);
        }
        region = OVERLAPPED{};
        if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region)) {
            ::CloseHandle(handle);
            FailOn("lock", lockFile);
        }
    }
    handle_ = handle;
}

StateFileLock::~StateFileLock()
{
    // Closing the handle releases the lock.
    ::CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace velkor::sim
