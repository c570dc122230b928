// How the user names a port on the command line, and what is no port at all.
#include <gtest/gtest.h>

#include <optional>

#include "PortName.h"

namespace velkor {
namespace {

struct NameCase {
    const char* text;
    std::optional<unsigned> baseAddress;  // nullopt: not a port name
    std::optional<unsigned> ppdevNumber;
};

class PortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNames, GiveTheAddressOrTheDevice)
{
    const NameCase& name = GetParam();
    const std::optional<PortName> port = ParsePortName(name.text);
    ASSERT_EQ(port.has_value(), name.baseAddress.has_value() || name.ppdevNumber.has_value());
    if (!port) {
        return;
    }
    EXPECT_EQ(port->ppdevNumber, name.ppdevNumber);
    // A device's address is the kernel's, whatever this machine has.
    if (!name.ppdevNumber) {
        EXPECT_EQ(port->baseAddress, name.baseAddress);
    }
}

INSTANTIATE_TEST_SUITE_P(, PortNames,
                         ::testing::Values(NameCase{"lpt1", 0x378, {}}, NameCase{"LPT3", 0x3BC, {}},
                                           NameCase{"0x278", 0x278, {}}, NameCase{"0xd010", 0xD010, {}},
                                           NameCase{"0XD010", 0xD010, {}}, NameCase{"0x1", 0x1, {}},
                                           NameCase{"0xFFFD", 0xFFFD, {}}, NameCase{"/dev/parport0", {}, 0},
                                           NameCase{"/dev/parport15", {}, 15},
                                           // Not a port: no address, no room for the registers, not hex, not a device.
                                           NameCase{"", {}, {}}, NameCase{"0x", {}, {}}, NameCase{"0x0", {}, {}},
                                           NameCase{"0xFFFE", {}, {}}, NameCase{"0x10000", {}, {}},
                                           NameCase{"0x-1", {}, {}}, NameCase{"0x378 ", {}, {}},
                                           NameCase{"0xg", {}, {}}, NameCase{"378", {}, {}}, NameCase{"lpt4", {}, {}},
                                           NameCase{"/dev/null", {}, {}}, NameCase{"/dev/parport", {}, {}},
                                           NameCase{"/dev/parport01", {}, {}}, NameCase{"/dev/parport0x1", {}, {}},
                                           NameCase{"/dev/parport-1", {}, {}}));

}  // namespace
}  // namespace velkor
