// The Arduino IDE's patterns (packaging/arduino) and the PlatformIO example
// (docs/toolchain.md), expanded as the IDE and PlatformIO expand them, with
// the values the Arduino AVR core gives its boards, and run on the
// simulated chip.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "CliRun.h"
#include "Format.h"
#include "HexText.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using Properties = std::map<std::string, std::string>;

// Every "key=value" line of an Arduino properties file.
Properties ReadProperties(const fs::path& file)
{
    Properties properties;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (!line.starts_with("#") && equals != std::string::npos) {
            properties[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return properties;
}

// Each {key} replaced by its value, as often as values hold keys; a key with
// no value is left as it is.
std::string Expand(std::string text, const Properties& values)
{
    std::size_t open = 0;
    while ((open = text.find('{', open)) != std::string::npos) {
        const std::size_t close = text.find('}', open);
        const auto value = values.find(text.substr(open + 1, close - open - 1));
        if (close == std::string::npos || value == values.end()) {
            ++open;
        } else {
            text.replace(open, close - open + 1, value->second);
        }
    }
    return text;
}

// A command line cut into words as a shell does, double quotes kept together.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

struct Board {
    const char* name;
    const char* chip;  // as --simulate takes it
    Properties values;
    std::uint32_t bootLoader;  // the boot loader's address
};

class ToolchainPatterns : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder =
            fs::temp_directory_path() /
            ("velkor-toolchain-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        state = (folder / "chip.json").string();
    }
    void TearDown() override { fs::remove_all(folder); }

    // Runs an expanded command line, its program left out, on chip.
    CliRun RunOnChip(const char* chip, const std::string& line)
    {
        std::vector<std::string> words = Words(line);
        std::vector<const char*> args{"--simulate", chip, "--sim-state", state.c_str()};
        for (std::size_t i = 1; i < words.size(); ++i) {
            args.push_back(words[i].c_str());
        }
        return Invoke(args);
    }

    nlohmann::json State() const { return nlohmann::json::parse(std::ifstream(state)); }

    fs::path folder;
    std::string state;
};

bool CatalogueKnows(const std::string& chip)
{
    return Invoke({"--all-chips", "chips"}).out.find("\n" + chip + " ") != std::string::npos;
}

TEST_F(ToolchainPatterns, BurnBootloaderAndUploadUsingProgrammerForTheArduinoBoards)
{
    const std::vector<Board> boards{
        {"Uno",
         "ATmega328P",
         {{"build.mcu", "atmega328p"},
          {"bootloader.low_fuses", "0xFF"},
          {"bootloader.high_fuses", "0xDE"},
          {"bootloader.extended_fuses", "0xFD"},
          {"bootloader.unlock_bits", "0x3F"},
          {"bootloader.lock_bits", "0x0F"},
          {"bootloader.file", "optiboot/optiboot_atmega328.hex"}},
         0x7E00},
        {"Mega 2560",
         "ATmega2560",
         {{"build.mcu", "atmega2560"},
          {"bootloader.low_fuses", "0xFF"},
          {"bootloader.high_fuses", "0xD8"},
          {"bootloader.extended_fuses", "0xFD"},
          {"bootloader.unlock_bits", "0x3F"},
          {"bootloader.lock_bits", "0x0F"},
          {"bootloader.file", "stk500v2/stk500boot_v2_mega2560.hex"}},
         0x3E000},
    };
    const Properties platform = ReadProperties(VELKOR_SOURCE_DIR "/packaging/arduino/platform.local.txt");
    const Properties programmers = ReadProperties(VELKOR_SOURCE_DIR "/packaging/arduino/programmers.txt");
    ASSERT_EQ(programmers.at("velkor.name"), "Velkor parallel port");
    for (const char* action : {"program", "erase", "bootloader"}) {
        ASSERT_EQ(programmers.at(std::string("velkor.") + action + ".tool"), "velkor") << action;
    }
    const std::vector<std::uint8_t> bootLoader{0x0C, 0x94, 0x34, 0x3F, 0xFF, 0xCF, 0x11, 0x24};
    for (const Board& board : boards) {
        SCOPED_TRACE(board.name);
        if (!CatalogueKnows(board.chip)) {
            std::cout << "[ SKIPPED  ] " << board.name << ": the catalogue does not know the " << board.chip << '\n';
            continue;
        }
        fs::remove(state);
        // The tool's own properties, the board's, and where the IDE keeps the core and the sketch.
        Properties values = board.values;
        for (const auto& [key, value] : platform) {
            values[key.substr(std::string("tools.velkor.").size())] = value;
        }
        values["runtime.platform.path"] = folder.string();
        values["build.path"] = VELKOR_SOURCE_DIR "/examples";
        values["build.project_name"] = "uno-blink";
        const fs::path loaderFile = folder / "bootloaders" / values["bootloader.file"];
        fs::create_directories(loaderFile.parent_path());
        std::ofstream(loaderFile) << velkor::testing::AddressRecord(0x04, board.bootLoader >> 16) << '\n'
                                  << velkor::testing::DataRecord(board.bootLoader & 0xFFFF, bootLoader) << '\n'
                                  << velkor::testing::EndOfFileRecord() << '\n';

        const CliRun erase = RunOnChip(board.chip, Expand(values["erase.pattern"], values));
        ASSERT_EQ(erase.status, 0) << erase.out << erase.err;
        const CliRun burn = RunOnChip(board.chip, Expand(values["bootloader.pattern"], values));
        ASSERT_EQ(burn.status, 0) << burn.out << burn.err;
        const nlohmann::json chip = State();
        const std::string flash = chip["flash"];
        std::string expected;
        for (const std::uint8_t byte : bootLoader) {
            expected += TwoHexDigits(byte);
        }
        EXPECT_EQ(flash.substr(2 * board.bootLoader, expected.size()), expected);
        EXPECT_EQ("0x" + std::string(chip["fuses"]["low"]), board.values.at("bootloader.low_fuses"));
        EXPECT_EQ("0x" + std::string(chip["fuses"]["high"]), board.values.at("bootloader.high_fuses"));
        EXPECT_EQ("0x" + std::string(chip["fuses"]["extended"]), board.values.at("bootloader.extended_fuses"));
        // Bits 6 and 7 of the lock byte exist on no chip: they read 1.
        EXPECT_EQ(std::stoul(std::string(chip["lock"]), nullptr, 16) & 0x3F,
                  std::stoul(board.values.at("bootloader.lock_bits"), nullptr, 16) & 0x3F);

        const CliRun upload = RunOnChip(board.chip, Expand(values["program.pattern"], values));
        ASSERT_EQ(upload.status, 0) << upload.out << upload.err;
        const std::string sketch = VELKOR_SOURCE_DIR "/examples/uno-blink.hex";
        EXPECT_EQ(Invoke({"--simulate", board.chip, "--sim-state", state.c_str(), "verify", sketch.c_str()}).status, 0);
    }
}

// docs/toolchain.md's platformio.ini: its upload commands, with $VARIABLES
// as PlatformIO gives them for an Uno.
TEST_F(ToolchainPatterns, ThePlatformIoExampleUploadsAndWritesTheFuses)
{
    const std::string sketch = VELKOR_SOURCE_DIR "/examples/uno-blink.hex";
    const Properties variables{{"UPLOAD_PORT", "lpt1"}, {"BOARD_MCU", "atmega328p"}, {"SOURCE", sketch}};
    std::ifstream doc(VELKOR_SOURCE_DIR "/docs/toolchain.md");
    std::vector<std::string> commands;
    for (std::string line; std::getline(doc, line);) {
        if (line.starts_with("upload_command = ")) {
            for (const auto& [name, value] : variables) {
                for (std::size_t at = line.find("$" + name); at != std::string::npos; at = line.find("$" + name)) {
                    line.replace(at, name.size() + 1, value);
                }
            }
            commands.push_back(line.substr(std::string("upload_command = ").size()));
        }
    }
    ASSERT_EQ(commands.size(), 2u);
    for (const std::string& command : commands) {
        const CliRun run = RunOnChip("ATmega328P", command);
        ASSERT_EQ(run.status, 0) << command << '\n' << run.out << run.err;
    }
    EXPECT_EQ(Invoke({"--simulate", "ATmega328P", "--sim-state", state.c_str(), "verify", sketch.c_str()}).status, 0);
    const nlohmann::json chip = State();
    EXPECT_EQ(chip["fuses"], (nlohmann::json{{"low", "FF"}, {"high", "DE"}, {"extended", "FD"}}));
}

}  // namespace
}  // namespace velkor
