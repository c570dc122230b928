#include "ParallelPorts.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>

namespace velkor {

std::string PpdevDevicePath(unsigned number)
{
    return "/dev/parport" + std::to_string(number);
}

// The first number of a base-addr file ("888\t1912\n": the base, then the
// port's upper register block).
std::optional<std::uint16_t> KernelBaseAddress(unsigned number)
{
    const std::string path = "/proc/sys/dev/parport/parport" + std::to_string(number) + "/base-addr";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return std::nullopt;
    }
    char text[64];
    const std::size_t length = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    const char* begin = text;
    const char* end = text + length;
    while (begin != end && std::isspace(static_cast<unsigned char>(*begin))) {
        ++begin;
    }
    std::uint16_t address = 0;
    if (std::from_chars(begin, end, address).ec != std::errc{}) {
        return std::nullopt;
    }
    return address;
}

DeviceAccess DeviceAccessAfter(int openError)
{
    switch (openError) {
    case 0:
        return DeviceAccess::Usable;
    case ENOENT:
        return DeviceAccess::Missing;
    case EACCES:
    case EPERM:
        return DeviceAccess::Denied;
    default:
        return DeviceAccess::Failed;
    }
}

namespace {

// 0 when this user may open the device for reading and writing, otherwise
// the errno of the open.
int DeviceOpenError(unsigned number)
{
    errno = 0;
    std::FILE* device = std::fopen(PpdevDevicePath(number).c_str(), "r+");
    if (device == nullptr) {
        return errno != 0 ? errno : ENOENT;
    }
    std::fclose(device);
    return 0;
}

}  // namespace

std::vector<ParallelPort> ListParallelPorts()
{
    std::vector<ParallelPort> ports;
    for (unsigned number = 0; number < kMaxParallelPorts; ++number) {
        if (const std::optional<std::uint16_t> base = KernelBaseAddress(number)) {
            const int error = DeviceOpenError(number);
            ports.push_back({number, *base, DeviceAccessAfter(error), error});
        }
    }
    return ports;
}

}  // namespace velkor
