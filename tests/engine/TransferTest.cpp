// What goes over the wires for single bytes and instructions.
#include <gtest/gtest.h>

#include "Programmer.h"
#include "Recorder.h"
#include "SimulatedTarget.h"

namespace velkor {
namespace {

using testing::Event;

class TransferTest : public ::testing::Test {
protected:
    TransferTest()
        : recordingPort(port, trace), recordingClock(clock, trace), programmer(recordingPort, recordingClock, log)
    {
    }

    testing::ScriptedStatusPort port;
    testing::NullClock clock;
    testing::Trace trace;
    testing::RecordingPort recordingPort;
    testing::RecordingClock recordingClock;
    MemoryLog log;
    Programmer programmer;
};

TEST_F(TransferTest, SendByteClocksEachBitMsbFirstWithADelayAfterEveryWrite)
{
    programmer.PortAddress = 0x278;
    programmer.SendByte(0xAC);

    EXPECT_EQ(trace.Text(), ">AC");
    ASSERT_EQ(trace.events.size(), 2u * 3u * 8u) << "data, SCK high, SCK low for each bit";
    for (std::size_t i = 0; i < trace.events.size(); i += 2) {
        EXPECT_EQ(trace.events[i].kind, Event::Kind::Write) << i;
        EXPECT_EQ(trace.events[i].address, 0x278) << i;
        EXPECT_EQ(trace.events[i + 1].kind, Event::Kind::Delay) << "after write " << i;
    }
}

TEST_F(TransferTest, ReceiveByteReadsTheInvertedBusyLineWhileSckIsHigh)
{
    port.status = 0x78;  // BUSY bit 0: MISO high
    EXPECT_EQ(programmer.ReceiveByte(), 0xFF);
    port.status = 0xF8;  // BUSY bit 1: MISO low
    EXPECT_EQ(programmer.ReceiveByte(), 0x00);
    EXPECT_EQ(trace.Text(), "<FF <00");

    trace.Clear();
    programmer.ReceiveByte();
    ASSERT_EQ(trace.events.size(), 8u * 5u);
    for (std::size_t bit = 0; bit < 8; ++bit) {
        const auto* e = &trace.events[bit * 5];
        EXPECT_EQ(e[0], (Event{Event::Kind::Write, 0x378, 0x01}));
        EXPECT_EQ(e[1].kind, Event::Kind::Delay);
        EXPECT_EQ(e[2], (Event{Event::Kind::Read, 0x379, 0xF8}));
        EXPECT_EQ(e[3], (Event{Event::Kind::Write, 0x378, 0x00}));
        EXPECT_EQ(e[4].kind, Event::Kind::Delay);
    }
}

TEST_F(TransferTest, QueryInstructionSendsThreeBytesAndNeverTheFourth)
{
    EXPECT_EQ(programmer.QueryInstruction({0x30, 0x00, 0x01, 0xFF}), 0xFF);
    EXPECT_EQ(trace.Text(), ">30 >00 >01 <FF");
    // The received byte is clocked with MOSI held low.
    const auto writes = trace.Writes();
    ASSERT_EQ(writes.size(), 3u * 24u + 16u);
    for (std::size_t i = 3 * 24; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i] & 0x02, 0) << "write " << i;
    }
}

TEST_F(TransferTest, EveryTransferHoldsResetLowAndReleasePortWritesOnlyTheIdlePattern)
{
    programmer.SendInstruction({0xFF, 0xFF, 0xFF, 0xFF});
    programmer.ReceiveByte();
    for (const std::uint8_t w : trace.Writes()) {
        EXPECT_EQ(w & 0xFC & ~0x02, 0) << "only SCK and MOSI may be set";
    }
    trace.Clear();
    programmer.ReleasePort();
    EXPECT_EQ(trace.Text(), "port 84");
    EXPECT_EQ(trace.events.size(), 1u);
}

// In virtual time a port access takes 1 us and each delay ends its phase
// counted from the start of the access before it: a step lasts the phase or,
// when the phase is shorter, the access. (The clock's first step, before it
// has timed an access, adds the access to the phase.) A received bit's high
// phase also holds the status read.
TEST(PhaseTimedDelay, EachStepLastsThePhaseOrTheAccessWhicheverIsLonger)
{
    for (const auto& [phaseNs, stepNs] : {std::pair{2501u, 2501u}, std::pair{400u, 1000u}}) {
        sim::SimulatedTarget target("none");
        MemoryLog log;
        Programmer programmer(target.port(), target.clock(), log);
        programmer.SckPhase = std::chrono::nanoseconds(phaseNs);
        target.port().OpenDriver(programmer.PortAddress);

        programmer.SendByte(0xAC);
        EXPECT_EQ(target.clock().NowNanoseconds(), 24u * stepNs + std::min(phaseNs, 1000u)) << phaseNs;
        const std::uint64_t sent = target.clock().NowNanoseconds();
        programmer.ReceiveByte();
        EXPECT_EQ(target.clock().NowNanoseconds() - sent, 8u * (2 * stepNs + 1000)) << phaseNs;
    }
}

}  // namespace
}  // namespace velkor
