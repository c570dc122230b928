// Programming mode and chip identification.
#include "BuiltInCatalogue.h"
#include "Format.h"
#include "ProgrammerWaits.h"
#include "Session.h"

namespace velkor {

namespace {
constexpr std::uint8_t kEnableEcho = 0x53;
constexpr int kResyncPulses = 31;
constexpr unsigned kRetryWaitMs = 10;
constexpr std::uint8_t kAtmelMakerCode = 0x1E;
// What a lock-mode-3 AT90S answers for signature bytes 0, 1 and 2: the
// address byte of each instruction.
constexpr std::uint8_t kHiddenMakerCode = 0x00;
constexpr std::uint16_t kHiddenSignature = 0x0102;
constexpr Instruction kChipErase{0xAC, 0x80, 0x00, 0x00};

Instruction ReadSignatureByte(std::uint8_t n)
{
    return {0x30, 0x00, n, 0x00};
}
}  // namespace

// One Programming Enable. A chip in step echoes 0x53 while the third byte is
// clocked; all four bytes go out whatever the echo.
bool Session::TryProgrammingEnable()
{
    StopIfRequested();
    SendByte(0xAC);
    SendByte(0x53);
    const std::uint8_t echo = ReceiveByte();
    SendByte(0x00);
    return echo == kEnableEcho;
}

bool Session::ProgrammingEnable(int attemptsPerRound)
{
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            // A chip out of step (an AT90S that saw a stray edge) slips its
            // byte framing by one bit with each extra SCK pulse.
            for (int pulse = 0; pulse < kResyncPulses; ++pulse) {
                DriveLines(true, false, false);
                ShortDelay();
                DriveLines(false, false, false);
                ShortDelay();
            }
        }
        for (int attempt = 0; attempt < attemptsPerRound; ++attempt) {
            if (TryProgrammingEnable()) {
                return true;
            }
            Wait(kRetryWaitMs);
        }
    }
    return false;
}

// A positive RESET pulse with SCK low, then RESET held low long enough (the
// chips need 20 ms) before the first Programming Enable.
void Session::ResetIntoProgrammingMode(unsigned leadInMilliseconds)
{
    if (leadInMilliseconds > 0) {
        DriveLines(false, false, false);
        Wait(leadInMilliseconds);
    }
    DriveLines(false, false, true);
    Wait(1);
    DriveLines(false, false, false);
    Wait(50);
}

bool Session::EnterProgramming(bool noErase)
{
    ResetIntoProgrammingMode(5);
    if (!ProgrammingEnable() && !FoundAtSlowestPace()) {
        log_.Append("Program enable fault.");
        Fail({.fault = Fault::NoProgramEnable});
        ReleasePort();
        return false;
    }
    ReadSignature();
    if (!IsExpectedChip()) {
        log_.Append("Not the chip expected: " + *ExpectedChip + " was named, the chip is " +
                    ChipDescription({MakerCode, DeviceSignature}) + ".");
        Fail({.fault = Fault::Other});
        ReleasePort();
        return false;
    }
    FollowChipClock();
    return noErase || ChipErase();
}

bool Session::ProbeChip()
{
    ResetIntoProgrammingMode(5);
    // Both rounds, one try each: a chip out of step answers in the second,
    // and one that needs more tries is found 300 ms later.
    const bool answered = ProgrammingEnable(1);
    if (answered) {
        Identify();
    }
    ReleasePort();
    return answered;
}

bool Session::ChipErase()
{
    log_.Append("");
    log_.Append("Chip Erase...");
    SendInstruction(kChipErase);
    const ChipRecord* chip = ChipInUse();
    if (!WaitUntilReady(kEraseWaitMs, chip != nullptr ? chip->chipEraseMicros : 0, "Chip Erase")) {
        return false;
    }
    log_.Append("done");
    // AT90S parts need a new RESET pulse and Programming Enable after an erase.
    ResetIntoProgrammingMode(0);
    if (!ProgrammingEnable()) {
        log_.Append("Program enable fault.");
        Fail({.fault = Fault::NoProgramEnable});
        ReleasePort();
        return false;
    }
    return true;
}

void Session::ReadSignature()
{
    Identify();
    if (!IdentifiedChipIsListed()) {
        unlisted_.push_back({MakerCode, DeviceSignature});
    }
}

void Session::Identify()
{
    MakerCode = QueryInstruction(ReadSignatureByte(0));
    if (MakerCode == kAtmelMakerCode) {
        log_.Append("ATMEL");
    } else {
        log_.Append(FormatNumber("Unknown Maker %d", MakerCode));
    }
    const std::uint8_t high = QueryInstruction(ReadSignatureByte(1));
    const std::uint8_t low = QueryInstruction(ReadSignatureByte(2));
    DeviceSignature = static_cast<std::uint16_t>(high * 256 + low);

    std::uint8_t row = 0;
    while (DeviceTable[row].Signature != DeviceSignature && DeviceTable[row].Signature != 0) {
        ++row;
    }
    DeviceIndex = row;
    catalogueChip_ = DeviceTable[row].Signature != 0 ? nullptr : FindInChipLists(DeviceSignature);
    if (Device().Signature != 0) {
        LogDeviceDescription(Device());
    } else {
        log_.Append(FormatNumber("Unknown CPU %d", DeviceSignature));
    }
}

const ChipRecord* Session::FindInChipLists(std::uint16_t signature) const
{
    for (const ChipCatalogue* list : ChipLists) {
        if (const ChipRecord* chip = list->Find(signature)) {
            return chip;
        }
    }
    return nullptr;
}

const ChipRecord* Session::ChipInUse() const
{
    return catalogueChip_ != nullptr ? catalogueChip_ : TableChip(DeviceIndex);
}

const DEVTYPE& Session::Device() const
{
    const ChipRecord* chip = ChipInUse();
    return chip != nullptr ? chip->row : DeviceTable[kUnknownDeviceRow];
}

std::optional<std::span<const FuseByteLayout>> Session::FuseLayout() const
{
    const ChipRecord* chip = ChipInUse();
    if (chip == nullptr) {
        return std::nullopt;
    }
    return chip->layout;
}

std::optional<EepromRules> Session::MemoryRules() const
{
    const ChipRecord* chip = ChipInUse();
    if (chip == nullptr) {
        return std::nullopt;
    }
    return chip->Eeprom();
}

const ClockFuses* Session::ClockFusesInUse() const
{
    const ChipRecord* chip = ChipInUse();
    return chip != nullptr && chip->clockFuses ? &*chip->clockFuses : nullptr;
}

bool Session::IdentifiedChipIsListed() const
{
    return ChipInUse() != nullptr;
}

bool Session::SignatureHidden() const
{
    return MakerCode == kHiddenMakerCode && DeviceSignature == kHiddenSignature;
}

void Session::LogDeviceDescription(const DEVTYPE& device)
{
    log_.Append(std::string(" \u3010") + device.Name + "\u3011");
    log_.Append(FormatNumber("      %dPIN", device.Pins));
    log_.Append(FormatNumber("      Flash  = %5dbyte", device.FlashSize));
    log_.Append(FormatNumber("      SRAM   = %5dbyte", device.SramSize));
    log_.Append(FormatNumber("      EEPROM = %5dbyte", device.EepromSize));
    log_.Append(FormatNumber("      FUSE   = %5dbyte", device.FuseCount));
}

}  // namespace velkor
