// The EEPROM and lock commands on every simulated chip: images made by
// objcopy written, read back and verified; a second image writes only the
// bytes that differ; a Write that keeps the EEPROM; and what each fault says.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <set>
#include <thread>

#include <unistd.h>

#include "BuiltInCatalogue.h"
#include "HexText.h"
#include "Programmer.h"
#include "SimulatedProgrammer.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class EepromFiles : public ::testing::Test, public testing::SimulatedProgrammer {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("velkor-eeprom-" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    // The image as avr-objcopy makes an EEPROM file: Intel HEX from address 0.
    fs::path ObjcopyImage(const Bytes& image, const std::string& name)
    {
        const fs::path binary = folder / (name + ".bin");
        const fs::path hex = folder / (name + ".hex");
        std::ofstream(binary, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
        const std::string command = "objcopy -I binary -O ihex '" + binary.string() + "' '" + hex.string() + "'";
        if (std::system(command.c_str()) != 0) {
            ADD_FAILURE() << "objcopy failed";
        }
        return hex;
    }

    // objcopy's reading of a HEX file, erased (0xFF) where it gives nothing.
    Bytes ObjcopyBytes(const fs::path& hex, std::size_t size)
    {
        const fs::path binary = folder / "read.bin";
        const std::string command =
            "objcopy -I ihex -O binary --gap-fill 0xFF '" + hex.string() + "' '" + binary.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::ifstream in(binary, std::ios::binary);
        Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        bytes.resize(size, 0xFF);
        return bytes;
    }

    std::string LastLine() const { return log.lines.empty() ? "" : log.lines.back(); }

    sim::SimulatedChip& Chip() { return *target->chip(); }

    fs::path folder;
};

std::vector<const char*> ChipsWithEeprom()
{
    std::vector<const char*> names;
    for (const sim::ChipModel& chip : sim::AllChipModels()) {
        names.push_back(chip.name);
    }
    return names;
}

class EepromRoundTrip : public EepromFiles, public ::testing::WithParamInterface<const char*> {};

TEST_P(EepromRoundTrip, WrittenReadBackVerifiedAndRewrittenByDifferencesOnly)
{
    Attach(GetParam());
    programmer->ChipLists = {&BuiltInCatalogue()};
    const std::size_t size = Chip().Eeprom().size();
    std::mt19937 random(static_cast<unsigned>(size));
    Bytes image(size);
    std::generate(image.begin(), image.end(), [&] { return static_cast<std::uint8_t>(random()); });
    image[size - 1] = 0x00;  // a value some chips cannot poll for

    ASSERT_TRUE(eepromMemory->WriteEepromCommand(ObjcopyImage(image, "first"))) << LastLine();
    EXPECT_EQ(Chip().Eeprom(), image);
    ASSERT_TRUE(eepromMemory->ReadEepromCommand(folder / "read.hex")) << LastLine();
    EXPECT_EQ(ObjcopyBytes(folder / "read.hex", size), image);
    ASSERT_TRUE(eepromMemory->VerifyEepromCommand(folder / "first.hex")) << LastLine();

    Bytes second = image;
    for (const std::size_t address : {std::size_t{1}, size / 2, size - 1}) {
        second[address] = static_cast<std::uint8_t>(~second[address]);
    }
    ASSERT_TRUE(eepromMemory->WriteEepromCommand(ObjcopyImage(second, "second"))) << LastLine();
    EXPECT_EQ(LastLine(), "EEPROM: 3 bytes written, " + std::to_string(size - 3) + " already right.");
    EXPECT_EQ(Chip().Eeprom(), second);
    EXPECT_FALSE(eepromMemory->VerifyEepromCommand(folder / "first.hex"));
    EXPECT_EQ(target->ViolationCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, EepromRoundTrip, ::testing::ValuesIn(ChipsWithEeprom()), [](const auto& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
});

// What a production run does within its own session: a serial number.
TEST_F(EepromFiles, BytesWrittenAtAnAddressWithinASession)
{
    Attach("ATmega168");
    const Bytes serial{0x12, 0x34, 0x56};
    ASSERT_TRUE(programmer->RunInCommandFrame(
        [&] { return programmer->EnterProgramming(true) && eepromMemory->WriteEepromBytes(0x1FE - 1, serial); }));
    EXPECT_EQ(LastLine(), "EEPROM: 3 bytes written, 0 already right.");
    EXPECT_TRUE(std::equal(serial.begin(), serial.end(), Chip().Eeprom().begin() + 0x1FD));
}

class KeepEeprom : public EepromFiles, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        EepromFiles::SetUp();
        Attach(GetParam());
        programmer->ChipLists = {&BuiltInCatalogue()};  // as --all-chips
    }
};

