// The pace that follows the chip's fuses, the slow chip found by itself, and
// RDY/BSY polling, on simulated chips of every record with a clock table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

#include "BuiltInCatalogue.h"
#include "Format.h"
#include "HexText.h"
#include "SimulatedProgrammer.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using Kind = ClockSource::Kind;

// One set of clock fuses: the select value, CKDIV8, and the slowest clock a
// chip set so may run on (the default's 1 MHz where only the board knows).
struct ClockSetting {
    std::string label;
    std::size_t select;
    bool divided;
    std::uint32_t slowestHz;
};

// The settings a chip's table offers of the kinds below, each found by what
// the record says of its sources.
std::vector<ClockSetting> SettingsOf(const ChipRecord& chip)
{
    const ClockFuses& clock = *chip.clockFuses;
    const bool divider = !clock.divideBy8Bit.empty();
    std::vector<ClockSetting> settings;
    std::optional<std::size_t> externalClock;
    std::optional<std::size_t> lowestCrystal;
    std::optional<std::size_t> highestCrystal;
    for (std::size_t value = 0; value < clock.sources.size(); ++value) {
        const ClockSource& source = clock.sources[value];
        if (source.kind == Kind::Internal && source.hz == 128'000) {
            settings.push_back({"the 128 kHz oscillator", value, false, 128'000});
        }
        if (source.kind == Kind::ExternalClock && !externalClock) {
            externalClock = value;
            settings.push_back({"an external clock", value, false, kDefaultChipClockHz});
        }
        if (source.kind == Kind::Crystal && source.crystalMinHz != 0) {
            if (!lowestCrystal || source.crystalMinHz < clock.sources[*lowestCrystal].crystalMinHz) {
                lowestCrystal = value;
            }
            if (!highestCrystal || source.crystalMinHz > clock.sources[*highestCrystal].crystalMinHz) {
                highestCrystal = value;
            }
        }
    }
    if (lowestCrystal) {
        settings.push_back(
            {"the lowest crystal range", *lowestCrystal, false, clock.sources[*lowestCrystal].crystalMinHz});
    }
    if (highestCrystal && divider) {
        settings.push_back({"the highest crystal range divided by 8", *highestCrystal, true,
                            clock.sources[*highestCrystal].crystalMinHz / 8});
    }
    return settings;
}

// Every record with a clock table: the table's and the catalogue's.
std::vector<const ChipRecord*> ChipsWithClockTables()
{
    std::vector<const ChipRecord*> chips;
    for (const ChipCatalogue* list : {&TableChips(), &BuiltInCatalogue()}) {
        for (const ChipRecord& chip : list->Chips()) {
            if (chip.clockFuses) {
                chips.push_back(&chip);
            }
        }
    }
    return chips;
}

// A programmer as velkor-cli sets it up with no --chip-clock, and the files
// the commands are given.
class FollowingProgrammer : protected testing::SimulatedProgrammer {
protected:
    FollowingProgrammer() { fs::create_directories(folder); }
    ~FollowingProgrammer() { fs::remove_all(folder); }

    void AttachFollowing(const std::string& chip, std::optional<std::uint32_t> clockHz = std::nullopt)
    {
        Attach(chip, clockHz);
        programmer->ChipLists = {&BuiltInCatalogue()};
        programmer->PaceFromFuses = true;
    }

    fs::path HexFile(const std::string& name, std::uint16_t address, const std::vector<std::uint8_t>& data)
    {
        const fs::path file = folder / (name + ".hex");
        std::ofstream(file) << testing::DataRecord(address, data) << '\n' << testing::EndOfFileRecord() << '\n';
        return file;
    }

    std::string LastLine() const { return log.lines.empty() ? "" : log.lines.back(); }

    const fs::path folder = fs::temp_directory_path() / ("velkor-pace-" + std::to_string(::getpid()));
};

class ChipPace : public ::testing::TestWithParam<const ChipRecord*>, protected FollowingProgrammer {
protected:
    // The factory fuses with the clock bits set to select (and CKDIV8).
    void SetClockFuses(const ChipRecord& chip, std::size_t select, bool divided)
    {
        std::array<std::uint8_t*, 3> fuses{&target->chip()->FuseLow(), &target->chip()->FuseHigh(),
                                           &target->chip()->FuseExtended()};
        const ClockFuses& clock = *chip.clockFuses;
        const auto setBit = [&](const std::string& name, bool one) {
            const auto [byte, bit] = *chip.FuseBitPosition(name);
            *fuses[byte] = static_cast<std::uint8_t>(one ? *fuses[byte] | 1u << bit : *fuses[byte] & ~(1u << bit));
        };
        for (std::size_t i = 0; i < clock.selectBits.size(); ++i) {
            setBit(clock.selectBits[i], (select >> (clock.selectBits.size() - 1 - i) & 1) != 0);
        }
        if (!clock.divideBy8Bit.empty()) {
            setBit(clock.divideBy8Bit, !divided);
        }
    }
};

// Each setting of the chip's clock table: every command works with no clock
// given, and the chip, running on the slowest clock its fuses allow, sees
// every SCK phase once it has answered. A chip that misses the default pace
// (the same edges each command) is found at the slowest.
TEST_P(ChipPace, EveryCommandWorksOnTheClockTheFusesAllow)
{
    const ChipRecord& chip = *GetParam();
    const std::vector<std::uint8_t> program{0x0C, 0x94, 0x34, 0x12, 0x5A, 0xA5, 0x01, 0x80};
    const std::vector<std::uint8_t> eeprom{0x11, 0x22, 0x33};
    std::vector<ClockSetting> settings = SettingsOf(chip);
    settings.push_back({"the factory fuses", 0, false, chip.clockHz});
    for (const ClockSetting& setting : settings) {
        SCOPED_TRACE(setting.label);
        AttachFollowing(chip.name, setting.slowestHz);
        if (setting.label != "the factory fuses") {
            SetClockFuses(chip, setting.select, setting.divided);
        }
        const auto high = TwoHexDigits(target->chip()->FuseHigh());
        const auto low = TwoHexDigits(target->chip()->FuseLow());
        const auto extended = TwoHexDigits(target->chip()->FuseExtended());
        const auto violations = [&] { return target->ViolationCount(); };

        ASSERT_TRUE(programmer->ReadSignatureCommand()) << LastLine();
        const std::size_t missed = violations();
        EXPECT_EQ(missed == 0, SckPhaseFor(setting.slowestHz) <= SckPhaseFor(kDefaultChipClockHz));
        const std::vector<std::function<CommandResult()>> commands{
            [&] { return programmer->WriteCommand(HexFile("program", 0, program)); },
            [&] { return flashReader->VerifyCommand(HexFile("program", 0, program)); },
            [&] { return eepromMemory->WriteEepromCommand(HexFile("eeprom", 0, eeprom)); },
            [&] {
                if (chip.fuses.size() < 2) {
                    return CommandResult{.succeeded = true};
                }
                return chip.fuses.size() < 3 ? programmer->WriteFuses(high, low)
                                             : programmer->WriteFuses(high, low, extended);
            },
            [&] { return lockBits->LockCommand("FC"); },
        };
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const std::size_t before = violations();
            EXPECT_TRUE(commands[i]()) << "command " << i << ": " << LastLine();
            EXPECT_EQ(violations() - before, missed) << "command " << i;
        }
        EXPECT_TRUE(std::equal(program.begin(), program.end(), target->chip()->Flash().begin()));
    }
}

INSTANTIATE_TEST_SUITE_P(Records, ChipPace, ::testing::ValuesIn(ChipsWithClockTables()), [](const auto& info) {
    std::string name = info.param->name;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});

class BusyPolling : public ::testing::Test, protected FollowingProgrammer {};

// A chip beyond the table with RDY/BSY is polled after each write and erase,
// never slept for; a table chip keeps its fixed waits (20 ms erase, 10 ms a
// page).
TEST_F(BusyPolling, ReplacesTheFixedWaitsOnlyBeyondTheTable)
{
    const std::vector<std::uint8_t> program(200, 0x5A);  // two pages
    for (const auto& [chip, polled] : {std::pair{"ATmega328P", true}, std::pair{"ATmega168", false}}) {
        AttachFollowing(chip);
        trace.Clear();
        ASSERT_TRUE(programmer->WriteCommand(HexFile("program", 0, program))) << LastLine();
        const std::vector<unsigned> sleeps = trace.Sleeps();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 20u), polled ? 0 : 1) << chip;
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10u), polled ? 0 : 2) << chip;
        EXPECT_EQ(target->ViolationCount(), 0u) << chip;
    }
}

// A chip that stays busy past twice its record's time fails the command with
// one line naming what it was busy with, and the port released.
TEST_F(BusyPolling, AChipStillBusyAtTheLimitFailsTheCommand)
{
    const std::vector<std::pair<std::function<CommandResult()>, std::string>> cases{
        {[this] {
             return programmer->WriteCommand(HexFile("program", 0, {0x01, 0x02}));
         },
         "18 ms after the Chip Erase"},
        {[this] { return eepromMemory->WriteEepromCommand(HexFile("eeprom", 0, {0x01})); },
         "8 ms after the EEPROM write"},
        {[this] { return programmer->WriteFuses("D9", "62"); }, "9 ms after the fuse write"},
        {[this] { return lockBits->LockCommand("FC"); }, "9 ms after the lock write"},
    };
    for (const auto& [command, what] : cases) {
        AttachFollowing("ATmega328P");
        target->chip()->InjectedFaults().busyTimePercent = 300;
        EXPECT_FALSE(command()) << what;
        EXPECT_EQ(LastLine(), "The chip is still busy " + what + ", twice the longest it should take.");
        EXPECT_EQ(target->port().DataRegister(), 0x84) << what;
    }
}

}  // namespace
}  // namespace velkor
