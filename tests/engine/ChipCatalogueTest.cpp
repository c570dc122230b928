// The chip catalogue: its rules, the faults a chip file can have, and every
// catalogue chip identified, written, verified, read back and fused on the
// simulated target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "BuiltInCatalogue.h"
#include "HexFile.h"
#include "Programmer.h"
#include "SimulatedProgrammer.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

TEST(ChipCatalogue, EveryRowKeepsTheTableRulesAndNoSignatureIsGivenTwice)
{
    std::set<std::uint16_t> signatures;
    for (const DEVTYPE& row : DeviceTable) {
        if (row.Signature != 0) {
            EXPECT_EQ(DeviceRowFault(row), std::nullopt) << row.Name;
            EXPECT_TRUE(signatures.insert(row.Signature).second) << row.Name;
        }
    }
    ASSERT_GE(BuiltInCatalogue().Chips().size(), 14u);
    for (const ChipRecord& chip : BuiltInCatalogue().Chips()) {
        EXPECT_EQ(DeviceRowFault(chip.row), std::nullopt) << chip.name;
        EXPECT_TRUE(signatures.insert(chip.row.Signature).second) << chip.name;
        EXPECT_EQ(chip.row.FlashSize % chip.row.PageSize, 0) << chip.name;
        EXPECT_LT(chip.row.FlashSize, 65536u) << chip.name;
        EXPECT_TRUE(chip.FuseBitPosition("SPIEN")) << chip.name;
    }
    DEVTYPE withoutPins = DeviceTable[0];
    withoutPins.Pins = 0;
    EXPECT_EQ(DeviceRowFault(withoutPins), "pins: must not be 0");
}

// One chip that keeps every rule; each fault below changes one thing in it.
const std::string kGoodChip = R"({"name": "ATtinyX", "signature": "1E 99 01", "flash": 2048, "page": 32,
 "sram": 128, "eeprom": 128, "eeprom_page": 4, "pins": 8, "no_poll_value": "FF",
 "fuses": {"low": {"bits": ["CKDIV8", "-", "-", "-", "-", "-", "-", "CKSEL0"], "factory": "FE"},
           "high": {"bits": ["RSTDISBL", "DWEN", "SPIEN", "-", "-", "-", "-", "-"], "factory": "DF"}},
 "lock": {"bits": ["-", "-", "-", "-", "-", "-", "LB2", "LB1"], "factory": "FF"},
 "rdy_bsy": true, "busy_us": {"flash_page": 4500, "eeprom": 4000, "erase": 9000, "fuse": 4500},
 "clock_hz": 1000000})";

// As the programs read --chip-file: after the table and the catalogue.
ChipCatalogue ParseUserFile(const std::string& text)
{
    const ChipCatalogue* earlier[] = {&TableChips(), &BuiltInCatalogue()};
    return ChipCatalogue::Parse(text, ChipSource::UserFile, earlier);
}

std::string FileWith(const std::string& chip)
{
    return "{\"chips\": [" + chip + "]}";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A chip of the AT90S kind: flash byte by byte, its one fuse bit and its lock
// bits in byte 2 of their writes, both read in one byte.
const std::string kAt90sChip = R"({"name": "AT90SX", "signature": "1E 99 02", "flash": 2048, "page": 0,
 "sram": 128, "eeprom": 128, "eeprom_page": 0, "pins": 8, "fuse_count": 0, "no_poll_value": "7F",
 "fuses": {"low": {"bits": ["-", "-", "SPIEN", "-", "-", "-", "-", "FSTRT"], "factory": "DE",
                   "write": {"byte_2": ["1", "0", "1", "1", "1", "1", "1", "FSTRT"]}}},
 "lock": {"bits": ["-", "-", "-", "-", "-", "-", "LB2", "LB1"], "factory": "FF",
          "write": {"byte_2": ["1", "1", "1", "1", "1", "LB2", "LB1", "1"]}},
 "reads": [{"name": "Lock/fuse", "instruction": "58 00 00", "bits": ["LB1", "LB2", "SPIEN", "-", "-", "-", "-", "FSTRT"]}],
 "rdy_bsy": false, "eeprom_poll_values": ["80", "7F"], "busy_us": {"flash_page": 4000, "eeprom": 4000, "erase": 18000, "fuse": 9000},
 "clock_hz": 4000000, "sck_min_cycles": {"low": 2, "high": 2, "plus_one_from_12mhz": false},
 "fuses_frozen_from_lock_mode": null, "hides_signature_when_locked": true})";

