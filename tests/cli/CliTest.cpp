// velkor-cli against the simulated chip: what reaches standard output and
// standard error, the exit status, and the state file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <span>
#include <sstream>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "HexText.h"
#include "Cable.h"
#include "CliApp.h"
#include "CliRun.h"
#include "Hints.h"

namespace velkor {
namespace {

class StateFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = std::filesystem::temp_directory_path() /
               ("velkor-cli-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
        std::filesystem::remove(path);
    }
    void TearDown() override
    {
        std::filesystem::remove(path);
        std::filesystem::remove(path.string() + ".lock");  // a --sim-state or counter lock beside it
    }

    nlohmann::json Read() const { return nlohmann::json::parse(std::ifstream(path)); }

    std::filesystem::path path;
};

TEST(Cli, SignatureOfASimulatedATmega8PrintsExactlyItsSevenLines)
{
    const CliRun run = Invoke({"--simulate", "atmega8", "signature"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "ATMEL\n 【ATmega8】\n      28PIN\n      Flash  =  8192byte\n      SRAM   =  1024byte\n"
                       "      EEPROM =   512byte\n      FUSE   =     2byte\n");
    EXPECT_EQ(run.err, "");
}

TEST(Cli, UnlistedAndAbsentChips)
{
    const CliRun unlisted = Invoke({"--simulate", "ATmega328P", "signature"});
    EXPECT_EQ(unlisted.status, 0);
    EXPECT_EQ(unlisted.out, "ATMEL\nUnknown CPU 38159\n");

    EXPECT_EQ(Invoke({"--simulate", "ATmega328P", "write", VELKOR_SOURCE_DIR "/examples/blink.hex"}).status, 1);

    const CliRun none = Invoke({"--simulate", "none", "--port", "LPT3", "signature"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "Program enable fault.\n");
}

// The figures on one line, the pace and why on the next.
TEST(Cli, StatsGoToStandardErrorAsOneLineAndThePace)
{
    const CliRun run = Invoke({"--simulate", "ATtiny26", "--stats", "signature"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, 6), "ATMEL\n");
    EXPECT_NE(run.err.find("port accesses "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" s, timing violations 0\n"
                           "SCK paced for 1 MHz: its fuses select the internal 1 MHz oscillator (1 MHz)\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2);
}

TEST(Cli, UsageErrorsExitWithTwoAndPrintNothingOnStandardOutput)
{
    for (const auto& args : std::vector<std::vector<const char*>>{
             {},
             {"--stats", "signature"},
             {"--sim-state", "x.json", "signature"},
             {"--simulate", "ATmega9", "signature"},
             {"--simulate", "ATmega8", "--port", "lpt4", "signature"},
             {"--port", "0x", "signature"},
             {"--port", "0x10000", "signature"},
             {"--port", "/dev/null", "signature"},
             {"--simulate", "none", "--sim-state", "x.json", "signature"},
             {"--simulate", "ATmega8", "fuse", "d9"},
             {"--simulate", "ATmega8", "erase"},
             {"--simulate", "ATmega8", "read"},
             {"--sim-fault", "maker:0x12", "signature"},
             {"--simulate", "none", "--sim-fault", "maker:0x12", "signature"},
             {"--simulate", "ATmega8", "--sim-fault", "melt", "signature"},
             {"--simulate", "ATmega8", "--sim-fault", "stuck-cell", "signature"},
             {"--simulate", "ATmega8", "--sim-fault", "stuck-cell:0x", "signature"},
             {"--simulate", "ATmega8", "--sim-fault", "stuck-cell:12k", "signature"},
             {"--simulate", "ATmega8", "--sim-fault", "maker:256", "signature"},
             {"--simulate", "ATmega8", "--sim-fault", "silent-after-erase:1", "signature"},
             {"--sim-clock", "1M", "signature"},
         }) {
        const CliRun run = Invoke(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(run.err.empty());
    }
}

TEST(Cli, OptionsMayStandBeforeOrAfterTheCommand)
{
    const std::string expected = Invoke({"--simulate", "none", "--port", "lpt2", "signature"}).out;
    for (const auto& args : std::vector<std::vector<const char*>>{
             {"signature", "--simulate", "none", "--port", "lpt2"},
             {"--simulate", "none", "signature", "--port", "lpt2"},
         }) {
        const CliRun run = Invoke(args);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.out, expected);
    }
    const CliRun write = Invoke({"write", "--simulate", "ATmega8", "no-such.hex", "--stats"});
    EXPECT_EQ(write.out, "File not found.\n");
    EXPECT_NE(write.err.find("port accesses "), std::string::npos) << write.err;
}

TEST(Cli, VersionHelpAndMistypedCommands)
{
    const CliRun version = Invoke({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "velkor-cli " VELKOR_VERSION "\n");

    const CliRun help = Invoke({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part :
         {"[--port PORT] [--simulate CHIP]", "Commands:", "write [HEXFILE]", "fuse HIGH LOW", "Examples:"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }

    for (const auto& args : std::vector<std::vector<const char*>>{{"--port", "lpt2", "sigature"}, {"--stats"}}) {
        const CliRun run = Invoke(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("signature, write, fuse"), std::string::npos) << run.err;
    }
}

TEST(Cli, UsageErrorsSayWhatIsWrong)
{
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases{
        {{"-x"}, "velkor-cli: unknown option '-x' (see --help)\n"},
        {{"--simulate", "ATmega8", "signature", "--sim-stat", "x.json"},
         "velkor-cli: unknown option '--sim-stat' (see --help)\n"},
        {{"--simulate", "ATmega9", "signature"},
         "velkor-cli: No simulated chip is called \"ATmega9\"; the chips (in any case): AT90S1200, AT90S2313, "
         "AT90S2323, AT90S2343, AT90S2333, ATtiny26, AT90S4414, AT90S4434, AT90S4433, AT90S8515, AT90S8535, ATmega8, "
         "ATmega48, ATmega88, ATmega168, ATmega328P, "},
        {{"--simulate", "ATmega8", "--expect", "atmega9", "signature"},
         "velkor-cli: --expect: no chip is named 'atmega9' (velkor-cli chips --all-chips lists them)\n"},
    };
    // The last message goes on with the catalogue's chips: only its start is fixed.
    for (const auto& [args, message] : cases) {
        const CliRun run = Invoke(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.substr(0, message.size()), message);
        EXPECT_EQ(run.err.back(), '\n');
    }
}

TEST(Cli, SimulateTakesTheDeviceTablesOwnSpellingsInAnyCase)
{
    for (const auto& [name, shown] : std::vector<std::pair<const char*, std::string>>{
             {"ATiny26", "ATtiny26"}, {"atiny26", "ATtiny26"}, {"ATTINY26", "ATtiny26"}, {"ATmage88", "ATmega88"}}) {
        const CliRun run = Invoke({"--simulate", name, "signature"});
        EXPECT_EQ(run.status, 0) << name << run.err;
        EXPECT_NE(run.out.find("【" + shown + "】"), std::string::npos) << run.out;
    }
}

// An AT90S in lock mode 3 answers 00 01 02: it is locked, not missing from the table.
TEST(Cli, AHiddenSignatureIsExplainedAsALockedChip)
{
    CommandReport report;
    report.command = "signature";
    report.result.unlisted = {{.maker = 0x00, .device = 0x0102}};
    const std::vector<std::string> hints = HintsFor(report);
    ASSERT_EQ(hints.size(), 1u);
    EXPECT_NE(hints[0].find("an AT90S in lock mode 3"), std::string::npos) << hints[0];
    EXPECT_EQ(hints[0].find("table"), std::string::npos) << hints[0];
}

// The port and its cable are named only where there are a port and a cable.
TEST(Cli, AChipThatGivesNoAnswerOnASimulatedRunGetsNoPortHint)
{
    CommandReport report;
    report.command = "signature";
    report.result.failure.fault = Fault::NoProgramEnable;
    report.port = "lpt2";
    for (const bool simulated : {false, true}) {
        report.simulated = simulated;
        const std::vector<std::string> hints = HintsFor(report);
        const bool namesThePort = std::ranges::any_of(
            hints, [](const std::string& hint) { return hint.find("--port") != std::string::npos; });
        EXPECT_EQ(namesThePort, !simulated);
        EXPECT_EQ(hints.size(), simulated ? 2u : 3u);
    }
}

TEST(Cli, FailuresGetHintsOnStandardErrorWhileStandardOutputKeepsTheLog)
{
    struct Case {
        std::vector<const char*> args;
        std::string out;
        std::vector<std::string> hints;
    };
    const std::vector<Case> cases{
        {{"--simulate", "none", "signature", "--port", "lpt2"},
         "Program enable fault.\n",
         {"the simulated chip gave no answer", "--simulate none attaches no chip", "--chip-clock"}},
        {{"--simulate", "ATmega8", "fuse", "0x1F", "e"}, "Error\n", {"HIGH \"0x1F\" has 4 characters"}},
        {{"--simulate", "ATmega8", "fuse", "d9", "g1"}, "Error\n", {"LOW \"g1\" holds 'g'"}},
        {{"--simulate", "ATmega328P", "fuse", "d9", "e1", "1fd"}, "Error\n", {"EXTENDED \"1fd\" has 3 characters"}},
        {{"--simulate", "ATmega8", "lock", "1FF"}, "Error\n", {"LOCK \"1FF\" has 3 characters", "for example fc"}},
        {{"--simulate", "ATmega8", "write-eeprom", "no/such.hex"},
         "File not found.\n",
         {"\"no/such.hex\": No such file or directory"}},
        {{"--simulate", "ATmega8", "write-eeprom", VELKOR_SOURCE_DIR "/tests/cli/objcopy-eeprom.hex"},
         "ATMEL\n 【ATmega8】\n      28PIN\n      Flash  =  8192byte\n      SRAM   =  1024byte\n"
         "      EEPROM =   512byte\n      FUSE   =     2byte\n"
         "Address out of range in line 2: the EEPROM holds 512 bytes.\n",
         {"starts at 0x810000: it still carries avr-objcopy's EEPROM offset", "--change-section-lma .eeprom=0"}},
        {{"--simulate", "ATmega328P", "signature"}, "ATMEL\nUnknown CPU 38159\n", {"signature is 1E 95 0F"}},
        {{"--simulate", "ATmega8", "write", "no/such.hex"},
         "File not found.\n",
         {"\"no/such.hex\": No such file or directory"}},
        {{"--simulate", "ATmega8", "write", VELKOR_SOURCE_DIR "/examples"}, "File not found.\n", {"is a folder"}},
        {{"--simulate", "ATmega328P", "write", VELKOR_SOURCE_DIR "/examples/blink.hex"},
         "ATMEL\nUnknown CPU 38159\nNot written: the chip is not in the device table.\n",
         {"signature is 1E 95 0F", "nothing was erased or written"}},
    };
    for (const Case& c : cases) {
        const CliRun run = Invoke(c.args);
        EXPECT_EQ(run.out, c.out);
        for (const std::string& hint : c.hints) {
            EXPECT_NE(run.err.find(hint), std::string::npos) << run.err;
        }
    }
    // A fuse write that took gets no hint, only the clock its values select.
    EXPECT_EQ(Invoke({"--simulate", "ATmega8", "fuse", "d9", "e1"}).err,
              "velkor-cli: the fuses now select the internal 1 MHz oscillator (1 MHz).\n");
}

TEST(Cli, ProgressOnlyOnATerminalAndNeverInTheLog)
{
    const std::vector<const char*> args{"--simulate", "ATmega8", "write", VELKOR_SOURCE_DIR "/examples/blink.hex"};
    const CliRun piped = Invoke(args);
    const CliRun shown = Invoke(args, true);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(shown.out, piped.out);
    EXPECT_NE(shown.err.find("\rwrite 100% of the flash"), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("\rwrite   5% of the flash"), std::string::npos) << shown.err;  // in step with 100%
    // Erased at the end: the terminal's line is blank for what follows.
    EXPECT_EQ(shown.err.back(), '\r');
}

TEST(Cli, AClockOutsideItsRangeOrMalformedIsAUsageErrorNamingTheRange)
{
    for (const char* option : {"--chip-clock", "--sim-clock"}) {
        for (const char* value : {"50M", "15k", "fast", "1MHz"}) {
            const CliRun run = Invoke({"--simulate", "ATmega8", option, value, "signature"});
            EXPECT_EQ(run.status, 2) << option << ' ' << value;
            EXPECT_EQ(run.out, "");
            EXPECT_NE(run.err.find("16k to 20M"), std::string::npos) << run.err;
        }
    }
}

// A chip on 128 kHz misses the 1 MHz pace's edges and does not answer;
// with no option it is found at the slowest pace, where it stays, as its
// fuses claim 1 MHz; --chip-clock paces it for its clock.
TEST(Cli, ChipClockPacesSckForTheSimulatedChipsClock)
{
    const CliRun fast =
        Invoke({"--simulate", "ATmega8", "--sim-clock", "128k", "--chip-clock", "1M", "--stats", "signature"});
    EXPECT_EQ(fast.status, 1);
    EXPECT_EQ(fast.out, "Program enable fault.\n");
    EXPECT_EQ(fast.err.find("timing violations 0\n"), std::string::npos) << fast.err;
    EXPECT_NE(fast.err.find("leave --chip-clock out"), std::string::npos) << fast.err;

    const CliRun found = Invoke({"--simulate", "ATmega8", "--sim-clock", "128k", "--stats", "signature"});
    EXPECT_EQ(found.status, 0);
    EXPECT_NE(found.err.find("answered at the pace for 16 kHz; the slowest pace, where the chip answered: its fuses "
                             "select the internal 1 MHz oscillator (1 MHz), yet it missed the default pace"),
              std::string::npos)
        << found.err;
    EXPECT_NE(found.err.find("--chip-clock 16k skips this search"), std::string::npos) << found.err;

    const CliRun paced =
        Invoke({"--simulate", "ATmega8", "--sim-clock", "128k", "--chip-clock", "128k", "--stats", "signature"});
    EXPECT_EQ(paced.status, 0);
    EXPECT_NE(paced.err.find("timing violations 0\n"), std::string::npos) << paced.err;
}

// An ATmega328P set to the 128 kHz oscillator divided by 8 is found by
// itself: each command says so, and works, at the pace for 16 kHz.
TEST_F(StateFile, AChipOnTheSlowestClockIsFoundWithNoOption)
{
    const std::string read = path.string() + ".read.hex";
    const std::string state = path.string();
    ASSERT_EQ(
        Invoke({"--all-chips", "--simulate", "ATmega328P", "--sim-state", state.c_str(), "fuse", "d9", "63"}).status,
        0);
    const std::vector<std::vector<const char*>> commands{
        {"signature"}, {"write", VELKOR_SOURCE_DIR "/examples/uno-blink.hex"}, {"read", read.c_str()}};
    for (const std::vector<const char*>& command : commands) {
        std::vector<const char*> args{"--all-chips", "--simulate", "ATmega328P", "--sim-state", state.c_str()};
        args.insert(args.end(), command.begin(), command.end());
        const CliRun run = Invoke(args);
        EXPECT_EQ(run.status, 0) << command[0] << ": " << run.out;
        EXPECT_NE(run.err.find("the internal 128 kHz oscillator divided by 8 (16 kHz), so the command went on at the "
                               "pace for 16 kHz. --chip-clock 16k skips this search."),
                  std::string::npos)
            << run.err;
    }
    std::ifstream saved(read);
    std::ifstream written(commands[1][1]);
    std::string first;
    std::string expected;
    std::getline(saved, first);
    std::getline(written, expected);
    EXPECT_EQ(first, expected.substr(0, expected.find('\r')));  // the program's first record, read back
    std::filesystem::remove(read);
}

TEST_F(StateFile, FuseWriteIsKeptInTheStateFile)
{
    const CliRun run = Invoke({"--simulate", "ATmega8", "--sim-state", path.c_str(), "fuse", "d1", "e4"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Write Fuse bit.\nD1\nD1\nE4\nE4\nComplete\n"), std::string::npos) << run.out;

    const nlohmann::json state = Read();
    EXPECT_EQ(state["chip"], "ATmega8");
    EXPECT_EQ(state["fuses"]["high"], "D1");
    EXPECT_EQ(state["fuses"]["low"], "E4");

    // The next run starts from the saved fuses.
    const CliRun again = Invoke({"--simulate", "ATmega8", "--sim-state", path.c_str(), "fuse", "d9", "e1"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(Read()["fuses"]["high"], "D9");
}

TEST_F(StateFile, AStateFileOfAnotherChipIsAUsageErrorAndIsLeftAlone)
{
    ASSERT_EQ(Invoke({"--simulate", "ATmega8", "--sim-state", path.c_str(), "signature"}).status, 0);
    const auto before = Read();

    const CliRun run = Invoke({"--simulate", "ATmega168", "--sim-state", path.c_str(), "signature"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read(), before);
}

TEST(Cli, AnInvalidFuseFieldIsTheCommandsOwnErrorLine)
{
    const CliRun run = Invoke({"--simulate", "ATmega8", "fuse", "0x1F", "e1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Error\n");
}

TEST(Cli, ABadSimFaultListsTheKinds)
{
    const CliRun run = Invoke({"--simulate", "ATmega8", "--sim-fault", "melt", "signature"});
    EXPECT_NE(run.err.find("stuck-cell:ADDRESS, stuck-eeprom:ADDRESS, silent-after-erase, maker:CODE, "
                           "out-of-step:BITS, swapped-sck-mosi, open-miso, open-reset, header-turned, no-power or "
                           "cable:NAME"),
              std::string::npos)
        << run.err;
}

// Each injected fault as a user sees it: exit status, the log's last line,
// and the line on standard error.
struct FaultRun {
    std::vector<const char*> args;
    int status;
    std::string lastLines;  // how standard output ends
    std::string errorText;  // part of standard error
};

void PrintTo(const FaultRun& run, std::ostream* os)
{
    for (const char* arg : run.args) {
        *os << arg << ' ';
    }
}

class FaultRuns : public ::testing::TestWithParam<FaultRun> {};

TEST_P(FaultRuns, ExitAndSayWhy)
{
    const std::string blink = std::string(VELKOR_SOURCE_DIR) + "/examples/blink.hex";
    std::vector<const char*> args = GetParam().args;
    std::replace_if(
        args.begin(), args.end(), [](const char* arg) { return std::string_view(arg) == "BLINK"; }, blink.c_str());
    const CliRun run = Invoke(args);
    EXPECT_EQ(run.status, GetParam().status) << run.out << run.err;
    EXPECT_TRUE(("\n" + run.out).ends_with("\n" + GetParam().lastLines + "\n")) << run.out;
    EXPECT_NE(run.err.find(GetParam().errorText), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, FaultRuns,
    ::testing::Values(
        FaultRun{{"--simulate", "ATmega8", "--sim-fault", "stuck-cell:0x10", "write", "BLINK"}, 1, "Verify Error.", ""},
        FaultRun{{"--simulate", "AT90S2313", "--sim-fault", "stuck-cell:16", "write", "BLINK"}, 1, "Verify Error.", ""},
        FaultRun{
            {"--simulate", "AT90S1200", "--sim-fault", "stuck-cell:0x10", "write", "BLINK"}, 1, "Verify Error.", ""},
        FaultRun{{"--simulate", "AT90S1200", "--sim-fault", "stuck-cell:1000", "write", "BLINK"}, 0, "---done.---", ""},
        FaultRun{{"--simulate", "ATmega8", "--sim-fault", "silent-after-erase", "write", "BLINK"},
                 1,
                 "Program enable fault.",
                 ""},
        FaultRun{{"--simulate", "ATmega8", "--sim-fault", "maker:0x12", "--sim-fault", "out-of-step:1", "read-fuses"},
                 0,
                 "Lock:      FF",
                 ""},
        FaultRun{{"--simulate", "ATmega8", "fuse", "ff", "e1"},
                 1,
                 "Complete",
                 "velkor-cli: high fuse reads back DF, not FF: SPIEN cannot be changed over serial programming\n"},
        // The extended byte where the chip's fuse layout has one, the table's
        // ATmega168 included (its row keeps two fuse bytes for the log); bits
        // a chip does not have are written as 1, and the user is told.
        FaultRun{{"--simulate", "ATmega328P", "--all-chips", "fuse", "d9", "62", "fd"},
                 0,
                 "Write Fuse bit.\nD9\nD9\n62\n62\nFD\nFD\nComplete",
                 ""},
        // An Arduino Uno's fuses as the Arduino IDE gives them.
        FaultRun{{"--simulate", "ATmega328P", "--all-chips", "fuse", "DE", "FF", "05"},
                 0,
                 "Write Fuse bit.\nDE\nDE\nFF\nFF\n 5\nFD\nComplete",
                 "velkor-cli: extended fuse 05 written as FD: bits 7, 6, 5, 4 and 3 are unused on this chip and always "
                 "read 1.\n"},
        FaultRun{{"--simulate", "ATmega168", "fuse", "df", "62", "f8"},
                 0,
                 "      FUSE   =     2byte\nWrite Fuse bit.\nDF\nDF\n62\n62\nF8\nF8\nComplete",
                 ""},
        FaultRun{
            {"--simulate", "ATtiny26", "fuse", "17", "e1"},
            0,
            "Write Fuse bit.\n17\nF7\nE1\nE1\nComplete",
            "velkor-cli: high fuse 17 written as F7: bits 7, 6 and 5 are unused on this chip and always read 1.\n"},
        FaultRun{{"--simulate", "ATmega32", "--all-chips", "fuse", "99", "e1", "ff"},
                 1,
                 "FUSE (Extended): this chip has no extended fuse byte; nothing written.",
                 ""},
        FaultRun{{"--simulate", "ATmega328P", "--all-chips", "lock", "3F"},
                 0,
                 "LOCK reads back FF.",
                 "velkor-cli: LOCK 3F written as FF: bits 7 and 6 are unused on this chip and always read 1.\n"},
        FaultRun{{"--simulate", "AT90S8515", "fuse", "ff", "e1"},
                 1,
                 "      FUSE   =     0byte",
                 "no two fuse bytes for this command to write\n"},
        FaultRun{{"--simulate", "ATmega32", "read", "never-written.hex"},
                 1,
                 "Unknown chip: its flash size is not known.",
                 ""},
        FaultRun{{"--simulate", "ATmega8", "lock", "1FF"}, 1, "Error", ""},
        FaultRun{{"--simulate", "ATmega32", "write", "--keep-eeprom", "BLINK"},
                 1,
                 "Not written: the chip is not in the device table.",
                 ""},
        // --expect ends the command before anything is written; it takes
        // avr-gcc's names, and a catalogue chip it names becomes known.
        FaultRun{
            {"--simulate", "ATmega8", "--expect", "atmega328p", "write", "BLINK"},
            1,
            "      FUSE   =     2byte\nNot the chip expected: atmega328p was named, the chip is ATmega8 (1E 93 07).",
            ""},
        FaultRun{{"--simulate", "ATtiny13", "--expect", "ATTINY13A", "lock", "FC"}, 0, "LOCK reads back FC.", ""},
        // program checks every memory before the erase, and stops at the
        // first that fails, naming it.
        FaultRun{{"--simulate", "ATmega8", "program", "BLINK", "--fuses", "59", "E1"},
                 1,
                 "      FUSE   =     2byte\nFUSE (High) 59 would disable serial programming (RSTDISBL).",
                 ""},
        FaultRun{
            {"--simulate", "ATmega48", "program", "BLINK", "--lock", "F0"},
            1,
            "      FUSE   =     2byte\nLOCK F0 programs BLB01 and BLB02, which this chip does not have (its lock bits "
            "are LB1 and LB2); nothing written.",
            ""},
        FaultRun{
            {"--simulate", "ATmega8", "--sim-fault", "stuck-eeprom:3", "program", "BLINK", "--eeprom", "BLINK",
             "--lock", "FC"},
            1,
            "EEPROM Verify Error at 3: wrote C0, chip FF.\nStopped at the EEPROM; done before it: Chip Erase, flash.",
            ""},
        FaultRun{{"--simulate", "ATmega8", "program", "BLINK", "--flash", "BLINK"},
                 1,
                 "Not written: the flash is given twice.",
                 ""},
        FaultRun{{"--simulate", "ATmega8", "program", "--erase"}, 0, "Chip Erase...\ndone\nDone: Chip Erase.", ""},
        FaultRun{{"--simulate", "ATmega8", "program", "BLINK", "--fuses", "D9", "E1", "--lock", "FE"},
                 0,
                 "LOCK reads back FE.\nDone: Chip Erase, flash, fuses, lock.",
                 ""}));

// The copy is named on standard error, and gone once the EEPROM is back.
TEST(Cli, WriteKeepingTheEepromNamesItsCopyAndRemovesIt)
{
    const std::string blink = std::string(VELKOR_SOURCE_DIR) + "/examples/blink.hex";
    const CliRun run = Invoke({"--simulate", "AT90S2313", "write", "--keep-eeprom", blink.c_str()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::string saved = "velkor-cli: the EEPROM is saved in ";
    ASSERT_EQ(run.err.find(saved), 0u) << run.err;
    const std::string copy = run.err.substr(saved.size(), run.err.find(" until") - saved.size());
    EXPECT_FALSE(std::filesystem::exists(copy)) << copy;
    EXPECT_NE(run.out.find("EEPROM: 0 bytes written, 128 already right."), std::string::npos) << run.out;
}

class ReadingCommands : public StateFile {
protected:
    std::filesystem::path Beside(const char* suffix) const
    {
        std::filesystem::path file = path;
        file += suffix;
        return file;
    }
    void TearDown() override
    {
        for (const char* suffix : {".hex", ".bin", ".other.hex"}) {
            std::filesystem::remove(Beside(suffix));
        }
        StateFile::TearDown();
    }
};

TEST_F(ReadingCommands, VerifyReadAndReadFusesShowWhatTheChipHolds)
{
    const std::string blink = std::string(VELKOR_SOURCE_DIR) + "/examples/blink.hex";
    const std::string state = path.string();
    ASSERT_EQ(Invoke({"--simulate", "ATmega8", "--sim-state", state.c_str(), "write", blink.c_str()}).status, 0);
    ASSERT_EQ(Invoke({"--simulate", "ATmega8", "--sim-state", state.c_str(), "fuse", "d1", "e4"}).status, 0);

    std::ofstream(Beside(".hex")) << ":00000001FF\n";
    const CliRun nothing = Invoke({"--simulate", "ATmega8", "verify", Beside(".hex").c_str()});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.out.find("\nNothing to compare: the file has no data.\n"), std::string::npos) << nothing.out;

    const CliRun same = Invoke({"--simulate", "ATmega8", "--sim-state", state.c_str(), "verify", blink.c_str()});
    EXPECT_EQ(same.status, 0);
    EXPECT_NE(same.out.find("FUSE   =     2byte\nVerify OK: "), std::string::npos) << same.out;

    const std::string other = Beside(".other.hex").string();
    std::ofstream(other) << ":01100000"
                            "00"
                            "EF\n:00000001FF\n";  // 0x00 at 0x1000, erased on the chip
    const CliRun differs = Invoke({"--simulate", "ATmega8", "--sim-state", state.c_str(), "verify", other.c_str()});
    EXPECT_EQ(differs.status, 1);
    EXPECT_NE(differs.out.find("FUSE   =     2byte\nVerify Error at 1000: file 00, chip FF.\n"), std::string::npos)
        << differs.out;

    const std::string hex = Beside(".hex").string();
    const std::string binary = Beside(".bin").string();
    ASSERT_EQ(Invoke({"--simulate", "ATmega8", "--sim-state", state.c_str(), "read", hex.c_str()}).status, 0);
    const std::string objcopy = "objcopy -I ihex -O binary --gap-fill 0xFF '" + hex + "' '" + binary + "'";
    ASSERT_EQ(std::system(objcopy.c_str()), 0);
    std::ifstream in(binary, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(8192, '\xFF');  // objcopy stops at the last byte that is not erased
    std::string digits;
    for (const char byte : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(byte));
        digits += two;
    }
    EXPECT_EQ(digits, Read()["flash"]);

    const CliRun fuses = Invoke({"--simulate", "ATmega8", "--sim-state", state.c_str(), "read-fuses"});
    EXPECT_EQ(fuses.status, 0);
    EXPECT_NE(fuses.out.find("\nFuse low:  E4  programmed: SUT0 CKSEL3 CKSEL1 CKSEL0\n"
                             "Fuse high: D1  programmed: SPIEN EESAVE BOOTSZ1 BOOTSZ0\nLock:      FF\n"),
              std::string::npos)
        << fuses.out;
}

// Data that ends at the chip's last flash byte: a whole image, a boot loader
// at the top, a read dump; on a page-mode chip and on a byte-mode chip.
TEST_F(ReadingCommands, VerifyComparesUpToTheLastFlashByte)
{
    const std::string state = path.string();
    const std::string file = Beside(".hex").string();
    const std::string top = Beside(".other.hex").string();
    const auto save = [](const std::string& name, std::uint16_t start, std::span<const std::uint8_t> data) {
        std::ofstream out(name);
        for (std::size_t offset = 0; offset < data.size(); offset += 16) {
            const std::size_t length = std::min<std::size_t>(16, data.size() - offset);
            out << testing::DataRecord(static_cast<std::uint16_t>(start + offset), data.subspan(offset, length))
                << '\n';
        }
        out << testing::EndOfFileRecord() << '\n';
    };
    const auto verify = [&state](const char* chip, const std::string& name) {
        const std::string out = Invoke({"--simulate", chip, "--sim-state", state.c_str(), "verify", name.c_str()}).out;
        return out.substr(out.rfind('\n', out.size() - 2) + 1);
    };
    for (const auto& [chip, flashSize] : {std::pair{"ATmega8", 8192u}, std::pair{"AT90S2313", 2048u}}) {
        SCOPED_TRACE(chip);
        std::filesystem::remove(path);
        std::vector<std::uint8_t> image(flashSize);
        for (unsigned address = 0; address < flashSize; ++address) {
            image[address] = static_cast<std::uint8_t>(address % 251);  // never erased (FF)
        }
        save(file, 0, image);
        ASSERT_EQ(Invoke({"--simulate", chip, "--sim-state", state.c_str(), "write", file.c_str()}).status, 0);
        EXPECT_EQ(verify(chip, file), "Verify OK: " + std::to_string(flashSize) + " bytes compared.\n");

        std::vector<std::uint8_t> bootLoader(image.end() - 32, image.end());
        save(top, static_cast<std::uint16_t>(flashSize - 32), bootLoader);
        EXPECT_EQ(verify(chip, top), "Verify OK: 32 bytes compared.\n");
        bootLoader.back() ^= 0x01;
        save(top, static_cast<std::uint16_t>(flashSize - 32), bootLoader);
        char error[64];
        std::snprintf(error, sizeof error, "Verify Error at %X: file %02X, chip %02X.\n", flashSize - 1,
                      bootLoader.back(), image.back());
        EXPECT_EQ(verify(chip, top), error);

        ASSERT_EQ(Invoke({"--simulate", chip, "--sim-state", state.c_str(), "read", file.c_str()}).status, 0);
        EXPECT_EQ(verify(chip, file), "Verify OK: " + std::to_string(flashSize) + " bytes compared.\n");
    }
}

TEST_F(ReadingCommands, AFailedReadLeavesTheFileAsItWas)
{
    const std::string hex = Beside(".hex").string();
    std::ofstream(hex) << "kept";
    for (const char* chip : {"none", "ATmega328P"}) {
        EXPECT_EQ(Invoke({"--simulate", chip, "read", hex.c_str()}).status, 1) << chip;
        std::ifstream in(hex);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "kept");
    }
    EXPECT_FALSE(std::filesystem::exists(hex + ".tmp"));
}

#ifndef _WIN32
TEST(Cli, WithoutHomeTheDefaultHexFileIsLookedForInTheUsersHomeFolderNotHere)
{
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    ::unsetenv("HOME");
    const CliRun run = Invoke({"--simulate", "ATmega8", "write"});
    if (!home.empty()) {
        ::setenv("HOME", home.c_str(), 1);
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1), "File not found.\n");
    // The path tried is absolute (from the password entry), never avrtools/avr.hex here.
    EXPECT_NE(run.err.find("could not read \"/"), std::string::npos) << run.err;
}
#endif

}  // namespace
}  // namespace velkor

namespace velkor {
namespace {

// --all-chips, --chip-file and the chips command, on the simulated chip.
class ChipFileRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = std::filesystem::temp_directory_path() /
               ("velkor-cli-chips-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
    }
    void TearDown() override { std::filesystem::remove(path); }

    // The ATtiny85's signature under a name of the user's own.
    void WriteChipFile(const std::string& pins, const std::string& name = "MyTiny")
    {
        std::ofstream(path) << R"({"chips": [{"name": ")" << name << R"(", "signature": "1E 93 0B", "flash": 8192,
            "page": 64, "sram": 512, "eeprom": 512, "eeprom_page": 4, "pins": )"
                            << pins << R"(, "no_poll_value": "FF",
            "fuses": {"low": {"bits": ["-", "-", "-", "-", "-", "-", "-", "-"], "factory": "FF"},
                      "high": {"bits": ["RSTDISBL", "DWEN", "SPIEN", "-", "-", "-", "-", "-"], "factory": "DF"}},
            "lock": {"bits": ["-", "-", "-", "-", "-", "-", "LB2", "LB1"], "factory": "FF"},
            "rdy_bsy": true, "busy_us": {"flash_page": 4500, "eeprom": 4000, "erase": 9000, "fuse": 4500},
            "clock_hz": 1000000}]})";
    }

    std::filesystem::path path;
};

TEST_F(ChipFileRuns, TheUsersChipsComeBeforeTheCatalogueAndTheListSaysWhereEachComesFrom)
{
    WriteChipFile("8");
    const std::string file = path.string();
    const CliRun mine = Invoke({"--simulate", "ATtiny85", "--chip-file", file.c_str(), "--all-chips", "signature"});
    EXPECT_EQ(mine.status, 0);
    EXPECT_EQ(mine.out.substr(0, mine.out.find("      8PIN")), "ATMEL\n 【MyTiny】\n");
    const CliRun catalogue = Invoke({"--simulate", "ATtiny85", "--all-chips", "signature"});
    EXPECT_EQ(catalogue.out.substr(0, catalogue.out.find("      8PIN")), "ATMEL\n 【ATtiny85】\n");

    const CliRun list = Invoke({"chips", "--all-chips", "--chip-file", file.c_str()});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("ATmega8           1E 93 07  flash  8192  page  64  EEPROM  512  fuses 2  table\n"),
              std::string::npos);
    EXPECT_NE(list.out.find("MyTiny            1E 93 0B  flash  8192  page  64  EEPROM  512  fuses 2  file " + file),
              std::string::npos);
    EXPECT_LT(list.out.find("MyTiny"), list.out.find("ATtiny85"));  // the order of the search
    EXPECT_EQ(Invoke({"chips"}).out.find("catalogue"), std::string::npos);
    EXPECT_NE(Invoke({"--simulate", "ATtiny85", "signature"}).err.find("knows it as the ATtiny85: add --all-chips"),
              std::string::npos);
}

TEST_F(ChipFileRuns, AFaultyChipFileIsAUsageErrorNamingTheFieldAndNothingReachesThePort)
{
    const struct {
        const char* pins;
        const char* name;
        std::string fault;
    } cases[] = {
        {"300", "MyTiny", "chip 1 (MyTiny), field \"pins\": must be a whole number from 1 to 255"},
        {"1e400", "MyTiny", "chip 1 (MyTiny), field \"pins\": 1e400 is out of range"},
        {"8", "ATmega8", "chip 1 (ATmega8), field \"name\": the table's ATmega8 has that name already"},
    };
    for (const auto& c : cases) {
        WriteChipFile(c.pins, c.name);
        const std::string file = path.string();
        const CliRun run = Invoke({"--simulate", "ATtiny85", "--stats", "--chip-file", file.c_str(), "signature"});
        EXPECT_EQ(run.status, 2) << c.pins;
        EXPECT_EQ(run.out, "") << c.pins;
        EXPECT_EQ(run.err, "velkor-cli: --chip-file " + file + ": " + c.fault + "\n");
    }
}

TEST_F(ChipFileRuns, TheChipListKeepsItsColumnsApartForALongName)
{
    const std::string name(31, 'X');
    WriteChipFile("8", name);
    const std::string file = path.string();
    const CliRun list = Invoke({"chips", "--chip-file", file.c_str()});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find(name + "  1E 93 0B  flash  8192"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("ATmega8" + std::string(26, ' ') + "1E 93 07  flash  8192"), std::string::npos) << list.out;
}

// A keep-EEPROM Write that fails after the erase keeps its copy and prints
// the command that writes it back: pasted into a shell, in a folder whose
// name holds quotes, $(...) and backticks, with the chip file and the
// options that make the chip known, it restores that EEPROM and runs
// nothing else.
TEST_F(ChipFileRuns, TheCommandThatRestoresAKeptEepromWorksWhenPasted)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("velkor restore 'q' \"d\" $(touch by-dollar) `touch by-backtick` " +
                                                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    WriteChipFile("8", "M$(touch${IFS}by-name)`id`'T");
    const std::string chips = (folder / "my chips $(touch by-file).json").string();
    std::filesystem::copy_file(path, chips);
    const std::string state = (folder / "state.json").string();
    const std::string image = (folder / "e.hex").string();
    std::ofstream(image) << testing::DataRecord(0x40, std::vector<std::uint8_t>{0x20, 0x7F, 0x00, 0x5A}) << "\n"
                         << testing::EndOfFileRecord() << "\n";
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    const auto run = [&](std::vector<const char*> args) {
        args.insert(args.begin(), {"--simulate", "ATtiny85", "--chip-file", chips.c_str(), "--chip-clock", "1M",
                                   "--sim-state", state.c_str()});
        return Invoke(args, false, VELKOR_CLI_PROGRAM);
    };
    ASSERT_EQ(run({"write-eeprom", image.c_str()}).status, 0);

    const std::string blink = std::string(VELKOR_SOURCE_DIR) + "/examples/blink.hex";
    const CliRun failed = run({"--sim-fault", "silent-after-erase", "write", "--keep-eeprom", blink.c_str()});
    std::smatch told;
    std::regex_search(failed.err, told, std::regex("; write it back with: (.+)\n"));
    const int erased = run({"verify-eeprom", image.c_str()}).status;
    const int pasted = told.empty() ? -1 : std::system((told[1].str() + " >/dev/null").c_str());
    const int restored = run({"verify-eeprom", image.c_str()}).status;
    std::filesystem::current_path(here);

    EXPECT_EQ(failed.status, 1);
    ASSERT_FALSE(told.empty()) << failed.err;
    EXPECT_NE(erased, 0);
    EXPECT_EQ(pasted, 0) << told[1];
    EXPECT_EQ(restored, 0);
    for (const char* made : {"by-dollar", "by-backtick", "by-name", "by-file"}) {
        EXPECT_FALSE(std::filesystem::exists(folder / made)) << made;
    }
    std::filesystem::remove_all(folder);
}

// produce on simulated boards: the board lines, the record, and a file
// refused before the first board; usage faults of its own options.
TEST_F(StateFile, ProduceBoardAfterBoard)
{
    const std::string record = path.string();
    const CliRun three =
        Invoke({"--simulate", "atmega8", "produce", "--sim-boards", "ATmega8,atmega8:stuck-cell:0x10,ATmega8",
                "--record", record.c_str(), VELKOR_SOURCE_DIR "/examples/blink.hex"});
    EXPECT_EQ(three.status, 1);
    EXPECT_TRUE(std::regex_match(three.out, std::regex("Board 1: ATmega8, [0-9.]+ s, OK\n"
                                                       "Board 2: ATmega8, [0-9.]+ s, Verify Error.\n"
                                                       "Board 3: ATmega8, [0-9.]+ s, OK\n"
                                                       "Boards: 2 OK, 1 failed.\n")))
        << three.out;
    std::ifstream in(path);
    const std::string csv{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4) << csv;
    EXPECT_NE(csv.find(",2,ATmega8,1E9307,,"), std::string::npos) << csv;

    const std::string faulty = path.string() + ".hex";
    std::ofstream(faulty) << ":0100000001FF\n";
    const CliRun refused = Invoke({"--simulate", "atmega8", "produce", faulty.c_str()});
    std::filesystem::remove(faulty);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Checksum error in line 1.\n");
}

TEST(Cli, ProduceUsageFaults)
{
    const std::string hex = VELKOR_SOURCE_DIR "/examples/blink.hex";
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"produce", "--sim-boards", "2"}, "--sim-boards needs --simulate"},
        {{"--simulate", "atmega8", "produce", "--serial", "0x10"}, "bad --serial '0x10'"},
        {{"--simulate", "atmega8", "produce", "--serial", "0x10:1:0"}, "bad --serial '0x10:1:0'"},
        {{"--simulate", "atmega8", "produce", "--serial-file", "x"}, "--serial-file needs --serial"},
        {{"--simulate", "atmega8", "produce", "--sim-boards", "ATmega8,ATmega99"}, "ATmega99"},
        {{"--simulate", "atmega8", "produce", "--sim-boards", "ATmega8:stuck"}, "bad --sim-fault 'stuck'"},
        {{"--simulate", "atmega8", "--sim-state", "s.json", "produce"}, "--sim-state does not go with produce"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> args = c.args;
        args.push_back(hex.c_str());
        const CliRun run = Invoke(args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

// A board that passed takes its number: the counter holds the next one.
TEST_F(StateFile, ProduceGivesEachBoardPassedTheNextSerialNumber)
{
    const std::string counter = path.string();
    const CliRun run = Invoke({"--simulate", "atmega8", "produce", "--serial", "0x10:100", "--serial-file",
                               counter.c_str(), VELKOR_SOURCE_DIR "/examples/blink.hex"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(
        std::regex_match(run.out, std::regex("Board 1: ATmega8, serial 100, [0-9.]+ s, OK\nBoards: 1 OK, 0 failed.\n")))
        << run.out;
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "101\n");
}

// ---- the clock the fuses select ----

struct FuseClockCase {
    const char* chip;
    const char* high;
    const char* low;
    std::string says;       // on standard error after the write
    const char* nextClock;  // a --chip-clock that works from then on (too fast for the old clock)
    bool defaultPaceFails;  // the default pace is now too fast
};

std::string NamedChipClock(const std::string& err)
{
    std::smatch named;
    return std::regex_search(err, named, std::regex("--chip-clock ([0-9.]+[kM]?)")) ? named[1].str() : "";
}

class FuseClock : public StateFile, public ::testing::WithParamInterface<FuseClockCase> {
protected:
    void SetUp() override
    {
        StateFile::SetUp();
        std::string name = path.lexically_relative(std::filesystem::temp_directory_path()).string();
        std::replace(name.begin(), name.end(), '/', '-');
        path = std::filesystem::temp_directory_path() / name;
    }

    CliRun Run(std::vector<const char*> args)
    {
        args.insert(args.begin(), {"--simulate", GetParam().chip, "--all-chips", "--sim-state", path.c_str()});
        return Invoke(args);
    }
};

// The fuses choose the simulated chip's clock from its next RESET on: a pace
// too fast for it loses edges, and the --chip-clock that fuse names works.
TEST_P(FuseClock, SetsTheChipsClockAndFuseNamesThePaceFromThenOn)
{
    const FuseClockCase& c = GetParam();
    const CliRun fuse = Run({"fuse", c.high, c.low});
    ASSERT_EQ(fuse.status, 0) << fuse.out << fuse.err;
    EXPECT_NE(fuse.err.find("velkor-cli: the fuses now select " + c.says), std::string::npos) << fuse.err;
    // Named when the old pace is too fast, or the clock is on the board.
    const bool named = c.defaultPaceFails || c.says.find("external") != std::string::npos;
    EXPECT_EQ(NamedChipClock(fuse.err), named ? c.nextClock : "") << fuse.err;

    const CliRun atDefaultPace = Run({"--chip-clock", "1M", "signature"});
    EXPECT_EQ(atDefaultPace.status, c.defaultPaceFails ? 1 : 0);
    if (c.defaultPaceFails) {
        EXPECT_EQ(atDefaultPace.out, "Program enable fault.\n");
    }
    // With no option the pace follows the fuses; a chip that misses the
    // default pace is found, and the clock that skips the search named.
    const CliRun followed = Run({"--stats", "signature"});
    EXPECT_EQ(followed.status, 0) << followed.out;
    EXPECT_EQ(followed.err.find("timing violations 0\n") == std::string::npos, c.defaultPaceFails) << followed.err;
    EXPECT_EQ(followed.err.find("answered at the pace for 16 kHz") == std::string::npos, !c.defaultPaceFails)
        << followed.err;
    if (c.defaultPaceFails) {
        EXPECT_EQ(NamedChipClock(followed.err), c.nextClock) << followed.err;
    }
    const CliRun paced = Run({"--chip-clock", c.nextClock, "--stats", "signature"});
    EXPECT_EQ(paced.status, 0) << paced.out;
    EXPECT_NE(paced.err.find("timing violations 0\n"), std::string::npos) << paced.err;
}

INSTANTIATE_TEST_SUITE_P(
    Chips, FuseClock,
    ::testing::Values(
        FuseClockCase{"ATmega328P", "D9", "43", "the internal 128 kHz oscillator divided by 8 (16 kHz)", "16k", true},
        FuseClockCase{"ATmega328P", "DE", "FF", "an external crystal;", "16M", false},  // an Arduino Uno
        FuseClockCase{"ATmega48PA", "DF", "E3", "the internal 128 kHz oscillator (128 kHz)", "128k", true},
        FuseClockCase{"ATmega168PA", "DF", "E2", "the internal 8 MHz oscillator (8 MHz).", "8M", false},
        FuseClockCase{"ATtiny13", "FF", "6B", "the internal 128 kHz oscillator divided by 8 (16 kHz)", "16k", true},
        FuseClockCase{"ATtiny13", "FF", "69", "the internal 4.8 MHz oscillator divided by 8 (600 kHz)", "600k", true},
        FuseClockCase{"ATtiny2313", "DF", "66", "the internal 128 kHz oscillator divided by 8 (16 kHz)", "16k", true},
        FuseClockCase{"ATtiny85", "DF", "64", "the internal 128 kHz oscillator divided by 8 (16 kHz)", "16k", true},
        FuseClockCase{"ATtiny85", "DF", "60", "an external clock divided by 8;", "2M", false},
        FuseClockCase{"ATmega32", "99", "EF", "an external crystal;", "16M", false},
        FuseClockCase{"ATmega8", "D9", "E4", "the internal 8 MHz oscillator (8 MHz).", "8M", false}),
    [](const auto& info) { return std::string(info.param.chip) + "_" + info.param.low; });

}  // namespace
}  // namespace velkor

#ifndef _WIN32
namespace velkor {
namespace {

namespace fs = std::filesystem;

// A fresh folder for the files a command is given.
class CliFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() /
                 ("velkor-cli-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::string name = folder.filename().string();
        std::replace(name.begin(), name.end(), '/', '-');
        folder = folder.parent_path() / name;
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder;
};

// What stands at a path a command is given.
struct NotAFile {
    const char* name;
    void (*make)(const fs::path& at);
    const char* kind;  // as the refusal names it
};

const NotAFile kNotFiles[] = {
    {"fifo", [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); }, "a FIFO, not a regular file"},
    {"link to a device", [](const fs::path& at) { fs::create_symlink("/dev/null", at); },
     "a device, not a regular file"},
    {"folder", [](const fs::path& at) { fs::create_directory(at); }, "a folder"},
};

// Every file a command writes, at a path where no regular file belongs:
// refused with its reason before any port access (nothing on standard output,
// no --stats line, no lock file), and left as it was.
TEST_F(CliFiles, OutputPathsThatAreNoPlaceForAFileAreRefusedBeforeThePort)
{
    const std::string blink = VELKOR_SOURCE_DIR "/examples/blink.hex";
    const std::vector<std::vector<std::string>> commands{
        {"read", "PATH"},
        {"read-eeprom", "PATH"},
        {"--sim-state", "PATH", "signature"},
        {"produce", "--record", "PATH", blink},
        {"produce", "--serial", "0x10:1", "--serial-file", "PATH", blink},
    };
    for (const NotAFile& notAFile : kNotFiles) {
        for (const std::vector<std::string>& command : commands) {
            const fs::path at = folder / "out";
            notAFile.make(at);
            const fs::file_type before = fs::symlink_status(at).type();
            std::vector<std::string> words{"--simulate", "ATmega8", "--stats"};
            for (const std::string& word : command) {
                words.push_back(word == "PATH" ? at.string() : word);
            }
            std::vector<const char*> args;
            for (const std::string& word : words) {
                args.push_back(word.c_str());
            }
            const CliRun run = Invoke(args);
            SCOPED_TRACE(std::string(notAFile.name) + ": " + command[0] + " " + command[1]);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_TRUE(run.err.starts_with("velkor-cli: cannot write ")) << run.err;
            EXPECT_TRUE(run.err.ends_with(std::string(": it is ") + notAFile.kind + "\n")) << run.err;
            EXPECT_EQ(fs::symlink_status(at).type(), before);
            EXPECT_EQ(Names(), std::vector<std::string>{"out"});
            fs::remove_all(at);
        }
    }
}

// Every file a command reads opens without waiting, and a chip file has a
// size limit: each refused at once with its reason.
TEST_F(CliFiles, InputPathsThatAreNoRegularFileOrTooLargeAreRefusedAtOnce)
{
    const struct {
        std::vector<const char*> args;
        void (*make)(const fs::path& at);
        int status;
        std::string out;
        std::string err;  // with PATH for the path
    } cases[] = {
        {{"chips", "--chip-file", "PATH"},
         kNotFiles[0].make,
         2,
         "",
         "velkor-cli: --chip-file PATH: cannot be read (it is not a regular file: a FIFO, a device or a socket)\n"},
        {{"chips", "--chip-file", "PATH"},
         kNotFiles[1].make,
         2,
         "",
         "velkor-cli: --chip-file PATH: cannot be read (it is not a regular file: a FIFO, a device or a socket)\n"},
        {{"chips", "--chip-file", "PATH"},
         kNotFiles[2].make,
         2,
         "",
         "velkor-cli: --chip-file PATH: cannot be read (it is a folder)\n"},
        {{"chips", "--chip-file", "PATH"},
         [](const fs::path& at) {
             std::ofstream{at};
             fs::resize_file(at, 5u << 20);
         },
         2,
         "",
         "velkor-cli: --chip-file PATH: cannot be read (it is larger than 4 MiB)\n"},
        {{"--simulate", "ATmega8", "write-eeprom", "PATH"},
         kNotFiles[0].make,
         1,
         "Not a regular file: a HEX file cannot be a pipe or a device.\n",
         ""},
    };
    for (const auto& c : cases) {
        const fs::path at = folder / "in";
        c.make(at);
        std::vector<const char*> args = c.args;
        std::replace_if(
            args.begin(), args.end(), [](const char* arg) { return std::string_view(arg) == "PATH"; }, at.c_str());
        const CliRun run = Invoke(args);
        SCOPED_TRACE(std::string(c.args[0]) + " " + c.args[1]);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, std::regex_replace(c.err, std::regex("PATH"), at.string()));
        fs::remove_all(at);
    }
}

// Two runs on one counter, one given it through a symbolic link: the link
// stays a link, and the counter at its target goes on from run to run.
TEST_F(CliFiles, ACounterGivenAsALinkIsKeptAtItsTarget)
{
    const fs::path counter = folder / "serial-next";
    const fs::path link = folder / "counter-link";
    fs::create_symlink(counter.filename(), link);
    std::vector<std::string> serials;
    for (const fs::path& given : {link, counter, link}) {
        const CliRun run = Invoke({"--simulate", "atmega8", "produce", "--serial", "0x10:100", "--serial-file",
                                   given.c_str(), VELKOR_SOURCE_DIR "/examples/blink.hex"});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        std::smatch serial;
        std::regex_search(run.out, serial, std::regex("serial ([0-9]+)"));
        serials.push_back(serial.empty() ? "" : serial[1].str());
    }
    EXPECT_EQ(serials, (std::vector<std::string>{"100", "101", "102"}));
    EXPECT_TRUE(fs::is_symlink(link));
    std::ifstream in(counter);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "103\n");
}

// The program run in a child process under a file-size limit, in folder.
CliRun RunUnderSizeLimit(const std::vector<const char*>& args, rlim_t limit, const fs::path& folder)
{
    int out[2];
    if (::pipe(out) != 0) {
        return {-1, "", "pipe failed"};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit size{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &size);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(127);
        }
        std::vector<const char*> argv{"velkor-cli"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(nullptr);
        ::execv(VELKOR_CLI_PROGRAM, const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text, ""};
}

// A file-size limit fails the write instead of killing the program: the
// command ends with its line, leaves no temporary file and, when it was the
// EEPROM's copy that could not be written, leaves the chip unerased.
TEST_F(CliFiles, AFileSizeLimitEndsTheCommandWithItsLine)
{
    const CliRun read = RunUnderSizeLimit({"--simulate", "ATmega8", "read-eeprom", "eeprom.hex"}, 1024, folder);
    EXPECT_EQ(read.status, 1);
    EXPECT_TRUE(read.out.ends_with("\nCannot save the EEPROM: cannot write eeprom.hex: File too large.\n")) << read.out;
    EXPECT_EQ(Names(), std::vector<std::string>{});

    const CliRun write = RunUnderSizeLimit(
        {"--simulate", "ATmega8", "write", "--keep-eeprom", VELKOR_SOURCE_DIR "/examples/blink.hex"}, 1024, folder);
    EXPECT_EQ(write.status, 1);
    EXPECT_TRUE(write.out.ends_with("\nNot written: cannot save the EEPROM's copy: cannot write " +
                                    (folder / "eeprom-copy-ATmega8.hex").string() + ": File too large.\n"))
        << write.out;
    EXPECT_EQ(write.out.find("Chip Erase"), std::string::npos) << write.out;
    EXPECT_EQ(Names(), std::vector<std::string>{});
}

}  // namespace
}  // namespace velkor
#endif

namespace velkor {
namespace {

// The doctor over every simulated cable fault: what it says names the fault,
// and the chip's memories are as they were.
struct DoctorCase {
    const char* what;
    std::vector<const char*> args;
    int status;
    const char* says;
};

class Doctor : public StateFile, public ::testing::WithParamInterface<DoctorCase> {
protected:
    void SetUp() override
    {
        path = std::filesystem::temp_directory_path() /
               ("velkor-cli-doctor-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                GetParam().what + ".json");
        std::filesystem::remove(path);
    }
};

TEST_P(Doctor, NamesTheFaultAndWritesNothing)
{
    const std::string state = path.string();
    ASSERT_EQ(Invoke({"--simulate", "ATmega8", "--sim-state", state.c_str(), "signature"}).status, 0);
    const nlohmann::json before = Read();
    std::vector<const char*> args = {"--simulate", "ATmega8", "--sim-state", state.c_str()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    args.push_back("doctor");
    const CliRun run = Invoke(args);
    EXPECT_EQ(run.status, GetParam().status) << run.out;
    EXPECT_NE(run.out.find(GetParam().says), std::string::npos) << run.out;
    EXPECT_EQ(Read(), before);
}

INSTANTIATE_TEST_SUITE_P(
    , Doctor,
    ::testing::Values(
        DoctorCase{"Healthy", {}, 0, "Clock: the fuses select the internal 1 MHz oscillator"},
        DoctorCase{"SwappedSckMosi", {"--sim-fault", "swapped-sck-mosi"}, 1, "SCK and MOSI are swapped"},
        DoctorCase{"OpenMiso", {"--sim-fault", "open-miso"}, 1, "MISO stays high"},
        DoctorCase{"OpenMisoNextChecks", {"--sim-fault", "open-miso"}, 1, "the MISO wire"},
        DoctorCase{"OpenReset", {"--sim-fault", "open-reset"}, 1, "the RESET wire"},
        DoctorCase{"NoPower", {"--sim-fault", "no-power"}, 1, "the board's power"},
        DoctorCase{"HeaderTurned", {"--sim-fault", "header-turned"}, 1, "MISO stays low"},
        DoctorCase{"HeaderTurnedNextChecks", {"--cable", "stk200", "--sim-fault", "header-turned"}, 1, "turned round"},
        DoctorCase{"AnotherCable", {"--sim-fault", "cable:stk200"}, 1, "another cable's wiring: stk200, pony-stk200."},
        DoctorCase{"AnotherCableThanNamed", {"--cable", "stk200", "--sim-fault", "cable:dapa"}, 1, "wiring: dapa."},
        DoctorCase{"SlowClock", {"--sim-clock", "32k"}, 1, "a slow clock fuse"},
        DoctorCase{"OutOfStep", {"--sim-fault", "out-of-step:1"}, 0, "only after the resynchronising pulses"}),
    [](const auto& info) { return std::string(info.param.what); });

// A cable of the user's own with a made-up wiring: SCK and RESET on control
// pins the port inverts, MISO inverted by the cable, a buffer, power and a lamp.
class CableFileRuns : public StateFile {
protected:
    void WriteCableFile(const std::string& fields)
    {
        std::ofstream(path) << R"({"cables": [{"name": "mine", )" << fields << "}]}";
    }
};

TEST_F(CableFileRuns, AMadeUpWiringWritesAndVerifiesAndIsListed)
{
    WriteCableFile(R"("sck": 14, "mosi": 8, "miso": "~12", "reset": "~1", "enable": [16], "power": [3, 5],
                      "lamps": {"programming": 17})");
    const std::string file = path.string();
    const std::string blink = std::string(VELKOR_SOURCE_DIR) + "/examples/blink.hex";
    const CliRun write = Invoke({"--simulate", "ATmega8", "--cable-file", file.c_str(), "write", blink.c_str()});
    EXPECT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_NE(write.out.find("---done.---"), std::string::npos) << write.out;
    const CliRun doctor = Invoke({"--simulate", "ATmega8", "--cable-file", file.c_str(), "doctor"});
    EXPECT_NE(doctor.out.find("The port, the cable and the chip work."), std::string::npos) << doctor.out;
    const CliRun list = Invoke({"--cable-file", file.c_str(), "cables"});
    EXPECT_NE(list.out.find("\nmine  "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("SCK 14, MOSI 8, MISO ~12, RESET ~1, enable 16, power 3,5, programming lamp 17  (file "),
              std::string::npos)
        << list.out;
}

TEST_F(CableFileRuns, AFaultyFileIsAUsageErrorNamingTheCableTheFieldAndTheRule)
{
    WriteCableFile(R"("sck": 2, "mosi": 3, "miso": 4, "reset": 5)");
    const std::string file = path.string();
    const CliRun run = Invoke({"--simulate", "ATmega8", "--cable-file", file.c_str(), "signature"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("--cable-file " + file + ": cable mine: field miso: MISO must be a status pin"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Invoke({"--cable", "stk201", "signature"}).status, 2);
}

TEST(Cli, CablesListsEveryKnownCableOnALineWithItsPins)
{
    const CliRun run = Invoke({"cables"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(static_cast<std::size_t>(std::ranges::count(run.out, '\n')), KnownCables().size());
    EXPECT_NE(run.out.find("\nstk200        SCK 6, MOSI 7, MISO 10, RESET 9, enable 4,5  (known: "), std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace velkor
