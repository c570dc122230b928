// velkor-cli --port on the real Linux code path (ppdev through TDLPortIO),
// with the virtual ppdev port preloaded in front of the simulated chip. The
// same command on --simulate gives the expected log and chip state, so these
// runs check the port path, not the engine again.
// The virtual port exists only in Linux builds, which define its path.
#ifdef VELKOR_VIRTUAL_PPDEV_PATH

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Cable.h"
#include "HexText.h"
#include "PpdevBackend.h"
#include "SimulatedTarget.h"
#include "StandardDescriptors.h"

extern char** environ;

namespace velkor {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int exitStatus = -1;
    std::string output;  // standard output
};

using Environment = std::map<std::string, std::string>;

// The test's environment without any virtual port settings, plus `extra`.
std::vector<std::string> ChildEnvironment(const Environment& extra)
{
    std::vector<std::string> entries;
    std::string sanitizerOptions;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.starts_with("ASAN_OPTIONS=")) {
            sanitizerOptions = text.substr(text.find('=') + 1);
        } else if (!text.starts_with("VELKOR_VIRTUAL_PPDEV_") && !text.starts_with("LD_PRELOAD=")) {
            entries.push_back(text);
        }
    }
    for (const auto& [name, value] : extra) {
        entries.push_back(name + "=" + value);
    }
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer wants to be first in line; the preloaded port is.
    sanitizerOptions += sanitizerOptions.empty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
#endif
    if (!sanitizerOptions.empty()) {
        entries.push_back("ASAN_OPTIONS=" + sanitizerOptions);
    }
    return entries;
}

// A signal sent to the program that long after its first log line: by then
// its handlers are in place, however slowly it started (a sanitizer build on
// a busy machine).
struct Interruption {
    int signal;
    std::chrono::milliseconds after;
};

