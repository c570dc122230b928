#pragma once

// A parallel port as the user names it on the command line: lpt1, lpt2,
// lpt3, any I/O base address in hexadecimal with 0x (a PCI or PCIe card's
// port has one of its own, such as 0xD010), or a ppdev device /dev/parportN.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velkor {

struct PortName {
    // The data register; the status register is at baseAddress + 1. For a
    // device, the kernel's base address of its port, 0 where it knows none.
    std::uint16_t baseAddress = 0;
    // N of a /dev/parportN named by the user: the port component opens that
    // device itself, whatever the address.
    std::optional<unsigned> ppdevNumber;
};

// The forms ParsePortName takes, for a usage message.
constexpr const char* kPortNameForms =
    "lpt1, lpt2, lpt3, an I/O base address in hex such as 0x378 or 0xD010, or a ppdev device such as /dev/parport0";

// "0x378", "0xD010": a base address as the user names it.
std::string FormatPortAddress(std::uint16_t address);

// nullopt for anything but the forms above. A base address leaves room for
// the port's three registers (0x1 to 0xFFFD).
std::optional<PortName> ParsePortName(std::string_view text);

}  // namespace velkor
