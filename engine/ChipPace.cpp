// The SCK pace that follows the chip's own clock, and the waits for what the
// chip times itself: RDY/BSY polling where its record has it.
#include <algorithm>

#include "Format.h"
#include "Session.h"

namespace velkor {

namespace {
constexpr Instruction kPollRdyBsy{0xF0, 0x00, 0x00, 0x00};
// A chip found at the slowest pace answers at once; more tries there only
// lengthen the wait when nothing is attached.
constexpr int kSlowestPaceAttemptsPerRound = 4;

bool IsCrystal(const SelectedClock& clock)
{
    return clock.source.kind == ClockSource::Kind::Crystal ||
           clock.source.kind == ClockSource::Kind::LowFrequencyCrystal;
}
}  // namespace

bool Session::FoundAtSlowestPace()
{
    if (!PaceFromFuses) {
        return false;
    }
    missedPhase_ = SckPhase;
    SckPhase = SckPhaseFor(kMinChipClockHz);
    ResetIntoProgrammingMode(5);
    if (ProgrammingEnable(kSlowestPaceAttemptsPerRound)) {
        PaceChosen = ChosenPace{.clockHz = kMinChipClockHz, .reason = {}, .foundAtSlowestPace = true};
        return true;
    }
    SckPhase = missedPhase_;
    return false;
}

// Only the bytes that hold the clock bits are read, each once.
std::optional<SelectedClock> Session::ReadClockFuses(const ChipRecord& chip, const ClockFuses& clock)
{
    std::array<std::optional<std::uint8_t>, 3> values;
    std::vector<std::string> bits = clock.selectBits;
    if (!clock.divideBy8Bit.empty()) {
        bits.push_back(clock.divideBy8Bit);
    }
    for (const std::string& bit : bits) {
        const auto at = chip.FuseBitPosition(bit);
        if (!at || at->first >= values.size() || !chip.fuses[at->first].read) {
            return std::nullopt;
        }
        if (!values[at->first]) {
            values[at->first] = QueryInstruction(chip.fuses[at->first].ReadInstruction());
        }
    }
    return SelectClock(clock, chip.fuses, values);
}

// The pace the clock needs at its slowest; a crystal may run anywhere above
// its lower bound, so also at 12 MHz, where a phase needs one cycle more.
std::chrono::nanoseconds Session::PhaseForChip(const SelectedClock& clock, std::uint32_t slowestHz) const
{
    const SckRule& rule = ChipInUse()->sck;
    const unsigned cycles = std::max(rule.lowCycles, rule.highCycles);
    const std::chrono::nanoseconds phase = SckPhaseFor(slowestHz, cycles, rule.plusOneFrom12MHz);
    if (!IsCrystal(clock)) {
        return phase;
    }
    return std::max(phase, SckPhaseFor(std::max(slowestHz, kThreeCycleClockHz), cycles, rule.plusOneFrom12MHz));
}

void Session::FollowChipClock()
{
    if (!PaceFromFuses) {
        return;
    }
    const bool found = PaceChosen && PaceChosen->foundAtSlowestPace;
    ChosenPace pace = PaceChosen.value_or(ChosenPace{});
    const ClockFuses* clock = ClockFusesInUse();
    const std::optional<SelectedClock> selected =
        clock != nullptr ? ReadClockFuses(*ChipInUse(), *clock) : std::optional<SelectedClock>();
    const std::optional<std::uint32_t> slowest = selected ? selected->SlowestHz() : std::nullopt;
    const std::string stay = found ? "the slowest pace, where the chip answered" : "the default";
    if (clock == nullptr) {
        pace.reason = stay + ": the chip's record names no fuses that select its clock";
    } else if (!selected) {
        pace.reason = stay + ": the fuses that select the clock cannot be read";
    } else if (!slowest) {
        pace.reason = stay + ": its fuses select " + selected->Describe() + ", whose frequency only --chip-clock gives";
    } else if (found && PhaseForChip(*selected, *slowest) <= missedPhase_) {
        // Fuses that allow the pace the chip just missed are not taken at
        // their word.
        pace.reason = stay + ": its fuses select " + selected->DescribeWithRange() + ", yet it missed the default pace";
    } else {
        SckPhase = PhaseForChip(*selected, *slowest);
        pace.clockHz = *slowest;
        pace.reason = "its fuses select " + selected->DescribeWithRange();
    }
    PaceChosen = pace;
}

bool Session::PollsReadyBusy() const
{
    return catalogueChip_ != nullptr && catalogueChip_->rdyBsyPoll;
}

bool Session::ReportsBusy()
{
    return (PollInstruction(kPollRdyBsy) & 0x01) != 0;
}

bool Session::WaitUntilReady(unsigned fixedWaitMs, std::uint32_t busyMicros, std::string_view what)
{
    if (!PollsReadyBusy()) {
        Wait(fixedWaitMs);
        return true;
    }
    const std::chrono::nanoseconds limit = std::chrono::microseconds(busyMicros) * 2;
    const std::chrono::nanoseconds deadline = clock_.Now() + limit;
    while (ReportsBusy()) {
        if (clock_.Now() >= deadline) {
            log_.Append(
                "The chip is still busy " +
                FormatNumber("%d ms after the ", static_cast<long long>((limit.count() + 999'999) / 1'000'000)) +
                std::string(what) + ", twice the longest it should take.");
            Fail({.fault = Fault::Other});
            ReleasePort();
            return false;
        }
    }
    return true;
}

}  // namespace velkor
