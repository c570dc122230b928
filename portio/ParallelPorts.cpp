#include "ParallelPorts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "Numbers.h"

namespace velkor {

std::string PpdevDevicePath(unsigned number)
{
    return "/dev/parport" + std::to_string(number);
}

namespace {

// The start of a file the kernel tells of port N in, or nothing when there
// is no such file.
std::optional<std::string> KernelPortFile(unsigned number, const char* name)
{
    const std::string path = "/proc/sys/dev/parport/parport" + std::to_string(number) + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return std::nullopt;
    }
    char text[64];
    const std::size_t length = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    return std::string(text, length);
}

// The device that holds port N: the first line of devices/active, where
// "none" says nobody does.
std::string PortHolder(unsigned number)
{
    std::string holder = KernelPortFile(number, "devices/active").value_or("none");
    holder.erase(std::min(holder.find('\n'), holder.size()));
    return holder == "none" ? std::string() : holder;
}

}  // namespace

// The first number of a base-addr file ("888\t1912\n": the base, then the
// port's upper register block).
std::optional<std::uint16_t> KernelBaseAddress(unsigned number)
{
    const std::optional<std::string> text = KernelPortFile(number, "base-addr");
    if (!text) {
        return std::nullopt;
    }
    std::string_view digits = *text;
    digits.remove_prefix(std::min(digits.find_first_not_of(" \t\n\v\f\r"), digits.size()));
    digits = digits.substr(0, digits.find_first_not_of("0123456789"));
    const std::optional<std::uint64_t> address = ParseDigits(digits, 10, 0xFFFF);
    if (!address) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*address);
}

DeviceAccess DeviceAccessAfter(int openError)
{
    switch (openError) {
    case 0:
        return DeviceAccess::Usable;
    case ENOENT:
        return DeviceAccess::Missing;
    case EACCES:
        return DeviceAccess::Denied;
    case EPERM:
        return DeviceAccess::NotPermitted;
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
            ports.push_back({number, *base, DeviceAccessAfter(error), error, PortHolder(number)});
        }
    }
    return ports;
}

}  // namespace velkor