// withoutOutput: start it with its standard output closed. onFirstOutput:
// called once the first log text has come, while the command goes on.
CliRun RunProgram(const char* program, const std::vector<std::string>& arguments, const Environment& extra = {},
                  std::optional<Interruption> interruption = std::nullopt, bool withoutOutput = false,
                  const std::function<void()>& onFirstOutput = {})
{
    std::vector<std::string> argumentTexts = {program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argumentTexts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environmentTexts = ChildEnvironment(extra);
    std::vector<char*> envp;
    for (std::string& text : environmentTexts) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (withoutOutput) {
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    }
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t child = 0;
    const int spawnError = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    CliRun run;
    std::thread interrupter;
    char buffer[4096];
    ssize_t length = 0;
    while ((length = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        if (run.output.empty() && onFirstOutput) {
            onFirstOutput();
        }
        if (run.output.empty() && interruption) {
            interrupter = std::thread([child, signal = *interruption] {
                std::this_thread::sleep_for(signal.after);
                ::kill(child, signal.signal);
            });
        }
        run.output.append(buffer, static_cast<std::size_t>(length));
    }
    ::close(pipeFds[0]);
    if (interrupter.joinable()) {
        interrupter.join();  // before the child is reaped: its pid is not reused meanwhile
    }
    if (spawnError != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawnError);
        return run;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

CliRun RunCli(const std::vector<std::string>& arguments, const Environment& extra = {},
              std::optional<Interruption> interruption = std::nullopt, bool withoutOutput = false,
              const std::function<void()>& onFirstOutput = {})
{
    return RunProgram(VELKOR_CLI_PATH, arguments, extra, interruption, withoutOutput, onFirstOutput);
}

std::string FileText(const fs::path& file)
{
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

nlohmann::json ReadJson(const fs::path& file)
{
    return nlohmann::json::parse(std::ifstream(file));
}

class PpdevEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folderTemplate[] = "/tmp/velkor-ppdev-XXXXXX";
        ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
        folder = folderTemplate;
    }
    void TearDown() override { fs::remove_all(folder); }

    // velkor-cli --port PORT ... with the chip behind the virtual port at base.
    CliRun OnVirtualPort(const std::string& chip, const std::vector<std::string>& arguments, Environment extra = {},
                         std::optional<Interruption> interruption = std::nullopt, bool withoutOutput = false,
                         const std::function<void()>& onFirstOutput = {})
    {
        extra["LD_PRELOAD"] = VELKOR_VIRTUAL_PPDEV_PATH;
        extra["VELKOR_VIRTUAL_PPDEV_CHIP"] = chip;
        extra["VELKOR_VIRTUAL_PPDEV_STATE"] = (folder / "port-chip.json").string();
        extra["VELKOR_VIRTUAL_PPDEV_STATS"] = (folder / "port-stats.json").string();
        return RunCli(arguments, extra, interruption, withoutOutput, onFirstOutput);
    }

    CliRun OnSimulatedTarget(const std::string& chip, const std::vector<std::string>& command,
                             bool withoutOutput = false)
    {
        std::vector<std::string> arguments = {"--simulate", chip, "--sim-state", (folder / "sim-chip.json").string()};
        arguments.insert(arguments.end(), command.begin(), command.end());
        return RunCli(arguments, {}, std::nullopt, withoutOutput);
    }

    nlohmann::json PortStats() const { return ReadJson(folder / "port-stats.json"); }

    fs::path folder;
};

// A ppdev program that never sets the data direction, as most do not, reaches
// the chip: the claim gives it the port state a fresh device starts with.
TEST_F(PpdevEndToEnd, AProgramThatNeverSetsTheDataDirectionReadsTheSignature)
{
    const CliRun run = RunProgram(VELKOR_PPDEV_SIGNATURE_PATH, {},
                                  {{"LD_PRELOAD", VELKOR_VIRTUAL_PPDEV_PATH},
                                   {"VELKOR_VIRTUAL_PPDEV_CHIP", "ATmega328P"},
                                   {"VELKOR_VIRTUAL_PPDEV_STATS", (folder / "port-stats.json").string()}});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "1E 95 0F\n");
    EXPECT_EQ(PortStats().at("timingViolations"), nlohmann::json::array());
}

struct SignatureCase {
    const char* chip;
    const char* port;
    const char* base;
    const char* number;  // N in /dev/parportN
};

class PpdevSignature : public PpdevEndToEnd, public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(PpdevSignature, ReadsTheChipThroughPpdevAsTheSimulationDoes)
{
    const SignatureCase& target = GetParam();
    const CliRun expected = OnSimulatedTarget(target.chip, {"signature"});
    ASSERT_EQ(expected.exitStatus, 0) << expected.output;

    const CliRun run =
        OnVirtualPort(target.chip, {"--port", target.port, "signature"},
                      {{"VELKOR_VIRTUAL_PPDEV_BASE", target.base}, {"VELKOR_VIRTUAL_PPDEV_NUMBER", target.number}});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, expected.output);
    EXPECT_NE(run.output.find(target.chip), std::string::npos) << run.output;
    EXPECT_GT(PortStats().at("portAccesses"), 0);
    EXPECT_EQ(PortStats().at("timingViolations"), nlohmann::json::array());
}

INSTANTIATE_TEST_SUITE_P(, PpdevSignature,
                         ::testing::Values(SignatureCase{"ATmega8", "lpt1", "888", "0"},  // 0x378 in decimal
                                           SignatureCase{"AT90S2313", "lpt2", "0x278", "1"},
                                           SignatureCase{"ATtiny26", "0x3BC", "0x3BC", "2"},
                                           // A PCI card's port: by its own address, or by its device.
                                           SignatureCase{"ATmega88", "0xd010", "0xD010", "0"},
                                           SignatureCase{"ATmega168", "/dev/parport3", "0xD010", "3"}),
                         [](const auto& info) { return std::string(info.param.chip); });

TEST_F(PpdevEndToEnd, WritesTheFlashThroughPpdevAsTheSimulationDoes)
{
    const std::string hexFile = VELKOR_SOURCE_DIR "/examples/blink.hex";
    const CliRun expected = OnSimulatedTarget("ATmega8", {"write", hexFile});
    ASSERT_EQ(expected.exitStatus, 0) << expected.output;

    const CliRun run =
        OnVirtualPort("ATmega8", {"--port", "0xD010", "write", hexFile}, {{"VELKOR_VIRTUAL_PPDEV_BASE", "0xD010"}});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, expected.output);
    EXPECT_EQ(ReadJson(folder / "port-chip.json"), ReadJson(folder / "sim-chip.json"));
    EXPECT_EQ(PortStats().at("timingViolations"), nlohmann::json::array());
}

