// A file replaced whole on Windows: a new file beside it, written, flushed
// and put in the old one's place, which keeps the old one's attributes.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "WholeFile.h"

namespace velkor {

namespace {

[[noreturn]] void FailOn(const std::string& what, const std::filesystem::path& file, DWORD error = ::GetLastError())
{
    throw std::runtime_error("cannot " + what + " " + file.string() + ": Windows error " + std::to_string(error));
}

// CREATE_NEW never opens a name that exists, a planted link included;
// another name is drawn.
HANDLE CreateTemporary(const std::filesystem::path& folder, std::filesystem::path& temporary)
{
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = folder / TemporaryFileName();
        const HANDLE handle =
            ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) {
            return handle;
        }
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAndFlush(HANDLE handle, std::string_view contents)
{
    DWORD written = 0;
    return ::WriteFile(handle, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) &&
           written == contents.size() && ::FlushFileBuffers(handle);
}

// Writes contents into the new file, flushes and closes it; a failure
// removes it.
void FillAndClose(HANDLE handle, const std::filesystem::path& file, std::string_view contents)
{
    const bool whole = WriteAndFlush(handle, contents);
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!whole) {
        ::DeleteFileW(file.c_str());
        FailOn("write", file, error);
    }
}

// ReplaceFileW gives the new file the old one's attributes and security.
bool PutInPlace(const std::filesystem::path& temporary, const std::filesystem::path& file, DWORD oldAttributes)
{
    if (oldAttributes == INVALID_FILE_ATTRIBUTES) {
        return ::MoveFileExW(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    return ::ReplaceFileW(file.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
}

}  // namespace

void CheckOutputFile(const std::filesystem::path& file)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (std::filesystem::is_directory(status)) {
        throw std::runtime_error("cannot write " + file.string() + ": it is a folder");
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        throw std::runtime_error("cannot write " + file.string() + ": it is not a regular file");
    }
}

void WriteFileWhole(const std::filesystem::path& given, std::string_view contents)
{
    CheckOutputFile(given);
    // Whole paths: ReplaceFileW does not take a bare name in the current
    // folder everywhere (Wine gives ERROR_DIRECTORY).
    const std::filesystem::path file = std::filesystem::absolute(given);
    // A read-only file is one the user may not write: it is left alone.
    const DWORD oldAttributes = ::GetFileAttributesW(file.c_str());
    if (oldAttributes != INVALID_FILE_ATTRIBUTES && (oldAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        FailOn("replace", file, ERROR_ACCESS_DENIED);
    }
    const std::filesystem::path folder = file.parent_path();
    std::filesystem::path temporary;
    const HANDLE handle = CreateTemporary(folder, temporary);
    if (handle == INVALID_HANDLE_VALUE) {
        FailOn("create a temporary file in", folder);
    }
    FillAndClose(handle, temporary, contents);
    if (!PutInPlace(temporary, file, oldAttributes)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        FailOn("replace", file, error);
    }
}

void AppendToFile(const std::filesystem::path& file, std::string_view contents, std::string_view headerWhenEmpty)
{
    CheckOutputFile(file);
    // LockFileEx needs read or write access; write sharing lets a second
    // writer open the file and wait for the lock.
    const HANDLE handle =
        ::CreateFileW(file.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        FailOn("open", file);
    }
    // Locked from the look at the size to the end of the write; closing the
    // handle releases the lock.
    OVERLAPPED wholeFile{};
    const bool locked = ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &wholeFile);
    LARGE_INTEGER size{};
    const bool sized = locked && ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileSizeEx(handle, &size);
    const bool whole =
        sized && WriteAndFlush(handle, std::string(size.QuadPart == 0 ? headerWhenEmpty : "") + std::string(contents));
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!whole) {
        FailOn("write", file, error);
    }
}

std::filesystem::path WriteNewFile(const std::filesystem::path& first, std::string_view contents)
{
    const std::filesystem::path folder = std::filesystem::absolute(first).parent_path();
    for (int n = 1; n <= kMostNumberedFiles; ++n) {
        const std::filesystem::path file = folder / NumberedFileName(first, n);
        const HANDLE handle =
            ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
            continue;
        }
        if (handle == INVALID_HANDLE_VALUE) {
            FailOn("create", file);
        }
        FillAndClose(handle, file, contents);
        return file;
    }
    FailOn("create a new file like", first, ERROR_FILE_EXISTS);
}

}  // namespace velkor
