// The doctor: what a person does with a meter, a borrowed pin-toggle tool
// and other programmers' wirings, one step after another, with the chip left
// as it was.
#include "Doctor.h"

#include <array>
#include <algorithm>

#include "Format.h"
#include "LockBits.h"

namespace velkor {

namespace {

constexpr std::uint8_t kEnableEcho = 0x53;
constexpr int kListeningTries = 8;
constexpr unsigned kRetryWaitMs = 10;
constexpr unsigned kToggleMs = 1000;
constexpr unsigned kWatchPollMs = 5;
// The echo of 0x53 one SCK edge early or late, with either bit shifted in.
constexpr std::array<std::uint8_t, 4> kShiftedEchoes{0xA6, 0xA7, 0x29, 0xA9};

std::string HexText(unsigned value)
{
    return FormatNumber("%X", value);
}

// The cable with SCK and MOSI on each other's pins.
Cable WithSckAndMosiSwapped(const Cable& cable)
{
    Cable swapped = cable;
    std::swap(swapped.sck, swapped.mosi);
    return swapped;
}

std::string LevelText(bool high)
{
    return high ? "high" : "low";
}

}  // namespace

CommandResult CableDoctor::Examine()
{
    programmer_.CommandLog().Clear();
    return programmer_.RunInCommandFrame([this] { return ExamineInFrame(); });
}

bool CableDoctor::ExamineInFrame()
{
    Log& log = programmer_.CommandLog();
    const Cable& cable = programmer_.CableInUse();
    log.Append("Port: open at 0x" + HexText(programmer_.PortAddress) + ".");
    log.Append("Cable: " + cable.name + " (" + CablePins(cable) + ").");
    CheckDataRegister();
    const Echo echo = ListenToProgrammingEnable();
    if (echo == Echo::Answered) {
        log.Append("Programming Enable: the chip answers.");
        ReportChip();
        return true;
    }
    if (echo == Echo::OneBitOff) {
        log.Append("Programming Enable: the echo comes one SCK edge early or late.");
    }
    // The resynchronising pulses the commands send bring a chip that is out of step back in step.
    programmer_.ResetIntoProgrammingMode(5);
    if (programmer_.ProgrammingEnable()) {
        log.Append("The chip answers only after the resynchronising pulses: an SCK edge was lost or extra on the way "
                   "(a long or loose cable, noise, a pace too fast for the chip's clock). The commands send the "
                   "same pulses.");
        ReportChip();
        return true;
    }
    programmer_.ReleasePort();
    ExplainSilence(echo);
    if (!TryOtherWirings()) {
        AdviseChecks(echo);
    }
    programmer_.Fail({.fault = Fault::NoProgramEnable});
    return false;
}

void CableDoctor::CheckDataRegister()
{
    Log& log = programmer_.CommandLog();
    programmer_.ReleasePort();
    const std::uint8_t written = RegistersFor(programmer_.CableInUse(), {}).data;
    const std::uint8_t read = programmer_.PortReadAt(programmer_.PortAddress);
    if (read == written) {
        log.Append("Data register: holds " + TwoHexDigits(written) + " as written.");
    } else {
        log.Append("Data register: reads " + TwoHexDigits(read) + " after " + TwoHexDigits(written) +
                   " was written: this port may not read back its data register (some do not), or a line is "
                   "loaded or shorted.");
    }
}

// Programming Enable after a RESET pulse, a few times, listening to MISO
// through the echo byte and the byte after it.
CableDoctor::Echo CableDoctor::ListenToProgrammingEnable()
{
    programmer_.ResetIntoProgrammingMode(5);
    std::vector<std::uint8_t> heard;
    for (int attempt = 0; attempt < kListeningTries; ++attempt) {
        programmer_.StopIfRequested();
        programmer_.SendByte(0xAC);
        programmer_.SendByte(kEnableEcho);
        const std::uint8_t echo = programmer_.ReceiveByte();
        const std::uint8_t after = programmer_.ReceiveByte();
        if (echo == kEnableEcho) {
            return Echo::Answered;
        }
        heard.push_back(echo);
        heard.push_back(after);
        programmer_.Wait(kRetryWaitMs);
    }
    programmer_.ReleasePort();
    const auto all = [&heard](std::uint8_t value) {
        return std::ranges::all_of(heard, [value](auto b) { return b == value; });
    };
    if (all(0xFF)) {
        return Echo::StuckHigh;
    }
    if (all(0x00)) {
        return Echo::StuckLow;
    }
    for (std::size_t i = 0; i < heard.size(); i += 2) {
        if (std::ranges::find(kShiftedEchoes, heard[i]) != kShiftedEchoes.end()) {
            return Echo::OneBitOff;
        }
    }
    const bool same = std::ranges::all_of(heard, [&heard](auto b) { return b == heard[0]; });
    return same ? Echo::SameWrongAnswer : Echo::Varying;
}

void CableDoctor::ExplainSilence(Echo echo)
{
    Log& log = programmer_.CommandLog();
    switch (echo) {
    case Echo::StuckHigh:
        log.Append("MISO stays high: nothing drives it.");
        break;
    case Echo::StuckLow:
        log.Append("MISO stays low.");
        break;
    case Echo::SameWrongAnswer:
        log.Append("The chip gives the same wrong answer every time: the cable may be wired otherwise than named.");
        break;
    case Echo::Varying:
        log.Append("The answers change from try to try.");
        break;
    case Echo::Answered:
    case Echo::OneBitOff:
        break;
    }
}

void CableDoctor::AdviseChecks(Echo echo)
{
    Log& log = programmer_.CommandLog();
    switch (echo) {
    case Echo::StuckHigh:
        log.Append("Check next: the board's power (and the cable's, for a cable powered from the port), the MISO "
                   "wire, the RESET wire (the chip must see RESET low) and ground.");
        break;
    case Echo::StuckLow:
        log.Append("Check next: that the ISP plug is not turned round (pin 1 at the ribbon's red stripe) and that "
                   "MISO is not shorted to ground.");
        break;
    case Echo::SameWrongAnswer:
    case Echo::Varying:
    case Echo::OneBitOff:
        log.Append("Check next: loose contacts, the cable's length (keep it short), and a slower pace with "
                   "--chip-clock.");
        break;
    case Echo::Answered:
        break;
    }
}

// Probes other wirings and the slowest pace, without writing anything, and
// names what the chip answers to.
bool CableDoctor::TryOtherWirings()
{
    Log& log = programmer_.CommandLog();
    const Cable& cable = programmer_.CableInUse();
    if (AnswersWith(WithSckAndMosiSwapped(cable))) {
        log.Append("With SCK and MOSI on each other's pins the chip answers: SCK and MOSI are swapped in the cable.");
        return true;
    }
    if (AnswersWith(cable, kMinChipClockHz)) {
        log.Append("The chip answers only at the slowest pace: a fuse selects a slow clock (a slow clock fuse); "
                   "give its clock with --chip-clock, e.g. --chip-clock 32k.");
        return true;
    }
    std::string answering;
    for (const Cable* other : candidates_) {
        if (other->name != cable.name && AnswersWith(*other)) {
            answering += (answering.empty() ? "" : ", ") + other->name;
        }
    }
    if (!answering.empty()) {
        log.Append("The chip answers under another cable's wiring: " + answering + ". Give that cable with --cable.");
        return true;
    }
    log.Append("No other known wiring and no slower pace makes the chip answer.");
    return false;
}

bool CableDoctor::AnswersWith(const Cable& cable, std::optional<std::uint32_t> paceClockHz)
{
    const Cable& named = programmer_.CableInUse();
    const std::chrono::nanoseconds pace = programmer_.SckPhase;
    programmer_.ReleasePort();
    programmer_.UseCable(cable);
    if (paceClockHz) {
        programmer_.SckPhase = SckPhaseFor(*paceClockHz);
    }
    programmer_.ResetIntoProgrammingMode(5);
    const bool answered = programmer_.ProgrammingEnable(1);
    programmer_.ReleasePort();
    programmer_.UseCable(named);
    programmer_.SckPhase = pace;
    return answered;
}

void CableDoctor::ReportChip()
{
    Log& log = programmer_.CommandLog();
    programmer_.ReadSignature();
    if (!programmer_.IdentifiedChipIsListed()) {
        return;
    }
    LockBits lock(programmer_);
    lock.ReadFuseAndLockBytes();
    const ChipRecord& chip = *programmer_.ChipInUse();
    if (const ClockFuses* clock = programmer_.ClockFusesInUse()) {
        std::array<std::optional<std::uint8_t>, 3> values;
        for (std::size_t i = 0; i < chip.fuses.size() && i < values.size(); ++i) {
            values[i] = programmer_.QueryInstruction(chip.fuses[i].ReadInstruction());
        }
        if (const auto selected = SelectClock(*clock, chip.fuses, values)) {
            log.Append("Clock: the fuses select " + selected->Describe() + ".");
        }
    }
    log.Append("The port, the cable and the chip work.");
}

CommandResult CableDoctor::Toggle(std::uint8_t pin)
{
    programmer_.CommandLog().Clear();
    return programmer_.RunInCommandFrame([this, pin] {
        const PortPin port = *FindPortPin(pin);
        const auto address =
            static_cast<std::uint16_t>(programmer_.PortAddress + (port.reg == PortRegister::Data ? 0 : 2));
        const PortRegisters released = RegistersFor(programmer_.CableInUse(), {});
        const std::uint8_t base = port.reg == PortRegister::Data ? released.data : released.control;
        for (bool high = true;; high = !high) {
            programmer_.StopIfRequested();
            const auto mask = static_cast<std::uint8_t>(1u << port.bit);
            const bool set = high != port.invertedByPort;
            programmer_.PortWrite(address, set ? static_cast<std::uint8_t>(base | mask)
                                               : static_cast<std::uint8_t>(base & ~mask));
            programmer_.CommandLog().Append("pin " + std::to_string(pin) + " " + LevelText(high));
            programmer_.Wait(kToggleMs);
        }
        return true;
    });
}

CommandResult CableDoctor::Watch(std::uint8_t pin)
{
    programmer_.CommandLog().Clear();
    return programmer_.RunInCommandFrame([this, pin] {
        const PortPin port = *FindPortPin(pin);
        programmer_.ReleasePort();
        std::optional<bool> last;
        for (;;) {
            programmer_.StopIfRequested();
            const std::uint8_t status = programmer_.PortRead();
            const bool high = (((status >> port.bit) & 1u) != 0) != port.invertedByPort;
            if (high != last) {
                programmer_.CommandLog().Append("pin " + std::to_string(pin) + " " + LevelText(high));
                last = high;
            }
            programmer_.Wait(kWatchPollMs);
        }
        return true;
    });
}

}  // namespace velkor
