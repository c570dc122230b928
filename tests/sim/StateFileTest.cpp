// The simulated chip's memories saved to and loaded from its JSON file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "SimulatedTarget.h"
#include "StateFiles.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velkor::sim {
namespace {

class StateFile : public ::testing::Test {
protected:
    std::filesystem::path Path(const std::string& name)
    {
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(test.begin(), test.end(), '/', '-');
        return std::filesystem::temp_directory_path() / ("velkor-sim-" + test + "-" + name + ".json");
    }

    void Write(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

    nlohmann::json ReadJson(const std::filesystem::path& path) { return nlohmann::json::parse(std::ifstream(path)); }

    VirtualClock clock_;
};

TEST_F(StateFile, RoundTripKeepsEveryMemory)
{
    for (const char* name : {"AT90S2313", "AT90S4433", "ATmega8", "ATmega168"}) {
        SimulatedChip original(*FindChipModel(name), clock_);
        for (std::size_t i = 0; i < original.Flash().size(); ++i) {
            original.Flash()[i] = static_cast<std::uint8_t>(i * 7);
        }
        original.Eeprom().back() = 0x3C;
        original.FuseLow() = 0xC4;  // SPIEN stays programmed on every chip above
        original.FuseHigh() = 0xD1;
        original.FuseExtended() = 0xF8;
        original.LockBits() = 0xFC;
        const auto path = Path(name);
        original.SaveState(path);

        SimulatedChip copy(*FindChipModel(name), clock_);
        copy.LoadState(path);
        EXPECT_EQ(copy.Flash(), original.Flash()) << name;
        EXPECT_EQ(copy.Eeprom(), original.Eeprom()) << name;
        EXPECT_EQ(copy.LockBits(), 0xFC) << name;
        const std::uint8_t fuseBytes = copy.Model().fuseBytes;
        EXPECT_EQ(copy.FuseLow(), fuseBytes >= 1 ? 0xC4 : copy.Model().factoryLow) << name;
        EXPECT_EQ(copy.FuseHigh(), fuseBytes >= 2 ? 0xD1 : copy.Model().factoryHigh) << name;
        EXPECT_EQ(copy.FuseExtended(), fuseBytes >= 3 ? 0xF8 : copy.Model().factoryExtended) << name;
        std::filesystem::remove(path);
    }
}

TEST_F(StateFile, WritesUppercaseHexAndOnlyTheChipsFuses)
{
    SimulatedChip chip(*FindChipModel("ATmega8"), clock_);
    chip.Flash()[0] = 0xAB;
    chip.FuseLow() = 0xE4;
    const auto path = Path("atmega8");
    chip.SaveState(path);
    const nlohmann::json state = ReadJson(path);
    EXPECT_EQ(state["chip"], "ATmega8");
    EXPECT_EQ(state["flash"].get<std::string>().substr(0, 4), "ABFF");
    EXPECT_EQ(state["flash"].get<std::string>().size(), 2u * 8192);
    EXPECT_EQ(state["eeprom"].get<std::string>().size(), 2u * 512);
    EXPECT_EQ(state["fuses"], (nlohmann::json{{"low", "E4"}, {"high", "D9"}}));
    EXPECT_EQ(state["lock"], "FF");
    std::filesystem::remove(path);
}

TEST_F(StateFile, AnotherChipsStateIsRefusedAndNothingChanges)
{
    SimulatedChip atmega88(*FindChipModel("ATmega88"), clock_);
    const auto path = Path("atmega88");
    atmega88.SaveState(path);

    SimulatedChip atmega8(*FindChipModel("ATmega8"), clock_);
    atmega8.Flash()[0] = 0x12;
    try {
        atmega8.LoadState(path);
        FAIL() << "loaded another chip's state";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("ATmega88"), std::string::npos) << error.what();
    }
    EXPECT_EQ(atmega8.Flash()[0], 0x12);
    std::filesystem::remove(path);
}

struct Malformation {
    const char* label;
    const char* field;
    nlohmann::json value;
};

// A valid ATtiny26 state with one field replaced.
class MalformedState : public StateFile, public ::testing::WithParamInterface<Malformation> {};

TEST_P(MalformedState, IsRefused)
{
    SimulatedChip chip(*FindChipModel("ATtiny26"), clock_);
    const auto path = Path("tiny");
    chip.SaveState(path);
    nlohmann::json state = ReadJson(path);
    state[GetParam().field] = GetParam().value;
    Write(path, state.dump());
    EXPECT_THROW(chip.LoadState(path), std::runtime_error);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, MalformedState,
    ::testing::Values(Malformation{"FlashTooShort", "flash", "FF"},
                      Malformation{"FlashNotHex", "flash", std::string(4094, 'F') + "G0"},
                      Malformation{"FlashSecondDigitNotHex", "flash", std::string(4094, 'F') + "0G"},
                      Malformation{"EepromNotText", "eeprom", 42},
                      Malformation{"FuseMissing", "fuses", {{"low", "E1"}}},
                      Malformation{"FuseTheChipLacks", "fuses", {{"low", "E1"}, {"high", "F7"}, {"extended", "FF"}}},
                      Malformation{"LockTooLong", "lock", "FFF"}, Malformation{"UnknownChip", "chip", "ATtiny13"}),
    [](const auto& info) { return std::string(info.param.label); });

// Files saved before the EEPROM and lock byte were kept.
TEST_F(StateFile, OneWithoutEepromAndLockLoadsThemAsShipped)
{
    SimulatedChip chip(*FindChipModel("ATtiny26"), clock_);
    chip.Eeprom()[3] = 0x12;
    chip.LockBits() = 0xFC;
    const auto path = Path("older");
    chip.SaveState(path);
    nlohmann::json state = ReadJson(path);
    state.erase("eeprom");
    state.erase("lock");
    Write(path, state.dump());
    chip.LoadState(path);
    EXPECT_EQ(chip.Eeprom()[3], 0xFF);
    EXPECT_EQ(chip.LockBits(), 0xFF);
    std::filesystem::remove(path);
}

TEST_F(StateFile, NotJsonOrMissingIsRefused)
{
    SimulatedChip chip(*FindChipModel("ATtiny26"), clock_);
    const auto path = Path("broken");
    Write(path, "{\"chip\": \"ATtiny26\", ");
    EXPECT_THROW(chip.LoadState(path), std::runtime_error);
    std::filesystem::remove(path);
    EXPECT_THROW(chip.LoadState(path), std::runtime_error);
}

TEST_F(StateFile, LoadedRstdisblTakesTheChipOutOfReach)
{
    SimulatedChip chip(*FindChipModel("ATmega8"), clock_);
    chip.FuseHigh() = 0x59;
    const auto path = Path("rstdisbl");
    chip.SaveState(path);
    SimulatedChip fresh(*FindChipModel("ATmega8"), clock_);
    EXPECT_FALSE(fresh.OutOfReach());
    fresh.LoadState(path);
    EXPECT_TRUE(fresh.OutOfReach());
    std::filesystem::remove(path);
}

#ifndef _WIN32
// Two processes on one state file: the second waits until the first lets go
// (a lock they could share would let both in at once).
TEST_F(StateFile, ASecondProcessWaitsForTheFirstOnesLock)
{
    const auto path = Path("shared");
    int release[2];
    int events[2];
    ASSERT_EQ(::pipe(release), 0);
    ASSERT_EQ(::pipe(events), 0);
    const auto tell = [&events](char event) { return ::write(events[1], &event, 1) == 1; };
    const auto next = [&events] {
        char event = 0;
        return ::read(events[0], &event, 1) == 1 ? event : '?';
    };
    const pid_t holder = ::fork();
    if (holder == 0) {
        StateFileLock lock(path, nullptr);
        char go = 0;
        ::_exit(tell('H') && ::read(release[0], &go, 1) == 1 ? 0 : 1);
    }
    ASSERT_EQ(next(), 'H');
    const pid_t waiter = ::fork();
    if (waiter == 0) {
        StateFileLock lock(path, [&tell](const std::filesystem::path&) { tell('W'); });
        ::_exit(tell('L') ? 0 : 1);
    }
    // Only the children tell: once both are gone, reading ends.
    ::close(events[1]);
    EXPECT_EQ(next(), 'W');
    EXPECT_EQ(::write(release[1], "g", 1), 1);
    EXPECT_EQ(next(), 'L');
    for (const pid_t child : {holder, waiter}) {
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
    }
    for (const int fd : {release[0], release[1], events[0]}) {
        ::close(fd);
    }
    std::filesystem::path lockFile = path;
    std::filesystem::remove(lockFile += ".lock");
}

// Every later run by the users the umask lets in must open the lock file
// again: read and write for them, nothing more.
TEST_F(StateFile, TheLockFileIsReadAndWriteAsTheUmaskAllows)
{
    const auto path = Path("modes");
    std::filesystem::path lockFile = path;
    lockFile += ".lock";
    std::filesystem::remove(lockFile);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    StateFileLock(path, nullptr);
    struct stat status {};
    ASSERT_EQ(::stat(lockFile.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
    std::filesystem::remove(lockFile);
}

// A link planted at the lock file's name would have the lock create a file
// wherever it points.
TEST_F(StateFile, ALinkAtTheLockFilesNameIsNotFollowed)
{
    const auto path = Path("planted");
    const auto elsewhere = Path("elsewhere");
    std::filesystem::path lockFile = path;
    lockFile += ".lock";
    std::filesystem::remove(elsewhere);
    std::filesystem::create_symlink(elsewhere, lockFile);
    EXPECT_THROW(StateFileLock(path, nullptr), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
    std::filesystem::remove(lockFile);
}
#endif

}  // namespace
}  // namespace velkor::sim