TEST_P(KeepEeprom, WriteLeavesTheEepromAsItWasAndRemovesTheCopy)
{
    std::iota(Chip().Eeprom().begin(), Chip().Eeprom().end(), std::uint8_t{0x20});
    const Bytes before = Chip().Eeprom();
    const fs::path hex = folder / "program.hex";
    const Bytes program{0x0C, 0x94, 0x34, 0x00};
    std::ofstream(hex) << testing::DataRecord(0, program) << "\n" << testing::EndOfFileRecord() << "\n";
    fs::path copy;
    eepromMemory->OnEepromCopySaved = [&](const fs::path& file) { copy = file; };

    ASSERT_TRUE(eepromMemory->WriteKeepingEepromCommand(hex, folder)) << LastLine();
    EXPECT_EQ(Chip().Eeprom(), before);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), Chip().Flash().begin()));
    EXPECT_FALSE(copy.empty());
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_EQ(target->ViolationCount(), 0u);
}

// Stopped between the erase and the restore, the copy stays and write-eeprom
// brings the EEPROM back from it.
TEST_P(KeepEeprom, InterruptedAfterTheEraseLeavesACopyThatRestoresIt)
{
    std::iota(Chip().Eeprom().begin(), Chip().Eeprom().end(), std::uint8_t{0x20});
    const Bytes before = Chip().Eeprom();
    const fs::path hex = folder / "program.hex";
    std::ofstream(hex) << testing::DataRecord(0, Bytes{0x11, 0x22}) << "\n" << testing::EndOfFileRecord() << "\n";
    fs::path copy;
    eepromMemory->OnEepromCopySaved = [&](const fs::path& file) { copy = file; };
    programmer->StopRequested = [&] { return Chip().Flash()[0] == 0x11; };

    EXPECT_FALSE(eepromMemory->WriteKeepingEepromCommand(hex, folder));
    EXPECT_EQ(LastLine(), "Interrupted.");
    ASSERT_TRUE(fs::exists(copy));
    programmer->StopRequested = nullptr;
    // The same programmer's next Write, without the option, neither restores
    // that copy nor removes it.
    ASSERT_TRUE(programmer->WriteCommand(hex)) << LastLine();
    EXPECT_EQ(Chip().Eeprom(), Bytes(before.size(), 0xFF));
    ASSERT_TRUE(fs::exists(copy));
    ASSERT_TRUE(eepromMemory->WriteEepromCommand(copy)) << LastLine();
    EXPECT_EQ(Chip().Eeprom(), before);
}

// A copy that cannot be saved: nothing is erased.
TEST_P(KeepEeprom, ACopyThatCannotBeSavedLeavesTheChipUnerased)
{
    std::iota(Chip().Eeprom().begin(), Chip().Eeprom().end(), std::uint8_t{0x20});
    const Bytes before = Chip().Eeprom();
    const fs::path hex = folder / "program.hex";
    std::ofstream(hex) << testing::DataRecord(0, Bytes{0x11, 0x22}) << "\n" << testing::EndOfFileRecord() << "\n";

    EXPECT_FALSE(eepromMemory->WriteKeepingEepromCommand(hex, folder / "no-such-folder"));
    EXPECT_TRUE(LastLine().starts_with("Not written: cannot save the EEPROM's copy: ")) << LastLine();
    EXPECT_EQ(Chip().Eeprom(), before);
    EXPECT_EQ(Chip().Flash()[0], 0xFF);
}

// A name with a slash (one catalogue row for two chips) still names one file.
INSTANTIATE_TEST_SUITE_P(Chips, KeepEeprom, ::testing::Values("AT90S2313", "ATmega8", "ATmega168", "ATtiny13/13A"));

