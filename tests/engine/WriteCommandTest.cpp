// The Write command on the simulated target: what the chip's flash holds
// afterwards, compared with GNU objcopy's reading of the same file, and what
// the log says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

#include "HexText.h"
#include "Programmer.h"
#include "SimulatedProgrammer.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using testing::AddressRecord;
using testing::DataRecord;
using testing::EndOfFileRecord;
using testing::Event;
using testing::JoinLines;

const std::vector<std::uint8_t> kSample{0xAB, 0x0C, 0x7F};

std::vector<std::uint8_t> ReadBinary(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first byte address where two images differ, for a readable failure.
std::string FirstDifference(const std::vector<std::uint8_t>& actual, const std::vector<std::uint8_t>& expected)
{
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (a == actual.end() && e == expected.end()) {
        return "none";
    }
    return "at " + std::to_string(a - actual.begin());
}

std::vector<std::string> IdentificationLines(const char* name, const char* pins, const char* flash, const char* sram,
                                             const char* eeprom, const char* fuses)
{
    return {"ATMEL",
            std::string(" \u3010") + name + "\u3011",
            std::string("      ") + pins + "PIN",
            std::string("      Flash  = ") + flash + "byte",
            std::string("      SRAM   = ") + sram + "byte",
            std::string("      EEPROM = ") + eeprom + "byte",
            std::string("      FUSE   = ") + fuses + "byte",
            "",
            "Chip Erase...",
            "done",
            "",
            "--- Write AVR ---"};
}

class WriteCommandTest : public ::testing::Test, protected testing::SimulatedProgrammer {
protected:
    void SetUp() override
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "." + test->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder = fs::temp_directory_path() / ("velkor-write-" + name + "-" + std::to_string(std::random_device{}()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }

    void TearDown() override
    {
        if (target && target->chip() != nullptr) {
            EXPECT_EQ(target->chip()->TimingViolations(), std::vector<std::string>{});
        }
        fs::remove_all(folder);
    }

    fs::path HexFile(std::string_view content)
    {
        const fs::path file = folder / ("file" + std::to_string(++files) + ".hex");
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    std::vector<std::uint8_t>& Flash() { return target->chip()->Flash(); }

    // The lines after the identification and erase, from "--- Write AVR ---" on.
    std::vector<std::string> WriteLines() const
    {
        const auto heading = std::find(log.lines.begin(), log.lines.end(), "--- Write AVR ---");
        return {heading == log.lines.end() ? heading : heading + 1, log.lines.end()};
    }

    std::vector<std::string> PageLines(unsigned flashSize, unsigned pageSize) const
    {
        std::vector<std::string> lines;
        for (unsigned start = 0; start < flashSize; start += pageSize) {
            char text[16];
            std::snprintf(text, sizeof text, "%X", start);
            lines.emplace_back(text);
        }
        return lines;
    }

    // What objcopy makes of the file, placed in a flash of flashSize bytes that
    // is erased elsewhere. objcopy's binary starts at the file's lowest address.
    std::vector<std::uint8_t> ObjcopyImage(const fs::path& hexFile, std::size_t flashSize,
                                           std::uint32_t lowestAddress) const
    {
        const fs::path binary = folder / "objcopy.bin";
        const std::string command =
            "objcopy -I ihex -O binary --gap-fill 0xFF '" + hexFile.string() + "' '" + binary.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const std::vector<std::uint8_t> bytes = ReadBinary(binary);
        std::vector<std::uint8_t> image(flashSize, 0xFF);
        EXPECT_LE(lowestAddress + bytes.size(), flashSize) << "the file does not fit the chip";
        const std::size_t start = std::min<std::size_t>(lowestAddress, flashSize);
        std::copy_n(bytes.begin(), std::min(bytes.size(), flashSize - start), image.begin() + start);
        return image;
    }

    fs::path folder;
    int files = 0;
};

// ---- The flash afterwards equals objcopy's reading of the file -------------

struct RoundTrip {
    const char* name;
    const char* chip;
    std::vector<unsigned> lengths;  // data bytes of each record, in file order
    const char* lineEnd;
    bool lowercase;
};

void PrintTo(const RoundTrip& trip, std::ostream* os)
{
    *os << trip.name;
}

class WriteRoundTrip : public WriteCommandTest, public ::testing::WithParamInterface<RoundTrip> {};

std::vector<unsigned> Lengths(unsigned first, unsigned last)
{
    std::vector<unsigned> lengths(last - first + 1);
    std::iota(lengths.begin(), lengths.end(), first);
    return lengths;
}

std::vector<unsigned> operator+(std::vector<unsigned> a, const std::vector<unsigned>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_P(WriteRoundTrip, FlashHoldsExactlyWhatObjcopyReadsFromTheFile)
{
    const RoundTrip& trip = GetParam();
    Attach(trip.chip);
    const std::size_t flashSize = Flash().size();

    // Random data (0xFF and the chips' poll values included) in records of
    // the given lengths, spread over the flash with erased gaps between.
    const unsigned total = std::accumulate(trip.lengths.begin(), trip.lengths.end(), 0u);
    ASSERT_LE(total, flashSize);
    const std::size_t gap = (flashSize - total) / (trip.lengths.size() + 1);
    std::mt19937 random(total);
    std::vector<std::string> lines;
    std::size_t address = gap;
    for (const unsigned length : trip.lengths) {
        std::vector<std::uint8_t> data(length);
        std::generate(data.begin(), data.end(), [&random] { return static_cast<std::uint8_t>(random()); });
        lines.push_back(DataRecord(static_cast<std::uint16_t>(address), data));
        address += length + gap;
    }
    lines.push_back(EndOfFileRecord());
    std::string text = JoinLines(lines, trip.lineEnd);
    const fs::path file = HexFile(trip.lowercase ? testing::Lowercase(text) : text);

    EXPECT_TRUE(programmer->WriteCommand(file));

    EXPECT_EQ(log.lines.back(), "---done.---");
    const std::vector<std::uint8_t> expected = ObjcopyImage(file, flashSize, static_cast<std::uint32_t>(gap));
    EXPECT_TRUE(Flash() == expected) << "first difference " << FirstDifference(Flash(), expected);
    EXPECT_EQ(target->port().DataRegister(), 0x84);
}

INSTANTIATE_TEST_SUITE_P(
    Write, WriteRoundTrip,
    ::testing::Values(
        // Records of 1 to 255 bytes fill a 16 KiB flash in two files.
        RoundTrip{"PagesShortRecordsCrLf", "ATmega168", Lengths(1, 180), "\r\n", false},
        RoundTrip{"PagesLongRecordsLfLowercase", "ATmega168", Lengths(181, 255), "\n", true},
        RoundTrip{"PagesCrAlone", "ATmega8", Lengths(14, 18), "\r", false},
        RoundTrip{"PagesSmallPagesLowercase", "ATtiny26", Lengths(30, 34), "\r\n", true},
        RoundTrip{"BytesPollValue7FCrAlone", "AT90S8515", Lengths(1, 24) + Lengths(123, 125) + Lengths(253, 255), "\r",
                  true},
        RoundTrip{"BytesPollValueFFLf", "AT90S2313", Lengths(15, 17) + Lengths(200, 200), "\n", false},
        RoundTrip{"BytesUnpolledChipCrLf", "AT90S1200", Lengths(1, 8) + Lengths(255, 255), "\r\n", true}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

TEST_F(WriteCommandTest, ExtendedAddressRecordsPlaceDataWhereObjcopyDoes)
{
    for (const char* chip : {"ATmega8", "AT90S4414"}) {
        Attach(chip);
        const fs::path file = HexFile(JoinLines(
            {AddressRecord(0x04, 0x0000), DataRecord(0x0100, kSample), AddressRecord(0x02, 0x0080),
             DataRecord(0x0010, kSample), AddressRecord(0x02, 0x0000), DataRecord(0x0200, kSample), EndOfFileRecord()},
            "\r\n"));
        EXPECT_TRUE(programmer->WriteCommand(file)) << chip;
        EXPECT_TRUE(Flash() == ObjcopyImage(file, Flash().size(), 0x0100)) << chip;
        EXPECT_EQ(Flash()[0x0810], 0xAB) << chip;
        log.Clear();
    }
}

// At the default pace, on the chip's factory clock and on one running 20 %
// slow.
class ExampleProgram : public WriteCommandTest, public ::testing::WithParamInterface<double> {};

TEST_P(ExampleProgram, GoesOntoEveryListedChipWithinItsTiming)
{
    const fs::path example = fs::path(VELKOR_SOURCE_DIR) / "examples" / "blink.hex";
    for (const sim::ChipModel& model : sim::AllChipModels()) {
        Attach(model.name, static_cast<std::uint32_t>(model.clockHz * GetParam()));
        const std::uint16_t signature = static_cast<std::uint16_t>(model.signature[1] << 8 | model.signature[2]);
        const bool listed = std::any_of(DeviceTable.begin(), DeviceTable.end() - 1,
                                        [signature](const DEVTYPE& device) { return device.Signature == signature; });
        std::fill(Flash().begin(), Flash().end(), 0x00);  // a program already there

        const bool written = programmer->WriteCommand(example).succeeded;

        EXPECT_EQ(target->chip()->TimingViolations(), std::vector<std::string>{}) << model.name;
        EXPECT_EQ(target->port().DataRegister(), 0x84) << model.name;
        if (listed) {
            EXPECT_TRUE(written) << model.name;
            EXPECT_TRUE(Flash() == ObjcopyImage(example, Flash().size(), 0)) << model.name;
        } else {
            // Byte mode cannot write a chip with pages: an unlisted chip is
            // identified and left as it was.
            EXPECT_FALSE(written) << model.name;
            EXPECT_EQ(log.lines.back(), "Not written: the chip is not in the device table.") << model.name;
            EXPECT_TRUE(std::all_of(Flash().begin(), Flash().end(), [](std::uint8_t b) { return b == 0x00; }))
                << model.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ChipClock, ExampleProgram, ::testing::Values(1.0, 0.8));

// A chip whose fuses select a slow clock sees none of the default pace's
// edges; paced for its clock it takes the program.
TEST_F(WriteCommandTest, AChipOn128kHzNeedsThePaceForItsClock)
{
    const fs::path example = fs::path(VELKOR_SOURCE_DIR) / "examples" / "blink.hex";
    Attach("ATmega8", 128'000);
    EXPECT_FALSE(programmer->WriteCommand(example));
    EXPECT_EQ(log.lines, std::vector<std::string>{"Program enable fault."});
    EXPECT_GT(target->ViolationCount(), 0u);

    Attach("ATmega8", 128'000);
    programmer->SckPhase = SckPhaseFor(128'000);
    EXPECT_TRUE(programmer->WriteCommand(example));
    EXPECT_TRUE(Flash() == ObjcopyImage(example, Flash().size(), 0));
}

// ---- The log ---------------------------------------------------------------

TEST_F(WriteCommandTest, PageModeLogsEchoesThenEveryPageAddressThenDone)
{
    Attach("ATmega8");
    const std::vector<std::uint8_t> fifteen{0x0C, 0x94, 0x2A, 0x00, 0x01, 0x02, 0x03, 0x04,
                                            0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0xF0};
    const fs::path file = HexFile(JoinLines({DataRecord(0x0000, fifteen), DataRecord(0x0010, kSample),
                                             DataRecord(0x1FC0, {kSample.data(), 1}), EndOfFileRecord()},
                                            "\r\n"));

    std::vector<std::uint32_t> progress;
    programmer->OnProgress = [&](std::uint32_t done, std::uint32_t total) {
        EXPECT_EQ(total, 8192u);
        progress.push_back(done);
    };
    EXPECT_TRUE(programmer->WriteCommand(file));
    EXPECT_EQ(progress.size(), 8192u / 64);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 8192u);

    std::vector<std::string> expected = IdentificationLines("ATmega8", "28", " 8192", " 1024", "  512", "    2");
    expected.insert(expected.end(),
                    {"   0: 0C 94 2A 00 01 02 03 04 05 06 07 08 09 0A F0 ", "  10: AB 0C 7F ", "1FC0: AB "});
    const std::vector<std::string> pages = PageLines(8192, 64);
    expected.insert(expected.end(), pages.begin(), pages.end());
    expected.push_back("---done.---");
    EXPECT_EQ(log.lines, expected);
}

TEST_F(WriteCommandTest, ByteModeLogsOneEchoPerDataRecordThenDone)
{
    Attach("AT90S2313");
    const fs::path file =
        HexFile(JoinLines({DataRecord(0x0010, kSample), DataRecord(0x0000, {}), AddressRecord(0x04, 0x0000),
                           DataRecord(0x07FE, {kSample.data(), 2}), EndOfFileRecord()},
                          "\n"));

    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
    programmer->OnProgress = [&](std::uint32_t done, std::uint32_t total) { progress.emplace_back(done, total); };
    EXPECT_TRUE(programmer->WriteCommand(file));
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expectedProgress{{0x13, 2048}, {0x800, 2048}};
    EXPECT_EQ(progress, expectedProgress);

    std::vector<std::string> expected = IdentificationLines("AT90S2313", "20", " 2048", "  128", "  128", "    0");
    expected.insert(expected.end(), {"  10: AB 0C 7F ", " 7FE: AB 0C ", "---done.---"});
    EXPECT_EQ(log.lines, expected);
}

TEST_F(WriteCommandTest, AnEmptyFileProgramsNothingAndStillWalksThePages)
{
    Attach("ATtiny26");
    EXPECT_TRUE(programmer->WriteCommand(HexFile("")));

    std::vector<std::string> expected = PageLines(2048, 32);
    expected.push_back("---done.---");
    EXPECT_EQ(WriteLines(), expected);
    EXPECT_TRUE(std::all_of(Flash().begin(), Flash().end(), [](std::uint8_t b) { return b == 0xFF; }));
}

// ---- What stops a Write ----------------------------------------------------

TEST_F(WriteCommandTest, ACellThatNeverTakesItsValueEndsWithVerifyErrorAndTheRecordUnechoed)
{
    Attach("AT90S8515");
    target->chip()->InjectedFaults().stuckFlashBytes = {0x0012};
    const std::vector<std::uint8_t> first(16, 0x5A);
    const std::vector<std::uint8_t> second{0x11, 0x22, 0x33, 0x44};
    const fs::path file =
        HexFile(JoinLines({DataRecord(0x0000, first), DataRecord(0x0010, second), EndOfFileRecord()}, "\r\n"));

    EXPECT_FALSE(programmer->WriteCommand(file));

    EXPECT_EQ(WriteLines(),
              (std::vector<std::string>{"   0: 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A ", "Verify Error."}));
    EXPECT_EQ(target->port().DataRegister(), 0x84);
    EXPECT_EQ(trace.events.back().kind, Event::Kind::Close);
    EXPECT_EQ(Flash()[0x000F], 0x5A);
    EXPECT_EQ(Flash()[0x0011], 0x22);
    EXPECT_EQ(Flash()[0x0013], 0xFF) << "nothing is written after the failing byte";
}

struct Stop {
    const char* name;
    std::string badLine;  // line 3 of the second file, after two good records
    std::string message;
    bool needsTheChip;  // only the identified chip shows the fault
};

void PrintTo(const Stop& stop, std::ostream* os)
{
    *os << stop.name;
}

class WriteStops : public WriteCommandTest, public ::testing::WithParamInterface<std::tuple<const char*, Stop>> {};

TEST_P(WriteStops, BeforeTheEraseSoTheChipKeepsTheProgramItHeld)
{
    const auto& [chip, stop] = GetParam();
    Attach(chip);
    ASSERT_TRUE(programmer->WriteCommand(
        HexFile(JoinLines({DataRecord(0x0000, kSample), DataRecord(0x0100, kSample), EndOfFileRecord()}, "\n"))));
    const std::vector<std::uint8_t> program = Flash();
    const std::vector<std::uint8_t> other{0x12, 0x34};
    const fs::path file = HexFile(JoinLines({DataRecord(0x0000, other), DataRecord(0x0180, other), stop.badLine,
                                             DataRecord(0x0200, other), EndOfFileRecord()},
                                            "\r\n"));
    trace.Clear();

    EXPECT_FALSE(programmer->WriteCommand(file));

    if (stop.needsTheChip) {
        ASSERT_EQ(log.lines.size(), 8u);
        EXPECT_EQ(log.lines[0], "ATMEL");
    } else {
        EXPECT_EQ(trace.Text(), "open 378 port 84 close");
    }
    EXPECT_EQ(log.lines.back(), stop.message);
    EXPECT_EQ(target->port().DataRegister(), 0x84);
    EXPECT_EQ(trace.events.back().kind, Event::Kind::Close);
    EXPECT_TRUE(Flash() == program) << "first difference " << FirstDifference(Flash(), program);
}

const std::string kGood = DataRecord(0x0010, kSample);

INSTANTIATE_TEST_SUITE_P(
    Write, WriteStops,
    ::testing::Combine(::testing::Values("ATmega8", "AT90S8515", "AT90S1200"),
                       ::testing::Values(Stop{"Checksum", kGood.substr(0, 15) + "00", "Checksum error in line 3.",
                                              false},
                                         Stop{"HexDigit", ":03001000AB0Z7FB7", "Bad hex digit in line 3.", false},
                                         Stop{"TooShort", ":04001000AB0C7FB6", "Record too short in line 3.", false},
                                         Stop{"EmptyLine", "", "Not Intel-Hex-File.(13)", false},
                                         Stop{"NotARecord", "X" + kGood, "Not Intel-Hex-File.(88)", false},
                                         Stop{"BeyondTheFlash", DataRecord(0x1FFE, std::vector<std::uint8_t>(4, 0x00)),
                                              "Address out of range in line 3.", true},
                                         Stop{"BeyondSixteenBits", AddressRecord(0x04, 0x0001),
                                              "Address out of range in line 4.", true})),
    [](const auto& info) { return std::string(std::get<0>(info.param)) + std::get<1>(info.param).name; });

// A cell that never takes its value, inside or outside the image, and an
// AT90S1200 byte given twice with one value (written twice, read back alike).
struct ReadBack {
    const char* name;
    const char* chip;
    std::vector<std::string> records;
    std::optional<std::uint32_t> stuckCell;
    const char* lineBeforeVerifyError;  // nullptr: the Write succeeds
};

void PrintTo(const ReadBack& r, std::ostream* os)
{
    *os << r.name;
}

class WriteReadsBack : public WriteCommandTest, public ::testing::WithParamInterface<ReadBack> {};

TEST_P(WriteReadsBack, EveryByteItWroteOrSaysVerifyErrorAndStops)
{
    const ReadBack& r = GetParam();
    Attach(r.chip);
    if (r.stuckCell) {
        target->chip()->InjectedFaults().stuckFlashBytes = {*r.stuckCell};
    }
    std::vector<std::string> lines = r.records;
    lines.push_back(EndOfFileRecord());

    const bool written = programmer->WriteCommand(HexFile(JoinLines(lines, "\r\n"))).succeeded;

    EXPECT_EQ(target->port().DataRegister(), 0x84);
    EXPECT_EQ(trace.events.back().kind, Event::Kind::Close);
    if (r.lineBeforeVerifyError == nullptr) {
        EXPECT_TRUE(written);
        EXPECT_EQ(log.lines.back(), "---done.---");
        return;
    }
    EXPECT_FALSE(written);
    ASSERT_GE(log.lines.size(), 2u);
    EXPECT_EQ(log.lines.back(), "Verify Error.");
    EXPECT_EQ(log.lines[log.lines.size() - 2], r.lineBeforeVerifyError);
}

const std::vector<std::uint8_t> kSixteen(16, 0x5A);
const std::vector<std::string> kTwoRecords{DataRecord(0x0000, kSixteen), DataRecord(0x0100, kSample)};
const char* const kFirstEcho = "   0: 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A ";

INSTANTIATE_TEST_SUITE_P(
    Write, WriteReadsBack,
    ::testing::Values(ReadBack{"PagesStuckInside", "ATmega8", kTwoRecords, 0x0101, "C0"},
                      ReadBack{"PagesStuckOutside", "ATmega8", kTwoRecords, 0x0400, nullptr},
                      ReadBack{"PolledStuckOutside", "AT90S8515", kTwoRecords, 0x0400, nullptr},
                      ReadBack{"NoPollValueStuck",
                               "AT90S8515",
                               {DataRecord(0x0100, {kSample.data() + 2, 1})},
                               0x0100,
                               "--- Write AVR ---"},
                      ReadBack{"UnpolledChipStuckInside", "AT90S1200", kTwoRecords, 0x0101, kFirstEcho},
                      ReadBack{"UnpolledChipStuckOutside", "AT90S1200", kTwoRecords, 0x0300, nullptr},
                      ReadBack{
                          "UnpolledChipOneByteTwiceAlike",
                          "AT90S1200",
                          {DataRecord(0x0010, {kSample.data() + 1, 1}), DataRecord(0x0010, {kSample.data() + 1, 1})},
                          std::nullopt,
                          nullptr}),
    [](const ::testing::TestParamInfo<ReadBack>& info) { return info.param.name; });

TEST_F(WriteCommandTest, AnUnlistedChipMayTakeNoDataAt65536OrAbove)
{
    Attach("ATmega32");
    EXPECT_FALSE(programmer->WriteCommand(
        HexFile(JoinLines({AddressRecord(0x02, 0x1000), DataRecord(0x0000, kSample), EndOfFileRecord()}, "\n"))));
    EXPECT_EQ(log.lines.back(), "Address out of range in line 2.");
}

TEST_F(WriteCommandTest, VerifyComparesTheValueAFileGivesLastAndNeverWrites)
{
    Attach("ATmega8");
    ASSERT_TRUE(programmer->WriteCommand(HexFile(JoinLines({DataRecord(0x0010, kSample), EndOfFileRecord()}, "\n"))));
    const std::vector<std::uint8_t> program = Flash();
    const std::vector<std::uint8_t> zero{0x00};
    const std::vector<std::uint8_t> other{0x0D};

    EXPECT_TRUE(flashReader->VerifyCommand(
        HexFile(JoinLines({DataRecord(0x0010, zero), DataRecord(0x0010, kSample), EndOfFileRecord()}, "\n"))));
    EXPECT_EQ(log.lines.back(), "Verify OK: 3 bytes compared.");
    EXPECT_FALSE(flashReader->VerifyCommand(HexFile(JoinLines({DataRecord(0x0011, other), EndOfFileRecord()}, "\n"))));
    EXPECT_EQ(log.lines.back(), "Verify Error at 11: file 0D, chip 0C.");
    EXPECT_TRUE(Flash() == program);
    EXPECT_EQ(target->port().DataRegister(), 0x84);
}

// ---- The file --------------------------------------------------------------

TEST_F(WriteCommandTest, AFileThatCannotBeUsedIsItsOneLineAndTouchesNoChip)
{
    Attach("ATmega8");
    // A pipe or a device is never read (a FIFO could block); /proc/self/mem
    // fails to read at offset 0, where nothing is mapped.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    ASSERT_EQ(write(pipeEnds[1], ":00000001FF\n", 12), 12);
    close(pipeEnds[1]);
    const fs::path pipePath = "/proc/self/fd/" + std::to_string(pipeEnds[0]);
    for (const auto& [path, line] : std::vector<std::pair<fs::path, std::string>>{
             {folder / "missing.hex", "File not found."},
             {folder, "File not found."},
             {pipePath, "Not a regular file: a HEX file cannot be a pipe or a device."},
             {"/proc/self/mem", "File read error."},
             {"/dev/zero", "Not a regular file: a HEX file cannot be a pipe or a device."}}) {
        trace.Clear();
        EXPECT_FALSE(programmer->WriteCommand(path)) << path;
        EXPECT_EQ(log.lines, std::vector<std::string>{line}) << path;
        EXPECT_EQ(trace.Text(), "open 378 port 84 close") << path;
    }
    close(pipeEnds[0]);
}

TEST_F(WriteCommandTest, AReadOnlyFileIsRead)
{
    Attach("ATmega8");
    const fs::path file = HexFile(JoinLines({DataRecord(0x0000, kSample), EndOfFileRecord()}, "\n"));
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(programmer->WriteCommand(file));
    EXPECT_EQ(Flash()[0x0002], 0x7F);
}

// A file the Write or verify cannot use: one line, and nothing erased. Those
// the file shows by itself stop before any instruction reaches the chip.
struct FileFault {
    const char* name;
    const char* chip;
    const char* command;  // "write" or "verify"
    std::string text;     // the file's content, unless made below
    enum class Made { AsText, Fifo, Sparse, ThreeMiBStopped } made;
    std::string line;      // the log's last line
    std::size_t logLines;  // 1: no instruction reached the chip
};

void PrintTo(const FileFault& fault, std::ostream* os)
{
    *os << fault.name;
}

class FileFaults : public WriteCommandTest, public ::testing::WithParamInterface<FileFault> {
protected:
    fs::path Made(const FileFault& fault)
    {
        const fs::path file = folder / "made.hex";
        switch (fault.made) {
        case FileFault::Made::AsText:
            return HexFile(fault.text);
        case FileFault::Made::Fifo:
            EXPECT_EQ(mkfifo(file.c_str(), 0600), 0);
            return file;
        case FileFault::Made::Sparse:
            std::ofstream(file).close();
            fs::resize_file(file, std::uintmax_t{3} << 30);
            return file;
        case FileFault::Made::ThreeMiBStopped:
            programmer->StopRequested = [] { return true; };
            return HexFile(std::string(std::size_t{3} << 20, ':'));
        }
        return file;
    }
};

TEST_P(FileFaults, EndInOneLineAndLeaveTheChipsProgram)
{
    const FileFault& fault = GetParam();
    Attach(fault.chip);
    std::fill(Flash().begin(), Flash().end(), 0x5A);
    const fs::path file = Made(fault);
    trace.Clear();

    const bool done =
        (std::string_view(fault.command) == "write" ? programmer->WriteCommand(file) : flashReader->VerifyCommand(file))
            .succeeded;

    EXPECT_FALSE(done);
    EXPECT_EQ(log.lines.back(), fault.line);
    EXPECT_EQ(log.lines.size(), fault.logLines);
    if (fault.logLines == 1) {
        EXPECT_EQ(trace.Text(), "open 378 port 84 close");
    }
    EXPECT_EQ(target->port().DataRegister(), 0x84);
    EXPECT_TRUE(std::all_of(Flash().begin(), Flash().end(), [](std::uint8_t b) { return b == 0x5A; }));
}

const std::vector<std::uint8_t> kTwoBytes{0x12, 0x34};
const std::vector<std::uint8_t> kErasedPair{0xFF, 0xFF};
const char* const kNotRegular = "Not a regular file: a HEX file cannot be a pipe or a device.";

INSTANTIATE_TEST_SUITE_P(
    Write, FileFaults,
    ::testing::Values(
        FileFault{"CutShort", "ATmega8", "write", JoinLines({DataRecord(0, kSample), DataRecord(3, kSample)}, "\n"),
                  FileFault::Made::AsText, "File cut short after line 2: no end-of-file record.", 1},
        FileFault{"Fifo", "ATmega8", "write", "", FileFault::Made::Fifo, kNotRegular, 1},
        FileFault{"FifoVerify", "ATmega8", "verify", "", FileFault::Made::Fifo, kNotRegular, 1},
        FileFault{"ThreeGiB", "ATmega8", "write", "", FileFault::Made::Sparse,
                  "File too large: a HEX file may hold at most 64 MiB.", 1},
        FileFault{"StoppedWhileRead", "ATmega8", "write", "", FileFault::Made::ThreeMiBStopped, "Interrupted.", 1},
        FileFault{"ByteModeTwoValues", "AT90S2313", "write",
                  JoinLines({DataRecord(0, kTwoBytes), DataRecord(0, kErasedPair), EndOfFileRecord()}, "\r\r\n"),
                  FileFault::Made::AsText, "Address given a second, different value in line 2.", 8},
        FileFault{"UnlistedChip", "ATmega328P", "write", JoinLines({DataRecord(0, kSample), EndOfFileRecord()}, "\n"),
                  FileFault::Made::AsText, "Not written: the chip is not in the device table.", 3},
        FileFault{"VerifyWithoutData", "ATmega8", "verify", EndOfFileRecord(), FileFault::Made::AsText,
                  "Nothing to compare: the file has no data.", 8}),
    [](const ::testing::TestParamInfo<FileFault>& info) { return info.param.name; });

TEST_F(WriteCommandTest, PageModeKeepsTheLastValueAndAnEndRecordAloneErases)
{
    Attach("ATmega8");
    std::fill(Flash().begin(), Flash().end(), 0x5A);
    EXPECT_TRUE(programmer->WriteCommand(HexFile(EndOfFileRecord() + "\n")));
    EXPECT_TRUE(std::all_of(Flash().begin(), Flash().end(), [](std::uint8_t b) { return b == 0xFF; }));

    EXPECT_TRUE(programmer->WriteCommand(
        HexFile(JoinLines({DataRecord(0, kTwoBytes), DataRecord(0, kErasedPair), EndOfFileRecord()}, "\n"))));
    EXPECT_EQ(Flash()[0], 0xFF);
}

TEST_F(WriteCommandTest, AFileRewrittenDuringTheWriteChangesNothingOnTheChip)
{
    Attach("ATmega8");
    const std::string first =
        JoinLines({DataRecord(0x0000, kSample), DataRecord(0x0400, kSample), EndOfFileRecord()}, "\n");
    const fs::path file = HexFile(first);
    const fs::path copy = HexFile(first);
    // Asked before every instruction, long after the file was read: each time
    // the file says something else, as an editor saving in a loop would.
    int rewrites = 0;
    programmer->StopRequested = [&] {
        const std::vector<std::uint8_t> other(16, static_cast<std::uint8_t>(++rewrites));
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            << JoinLines({DataRecord(0x0000, other), DataRecord(0x0200, other), EndOfFileRecord()}, "\n");
        return false;
    };

    EXPECT_TRUE(programmer->WriteCommand(file));
    programmer->StopRequested = nullptr;
    EXPECT_GT(rewrites, 100);
    EXPECT_TRUE(Flash() == ObjcopyImage(copy, Flash().size(), 0))
        << FirstDifference(Flash(), ObjcopyImage(copy, Flash().size(), 0));
    EXPECT_TRUE(flashReader->VerifyCommand(copy));
}

TEST_F(WriteCommandTest, ALockedAt90sIsErasedIdentifiedAgainAndWritten)
{
    Attach("AT90S2313");
    std::fill(Flash().begin(), Flash().end(), 0x5A);
    target->chip()->LockBits() = 0xFC;  // lock mode 3: LB1 and LB2 programmed
    const fs::path example = fs::path(VELKOR_SOURCE_DIR) / "examples" / "blink.hex";

    EXPECT_TRUE(programmer->WriteCommand(example));

    const std::vector<std::string> hidden{"Unknown Maker 0", "Unknown CPU 258",       "", "Chip Erase...", "done",
                                          "ATMEL",           " \u3010AT90S2313\u3011"};
    ASSERT_GT(log.lines.size(), hidden.size());
    EXPECT_EQ(std::vector<std::string>(log.lines.begin(), log.lines.begin() + 7), hidden);
    EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), "Chip Erase..."), 1);
    EXPECT_TRUE(Flash() == ObjcopyImage(example, Flash().size(), 0));
}

}  // namespace
}  // namespace velkor
