// A command asked to stop: it stops before its next instruction, never inside
// a write's wait, and still leaves the port released and the driver closed.
#include <gtest/gtest.h>

#include "SimulatedProgrammer.h"

namespace velkor {
namespace {

using testing::Event;

struct StopCase {
    const char* chip;
    const char* command;  // "write" (examples/blink.hex) or "fuse"
    int askedBeforeStop;  // StopRequested answers true on this call
};

class StopRequest : public ::testing::TestWithParam<StopCase>, protected testing::SimulatedProgrammer {};

TEST_P(StopRequest, EndsAtInstructionBoundaryWithPortReleased)
{
    const StopCase& c = GetParam();
    Attach(c.chip);
    int asked = 0;
    std::size_t eventsAtStop = 0;
    programmer->StopRequested = [&] {
        if (++asked < c.askedBeforeStop) {
            return false;
        }
        eventsAtStop = trace.events.size();
        return true;
    };

    const bool succeeded =
        (std::string_view(c.command) == "write" ? programmer->WriteCommand(VELKOR_SOURCE_DIR "/examples/blink.hex")
                                                : programmer->WriteFuses("D9", "E1"))
            .succeeded;

    EXPECT_FALSE(succeeded);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), "Interrupted.");
    // Nothing but the release and the close after the stop.
    ASSERT_EQ(trace.events.size(), eventsAtStop + 2);
    EXPECT_EQ(trace.events[eventsAtStop].kind, Event::Kind::Write);
    EXPECT_EQ(trace.events[eventsAtStop].value, 0x84);
    EXPECT_EQ(trace.events.back().kind, Event::Kind::Close);
    // A write already sent had its whole wait before the RESET went high.
    EXPECT_EQ(target->chip()->TimingViolations(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Commands, StopRequest,
                         ::testing::Values(StopCase{"ATmega8", "write", 1},     // before Programming Enable
                                           StopCase{"ATmega8", "write", 6},     // right after Chip Erase
                                           StopCase{"ATmega8", "write", 40},    // inside a page load
                                           StopCase{"ATmega8", "write", 74},    // right after a page write
                                           StopCase{"AT90S2313", "write", 30},  // between polled byte writes
                                           StopCase{"AT90S1200", "write", 30},  // between unpolled byte writes
                                           StopCase{"ATmega8", "fuse", 4}),     // after the high fuse write
                         [](const auto& info) {
                             return std::string(info.param.chip) + "_" + info.param.command + "_" +
                                    std::to_string(info.param.askedBeforeStop);
                         });

}  // namespace
}  // namespace velkor