// Eight Writes at once in one folder, each stopped after its erase: each
// keeps a copy of its own, which brings its own chip's EEPROM back.
TEST_F(EepromFiles, ConcurrentWritesEachKeepACopyOfTheirOwn)
{
    struct Write {
        testing::SimulatedProgrammer board;
        Bytes before;
        fs::path copy;
    };
    std::array<Write, 8> writes;
    const fs::path hex = folder / "program.hex";
    std::ofstream(hex) << testing::DataRecord(0, Bytes{0x11, 0x22}) << "\n" << testing::EndOfFileRecord() << "\n";
    for (std::size_t i = 0; i < writes.size(); ++i) {
        Write& write = writes[i];
        write.board.Attach("ATmega8");
        sim::SimulatedChip& chip = *write.board.target->chip();
        std::iota(chip.Eeprom().begin(), chip.Eeprom().end(), static_cast<std::uint8_t>(0x20 * i));
        write.before = chip.Eeprom();
        write.board.eepromMemory->OnEepromCopySaved = [&write](const fs::path& file) { write.copy = file; };
        write.board.programmer->StopRequested = [&chip] { return chip.Flash()[0] == 0x11; };
    }
    std::vector<std::thread> threads;
    for (Write& write : writes) {
        threads.emplace_back(
            [&write, &hex, this] { write.board.eepromMemory->WriteKeepingEepromCommand(hex, folder); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::set<fs::path> copies;
    for (Write& write : writes) {
        EXPECT_EQ(write.board.log.lines.back(), "Interrupted.");
        copies.insert(write.copy);
        write.board.programmer->StopRequested = nullptr;
        ASSERT_TRUE(write.board.eepromMemory->WriteEepromCommand(write.copy)) << write.copy;
        EXPECT_EQ(write.board.target->chip()->Eeprom(), write.before) << write.copy;
    }
    EXPECT_EQ(copies.size(), writes.size());
}

// An AT90S at a supply under 5 V writes slower than its 5 V figure: each byte
// is polled until the chip is done, and a value the chip's busy answers could
// mean (its P1 and P2) is waited out with a margin.
class SlowAt90s : public EepromFiles, public ::testing::WithParamInterface<const char*> {};

TEST_P(SlowAt90s, EveryValueStillReadsBack)
{
    Attach(GetParam());
    Chip().InjectedFaults().busyTimePercent = 150;
    const Bytes image{0x80, 0x7F, 0x00, 0xFF, 0x12, 0x80, 0x00, 0x7F, 0xFF, 0x5A};
    std::fill(Chip().Eeprom().begin(), Chip().Eeprom().end(), std::uint8_t{0xC3});

    ASSERT_TRUE(eepromMemory->WriteEepromCommand(ObjcopyImage(image, "values"))) << LastLine();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), Chip().Eeprom().begin()));
    EXPECT_EQ(target->ViolationCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, SlowAt90s, ::testing::Values("AT90S1200", "AT90S2313", "AT90S8535"));

struct FaultCase {
    const char* label;
    const char* chip;
    std::function<void(sim::SimulatedChip&)> arrange;
    std::function<CommandResult(Programmer&, const fs::path& folder)> act;
    std::string lastLine;
};

// A 16-byte image at address 0 and one reaching past a 128-byte EEPROM.
fs::path SmallImage(const fs::path& folder)
{
    std::ofstream(folder / "small.hex") << testing::DataRecord(0, Bytes(16, 0x5A)) << "\n"
                                        << testing::EndOfFileRecord() << "\n";
    return folder / "small.hex";
}

const std::string kLockedForReading =
    "The chip is locked (lock mode 3): its flash and EEPROM cannot be read until a Chip Erase (a Write does one).";
const std::string kLockedForWriting =
    "The chip is locked: a Chip Erase is needed before its EEPROM can be written (a Write does one).";

class EepromFault : public EepromFiles, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EepromFault, EndsTheCommandWithItsLine)
{
    const FaultCase& c = GetParam();
    Attach(c.chip);
    c.arrange(Chip());
    EXPECT_FALSE(c.act(*programmer, folder));
    EXPECT_EQ(LastLine(), c.lastLine);
    EXPECT_EQ(target->ViolationCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EepromFault,
    ::testing::Values(
        FaultCase{"StuckCell", "ATmega8",
                  [](sim::SimulatedChip& chip) { chip.InjectedFaults().stuckEepromBytes = {7}; },
                  [](Programmer& p, const fs::path& f) { return EepromMemory(p).WriteEepromCommand(SmallImage(f)); },
                  "EEPROM Verify Error at 7: wrote 5A, chip FF."},
        FaultCase{"StuckCellInAPage", "ATmega88",
                  [](sim::SimulatedChip& chip) { chip.InjectedFaults().stuckEepromBytes = {13}; },
                  [](Programmer& p, const fs::path& f) { return EepromMemory(p).WriteEepromCommand(SmallImage(f)); },
                  "EEPROM Verify Error at D: wrote 5A, chip FF."},
        FaultCase{"PastTheEnd", "ATtiny26", [](sim::SimulatedChip&) {},
                  [](Programmer& p, const fs::path& f) {
                      std::ofstream(f / "big.hex") << testing::DataRecord(0x78, Bytes(16, 1)) << "\n"
                                                   << testing::EndOfFileRecord() << "\n";
                      return EepromMemory(p).WriteEepromCommand(f / "big.hex");
                  },
                  "Address out of range in line 1: the EEPROM holds 128 bytes."},
        FaultCase{"BytesPastTheEnd", "AT90S1200", [](sim::SimulatedChip&) {},
                  [](Programmer& p, const fs::path&) {
                      const Bytes serial{1, 2};
                      return p.RunInCommandFrame(
                          [&] { return p.EnterProgramming(true) && EepromMemory(p).WriteEepromBytes(63, serial); });
                  },
                  "EEPROM bytes past its end: it holds 64 bytes."},
        FaultCase{"Mode2StopsWrites", "ATmega48", [](sim::SimulatedChip& chip) { chip.LockBits() = 0xFE; },
                  [](Programmer& p, const fs::path& f) { return EepromMemory(p).WriteEepromCommand(SmallImage(f)); },
                  kLockedForWriting},
        FaultCase{"Mode3StopsVerify", "ATmega8", [](sim::SimulatedChip& chip) { chip.LockBits() = 0xFC; },
                  [](Programmer& p, const fs::path& f) { return EepromMemory(p).VerifyEepromCommand(SmallImage(f)); },
                  kLockedForReading},
        FaultCase{"Mode3StopsFlashRead", "AT90S2333", [](sim::SimulatedChip& chip) { chip.LockBits() = 0xFC; },
                  [](Programmer& p, const fs::path& f) { return FlashReader(p).ReadCommand(f / "flash.hex"); },
                  kLockedForReading},
        FaultCase{"HiddenSignatureStopsEepromRead", "AT90S8515",
                  [](sim::SimulatedChip& chip) { chip.LockBits() = 0xFC; },
                  [](Programmer& p, const fs::path& f) { return EepromMemory(p).ReadEepromCommand(f / "e.hex"); },
                  kLockedForReading},
        FaultCase{"HiddenSignatureCannotBeKept", "AT90S4414", [](sim::SimulatedChip& chip) { chip.LockBits() = 0xFC; },
                  [](Programmer& p, const fs::path& f) {
                      return EepromMemory(p).WriteKeepingEepromCommand(SmallImage(f), f);
                  },
                  "Not written: the chip is locked and hides its EEPROM, which cannot be kept."},
        FaultCase{"LockBitsTheChipLacks", "ATmega48", [](sim::SimulatedChip&) {},
                  [](Programmer& p, const fs::path&) { return LockBits(p).LockCommand("F0"); },
                  "LOCK F0 programs BLB01 and BLB02, which this chip does not have (its lock bits are LB1 and LB2); "
                  "nothing written."},
        // Its lock bits cannot be read: an EEPROM that takes no byte is what lock mode 2 gives.
        FaultCase{"Mode2OnAChipWhoseLockCannotBeRead", "AT90S2313",
                  [](sim::SimulatedChip& chip) { chip.LockBits() = 0xFE; },
                  [](Programmer& p, const fs::path& f) { return EepromMemory(p).WriteEepromCommand(SmallImage(f)); },
                  "The chip may be locked: its lock bits cannot be read back serially, and in lock mode 2 or 3 its "
                  "EEPROM takes no write until a Chip Erase (a Write does one)."},
        FaultCase{"Lb2WithoutLb1", "ATmega8", [](sim::SimulatedChip&) {},
                  [](Programmer& p, const fs::path&) { return LockBits(p).LockCommand("FD"); },
                  "LOCK FD programs LB2 without LB1, which is no lock mode; nothing written."},
        FaultCase{"LockBitsOnlyClearByErase", "ATmega168", [](sim::SimulatedChip& chip) { chip.LockBits() = 0xFE; },
                  [](Programmer& p, const fs::path&) { return LockBits(p).LockCommand("FF"); },
                  "LOCK reads back FE, not FF: programmed lock bits are cleared only by a Chip Erase."},
        FaultCase{"LockOnAnUnknownChip", "ATmega328P", [](sim::SimulatedChip&) {},
                  [](Programmer& p, const fs::path&) { return LockBits(p).LockCommand("FC"); },
                  "Unknown chip: its lock bits are not known."}),
    [](const auto& info) { return std::string(info.param.label); });

struct LockCase {
    const char* chip;
    const char* value;
    std::uint8_t held;  // the simulated chip's lock byte afterwards
};

class LockValue : public EepromFiles, public ::testing::WithParamInterface<LockCase> {};

// Each generation's own instruction and layout; mode 3 then stops a verify,
// and a Write erases the chip and programs it again.
TEST_P(LockValue, IsWrittenAndAWriteClearsIt)
{
    Attach(GetParam().chip);
    programmer->ChipLists = {&BuiltInCatalogue()};
    ASSERT_TRUE(lockBits->LockCommand(GetParam().value)) << LastLine();
    EXPECT_EQ(Chip().LockBits(), GetParam().held);
    const fs::path hex = SmallImage(folder);
    EXPECT_FALSE(flashReader->VerifyCommand(hex));
    EXPECT_EQ(LastLine(), kLockedForReading);
    ASSERT_TRUE(programmer->WriteCommand(hex)) << LastLine();
    EXPECT_TRUE(flashReader->VerifyCommand(hex)) << LastLine();
    EXPECT_EQ(target->ViolationCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, LockValue,
                         ::testing::Values(LockCase{"AT90S1200", "FC", 0xFC}, LockCase{"AT90S2323", "fc", 0xFC},
                                           LockCase{"AT90S4433", "FC", 0xFC}, LockCase{"ATtiny26", "FC", 0xFC},
                                           LockCase{"ATmega8", "C0", 0xC0}, LockCase{"ATmega48", "FC", 0xFC},
                                           LockCase{"ATtiny85", "FC", 0xFC},
                                           // Bits 7 and 6 given as 0, as the Arduino IDE gives them.
                                           LockCase{"ATmega88", "3C", 0xFC}, LockCase{"ATmega328P", "0C", 0xCC}),
                         [](const auto& info) { return std::string(info.param.chip); });

struct LockLinesCase {
    const char* label;
    const char* chip;
    const char* value;
    std::vector<std::string> lines;  // from "Write Lock bit." on
};

class LockLines : public EepromFiles, public ::testing::WithParamInterface<LockLinesCase> {};

// The lock mode written, in words, and both boot lock modes where the chip has them.
TEST_P(LockLines, NameTheModesWritten)
{
    Attach(GetParam().chip);
    ASSERT_TRUE(lockBits->LockCommand(GetParam().value)) << LastLine();
    const auto written = std::find(log.lines.begin(), log.lines.end(), "Write Lock bit.");
    EXPECT_EQ(std::vector<std::string>(written, log.lines.end()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Values, LockLines,
    ::testing::Values(
        LockLinesCase{
            "NoLock", "ATmega48", "FF", {"Write Lock bit.", "Lock mode 1: no memory lock.", "LOCK reads back FF."}},
        LockLinesCase{"Mode2ReadBackOnAt90s",
                      "AT90S2323",
                      "FE",
                      {"Write Lock bit.", "Lock mode 2: further programming of flash and EEPROM disabled.",
                       "LOCK reads back FE."}},
        LockLinesCase{"Mode2WithoutFuses",
                      "AT90S2313",
                      "FE",
                      {"Write Lock bit.", "Lock mode 2: further programming of flash and EEPROM disabled.",
                       "This chip's lock bits cannot be read back serially."}},
        // Between them every boot lock mode, and each field with both bits changing.
        LockLinesCase{"Mode2BootModes2And3",
                      "ATmega8",
                      "CA",
                      {"Write Lock bit.",
                       "Lock mode 2: further programming of flash and EEPROM disabled; fuses locked.",
                       "BLB0 mode 2 (application section): SPM may not write it.",
                       "BLB1 mode 3 (boot loader section): SPM may not write it; LPM from the other section may not "
                       "read it.",
                       "LOCK reads back CA."}},
        LockLinesCase{"Mode3BootModes4And1",
                      "ATmega8",
                      "F4",
                      {"Write Lock bit.",
                       "Lock mode 3: programming and reading of flash and EEPROM disabled; fuses locked.",
                       "BLB0 mode 4 (application section): LPM from the other section may not read it.",
                       "BLB1 mode 1 (boot loader section): no restriction.", "LOCK reads back F4."}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace velkor
