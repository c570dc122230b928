// Byte writes with polling or a fixed wait, and page writes from PageBuffer:
// what goes over the wires, decoded back into instructions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "Programmer.h"
#include "Recorder.h"

namespace velkor {
namespace {

using testing::Event;

std::uint8_t RowOf(std::string_view name)
{
    for (std::uint8_t row = 0; row < kDeviceRows; ++row) {
        if (DeviceTable[row].Name == name) {
            return row;
        }
    }
    ADD_FAILURE() << "no row " << name;
    return kUnknownDeviceRow;
}

// A chip that answers its n-th byte read with answers[n], and with
// laterAnswer once those run out. MISO reaches the status register inverted.
class ReadBackPort final : public PortOperations {
public:
    void OpenDriver(std::uint16_t) override {}
    void CloseDriver() override {}
    void WritePortUchar(std::uint16_t, std::uint8_t) override {}
    std::uint8_t ReadPortUchar(std::uint16_t) override
    {
        const std::size_t byte = reads_ / 8;
        const unsigned bit = 7 - reads_ % 8;
        ++reads_;
        const std::uint8_t answer = byte < answers.size() ? answers[byte] : laterAnswer;
        return ((answer >> bit) & 1) != 0 ? 0x78 : 0xF8;
    }
    bool ActiveHW() const override { return true; }
    std::string OpenFailure() const override { return {}; }

    std::vector<std::uint8_t> answers;
    std::uint8_t laterAnswer = 0x00;

private:
    std::size_t reads_ = 0;
};

class FlashWriterTest : public ::testing::Test {
protected:
    FlashWriterTest()
        : recordingPort(port, trace), recordingClock(clock, trace), programmer(recordingPort, recordingClock, log)
    {
    }

    void UseChip(std::string_view name) { programmer.DeviceIndex = RowOf(name); }

    std::vector<Instruction> Sent() const { return trace.SentInstructions(); }

    ReadBackPort port;
    testing::NullClock clock;
    testing::Trace trace;
    testing::RecordingPort recordingPort;
    testing::RecordingClock recordingClock;
    MemoryLog log;
    Programmer programmer;
};

TEST_F(FlashWriterTest, AnErasedValueNeedsNoWrite)
{
    UseChip("AT90S8515");
    EXPECT_TRUE(programmer.WriteFlashByte(0x0123, 0xFF));
    EXPECT_TRUE(trace.events.empty());
}

struct Addressing {
    std::uint16_t address;
    std::uint8_t write, read, wordHigh, wordLow;
};

void PrintTo(const Addressing& a, std::ostream* os)
{
    *os << "byte address " << a.address;
}

class ByteAddressing : public FlashWriterTest, public ::testing::WithParamInterface<Addressing> {};

TEST_P(ByteAddressing, WritesThenReadsBackTheAddressedHalfOfTheWord)
{
    UseChip("AT90S8515");
    port.answers = {0x5A};
    const Addressing& a = GetParam();

    EXPECT_TRUE(programmer.WriteFlashByte(a.address, 0x5A));

    EXPECT_EQ(Sent(), (std::vector<Instruction>{{a.write, a.wordHigh, a.wordLow, 0x5A},
                                                {a.read, a.wordHigh, a.wordLow, 0x00}}));
    EXPECT_TRUE(trace.Sleeps().empty());
}

INSTANTIATE_TEST_SUITE_P(FlashWriter, ByteAddressing,
                         ::testing::Values(Addressing{0x0123, 0x48, 0x28, 0x00, 0x91},
                                           Addressing{0x0122, 0x40, 0x20, 0x00, 0x91},
                                           Addressing{0x1FFF, 0x48, 0x28, 0x0F, 0xFF},
                                           Addressing{0x0000, 0x40, 0x20, 0x00, 0x00}));

class Polling : public FlashWriterTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(Polling, ReadsUntilTheByteTakesItsValueWaitingAMillisecondAfterEachMiss)
{
    UseChip("AT90S8515");
    const unsigned matchingRead = GetParam();
    port.answers.assign(matchingRead - 1, 0x7F);  // the chip's busy value
    port.laterAnswer = 0x42;

    EXPECT_TRUE(programmer.WriteFlashByte(0x0200, 0x42));

