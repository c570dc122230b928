// A file replaced whole on Windows: write, FlushFileBuffers, MoveFileEx.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "WholeFile.h"

namespace velkor {

namespace {

[[noreturn]] void FailOn(const std::string& what, const std::filesystem::path& file)
{
    throw std::runtime_error("cannot " + what + " " + file.string() + ": Windows error " +
                             std::to_string(::GetLastError()));
}

}  // namespace

void WriteFileWhole(const std::filesystem::path& file, std::string_view contents)
{
    std::filesystem::path temporary = file;
    temporary += L".tmp";
    const HANDLE handle =
        ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        FailOn("create", temporary);
    }
    DWORD written = 0;
    const bool whole = ::WriteFile(handle, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) &&
                       written == contents.size() && ::FlushFileBuffers(handle);
    ::CloseHandle(handle);
    if (!whole) {
        ::DeleteFileW(temporary.c_str());
        FailOn("write", temporary);
    }
    if (!::MoveFileExW(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temporary.c_str());
        FailOn("replace", file);
    }
}

}  // namespace velkor
