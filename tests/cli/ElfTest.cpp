// ELF files as avr-gcc makes them, built at test time: program writes every
// memory they hold, as avr-objcopy extracts it; a file for another chip, cut
// short or corrupt never gets as far as an erase.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CliRun.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> FromHexDigits(const std::string& digits)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// tests/cli/elf-program.c built for one chip, and each memory avr-objcopy
// extracts from it as a binary.
class ElfProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(VELKOR_AVR_GCC).empty() || std::string(VELKOR_AVR_OBJCOPY).empty()) {
            GTEST_SKIP() << "avr-gcc or avr-objcopy not found (apt-get install gcc-avr avr-libc binutils-avr)";
        }
        // A parameter's test name holds a '/': one folder each, side by side.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        folder = fs::temp_directory_path() / ("velkor-elf-test-" + name);
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

    // Builds the program for mcu into main.elf, and the extracted memories.
    void Build(const std::string& mcu)
    {
        elf = folder / "main.elf";
        const std::string objcopy = std::string(VELKOR_AVR_OBJCOPY) + " ";
        const std::string in = " '" + elf.string() + "' '" + (folder / "").string();
        Run(std::string(VELKOR_AVR_GCC) + " -mmcu=" + mcu + " -Os -o '" + elf.string() + "' '" + VELKOR_SOURCE_DIR +
            "/tests/cli/elf-program.c'");
        Run(objcopy + "-O ihex -R .eeprom -R .fuse -R .lock -R .signature" + in + "flash.hex'");
        Run(objcopy + "-O binary -R .eeprom -R .fuse -R .lock -R .signature" + in + "flash.bin'");
        for (const std::string section : {"eeprom", "fuse", "lock"}) {
            Run(objcopy + "-O binary -j ." + section + " --change-section-lma ." + section + "=0" + in + section +
                ".bin'");
        }
    }

    std::vector<std::uint8_t> Extracted(const std::string& memory) const
    {
        return FileBytes(folder / (memory + ".bin"));
    }

    nlohmann::json State(const std::string& name) const { return nlohmann::json::parse(std::ifstream(folder / name)); }

    CliRun OnChip(const char* chip, const std::string& state, std::vector<const char*> command)
    {
        const std::string path = (folder / state).string();
        stateNames.push_back(path);
        command.insert(command.begin(), {"--all-chips", "--simulate", chip, "--sim-state", stateNames.back().c_str()});
        return Invoke(command);
    }

    fs::path folder;
    fs::path elf;
    std::deque<std::string> stateNames;  // the paths handed out stay where they are
};

struct ElfChip {
    const char* mcu;
    const char* chip;
    const char* otherChip;  // one the file was not built for
    const char* refusal;
};

class ElfPrograms : public ElfProgram, public ::testing::WithParamInterface<ElfChip> {};

TEST_P(ElfPrograms, ProgramLeavesWhatObjcopyExtractsAndAnotherChipIsRefusedBeforeTheErase)
{
    Build(GetParam().mcu);
    const std::string elfPath = elf.string();
    const CliRun run = OnChip(GetParam().chip, "program.json", {"program", elfPath.c_str()});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.out.ends_with("Done: Chip Erase, flash, EEPROM, fuses, lock.\n")) << run.out;

    const nlohmann::json state = State("program.json");
    const std::vector<std::uint8_t> flash = FromHexDigits(state["flash"]);
    const std::vector<std::uint8_t> extracted = Extracted("flash");
    ASSERT_LE(extracted.size(), flash.size());
    EXPECT_TRUE(std::equal(extracted.begin(), extracted.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(extracted.size()), flash.end(),
                            [](std::uint8_t byte) { return byte == 0xFF; }));
    const std::vector<std::uint8_t> eeprom = FromHexDigits(state["eeprom"]);
    const std::vector<std::uint8_t> eepromBytes = Extracted("eeprom");
    EXPECT_TRUE(std::equal(eepromBytes.begin(), eepromBytes.end(), eeprom.begin()));
    const std::vector<std::uint8_t> fuses = Extracted("fuse");
    const char* names[] = {"low", "high", "extended"};
    for (std::size_t i = 0; i < fuses.size(); ++i) {
        EXPECT_EQ(FromHexDigits(state["fuses"][names[i]]), std::vector<std::uint8_t>{fuses[i]}) << names[i];
    }
    EXPECT_EQ(FromHexDigits(state["lock"]), Extracted("lock"));

    // write of the ELF file and of the HEX file avr-objcopy makes from it.
    const std::string hexPath = (folder / "flash.hex").string();
    ASSERT_EQ(OnChip(GetParam().chip, "elf.json", {"write", elfPath.c_str()}).status, 0);
    ASSERT_EQ(OnChip(GetParam().chip, "hex.json", {"write", hexPath.c_str()}).status, 0);
    EXPECT_EQ(State("elf.json")["flash"], State("hex.json")["flash"]);

    const CliRun other = OnChip(GetParam().otherChip, "other.json", {"program", elfPath.c_str()});
    EXPECT_EQ(other.status, 1);
    EXPECT_TRUE(other.out.ends_with(std::string(GetParam().refusal) + "\n")) << other.out;
    EXPECT_EQ(other.out.find("Chip Erase"), std::string::npos) << other.out;
}

// The ATmega2560 beyond 128 KiB joins once the catalogue holds big flashes.
INSTANTIATE_TEST_SUITE_P(
    Chips, ElfPrograms,
    ::testing::Values(
        ElfChip{"atmega328p", "ATmega328P", "ATmega168PA",
                "Wrong chip: the file was built for ATmega328P (1E 95 0F), the chip is ATmega168PA (1E 94 0B)."},
        ElfChip{"atmega8", "ATmega8", "ATmega88",
                "Wrong chip: the file was built for ATmega8 (1E 93 07), the chip is ATmega88 (1E 93 0A)."}),
    [](const auto& info) { return std::string(info.param.chip); });

TEST_F(ElfProgram, ACutShortOrCorruptFileNeverReachesTheChip)
{
    Build("atmega8");
    const std::vector<std::uint8_t> whole = FileBytes(elf);
    const auto corrupted = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = whole;
        bytes.at(at) = value;
        return bytes;
    };
    const std::vector<std::vector<std::uint8_t>> faulty{
        {whole.begin(), whole.begin() + 40},
        {whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)},
        {whole.begin(), whole.end() - 1},
        corrupted(18, 0x03),  // e_machine: another processor
        corrupted(35, 0x7F),  // e_shoff far beyond the file
        corrupted(4, 0x02),   // a 64-bit file
    };
    const fs::path bad = folder / "bad.elf";
    const std::string badPath = bad.string();
    for (const std::vector<std::uint8_t>& bytes : faulty) {
        std::ofstream(bad, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        for (const char* command : {"write", "program", "verify", "write-eeprom"}) {
            const CliRun run = Invoke({"--simulate", "ATmega8", command, badPath.c_str()});
            EXPECT_EQ(run.status, 1) << command << ' ' << bytes.size();
            EXPECT_EQ(run.out.find("ATMEL"), std::string::npos) << command << ' ' << bytes.size() << '\n' << run.out;
        }
    }
}

}  // namespace
}  // namespace velkor
