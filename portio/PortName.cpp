#include "PortName.h"

#include <array>
#include <limits>
#include <string>

#include "Format.h"
#include "NameMatch.h"
#include "Numbers.h"
#include "ParallelPorts.h"

namespace velkor {

namespace {

constexpr std::string_view kDevicePrefix = "/dev/parport";
constexpr unsigned kHighestBaseAddress = 0xFFFD;  // data, status and control must fit below 0x10000

struct PrinterPort {
    std::string_view name;
    std::uint16_t address;
};
constexpr std::array<PrinterPort, 3> kPrinterPorts{{{"lpt1", 0x378}, {"lpt2", 0x278}, {"lpt3", 0x3BC}}};

// 0x and hexadecimal digits.
std::optional<PortName> ParseBaseAddress(std::string_view text)
{
    const std::optional<std::uint32_t> address = ParseNumber(text, kHighestBaseAddress);
    if (!address || *address == 0) {
        return std::nullopt;
    }
    return PortName{static_cast<std::uint16_t>(*address), std::nullopt};
}

// Only the plain spelling of N, so that the device opened is the one named.
std::optional<PortName> ParseDevice(std::string_view digits)
{
    const std::optional<std::uint64_t> number = ParseDigits(digits, 10, std::numeric_limits<unsigned>::max());
    if (!number || (digits.size() > 1 && digits.front() == '0')) {
        return std::nullopt;
    }
    const auto device = static_cast<unsigned>(*number);
    return PortName{KernelBaseAddress(device).value_or(0), device};
}

}  // namespace

std::string FormatPortAddress(std::uint16_t address)
{
    return FormatNumber("0x%X", address);
}

std::optional<PortName> ParsePortName(std::string_view text)
{
    for (const PrinterPort& port : kPrinterPorts) {
        if (SameNameIgnoringCase(text, port.name)) {
            return PortName{port.address, std::nullopt};
        }
    }
    if (text.starts_with("0x") || text.starts_with("0X")) {
        return ParseBaseAddress(text);
    }
    if (text.starts_with(kDevicePrefix)) {
        return ParseDevice(text.substr(kDevicePrefix.size()));
    }
    return std::nullopt;
}

}  // namespace velkor
