// The virtual ppdev port in-process: which paths it answers, and the ppdev
// rules it keeps (claim before registers, exclusive only before the claim,
// one holder at a time), as a program using ppdev relies on them.
// The virtual port exists only in Linux builds, which define its path.
#ifdef VELKOR_VIRTUAL_PPDEV_PATH

#include <gtest/gtest.h>
#include <linux/ioctl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "VirtualPpdev.h"

namespace velkor::sim {
namespace {

using Node = VirtualPpdev::Node;

struct PathCase {
    const char* path;
    Node node;
    unsigned portNumber = 0;
};

class VirtualPpdevPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(VirtualPpdevPath, AnswersOnlyParallelPortNodes)
{
    const VirtualPpdev port(VirtualPpdevConfig{.portNumber = GetParam().portNumber});
    EXPECT_EQ(port.Classify(GetParam().path), GetParam().node);
    EXPECT_EQ(VirtualPpdev::IsParallelPortNode(GetParam().path), GetParam().node != Node::Other);
}

INSTANTIATE_TEST_SUITE_P(
    , VirtualPpdevPath,
    ::testing::Values(PathCase{"/dev/parport0", Node::Device}, PathCase{"/dev/parport1", Node::Absent},
                      PathCase{"/dev/parport12", Node::Absent}, PathCase{"/dev/parport", Node::Other},
                      PathCase{"/dev/parport0x", Node::Other}, PathCase{"/dev/null", Node::Other},
                      PathCase{"/proc/sys/dev/parport/parport0/base-addr", Node::BaseAddress},
                      PathCase{"/proc/sys/dev/parport/parport3/base-addr", Node::Absent},
                      PathCase{"/dev/parport0", Node::Absent, 1}, PathCase{"/dev/parport1", Node::Device, 1},
                      PathCase{"/proc/sys/dev/parport/parport1/base-addr", Node::BaseAddress, 1},
                      PathCase{"/proc/sys/dev/parport/parport0/modes", Node::Other},
                      PathCase{"/proc/sys/dev/parport/parport0/devices/active", Node::ActiveDevice},
                      PathCase{"/proc/sys/dev/parport/parport2/devices/active", Node::Absent},
                      PathCase{"/proc/sys/dev/parport/parport/base-addr", Node::Other}));

TEST(VirtualPpdevConfigTest, AnUnknownChipIsRefused)
{
    EXPECT_THROW(VirtualPpdev(VirtualPpdevConfig{.chip = "ATmega9"}), std::invalid_argument);
}

// The port number and base address as far as the kernel goes, and no further.
TEST(VirtualPpdevConfigTest, TakesPortNumbersAndAddressesUpToTheKernelsLimits)
{
    struct Setting {
        const char* name;
        const char* value;
        bool taken;
    };
    for (const auto& [name, value, taken] :
         {Setting{"VELKOR_VIRTUAL_PPDEV_NUMBER", "15", true}, Setting{"VELKOR_VIRTUAL_PPDEV_NUMBER", "16", false},
          Setting{"VELKOR_VIRTUAL_PPDEV_BASE", "0xFFFD", true},
          Setting{"VELKOR_VIRTUAL_PPDEV_BASE", "0xFFFE", false}}) {
        ASSERT_EQ(::setenv(name, value, 1), 0);
        if (taken) {
            EXPECT_NO_THROW(VirtualPpdevConfig::FromEnvironment()) << name << "=" << value;
        } else {
            EXPECT_THROW(VirtualPpdevConfig::FromEnvironment(), std::invalid_argument) << name << "=" << value;
        }
        ::unsetenv(name);
    }
}

// ---- The ppdev rules ----------------------------------------------------------------

struct Step {
    unsigned long request;
    int result;
};

struct RuleCase {
    const char* name;
    std::vector<Step> steps;
};

class VirtualPpdevRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(VirtualPpdevRule, KeepsTheKernelsAnswer)
{
    VirtualPpdev port(VirtualPpdevConfig{});
    port.Opened(7);
    int argument = 0;
    for (const Step& step : GetParam().steps) {
        EXPECT_EQ(port.Ioctl(7, step.request, &argument), step.result) << "request " << std::hex << step.request;
    }
}

INSTANTIATE_TEST_SUITE_P(
    , VirtualPpdevRule,
    ::testing::Values(
        RuleCase{"RegistersNeedAClaim",
                 {{PPWDATA, -EINVAL},
                  {PPRDATA, -EINVAL},
                  {PPRSTATUS, -EINVAL},
                  {PPWCONTROL, -EINVAL},
                  {PPDATADIR, -EINVAL},
                  {PPRELEASE, -EINVAL}}},
        RuleCase{"ModesNeedNoClaim", {{PPSETMODE, 0}, {PPGETMODE, 0}}},
        RuleCase{"ClaimingTwiceIsRefused", {{PPCLAIM, 0}, {PPCLAIM, -EINVAL}}},
        RuleCase{"ExclusiveOnlyBeforeTheClaim", {{PPCLAIM, 0}, {PPEXCL, -EINVAL}}},
        RuleCase{"ExclusiveThenClaim", {{PPEXCL, 0}, {PPCLAIM, 0}, {PPEXCL, 0}, {PPWDATA, 0}}},
        RuleCase{"ReleaseEndsRegisterAccess", {{PPCLAIM, 0}, {PPRSTATUS, 0}, {PPRELEASE, 0}, {PPRSTATUS, -EINVAL}}},
        RuleCase{"UnknownRequestsAreNotForThisDevice", {{PPCLAIM, 0}, {PPYIELD, -ENOTTY}, {PPGETTIME, -ENOTTY}}}),
    [](const auto& info) { return info.param.name; });

TEST(VirtualPpdevTest, OneHolderAtATime)
{
    VirtualPpdev port(VirtualPpdevConfig{});
    port.Opened(7);
    port.Opened(8);
    ASSERT_EQ(port.Ioctl(7, PPCLAIM, nullptr), 0);
    EXPECT_EQ(port.Ioctl(8, PPCLAIM, nullptr), -EBUSY);
    port.Closed(7);  // closing the file gives the port back
    EXPECT_EQ(port.Ioctl(8, PPCLAIM, nullptr), 0);
}

TEST(VirtualPpdevTest, ControlKeepsTheLastValueWrittenAndFrobs)
{
    VirtualPpdev port(VirtualPpdevConfig{});
    port.Opened(7);
    ASSERT_EQ(port.Ioctl(7, PPCLAIM, nullptr), 0);

    unsigned char control = 0x05;
    port.Ioctl(7, PPWCONTROL, &control);
    ppdev_frob_struct frob{.mask = 0x0F, .val = 0x02};
    port.Ioctl(7, PPFCONTROL, &frob);
    unsigned char readBack = 0;
    port.Ioctl(7, PPRCONTROL, &readBack);
    EXPECT_EQ(readBack, 0x02);

    int mode = 0;
    port.Ioctl(7, PPGETMODE, &mode);
    EXPECT_EQ(mode, IEEE1284_MODE_COMPAT);
    EXPECT_EQ(port.PortAccesses(), 2u);  // both writes reach the cable's control pins
}

// Each claim restores the claiming device's own port state: a fresh one
// drives the data lines; PPDATADIR(1) stops that for its device alone.
TEST(VirtualPpdevTest, AClaimRestoresTheDevicesOwnDataDirection)
{
    VirtualPpdev port(VirtualPpdevConfig{.chip = "ATmega8"});
    port.Opened(7);
    port.Opened(8);
    unsigned char data = 0x04;
    int reverse = 1;
    int forward = 0;
    const auto writesReachThePort = [&](int fd) {
        const std::uint64_t before = port.PortAccesses();
        port.Ioctl(fd, PPWDATA, &data);
        return port.PortAccesses() > before;
    };
    ASSERT_EQ(port.Ioctl(7, PPCLAIM, nullptr), 0);
    EXPECT_TRUE(writesReachThePort(7));
    port.Ioctl(7, PPDATADIR, &reverse);
    EXPECT_FALSE(writesReachThePort(7));
    port.Ioctl(7, PPRELEASE, nullptr);

    ASSERT_EQ(port.Ioctl(8, PPCLAIM, nullptr), 0);
    EXPECT_TRUE(writesReachThePort(8));
    port.Ioctl(8, PPRELEASE, nullptr);

    ASSERT_EQ(port.Ioctl(7, PPCLAIM, nullptr), 0);
    EXPECT_FALSE(writesReachThePort(7));
    port.Ioctl(7, PPDATADIR, &forward);
    EXPECT_TRUE(writesReachThePort(7));
}

TEST(VirtualPpdevTest, TheEndOfTheProgramSavesTheChipAndWritesTheStatistics)
{
    char folderTemplate[] = "/tmp/velkor-vppdev-XXXXXX";
    ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
    const std::filesystem::path folder = folderTemplate;
    {
        VirtualPpdev port(VirtualPpdevConfig{
            .chip = "atmega8", .stateFile = folder / "chip.json", .statsFile = folder / "stats.json"});
        port.Opened(7);
        port.Ioctl(7, PPCLAIM, nullptr);
        unsigned char status = 0;
        port.Ioctl(7, PPRSTATUS, &status);
    }
    const nlohmann::json stats = nlohmann::json::parse(std::ifstream(folder / "stats.json"));
    EXPECT_EQ(stats.at("portAccesses"), 1);
    EXPECT_GE(stats.at("seconds").get<double>(), 0.0);
    EXPECT_TRUE(stats.at("timingViolations").empty());
    const nlohmann::json state = nlohmann::json::parse(std::ifstream(folder / "chip.json"));
    EXPECT_EQ(state.at("chip"), "ATmega8");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace velkor::sim

#endif  // VELKOR_VIRTUAL_PPDEV_PATH
