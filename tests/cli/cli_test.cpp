// velkor-cli against the simulated chip: what reaches standard output and
// standard error, the exit status, and the state file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliApp.h"

namespace velkor {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun Invoke(std::vector<const char*> args, bool errIsTerminal = false)
{
    args.insert(args.begin(), "velkor-cli");
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCli(static_cast<int>(args.size()), args.data(), out, err, errIsTerminal);
    return {status, out.str(), err.str()};
}

class StateFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = std::filesystem::temp_directory_path() /
               ("velkor-cli-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
        std::filesystem::remove(path);
    }
    void TearDown() override { std::filesystem::remove(path); }

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

    const CliRun none = Invoke({"--simulate", "none", "--port", "LPT3", "signature"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "Program enable fault.\n");
}

TEST(Cli, StatsGoToStandardErrorAsOneLine)
{
    const CliRun run = Invoke({"--simulate", "ATtiny26", "--stats", "signature"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, 6), "ATMEL\n");
    EXPECT_NE(run.err.find("port accesses "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" s, timing violations 0\n"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
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
    for (const char* part : {"[--port PORT] [--simulate CHIP]", "write [HEXFILE]", "fuse HIGH LOW", "Examples:"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }

    for (const auto& args : std::vector<std::vector<const char*>>{{"--port", "lpt2", "sigature"}, {"--stats"}}) {
        const CliRun run = Invoke(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("signature, write, fuse"), std::string::npos) << run.err;
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
         {"no answer", "--port names the port the cable is on (now lpt2)"}},
        {{"--simulate", "ATmega8", "fuse", "0x1F", "e"}, "Error\n", {"HIGH \"0x1F\" has 4 characters"}},
        {{"--simulate", "ATmega8", "fuse", "d9", "g1"}, "Error\n", {"LOW \"g1\" holds 'g'"}},
        {{"--simulate", "ATmega328P", "signature"}, "ATMEL\nUnknown CPU 38159\n", {"signature is 1E 95 0F"}},
        {{"--simulate", "ATmega8", "write", "no/such.hex"},
         "File not found.\n",
         {"\"no/such.hex\": No such file or directory"}},
    };
    for (const Case& c : cases) {
        const CliRun run = Invoke(c.args);
        EXPECT_EQ(run.out, c.out);
        for (const std::string& hint : c.hints) {
            EXPECT_NE(run.err.find(hint), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(Invoke({"--simulate", "ATmega8", "fuse", "d9", "e1"}).err, "");
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
    // Erased at the end: the terminal's line is blank for what follows.
    EXPECT_EQ(shown.err.back(), '\r');
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

}  // namespace
}  // namespace velkor