    EXPECT_EQ(Sent().size(), 1 + matchingRead);
    EXPECT_EQ(trace.Sleeps(), std::vector<unsigned>(matchingRead - 1, 1));
    EXPECT_TRUE(log.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(FlashWriter, Polling, ::testing::Range(1u, 7u));

TEST_F(FlashWriterTest, AByteThatNeverReadsBackGivesUpAfterSixReadsAndReleasesThePort)
{
    UseChip("AT90S8515");
    port.laterAnswer = 0x7F;

    EXPECT_FALSE(programmer.WriteFlashByte(0x0200, 0x42));

    EXPECT_EQ(Sent().size(), 7u);
    EXPECT_EQ(trace.Sleeps(), std::vector<unsigned>(6, 1));
    EXPECT_EQ(log.lines, std::vector<std::string>{"Verify Error."});
    EXPECT_EQ(trace.events.back(), (Event{Event::Kind::Write, 0x378, 0x84}));
}

struct Unpolled {
    const char* chip;
    std::uint8_t data;
    bool polled;
};

void PrintTo(const Unpolled& u, std::ostream* os)
{
    *os << (*u.chip != '\0' ? u.chip : "unlisted chip") << " data " << int{u.data};
}

class PollOrWait : public FlashWriterTest, public ::testing::WithParamInterface<Unpolled> {};

TEST_P(PollOrWait, DataThatCannotBeConfirmedGetsTheFullWriteTimeInstead)
{
    UseChip(GetParam().chip);
    port.laterAnswer = GetParam().data;

    EXPECT_TRUE(programmer.WriteFlashByte(0x0010, GetParam().data));

    // Either way one read confirms the byte: at once when polled, after the
    // full write time when not.
    EXPECT_EQ(Sent().size(), 2u);
    const auto read = std::find_if(trace.events.begin(), trace.events.end(),
                                   [](const Event& e) { return e.kind == Event::Kind::Read; });
    const auto sleep = std::find_if(trace.events.begin(), trace.events.end(),
                                    [](const Event& e) { return e.kind == Event::Kind::Sleep; });
    if (GetParam().polled) {
        EXPECT_TRUE(trace.Sleeps().empty());
    } else {
        EXPECT_EQ(trace.Sleeps(), std::vector<unsigned>{5});
        EXPECT_LT(sleep, read);
    }
}

TEST_F(FlashWriterTest, AnUnpolledByteThatReadsBackOtherwiseIsAVerifyError)
{
    UseChip("AT90S1200");
    port.laterAnswer = 0x02;  // what is left of 0x42 over an earlier 0x03

    EXPECT_FALSE(programmer.WriteFlashByte(0x0010, 0x42));

    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(log.lines, std::vector<std::string>{"Verify Error."});
    EXPECT_EQ(trace.events.back(), (Event{Event::Kind::Write, 0x378, 0x84}));
}

INSTANTIATE_TEST_SUITE_P(FlashWriter, PollOrWait,
                         ::testing::Values(Unpolled{"AT90S8515", 0x7F, false}, Unpolled{"AT90S8515", 0x7E, true},
                                           Unpolled{"AT90S8535", 0x7F, true}, Unpolled{"AT90S2333", 0xFE, true},
                                           Unpolled{"AT90S1200", 0x00, false}, Unpolled{"AT90S1200", 0x42, false},
                                           Unpolled{"", 0x00, false}, Unpolled{"", 0x01, true}));

std::string HexOf(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

class PageWalk : public FlashWriterTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(PageWalk, SendsNothingForErasedPagesOrBytesBeyondTheFlashAndLogsEveryPage)
{
    programmer.DeviceIndex = GetParam();
    const DEVTYPE& device = DeviceTable[GetParam()];
    std::fill(programmer.PageBuffer.begin() + device.FlashSize, programmer.PageBuffer.end(), 0x00);

    EXPECT_TRUE(programmer.WriteFlashPages());

    EXPECT_TRUE(trace.Writes().empty());
    std::vector<std::string> expected;
    for (unsigned start = 0; start < device.FlashSize; start += device.PageSize) {
        expected.push_back(HexOf(start));
    }
    EXPECT_EQ(log.lines, expected);
}

std::vector<std::uint8_t> PageModeRows()
{
    std::vector<std::uint8_t> rows;
    for (std::uint8_t row = 0; row < kDeviceRows; ++row) {
        if (DeviceTable[row].PageSize != 0) {
            rows.push_back(row);
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(FlashWriter, PageWalk, ::testing::ValuesIn(PageModeRows()));

struct DirtyPage {
    const char* chip;
    unsigned address;  // of the one byte that is not 0xFF
    std::uint8_t wordHigh, wordLow;
};

void PrintTo(const DirtyPage& p, std::ostream* os)
{
    *os << p.chip << " byte " << p.address;
}

class OneDirtyPage : public FlashWriterTest, public ::testing::WithParamInterface<DirtyPage> {};

TEST_P(OneDirtyPage, LoadsEveryByteLowBeforeHighThenWritesThePageAndWaits)
{
    UseChip(GetParam().chip);
    const unsigned pageSize = programmer.Device().PageSize;
    const unsigned pageStart = GetParam().address / pageSize * pageSize;
    programmer.PageBuffer[GetParam().address] = 0x12;
    port.answers.assign(programmer.PageBuffer.begin() + pageStart,
                        programmer.PageBuffer.begin() + pageStart + pageSize);

    EXPECT_TRUE(programmer.WriteFlashPages());

    const std::vector<Instruction> sent = Sent();
    ASSERT_EQ(sent.size(), 2 * pageSize + 1);
    for (unsigned i = 0; i < pageSize; ++i) {
        const std::uint8_t data = pageStart + i == GetParam().address ? 0x12 : 0xFF;
        const std::uint8_t opcode = i % 2 == 0 ? 0x40 : 0x48;
        EXPECT_EQ(sent[i], (Instruction{opcode, 0x00, static_cast<std::uint8_t>(i / 2), data})) << "byte " << i;
    }
    EXPECT_EQ(sent[pageSize], (Instruction{0x4C, GetParam().wordHigh, GetParam().wordLow,
                                           programmer.PageBuffer[pageStart + pageSize - 1]}));
    // After the write time every byte of the page is read back in order.
    for (unsigned i = 0; i < pageSize; ++i) {
        const unsigned word = (pageStart + i) / 2;
        EXPECT_EQ(sent[pageSize + 1 + i],
                  (Instruction{static_cast<std::uint8_t>(i % 2 == 0 ? 0x20 : 0x28),
                               static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF), 0x00}))
            << "read " << i;
    }
    EXPECT_EQ(trace.Sleeps(), std::vector<unsigned>{10});
    EXPECT_EQ(log.lines.size(), programmer.Device().FlashSize / pageSize);
}

INSTANTIATE_TEST_SUITE_P(FlashWriter, OneDirtyPage,
                         ::testing::Values(DirtyPage{"ATmega8", 0x1FFF, 0x0F, 0xE0},
                                           DirtyPage{"ATmega8", 0x0045, 0x00, 0x20},
                                           DirtyPage{"ATmega168", 0x3F85, 0x1F, 0xC0},
                                           DirtyPage{"ATtiny26", 0x0000, 0x00, 0x00}));

TEST_F(FlashWriterTest, DirtyPagesAreWrittenInAscendingOrder)
{
    UseChip("ATmega8");
    programmer.PageBuffer[0x1000] = 0x00;
    programmer.PageBuffer[0x0040] = 0x00;
    port.answers.assign(128, 0xFF);
    port.answers[0] = 0x00;
    port.answers[64] = 0x00;

    EXPECT_TRUE(programmer.WriteFlashPages());

    const std::vector<Instruction> sent = Sent();
    std::vector<Instruction> pageWrites;
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(pageWrites),
                 [](const Instruction& i) { return i[0] == 0x4C; });
    EXPECT_EQ(pageWrites, (std::vector<Instruction>{{0x4C, 0x00, 0x20, 0xFF}, {0x4C, 0x08, 0x00, 0xFF}}));
    EXPECT_EQ(sent.size(), 2u * (65u + 64u));
}

TEST_F(FlashWriterTest, APageThatReadsBackOtherwiseStopsTheWalkAfterTheLastGoodPage)
{
    UseChip("ATmega8");
    programmer.PageBuffer[0x0000] = 0x00;
    programmer.PageBuffer[0x0041] = 0x00;
    port.answers.assign(128, 0xFF);
    port.answers[0] = 0x00;  // the second page's 0x00 never took

    EXPECT_FALSE(programmer.WriteFlashPages());

    EXPECT_EQ(log.lines, (std::vector<std::string>{"0", "Verify Error."}));
    EXPECT_EQ(Sent().size(), 65u + 64u + 65u + 2u) << "reading stops at the first difference";
    EXPECT_EQ(trace.events.back(), (Event{Event::Kind::Write, 0x378, 0x84}));
}

}  // namespace
}  // namespace velkor