TEST_F(PpdevEndToEnd, WritesTheFusesThroughPpdevAsTheSimulationDoes)
{
    const std::vector<std::string> command = {"fuse", "D9", "E4"};
    const CliRun expected = OnSimulatedTarget("ATmega8", command);
    ASSERT_EQ(expected.exitStatus, 0) << expected.output;

    std::vector<std::string> arguments = {"--port", "/dev/parport0"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    const CliRun run = OnVirtualPort("ATmega8", arguments, {{"VELKOR_VIRTUAL_PPDEV_BASE", "0xD010"}});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, expected.output);
    const nlohmann::json chip = ReadJson(folder / "port-chip.json");
    EXPECT_EQ(chip, ReadJson(folder / "sim-chip.json"));
    EXPECT_EQ(chip.at("fuses").at("low"), "E4");
}

// The first bytes of an ATmega8's flash (all 8192 take seconds of
// programming on the port), each derived from its address and seed, into file.
void WriteFlashFile(const fs::path& file, unsigned seed, unsigned bytes = 8192)
{
    std::ofstream out(file, std::ios::trunc);
    for (unsigned address = 0; address < bytes; address += 16) {
        std::vector<std::uint8_t> data(16);
        for (unsigned i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(address + i * 3 + seed);
        }
        out << testing::DataRecord(static_cast<std::uint16_t>(address), data) << '\n';
    }
    out << testing::EndOfFileRecord() << '\n';
}

struct SignalCase {
    const char* name;
    int number;
};

class PpdevInterruption : public PpdevEndToEnd, public ::testing::WithParamInterface<SignalCase> {};

// Ctrl-C, a kill or a timeout, a closed terminal: each must leave the chip out of reset.
TEST_P(PpdevInterruption, ASignalDuringAWriteStopsItAndReleasesThePort)
{
    const fs::path hexFile = folder / "full.hex";
    WriteFlashFile(hexFile, 0);

    const int signal = GetParam().number;
    const CliRun run = OnVirtualPort("ATmega8", {"--port", "lpt1", "write", hexFile.string()}, {},
                                     Interruption{signal, std::chrono::milliseconds(400)});
    EXPECT_EQ(run.exitStatus, 128 + signal);
    EXPECT_TRUE(run.output.ends_with("\nInterrupted.\n")) << run.output;
    EXPECT_EQ(run.output.find("---done.---"), std::string::npos);
    EXPECT_EQ(PortStats().at("dataRegister"), 0x84);
    EXPECT_EQ(PortStats().at("timingViolations"), nlohmann::json::array());

    EXPECT_EQ(ReadJson(folder / "port-chip.json").at("chip"), "ATmega8");  // the chip's state saved

    const CliRun after = OnVirtualPort("ATmega8", {"--port", "lpt1", "signature"});
    EXPECT_EQ(after.exitStatus, 0);
    EXPECT_NE(after.output.find("ATmega8"), std::string::npos) << after.output;
}

