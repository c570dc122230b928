// The virtual parallel port: wiring, the inverted BUSY bit, addressing,
// an unopened driver, and the time each access costs.

#include <gtest/gtest.h>

#include "SimulatedTarget.h"

namespace velkor::sim {
namespace {

constexpr std::uint16_t kBase = 0x278;
constexpr std::uint64_t kPhase = 4000;  // ns, well over the ATmega8's 2 us

TEST(SimulatedPort, NothingAttachedReads78)
{
    SimulatedTarget target("NONE");
    EXPECT_EQ(target.chip(), nullptr);
    target.port().OpenDriver(kBase);
    target.port().WritePortUchar(kBase, 0x00);
    EXPECT_EQ(target.port().ReadPortUchar(kBase + 1), 0x78);
    EXPECT_EQ(target.ViolationCount(), 0u);
}

TEST(SimulatedPort, UnknownChipIsRefused)
{
    EXPECT_THROW(SimulatedTarget("ATmega9"), std::invalid_argument);
}

// Programming Enable bit by bit through the port; byte 3 comes back as 0x53
// on the inverted BUSY bit.
TEST(SimulatedPort, DataBitsDriveThePinsAndBusyBitCarriesMisoInverted)
{
    SimulatedTarget target("atmega8");
    SimulatedPort& port = target.port();
    port.OpenDriver(kBase);
    port.WritePortUchar(kBase, 0x00);
    target.clock().Sleep(25);
    std::uint8_t third = 0;
    const std::uint8_t bytes[] = {0xAC, 0x53, 0x00, 0x00};
    for (int byte = 0; byte < 4; ++byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const std::uint8_t mosi = (bytes[byte] >> bit & 1) ? 0x02 : 0x00;
            port.WritePortUchar(kBase, mosi);
            target.clock().Advance(kPhase);
            port.WritePortUchar(kBase, mosi | 0x01);
            target.clock().Advance(kPhase);
            const std::uint8_t status = port.ReadPortUchar(kBase + 1);
            EXPECT_EQ(status & 0x7F, 0x78);
            if (byte == 2) {
                third = static_cast<std::uint8_t>(third << 1 | (status & 0x80 ? 0 : 1));
            }
        }
    }
    EXPECT_EQ(third, 0x53);
    EXPECT_EQ(target.ViolationCount(), 0u);
}

TEST(SimulatedPort, AnswersOnlyAtItsBaseAndOnlyWhileOpen)
{
    SimulatedTarget target("ATmega8");
    SimulatedPort& port = target.port();
    port.WritePortUchar(kBase, 0x04);
    EXPECT_FALSE(port.ActiveHW());
    EXPECT_EQ(port.ReadPortUchar(kBase + 1), 0xFF);
    EXPECT_EQ(port.AccessCount(), 0u);

    port.OpenDriver(kBase);
    EXPECT_TRUE(port.ActiveHW());
    port.WritePortUchar(0x378, 0x05);
    EXPECT_EQ(port.DataRegister(), 0x00);
    EXPECT_EQ(port.ReadPortUchar(0x379), 0xFF);
    EXPECT_EQ(port.ReadPortUchar(kBase + 1), 0x78);
    port.WritePortUchar(kBase, 0x84);
    EXPECT_EQ(port.DataRegister(), 0x84);
    EXPECT_EQ(port.ReadPortUchar(kBase), 0x84);
    EXPECT_EQ(port.AccessCount(), 5u);

    port.CloseDriver();
    EXPECT_FALSE(port.ActiveHW());
    port.WritePortUchar(kBase, 0x00);
    EXPECT_EQ(port.DataRegister(), 0x84);
}

// A short delay ends its phase counted from the start of the 1 us access
// before it, once an access has been timed.
TEST(VirtualClock, ChargesSleepsAndPortAccessesAndPacesPhasesFromTheAccess)
{
    SimulatedTarget target("none");
    VirtualClock& clock = target.clock();
    target.port().OpenDriver(kBase);
    clock.Sleep(3);
    for (int access = 0; access < 2; ++access) {
        target.port().WritePortUchar(kBase, 0);
        clock.PortAccessed();
        clock.ShortDelay(std::chrono::nanoseconds(2500));
    }
    EXPECT_EQ(clock.NowNanoseconds(), 3'000'000u + 1'000u + 2'500u + 2'500u);
    target.port().ReadPortUchar(kBase + 1);
    EXPECT_DOUBLE_EQ(target.ElapsedSeconds(), 0.003007);
}

}  // namespace
}  // namespace velkor::sim