// The same chip with clock fuses: CKSEL0 programmed picks the 1 MHz RC.
const std::string kClockedChip = Replaced(
    kGoodChip, "\"clock_hz\": 1000000",
    R"("clock_hz": 1000000, "clock": {"select": ["CKSEL0"], "divide_by_8": "CKDIV8", "sources": [1000000, "crystal"]})");

struct FaultCase {
    const char* what;
    std::string file;
    const char* message;  // part of the error
};

class ChipFileFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ChipFileFault, IsRefusedNamingTheLineOrFieldAndTheRule)
{
    try {
        ParseUserFile(GetParam().file);
        FAIL() << "accepted";
    } catch (const ChipFileError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ChipFileFault,
    ::testing::Values(
        FaultCase{"NotJson", "{\"chips\": [\n{\"name\": }\n]}", "line 2: not JSON"},
        FaultCase{"Empty", "", "line 1: not JSON"},
        FaultCase{"NoChipsList", "{\"chip\": []}", "\"chips\" lists the chips"},
        FaultCase{"DeeplyNested", std::string(200000, '[') + std::string(200000, ']'), "\"chips\" lists the chips"},
        FaultCase{"ChipNotObject", FileWith("7"), "chip 1: must be an object"},
        FaultCase{"UnknownField", FileWith(Replaced(kGoodChip, "\"pins\"", "\"pin\"")),
                  "field \"pin\": is not a field"},
        FaultCase{"MissingField", FileWith(Replaced(kGoodChip, "\"clock_hz\": 1000000", "\"note\": \"\"")),
                  "chip 1 (ATtinyX), field \"clock_hz\": is missing"},
        FaultCase{"NameEmpty", FileWith(Replaced(kGoodChip, "\"ATtinyX\"", "\"\"")), "field \"name\""},
        FaultCase{"NameNotText", FileWith(Replaced(kGoodChip, "\"ATtinyX\"", "5")), "must be a text"},
        FaultCase{"SignatureShort", FileWith(Replaced(kGoodChip, "1E 99 01", "1E 9901")), "three bytes"},
        FaultCase{"SignatureZero", FileWith(Replaced(kGoodChip, "1E 99 01", "1E 00 00")), "cannot be 00 00"},
        FaultCase{"SignatureOfTheTable", FileWith(Replaced(kGoodChip, "1E 99 01", "1E 93 07")),
                  "the built-in table has 0x9307"},
        FaultCase{"SignatureTwice",
                  "{\"chips\": [" + kGoodChip + "," + Replaced(kGoodChip, "ATtinyX", "ATtinyY") + "]}",
                  "chip 2 (ATtinyY), field \"signature\": the ATtinyX has it already"},
        FaultCase{"NameTwice", "{\"chips\": [" + kGoodChip + "," + Replaced(kGoodChip, "99 01", "99 02") + "]}",
                  "the ATtinyX has that name already"},
        FaultCase{"NameOfATableChip", FileWith(Replaced(kGoodChip, "\"ATtinyX\"", "\"ATmega8\"")),
                  "field \"name\": the table's ATmega8 has that name already"},
        FaultCase{"OldSpellingOfATableChip", FileWith(Replaced(kGoodChip, "\"ATtinyX\"", "\"atiny26\"")),
                  "field \"name\": the table's ATtiny26 has that name already"},
        FaultCase{"NameOfACatalogueChip", FileWith(Replaced(kGoodChip, "\"ATtinyX\"", "\"ATtiny85\"")),
                  "field \"name\": the catalogue's ATtiny85 has that name already"},
        FaultCase{"OtherNameOfACatalogueChip",
                  FileWith(Replaced(kGoodChip, "\"ATtinyX\",", "\"ATtinyX\", \"also\": [\"ATtiny13A\"],")),
                  "field \"also\": \"ATtiny13A\": the catalogue's ATtiny13/13A has that name already"},
        FaultCase{"NumberOutOfRange", FileWith(Replaced(kGoodChip, "\"sram\": 128", "\"sram\": 1e400")),
                  "chip 1 (ATtinyX), field \"sram\": 1e400 is out of range"},
        FaultCase{"NegativeNumberOutOfRange", FileWith(Replaced(kGoodChip, "\"erase\": 9000", "\"erase\": -1e400")),
                  "chip 1 (ATtinyX), field \"busy_us.erase\": -1e400 is out of range"},
        FaultCase{"FlashNotPowerOfTwo", FileWith(Replaced(kGoodChip, "2048", "3000")), "field \"flash\""},
        FaultCase{"FlashTooBig", FileWith(Replaced(kGoodChip, "2048", "65536")), "from 1 to 32768"},
        FaultCase{"NegativeNumber", FileWith(Replaced(kGoodChip, "\"sram\": 128", "\"sram\": -1")), "field \"sram\""},
        FaultCase{"FractionalNumber", FileWith(Replaced(kGoodChip, "\"pins\": 8", "\"pins\": 8.5")), "field \"pins\""},
        FaultCase{"PageNotDividingFlash", FileWith(Replaced(kGoodChip, "\"page\": 32", "\"page\": 48")),
                  "field \"page\": must be 0 (byte by byte) or a power of two that divides flash"},
        FaultCase{"ByteModeBusyTooLong", FileWith(Replaced(kAt90sChip, "\"flash_page\": 4000", "\"flash_page\": 6000")),
                  "busy_us.flash_page\": must be a whole number from 1 to 5000"},
        FaultCase{"EepromPage", FileWith(Replaced(kGoodChip, "\"eeprom_page\": 4", "\"eeprom_page\": 3")),
                  "field \"eeprom_page\""},
        FaultCase{"PollValue", FileWith(Replaced(kGoodChip, "\"FF\"", "\"0xFF\"")), "two hexadecimal digits"},
        FaultCase{"SevenBits", FileWith(Replaced(kGoodChip, "\"CKDIV8\", ", "")), "fuses.low.bits\": must list 8"},
        FaultCase{"BadBitName", FileWith(Replaced(kGoodChip, "CKDIV8", "ck div")), "is no bit name"},
        FaultCase{"UnknownFuseBit", FileWith(Replaced(kGoodChip, "RSTDISBL", "RSTDIS")),
                  "fuses.high.bits\": \"RSTDIS\" is no fuse bit of the AVR parts"},
        FaultCase{"UnknownLockBit", FileWith(Replaced(kGoodChip, "\"LB2\", \"LB1\"", "\"LB2\", \"LB0\"")),
                  "lock.bits\": \"LB0\" is no lock bit of the AVR parts"},
        FaultCase{"ResetDisableLeftOut", FileWith(Replaced(kGoodChip, "\"RSTDISBL\", \"DWEN\"", "\"-\", \"DWEN\"")),
                  "field \"fuses\": no RSTDISBL"},
        FaultCase{"DebugWireLeftOut", FileWith(Replaced(kGoodChip, "\"RSTDISBL\", \"DWEN\"", "\"RSTDISBL\", \"-\"")),
                  "field \"fuses\": no DWEN"},
        FaultCase{"BitTwice", FileWith(Replaced(kGoodChip, "CKDIV8", "DWEN")), "\"DWEN\" is named twice"},
        FaultCase{"UnusedBitProgrammed", FileWith(Replaced(kGoodChip, "\"FE\"", "\"F0\"")),
                  "fuses.low.factory\": an unused bit always reads 1"},
        FaultCase{"ExtendedWithoutHigh", FileWith(Replaced(kGoodChip, "\"high\"", "\"extended\"")),
                  "extended needs high"},
        FaultCase{"UnknownFuseByte", FileWith(Replaced(kGoodChip, "\"high\"", "\"upper\"")), "fuses.upper"},
        FaultCase{"NoSpien", FileWith(Replaced(Replaced(kGoodChip, "\"SPIEN\"", "\"-\""), "\"DF\"", "\"FF\"")),
                  "no SPIEN"},
        FaultCase{"SpienShippedUnprogrammed", FileWith(Replaced(kGoodChip, "\"DF\"", "\"FF\"")),
                  "SPIEN ships programmed"},
        FaultCase{"RstdisblShippedProgrammed", FileWith(Replaced(kGoodChip, "\"DF\"", "\"5F\"")),
                  "RSTDISBL ships unprogrammed"},
        FaultCase{"LockWithoutLb1", FileWith(Replaced(kGoodChip, "\"LB2\", \"LB1\"", "\"LB1\", \"LB2\"")),
                  "LB2 and LB1 are bits 1 and 0"},
        FaultCase{"BusyTooLong", FileWith(Replaced(kGoodChip, "\"erase\": 9000", "\"erase\": 25000")),
                  "busy_us.erase\": must be a whole number from 1 to 20000"},
        FaultCase{"ClockTooSlow", FileWith(Replaced(kGoodChip, "1000000", "1000")), "field \"clock_hz\""},
        FaultCase{"ClockBitUnknown", FileWith(Replaced(kClockedChip, "[\"CKSEL0\"]", "[\"CKSEL1\"]")),
                  "clock.select\": \"CKSEL1\" is no fuse bit of this chip"},
        FaultCase{"ClockSourcesMissing", FileWith(Replaced(kClockedChip, ", \"crystal\"]", "]")),
                  "clock.sources\": must list 2 sources"},
        FaultCase{"ClockSourceUnknown", FileWith(Replaced(kClockedChip, "\"crystal\"", "\"quartz\"")),
                  "clock.sources\": each is an internal oscillator's frequency"},
        FaultCase{"CrystalBoundTooLow", FileWith(Replaced(kClockedChip, "\"crystal\"]", "{\"crystal\": 1000}]")),
                  "clock.sources\": must be a whole number from 16000 to 20000000"},
        FaultCase{"CrystalOfAnotherKind", FileWith(Replaced(kClockedChip, "\"crystal\"]", "{\"reserved\": 400000}]")),
                  "or {\"crystal\": Hz}"},
        FaultCase{"ClockDividedBelowTheSlowest", FileWith(Replaced(kClockedChip, "[1000000", "[64000")),
                  "from 128000 to 20000000"},
        FaultCase{"FactoryClockDisagrees", FileWith(Replaced(kClockedChip, "[1000000", "[8000000")),
                  "clock_hz\": the factory fuses select the internal 8 MHz oscillator (8 MHz), not 1000000 Hz"},
        FaultCase{"NotAFlag", FileWith(Replaced(kGoodChip, "true", "\"yes\"")), "must be true or false"},
        FaultCase{"FuseWriteOfAnotherKind",
                  FileWith(Replaced(kAt90sChip, "\"1\", \"0\", \"1\", \"1\"", "\"1\", \"1\", \"1\", \"1\"")),
                  "fuses.low.write.byte_2\": byte 2 of a fuse write begins 101"},
        FaultCase{"WriteOfABitTheByteLacks", FileWith(Replaced(kAt90sChip, "\"1\", \"FSTRT\"]", "\"1\", \"LB1\"]")),
                  "\"LB1\" is no bit of this byte"},
        FaultCase{"ReadOfABitTheChipLacks", FileWith(Replaced(kAt90sChip, "[\"LB1\", \"LB2\"", "[\"LB3\", \"LB2\"")),
                  "reads.bits\": \"LB3\" is no fuse or lock bit of this chip"},
        FaultCase{"TwoReadsAlike",
                  FileWith(Replaced(kAt90sChip, "\"reads\": [",
                                    "\"reads\": [{\"name\": \"Again\", \"instruction\": \"58 00 00\", \"bits\": "
                                    "[\"-\", \"-\", \"-\", \"-\", \"-\", \"-\", \"-\", \"-\"]}, ")),
                  "cannot tell the read \"Lock/fuse\" from an earlier one"},
        FaultCase{"FuseCountAboveTheFuseBytes",
                  FileWith(Replaced(kAt90sChip, "\"fuse_count\": 0", "\"fuse_count\": 2")),
                  "field \"fuse_count\": must be a whole number from 0 to 1"},
        FaultCase{"NoLockMode",
                  FileWith(Replaced(kAt90sChip, "\"fuses_frozen_from_lock_mode\": null",
                                    "\"fuses_frozen_from_lock_mode\": 1")),
                  "fuses_frozen_from_lock_mode\": must be a whole number from 2 to 3"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ChipFile, AGoodFileGivesItsChipsInOrderAndAFileThatIsMissingIsAFault)
{
    const ChipCatalogue file = ParseUserFile(FileWith(kGoodChip));
    ASSERT_EQ(file.Chips().size(), 1u);
    const ChipRecord& chip = file.Chips().front();
    EXPECT_STREQ(chip.row.Name, "ATtinyX");
    EXPECT_EQ(chip.row.Signature, 0x9901);
    EXPECT_EQ(chip.row.FuseCount, 2);
    EXPECT_EQ(chip.FuseBitPosition("DWEN"), (std::pair<unsigned, unsigned>{1, 6}));
    EXPECT_EQ(chip.WritableBits(1), 0xC0);  // SPIEN and the unused bits stay
    EXPECT_EQ(file.Find(0x9901), &chip);
    EXPECT_THROW(ChipCatalogue::Load("no/such/chips.json", ChipSource::UserFile), ChipFileError);
}

TEST(ChipFile, AnAt90sKindOfChipGivesItsOwnInstructions)
{
    const ChipCatalogue file = ParseUserFile(FileWith(kAt90sChip));
    const ChipRecord& chip = file.Chips().front();
    EXPECT_EQ(chip.row.PageSize, 0);
    EXPECT_EQ(chip.row.FuseCount, 0);
    ASSERT_EQ(chip.layout.size(), 1u);
    EXPECT_STREQ(chip.layout[0].name, "Lock/fuse");
    EXPECT_EQ(chip.lock.WriteInstruction(0xFE), (Instruction{0xAC, 0xFD, 0x00, 0x00}));      // LB1 programmed
    EXPECT_EQ(chip.fuses[0].WriteInstruction(0xFE), (Instruction{0xAC, 0xBE, 0x00, 0x00}));  // FSTRT programmed
    EXPECT_EQ(chip.fuses[0].WritableBits(), 0x01);
    EXPECT_EQ(chip.Eeprom().eepromPollFirst, 0x80);
    EXPECT_FALSE(chip.FusesFrozenIn(3));
    EXPECT_TRUE(chip.hidesSignatureWhenLocked);
}

// ---- every catalogue chip on the simulated target ----

std::string Printed(const char* pattern, unsigned value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// Without a recording port: a whole flash is millions of port accesses.
class CatalogueChipOnTarget : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        programmer->ChipLists = {&BuiltInCatalogue()};
        folder = fs::temp_directory_path() / ("velkor-catalogue-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    const ChipRecord& Chip() const { return *BuiltInCatalogue().FindByName(GetParam()); }

    std::unique_ptr<sim::SimulatedTarget> target = std::make_unique<sim::SimulatedTarget>(GetParam());
    MemoryLog log;
    std::unique_ptr<Programmer> programmer = std::make_unique<Programmer>(target->port(), target->clock(), log);
    fs::path folder;
};

TEST_P(CatalogueChipOnTarget, IsIdentifiedWrittenVerifiedAndReadBackWholeWithItsOwnPages)
{
    const DEVTYPE& row = Chip().row;
    std::vector<std::uint8_t> image(row.FlashSize);
    std::mt19937 random(row.Signature);
    for (std::uint8_t& byte : image) {
        byte = static_cast<std::uint8_t>(random());
    }
    std::ofstream(folder / "image.hex") << IntelHexText(image);

    ASSERT_TRUE(programmer->WriteCommand(folder / "image.hex")) << log.lines.back();
    const std::vector<std::string> identification(log.lines.begin(), log.lines.begin() + 7);
    EXPECT_EQ(identification, (std::vector<std::string>{"ATMEL", " \u3010" + Chip().name + "\u3011",
                                                        "      " + std::to_string(row.Pins) + "PIN",
                                                        Printed("      Flash  = %5ubyte", row.FlashSize),
                                                        Printed("      SRAM   = %5ubyte", row.SramSize),
                                                        Printed("      EEPROM = %5ubyte", row.EepromSize),
                                                        Printed("      FUSE   = %5ubyte", row.FuseCount)}));
    EXPECT_EQ(target->chip()->Flash(), image);
    // One page address line per page.
    EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), Printed("%X", row.FlashSize - row.PageSize)), 1);

    ASSERT_TRUE(FlashReader(*programmer).VerifyCommand(folder / "image.hex")) << log.lines.back();
    using Progress = std::pair<std::uint32_t, std::uint32_t>;
    Progress lastProgress;
    programmer->OnProgress = [&lastProgress](std::uint32_t done, std::uint32_t total) { lastProgress = {done, total}; };
    ASSERT_TRUE(FlashReader(*programmer).ReadCommand(folder / "read.hex")) << log.lines.back();
    EXPECT_EQ(lastProgress, Progress(row.FlashSize, row.FlashSize));
    std::stringstream read;
    read << std::ifstream(folder / "read.hex").rdbuf();
    EXPECT_EQ(read.str(), IntelHexText(image));
    EXPECT_EQ(target->ViolationCount(), 0u) << target->chip()->TimingViolations().front();

    programmer->ChipLists.clear();
    EXPECT_TRUE(programmer->ReadSignatureCommand());
    EXPECT_EQ(log.lines, (std::vector<std::string>{"ATMEL", "Unknown CPU " + std::to_string(row.Signature)}));
}

std::vector<std::string> CatalogueNames()
{
    std::vector<std::string> names;
    for (const ChipRecord& chip : BuiltInCatalogue().Chips()) {
        names.push_back(chip.name);
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueChipOnTarget, ::testing::ValuesIn(CatalogueNames()), [](const auto& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
});

// ---- fuses at each chip's own positions ----

struct FuseCase {
    const char* chip;
    const char* high;
    const char* low;
    std::optional<const char*> extended;
    std::string refusal;  // the one line after identification; empty: written
};

class CatalogueFuses : public ::testing::TestWithParam<FuseCase>, protected testing::SimulatedProgrammer {};

TEST_P(CatalogueFuses, AreWrittenOrRefusedAtTheChipsOwnBitPositions)
{
    const FuseCase& fuse = GetParam();
    Attach(fuse.chip);
    programmer->ChipLists = {&BuiltInCatalogue()};
    sim::SimulatedChip& chip = *target->chip();
    const std::array<std::uint8_t, 3> before{chip.FuseLow(), chip.FuseHigh(), chip.FuseExtended()};

    const bool written =
        programmer
            ->WriteFuses(fuse.high, fuse.low,
                         fuse.extended ? std::optional<std::string_view>(*fuse.extended) : std::nullopt)
            .succeeded;
    const std::vector<std::string> after(log.lines.begin() + 7, log.lines.end());
    if (!fuse.refusal.empty()) {
        EXPECT_FALSE(written);
        EXPECT_EQ(after, std::vector<std::string>{fuse.refusal});
        EXPECT_EQ((std::array<std::uint8_t, 3>{chip.FuseLow(), chip.FuseHigh(), chip.FuseExtended()}), before);
        return;
    }
    EXPECT_TRUE(written) << programmer->FuseProblem;
    EXPECT_EQ(chip.FuseHigh(), *ParseFuseField(fuse.high));
    EXPECT_EQ(chip.FuseLow(), *ParseFuseField(fuse.low));
    EXPECT_EQ(chip.FuseExtended(), fuse.extended ? *ParseFuseField(*fuse.extended) : before[2]);
    EXPECT_EQ(after.back(), "Complete");
}

INSTANTIATE_TEST_SUITE_P(
    Positions, CatalogueFuses,
    ::testing::Values(
        FuseCase{"ATtiny13", "FE", "6A", {}, "FUSE (High) FE would disable serial programming (RSTDISBL)."},
        FuseCase{"ATtiny13", "F7", "6A", {}, "FUSE (High) F7 would disable serial programming (DWEN)."},
        FuseCase{"ATtiny13", "EF", "6B", {}, ""},  // SELFPRGEN, then EESAVE bit 6 of low
        FuseCase{"ATtiny2313", "5F", "64", {}, "FUSE (High) 5F would disable serial programming (DWEN)."},
        FuseCase{"ATtiny2313", "DE", "64", {}, "FUSE (High) DE would disable serial programming (RSTDISBL)."},
        FuseCase{"ATtiny2313", "9F", "E4", "FE", ""},  // EESAVE in bit 6 is no hazard
        FuseCase{"ATtiny85", "5F", "62", {}, "FUSE (High) 5F would disable serial programming (RSTDISBL)."},
        FuseCase{"ATmega328P", "9F", "62", {}, "FUSE (High) 9F would disable serial programming (DWEN)."},
        FuseCase{"ATmega328P", "DE", "FF", "FD", ""},
        FuseCase{"ATmega32", "19", "E1", {}, ""},  // OCDEN in bit 7: no RSTDISBL there
        FuseCase{"ATmega32", "99", "E1", "FF",
                 "FUSE (Extended): this chip has no extended fuse byte; nothing written."}),
    [](const auto& info) { return std::string(info.param.chip) + "_" + info.param.high + info.param.low; });

}  // namespace
}  // namespace velkor