INSTANTIATE_TEST_SUITE_P(, PpdevInterruption,
                         ::testing::Values(SignalCase{"Sigint", SIGINT}, SignalCase{"Sigterm", SIGTERM},
                                           SignalCase{"Sighup", SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

// An editor saving, a build finishing: the file is rewritten in place, over
// and over, from the first log line (the file has been read by then) to the
// end of the Write. The chip holds the file as it was when the Write began.
TEST_F(PpdevEndToEnd, AFileRewrittenDuringTheWriteLeavesTheChipHoldingItsFirstContent)
{
    constexpr unsigned kBytes = 2048;
    const fs::path hexFile = folder / "changing.hex";
    const fs::path firstContent = folder / "first.hex";
    WriteFlashFile(hexFile, 0, kBytes);
    WriteFlashFile(firstContent, 0, kBytes);

    std::atomic<bool> writeEnded = false;
    std::atomic<int> rewrites = 0;
    std::thread rewriter;
    const CliRun run =
        OnVirtualPort("ATmega8", {"--port", "lpt1", "write", hexFile.string()}, {}, std::nullopt, false, [&] {
            rewriter = std::thread([&] {
                for (unsigned seed = 1; !writeEnded; ++seed, ++rewrites) {
                    WriteFlashFile(hexFile, seed, kBytes);
                }
            });
        });
    writeEnded = true;
    ASSERT_TRUE(rewriter.joinable());
    rewriter.join();
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(run.output.ends_with("---done.---\n")) << run.output;
    EXPECT_GT(rewrites, 1);

    const CliRun verify = OnVirtualPort("ATmega8", {"--port", "lpt1", "verify", firstContent.string()});
    EXPECT_EQ(verify.exitStatus, 0) << verify.output;
    EXPECT_NE(verify.output.find("Verify OK: 2048 bytes compared."), std::string::npos) << verify.output;
}

// Started without standard output, a command opens its lock files and the
// port on descriptors of their own: no log line is written into them.
TEST_F(PpdevEndToEnd, WithoutStandardOutputTheLogReachesNoFileAndNoPort)
{
    EXPECT_EQ(OnVirtualPort("ATmega8", {"--port", "lpt1", "signature"}, {}, std::nullopt, true).exitStatus, 0);
    EXPECT_EQ(OnSimulatedTarget("ATmega8", {"signature"}, true).exitStatus, 0);
    int lockFiles = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".lock") {
            ++lockFiles;
            EXPECT_EQ(entry.file_size(), 0u) << entry.path();
        }
    }
    EXPECT_EQ(lockFiles, 3);
    EXPECT_EQ(ReadJson(folder / "port-chip.json"), ReadJson(folder / "sim-chip.json"));
}

// ---- A port that cannot be had: one line saying why, and no port access ----------

struct RefusalCase {
    const char* name;
    const char* port;
    Environment environment;
    const char* line;
};

class PpdevRefusal : public PpdevEndToEnd, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(PpdevRefusal, TheCommandSaysWhyAndTouchesNoPort)
{
    const CliRun run = OnVirtualPort("ATmega8", {"--port", GetParam().port, "signature"}, GetParam().environment);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, std::string(GetParam().line) + "\n");
    EXPECT_EQ(PortStats().at("portAccesses"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    , PpdevRefusal,
    ::testing::Values(
        RefusalCase{"NotInTheLpGroup",
                    "lpt1",
                    {{"VELKOR_VIRTUAL_PPDEV_FAULT", "permission-denied"}},
                    "Cannot open the port: permission denied on /dev/parport0 (add your user to the lp group: "
                    "sudo usermod -aG lp $USER, then log in again)"},
        RefusalCase{"NotPermitted",
                    "lpt1",
                    {{"VELKOR_VIRTUAL_PPDEV_FAULT", "not-permitted"}},
                    "Cannot open the port: opening /dev/parport0 is not permitted (the system does not permit it: "
                    "device rules of a container or a security module, not the lp group)"},
        RefusalCase{"Busy",
                    "lpt1",
                    {{"VELKOR_VIRTUAL_PPDEV_FAULT", "busy"}},
                    "Cannot open the port: /dev/parport0 is busy: another driver or program holds the port"},
        RefusalCase{"HeldExclusively",
                    "lpt1",
                    {{"VELKOR_VIRTUAL_PPDEV_FAULT", "held-exclusively"}},
                    "Cannot open the port: /dev/parport0 is busy: another driver or program holds the port"},
        RefusalCase{"PpdevNotLoaded",
                    "lpt1",
                    {{"VELKOR_VIRTUAL_PPDEV_FAULT", "no-device-node"}},
                    "Cannot open the port: /dev/parport0 for the port at 0x378 is missing (load the ppdev module: "
                    "modprobe ppdev), and raw port I/O at 0x378 needs root (CAP_SYS_RAWIO)"},
        // A device named by the user is used as it is: no raw port I/O instead.
        RefusalCase{"NamedDeviceWithoutPpdev",
                    "/dev/parport0",
                    {{"VELKOR_VIRTUAL_PPDEV_FAULT", "no-device-node"}},
                    "Cannot open the port: /dev/parport0 for the port at 0x378 is missing (load the ppdev module: "
                    "modprobe ppdev)"},
        RefusalCase{"NamedDeviceAbsent",
                    "/dev/parport9",
                    {},
                    "Cannot open the port: /dev/parport9 does not exist, and the kernel knows no parallel port 9"},
        RefusalCase{"NoSuchPort",
                    "lpt2",
                    {},
                    "Cannot open the port: the kernel knows no parallel port at 0x278 (is the parport_pc module "
                    "loaded?), and raw port I/O at 0x278 needs root (CAP_SYS_RAWIO)"}),
    [](const auto& info) { return info.param.name; });

// ---- velkor-cli ports --------------------------------------------------------------

struct PortsCase {
    const char* name;
    Environment environment;
    const char* listing;
    int exitStatus;
};

class PpdevPorts : public PpdevEndToEnd, public ::testing::WithParamInterface<PortsCase> {};

TEST_P(PpdevPorts, ListsThePortWithItsAddressAndWhetherItCanBeUsed)
{
    const CliRun run = OnVirtualPort("none", {"ports"}, GetParam().environment);
    EXPECT_EQ(run.exitStatus, GetParam().exitStatus);
    EXPECT_EQ(run.output, GetParam().listing);
}

INSTANTIATE_TEST_SUITE_P(
    , PpdevPorts,
    ::testing::Values(
        PortsCase{"Usable",
                  {{"VELKOR_VIRTUAL_PPDEV_BASE", "0xD010"}},
                  "/dev/parport0  0xD010  device node present, you may open it\n",
                  0},
        PortsCase{"NotInTheLpGroup",
                  {{"VELKOR_VIRTUAL_PPDEV_NUMBER", "2"}, {"VELKOR_VIRTUAL_PPDEV_FAULT", "permission-denied"}},
                  "/dev/parport2  0x378   device node present, you may not open it (add your user to the lp group: "
                  "sudo usermod -aG lp $USER, then log in again)\n",
                  1},
        PortsCase{"NotPermitted",
                  {{"VELKOR_VIRTUAL_PPDEV_FAULT", "not-permitted"}},
                  "/dev/parport0  0x378   device node present, but opening it is not permitted (the system does "
                  "not permit it: device rules of a container or a security module, not the lp group)\n",
                  1},
        PortsCase{"Busy",
                  {{"VELKOR_VIRTUAL_PPDEV_FAULT", "busy"}},
                  "/dev/parport0  0x378   device node present, but another program or driver holds the port now "
                  "(ppdev0)\n",
                  1},
        PortsCase{"PpdevNotLoaded",
                  {{"VELKOR_VIRTUAL_PPDEV_FAULT", "no-device-node"}},
                  "/dev/parport0  0x378   no device node (load the ppdev module: modprobe ppdev)\n",
                  1}),
    [](const auto& info) { return info.param.name; });

// A port never opened holds no descriptor: ending it closes none of the
// program's, standard input (descriptor 0) included.
// ---- Every known cable ----------------------------------------------------

// A line's level as the DB-25 pin carries it, from the registers the port
// held last: D0-D7 on pins 2-9; STROBE, AUTOFD, INIT and SELECT-IN on pins 1,
// 14, 16 and 17, all but INIT inverted by the port.
bool PinHigh(unsigned pin, std::uint8_t data, std::uint8_t control)
{
    if (pin >= 2 && pin <= 9) {
        return ((data >> (pin - 2)) & 1) != 0;
    }
    const std::map<unsigned, std::pair<unsigned, bool>> controlPins{
        {1, {0, true}}, {14, {1, true}}, {16, {2, false}}, {17, {3, true}}};
    const auto [bit, inverted] = controlPins.at(pin);
    return (((control >> bit) & 1) != 0) != inverted;
}

struct CableCase {
    const char* cable;
    const char* chip;
    const char* chipOptions;  // what identification needs to find the chip
};

void PrintTo(const CableCase& target, std::ostream* os)
{
    *os << target.cable << " on " << target.chip;
}

class PpdevCable : public PpdevEndToEnd, public ::testing::WithParamInterface<CableCase> {
protected:
    const Cable& TheCable() const { return *FindCable(KnownCables(), GetParam().cable); }

    CliRun OnCable(const std::vector<std::string>& command, std::optional<Interruption> interruption = std::nullopt)
    {
        std::vector<std::string> arguments = {"--port", "lpt1", "--cable", GetParam().cable};
        if (*GetParam().chipOptions != '\0') {
            arguments.push_back(GetParam().chipOptions);
        }
        arguments.insert(arguments.end(), command.begin(), command.end());
        return OnVirtualPort(GetParam().chip, arguments, {{"VELKOR_VIRTUAL_PPDEV_CABLE", GetParam().cable}},
                             interruption);
    }

    CliRun OnSimulation(const std::vector<std::string>& command)
    {
        std::vector<std::string> arguments = {"--all-chips"};
        arguments.insert(arguments.end(), command.begin(), command.end());
        return OnSimulatedTarget(GetParam().chip, arguments);
    }

    // The cable lets go of the board: RESET high at the chip, SCK and MOSI
    // low, every enable pin high.
    void ExpectLetGo(const std::string& after)
    {
        const nlohmann::json stats = PortStats();
        const auto data = stats.at("dataRegister").get<std::uint8_t>();
        const auto control = stats.at("controlRegister").get<std::uint8_t>();
        const Cable& cable = TheCable();
        const auto atChip = [&](const CableSignal& signal) {
            return PinHigh(signal.pin, data, control) != signal.invertedByCable;
        };
        EXPECT_TRUE(atChip(cable.reset)) << after;
        EXPECT_FALSE(atChip(cable.sck)) << after;
        EXPECT_FALSE(atChip(cable.mosi)) << after;
        for (const std::uint8_t pin : cable.enable) {
            EXPECT_TRUE(PinHigh(pin, data, control)) << after << ": enable pin " << unsigned{pin};
        }
        EXPECT_EQ(stats.at("timingViolations"), nlohmann::json::array()) << after;
    }
};

TEST_P(PpdevCable, WritesVerifiesAndReadsTheFlashAndTheEepromAndLetsGoAfterEachCommand)
{
    const sim::ChipModel& model = *sim::FindChipModel(GetParam().chip);
    const fs::path image = folder / "image.hex";
    const fs::path other = folder / "other.hex";
    const fs::path eeprom = folder / "eeprom.hex";
    WriteFlashFile(image, 7, model.flashBytes);
    WriteFlashFile(other, 8, 16);
    WriteFlashFile(eeprom, 9, 16);

    const CliRun write = OnCable({"write", image.string()});
    EXPECT_EQ(write.exitStatus, 0) << write.output;
    EXPECT_NE(write.output.find(model.name), std::string::npos) << write.output;
    EXPECT_NE(write.output.find("---done.---"), std::string::npos) << write.output;
    ExpectLetGo("write");
    const CliRun verify = OnCable({"verify", image.string()});
    EXPECT_EQ(verify.exitStatus, 0) << verify.output;
    ExpectLetGo("verify");
    EXPECT_EQ(OnCable({"verify", other.string()}).exitStatus, 1);
    ExpectLetGo("a verify that fails");
    EXPECT_EQ(OnCable({"read", (folder / "flash.hex").string()}).exitStatus, 0);
    ExpectLetGo("read");
    EXPECT_EQ(OnCable({"write-eeprom", eeprom.string()}).exitStatus, 0);
    ExpectLetGo("write-eeprom");
    EXPECT_EQ(OnCable({"read-eeprom", (folder / "eeprom-read.hex").string()}).exitStatus, 0);
    ExpectLetGo("read-eeprom");

    // The same commands on the built-in cable of the simulation read the same.
    ASSERT_EQ(OnSimulation({"write", image.string()}).exitStatus, 0);
    ASSERT_EQ(OnSimulation({"write-eeprom", eeprom.string()}).exitStatus, 0);
    ASSERT_EQ(OnSimulation({"read", (folder / "sim-flash.hex").string()}).exitStatus, 0);
    ASSERT_EQ(OnSimulation({"read-eeprom", (folder / "sim-eeprom.hex").string()}).exitStatus, 0);
    EXPECT_EQ(FileText(folder / "flash.hex"), FileText(folder / "sim-flash.hex"));
    EXPECT_EQ(FileText(folder / "eeprom-read.hex"), FileText(folder / "sim-eeprom.hex"));
}

class PpdevCableInterruption : public PpdevCable {};

// Ctrl-C in the middle of a write (slowed by a slow pace) lets go too.
TEST_P(PpdevCableInterruption, LetsGoOfTheBoardAfterCtrlC)
{
    const fs::path image = folder / "image.hex";
    WriteFlashFile(image, 7, 1024);
    const CliRun run = OnCable({"--chip-clock", "128k", "write", image.string()},
                               Interruption{SIGINT, std::chrono::milliseconds(200)});
    EXPECT_EQ(run.exitStatus, 128 + SIGINT) << run.output;
    ExpectLetGo("Ctrl-C");
}

// Every cable on a table chip and, where withCatalogueChip, on a catalogue chip.
std::vector<CableCase> EveryCable(bool withCatalogueChip)
{
    std::vector<CableCase> cases;
    for (const Cable& cable : KnownCables()) {
        cases.push_back({cable.name.c_str(), "ATtiny26", ""});
        if (withCatalogueChip) {
            cases.push_back({cable.name.c_str(), "ATtiny13", "--all-chips"});
        }
    }
    return cases;
}

std::string CableCaseName(const ::testing::TestParamInfo<CableCase>& info)
{
    std::string name = std::string(info.param.cable) + "_" + info.param.chip;
    std::ranges::replace(name, '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(, PpdevCable, ::testing::ValuesIn(EveryCable(true)), CableCaseName);
INSTANTIATE_TEST_SUITE_P(, PpdevCableInterruption, ::testing::ValuesIn(EveryCable(false)), CableCaseName);

// doctor --toggle and --watch run until Ctrl-C, and then let go of the board.
TEST_F(PpdevEndToEnd, TheDoctorTogglesAndWatchesAPinUntilCtrlC)
{
    const Environment stk200{{"VELKOR_VIRTUAL_PPDEV_CABLE", "stk200"}};
    const CliRun toggle = OnVirtualPort("ATmega8", {"--cable", "stk200", "doctor", "--toggle", "8"}, stk200,
                                        Interruption{SIGINT, std::chrono::milliseconds(1500)});
    EXPECT_EQ(toggle.exitStatus, 128 + SIGINT);
    EXPECT_TRUE(toggle.output.starts_with("pin 8 high\npin 8 low\n")) << toggle.output;
    EXPECT_TRUE(toggle.output.ends_with("\nInterrupted.\n")) << toggle.output;
    EXPECT_EQ(PortStats().at("dataRegister"), 0x8C);  // RESET (D7) high, enable (D2, D3) high

    const CliRun watch =
        OnVirtualPort("ATmega8", {"doctor", "--watch", "10"}, {}, Interruption{SIGINT, std::chrono::milliseconds(200)});
    EXPECT_EQ(watch.exitStatus, 128 + SIGINT);
    EXPECT_EQ(watch.output, "pin 10 high\nInterrupted.\n");
}

// A ppdev program that drives the STK200 dongle's pins finds the chip only
// once it switches the dongle's buffer on, as on hardware.
TEST_F(PpdevEndToEnd, AnStk200DongleWithItsBufferOffShowsNoChip)
{
    const Environment port{{"LD_PRELOAD", VELKOR_VIRTUAL_PPDEV_PATH},
                           {"VELKOR_VIRTUAL_PPDEV_CHIP", "ATmega328P"},
                           {"VELKOR_VIRTUAL_PPDEV_CABLE", "stk200"}};
    const CliRun bufferOff = RunProgram(VELKOR_PPDEV_SIGNATURE_PATH, {"/dev/parport0", "stk200-buffer-off"}, port);
    EXPECT_EQ(bufferOff.exitStatus, 1);
    EXPECT_EQ(bufferOff.output, "");
    const CliRun bufferOn = RunProgram(VELKOR_PPDEV_SIGNATURE_PATH, {"/dev/parport0", "stk200"}, port);
    EXPECT_EQ(bufferOn.exitStatus, 0);
    EXPECT_EQ(bufferOn.output, "1E 95 0F\n");
}

TEST(PpdevPort, NeverOpenedClosesNothing)
{
    OpenMissingStandardDescriptors();
    PpdevPort().Close();
    EXPECT_NE(::fcntl(STDIN_FILENO, F_GETFD), -1);
}

}  // namespace
}  // namespace velkor

#endif  // VELKOR_VIRTUAL_PPDEV_PATH
