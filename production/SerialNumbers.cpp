#include "SerialNumbers.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "FileReading.h"
#include "Numbers.h"
#include "Programmer.h"
#include "WholeFile.h"
#include "UserFolders.h"

namespace velkor {

namespace {
constexpr std::uint64_t kNumbersEnd = std::uint64_t{1} << 32;
constexpr std::uint64_t kLongestCounterFile = 64;

// Only a file that is not there starts the counter at start: one that cannot
// be read may hold numbers already given out.
std::uint64_t ReadCounterFile(const std::filesystem::path& file, std::uint32_t start)
{
    const FileReading reading = ReadFileWhole(file, kLongestCounterFile, {});
    if (reading.result == FileReading::Result::NotFound && reading.error == std::errc::no_such_file_or_directory) {
        return start;
    }
    if (reading.result != FileReading::Result::Read) {
        throw std::runtime_error("serial number file " + file.string() + " cannot be read (" +
                                 ReadingFault(reading, kLongestCounterFile) + ")");
    }
    const std::string contents(reading.bytes.begin(), reading.bytes.end());
    std::string_view text = contents;
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    const std::optional<std::uint64_t> next = ParseDigits(text, 10, kNumbersEnd);
    if (!next) {
        throw std::runtime_error("serial number file " + file.string() + " holds no next number");
    }
    return std::max<std::uint64_t>(*next, start);
}

constexpr int kMostLinks = 40;  // as the system follows them
}  // namespace

SerialCounter::SerialCounter(std::filesystem::path file, std::uint32_t start, std::uint32_t step)
    : file_(std::move(file)), next_(ReadCounterFile(file_, start)), step_(step)
{
}

std::optional<std::uint32_t> SerialCounter::Next() const
{
    if (next_ >= kNumbersEnd) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(next_);
}

void SerialCounter::Advance()
{
    const std::uint64_t taken = next_;
    Store(std::min(next_ + step_, kNumbersEnd));
    taken_ = taken;
}

void SerialCounter::StepBack()
{
    Store(taken_);
}

void SerialCounter::StoreNow()
{
    Store(next_);
}

void SerialCounter::Store(std::uint64_t next)
{
    WriteFileWhole(file_, std::to_string(next) + "\n");
    next_ = next;
}

std::filesystem::path CounterFileTarget(const std::filesystem::path& file)
{
    std::filesystem::path target = file;
    for (int links = 0; links <= kMostLinks; ++links) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, error))) {
            return target;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    throw std::runtime_error("serial number file " + file.string() +
                             " cannot be used: its symbolic links go round in a circle");
}

std::filesystem::path DefaultSerialFile()
{
    const std::filesystem::path folder = UserStateFolder();
    return folder.empty() ? folder : folder / "serial-next";
}

}  // namespace velkor
