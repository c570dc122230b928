// A file read whole on Windows: only a disk file is read; a pipe, a console
// or a device is refused once its type is known.
#include <windows.h>

#include "FileReading.h"

namespace velkor {

namespace {

std::error_code SystemError()
{
    return {static_cast<int>(GetLastError()), std::system_category()};
}

std::optional<std::size_t> ReadSome(HANDLE file, std::uint8_t* buffer, std::size_t size)
{
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(size < 0x40000000u ? size : 0x40000000u);
    if (!ReadFile(file, buffer, wanted, &got, nullptr)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(got);
}

}  // namespace

FileReading ReadFileWhole(const std::filesystem::path& file, std::uint64_t limit,
                          const std::function<bool()>& stopRequested)
{
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return {FileReading::Result::NotFound, {}, SystemError()};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {FileReading::Result::Folder, {}, {}};
    }
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {FileReading::Result::NotFound, {}, SystemError()};
    }
    FileReading reading;
    LARGE_INTEGER size{};
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        reading.result = FileReading::Result::NotRegular;
    } else if (!GetFileSizeEx(handle, &size)) {
        reading = {FileReading::Result::ReadError, {}, SystemError()};
    } else {
        reading = ReadOpenFile(
            static_cast<std::uint64_t>(size.QuadPart), limit,
            [handle](std::uint8_t* buffer, std::size_t count) { return ReadSome(handle, buffer, count); },
            stopRequested);
    }
    CloseHandle(handle);
    return reading;
}

}  // namespace velkor
