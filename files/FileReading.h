#pragma once

// A file read whole into memory in one go, so that a command works from one
// reading of it however the file changes meanwhile.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace velkor {

struct FileReading {
    enum class Result { Read, NotFound, Folder, NotRegular, TooLarge, ReadError, Stopped };
    Result result = Result::Read;
    std::vector<std::uint8_t> bytes;  // Read: the whole file
    std::error_code error;            // NotFound, ReadError: the system's reason
};

// Reads file whole when it is a regular file of at most limit bytes. Anything
// else (a FIFO, a device, a socket) is NotRegular before it is opened, and
// the open never blocks, so nothing here waits on a writer. stopRequested
// (may be empty) is asked between chunks of a MiB: a long read ends Stopped.
FileReading ReadFileWhole(const std::filesystem::path& file, std::uint64_t limit,
                          const std::function<bool()>& stopRequested);

// Why a reading of a file of at most limit bytes gave no bytes, in words
// for a message: "it is a folder", "No such file or directory".
std::string ReadingFault(const FileReading& reading, std::uint64_t limit);

// The bytes of a file the user gives Velkor to read (a chip file, a state
// file, a counter), by ReadFileWhole's rule: a regular file of at most limit
// bytes, opened without blocking. Throws std::runtime_error whose text says
// why not, "cannot be read (it is not a regular file: ...)", for the caller
// to put after the file's name.
std::vector<std::uint8_t> ReadInputFile(const std::filesystem::path& file, std::uint64_t limit);

// The part every platform shares: reads a file opened for reading through
// readSome, which fills up to n bytes and gives how many (0 at the end of the
// file) or nothing when the read failed. expectedSize sizes the buffer.
FileReading ReadOpenFile(std::uint64_t expectedSize, std::uint64_t limit,
                         const std::function<std::optional<std::size_t>(std::uint8_t*, std::size_t)>& readSome,
                         const std::function<bool()>& stopRequested);

}  // namespace velkor
