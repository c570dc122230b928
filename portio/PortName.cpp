#include "PortName.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string>

#include "Format.h"
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

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b,
                              [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// The whole of digits as a number in base; nullopt for anything else.
std::optional<unsigned> WholeNumber(std::string_view digits, int base)
{
    unsigned value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<PortName> ParseBaseAddress(std::string_view digits)
{
    const std::optional<unsigned> address = WholeNumber(digits, 16);
    if (!address || *address == 0 || *address > kHighestBaseAddress) {
        return std::nullopt;
    }
    return PortName{static_cast<std::uint16_t>(*address), std::nullopt};
}

// Only the plain spelling of N, so that the device opened is the one named.
std::optional<PortName> ParseDevice(std::string_view digits)
{
    const std::optional<unsigned> number = WholeNumber(digits, 10);
    if (!number || (digits.size() > 1 && digits.front() == '0')) {
        return std::nullopt;
    }
    return PortName{KernelBaseAddress(*number).value_or(0), number};
}

}  // namespace

std::string FormatPortAddress(std::uint16_t address)
{
    return FormatNumber("0x%X", address);
}

std::optional<PortName> ParsePortName(std::string_view text)
{
    for (const PrinterPort& port : kPrinterPorts) {
        if (SameIgnoringCase(text, port.name)) {
            return PortName{port.address, std::nullopt};
        }
    }
    if (text.starts_with("0x") || text.starts_with("0X")) {
        return ParseBaseAddress(text.substr(2));
    }
    if (text.starts_with(kDevicePrefix)) {
        return ParseDevice(text.substr(kDevicePrefix.size()));
    }
    return std::nullopt;
}

}  // namespace velkor
