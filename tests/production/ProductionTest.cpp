// Board after board on simulated boards that come and go in virtual time:
// the lines, the serial numbers and their counter, the record.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "Production.h"
#include "Sha256.h"
#include "SimulatedBoards.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

TEST(Sha256, KnownDigests)
{
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the block, padding takes a second one.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha256Hex({reinterpret_cast<const std::uint8_t*>(c.text.data()), c.text.size()}), c.digest)
            << c.text.size() << " bytes";
    }
}

// The run's lines with each board's seconds left out: they are virtual time,
// and what they add up to is the benchmarks' business.
class Lines final : public Log {
public:
    void Clear() override {}
    std::vector<std::string> lines;

protected:
    void AppendLine(std::string_view line) override
    {
        lines.push_back(std::regex_replace(std::string(line), std::regex(", [0-9]+\\.[0-9]{2} s,"), ","));
    }
};

// Asked before every instruction of a run (and may change its boards): true
// stops the run there, as Ctrl-C would.
using StopWhen = std::function<bool(sim::SimulatedBoards&)>;

struct Plan {
    const char* name;
    std::vector<sim::PlannedBoard> boards;
    std::vector<std::string> expectedLines;
    std::string counterAfter;  // the counter file's text afterwards; empty: no file
    bool faultyFile = false;
    StopWhen stopWhen = {};
    // Boards for a second run on the same counter and record (the first one
    // killed between boards); its lines follow the first run's.
    std::vector<sim::PlannedBoard> restartBoards = {};
    std::uint32_t serialAddress = 0x10;
    const char* recordedChip = "ATmega8,1E9307";  // in the record's first board line
};

// The folder of a plan's run: its counter, record and HEX file.
fs::path PlanFolder(const std::string& name)
{
    return fs::temp_directory_path() / ("velkor-production-" + name);
}

sim::PlannedBoard Good(const char* chip = "ATmega8")
{
    return {chip, {}};
}

sim::PlannedBoard StuckAt(std::uint32_t address)
{
    sim::PlannedBoard board = Good();
    board.faults.stuckFlashBytes.insert(address);
    return board;
}

sim::PlannedBoard EepromStuckAt(std::uint32_t address)
{
    sim::PlannedBoard board = Good();
    board.faults.stuckEepromBytes.insert(address);
    return board;
}

sim::PlannedBoard Faulty(void (*fault)(sim::Faults&), const char* chip = "ATmega8")
{
    sim::PlannedBoard board = Good(chip);
    fault(board.faults);
    return board;
}

// The first board arrives in lock mode 3.
StopWhen FirstBoardLocked()
{
    return [locked = false](sim::SimulatedBoards& boards) mutable {
        if (!locked && boards.Board(0) != nullptr) {
            boards.Board(0)->LockBits() = 0xFC;
            locked = true;
        }
        return false;
    };
}

// A run's folder, with its counter, record and HEX file.
class ProductionFolder {
protected:
    void MakeFolder(const std::string& name)
    {
        folder = PlanFolder(name);
        fs::remove_all(folder);
        fs::create_directories(folder);
    }

    fs::path HexFile(bool faulty) const
    {
        const fs::path file = folder / "board.hex";
        if (faulty) {
            std::ofstream(file) << ":0100000001FF\n:00000001FF\n";
        } else {
            fs::copy_file(VELKOR_SOURCE_DIR "/examples/blink.hex", file, fs::copy_options::overwrite_existing);
        }
        return file;
    }

    std::vector<std::string> Record() const
    {
        std::ifstream in(folder / "record.csv");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    std::string Counter() const
    {
        if (!fs::is_regular_file(folder / "serial")) {
            return {};
        }
        std::ifstream in(folder / "serial");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // One run over boards with serial numbers from 100 at EEPROM address serialAddress.
    ProductionSummary RunBoards(const std::vector<sim::PlannedBoard>& plan, Lines& lines, const StopWhen& stopWhen,
                                std::unique_ptr<sim::SimulatedBoards>& boards, bool faultyFile = false,
                                std::uint32_t serialAddress = 0x10)
    {
        boards = std::make_unique<sim::SimulatedBoards>(plan);
        SerialCounter counter(folder / "serial", 100, 1);
        Production production(*boards, boards->clock(), lines);
        production.SerialNumbers.emplace(Production::Serials{serialAddress, counter});
        production.RecordFile = folder / "record.csv";
        sim::SimulatedBoards& b = *boards;
        production.Engine().StopRequested = [&b, &stopWhen] { return b.Exhausted() || (stopWhen && stopWhen(b)); };
        return production.Run(HexFile(faultyFile));
    }

    fs::path folder;
};

class ProductionPlans : public ::testing::TestWithParam<Plan>, protected ProductionFolder {
protected:
    void SetUp() override { MakeFolder(GetParam().name); }
    void TearDown() override { fs::remove_all(folder); }

    ProductionSummary RunPlan(const std::vector<sim::PlannedBoard>& boardPlan, Lines& lines,
                              std::unique_ptr<sim::SimulatedBoards>& boards)
    {
        const Plan& plan = GetParam();
        return RunBoards(boardPlan, lines, plan.stopWhen, boards, plan.faultyFile, plan.serialAddress);
    }
};

// The serial numbers in the boards' EEPROM at 0x10, boards without one left out.
std::vector<std::uint32_t> SerialsInEeprom(sim::SimulatedBoards& boards)
{
    std::vector<std::uint32_t> serials;
    for (std::size_t i = 0; boards.Board(i) != nullptr; ++i) {
        const auto& e = boards.Board(i)->Eeprom();
        const std::uint32_t serial = e[0x10] | e[0x11] << 8 | e[0x12] << 16 | static_cast<std::uint32_t>(e[0x13]) << 24;
        if (serial != 0xFFFFFFFF) {
            serials.push_back(serial);
        }
    }
    return serials;
}

// The numbers of the boards that passed.
std::vector<std::uint32_t> SerialsInLines(const std::vector<std::string>& lines)
{
    std::vector<std::uint32_t> serials;
    for (const std::string& line : lines) {
        std::smatch serial;
        if (std::regex_search(line, serial, std::regex("serial ([0-9]+),"))) {
            serials.push_back(static_cast<std::uint32_t>(std::stoul(serial[1])));
        }
    }
    return serials;
}

TEST_P(ProductionPlans, LinesCounterAndRecord)
{
    const Plan& plan = GetParam();
    Lines lines;
    std::unique_ptr<sim::SimulatedBoards> boards;
    ProductionSummary summary = RunPlan(plan.boards, lines, boards);
    std::vector<std::uint32_t> eepromSerials = SerialsInEeprom(*boards);
    EXPECT_EQ(boards->ViolationCount(), 0u);
    if (!plan.restartBoards.empty()) {
        summary = RunPlan(plan.restartBoards, lines, boards);
        const std::vector<std::uint32_t> more = SerialsInEeprom(*boards);
        eepromSerials.insert(eepromSerials.end(), more.begin(), more.end());
    }

    EXPECT_EQ(lines.lines, plan.expectedLines);
    EXPECT_EQ(Counter(), plan.counterAfter);
    EXPECT_EQ(summary.failed == 0 && summary.completed, plan.expectedLines.back().ends_with(" 0 failed."));
    EXPECT_EQ(eepromSerials, SerialsInLines(plan.expectedLines));

    // A header once the file is found sound, then one record line per board
    // line, of every run.
    const std::vector<std::string> record = Record();
    const auto boardLines = std::count_if(plan.expectedLines.begin(), plan.expectedLines.end(),
                                          [](const std::string& line) { return line.starts_with("Board "); });
    ASSERT_EQ(record.size(), plan.faultyFile ? 0u : boardLines + 1u);
    if (!plan.faultyFile) {
        EXPECT_EQ(record[0], "time,board,chip,signature,serial,sha256,result,seconds");
    }
    if (boardLines > 0) {
        EXPECT_TRUE(std::regex_match(record[1], std::regex(std::string("20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z,1,") +
                                                           plan.recordedChip +
                                                           ",100,cbe3483fc6b8938cc77c8270bf2bf7aee11e1395aedc78d8"
                                                           "588b4f98338ac222,OK,[0-9]+\\.[0-9]{2}")))
            << record[1];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Production, ProductionPlans,
    ::testing::Values(
        Plan{"ThreeGoodBoards",
             {Good(), Good(), Good()},
             {"Board 1: ATmega8, serial 100, OK", "Board 2: ATmega8, serial 101, OK",
              "Board 3: ATmega8, serial 102, OK", "Boards: 3 OK, 0 failed."},
             "103\n"},
        Plan{"StuckCellOnTheSecond",
             {Good(), StuckAt(0x10), Good()},
             {"Board 1: ATmega8, serial 100, OK", "Board 2: ATmega8, Verify Error.", "Board 3: ATmega8, serial 101, OK",
              "Boards: 2 OK, 1 failed."},
             "102\n"},
        // Sent to the board, the number is spent: the next board gets the one after it.
        Plan{"SerialDoesNotTakeOnTheSecond",
             {Good(), EepromStuckAt(0x10), Good()},
             {"Board 1: ATmega8, serial 100, OK",
              "Board 2: ATmega8, serial 101 spent, EEPROM Verify Error at 10: wrote 65, chip FF.",
              "Board 3: ATmega8, serial 102, OK", "Boards: 2 OK, 1 failed."},
             "103\n"},
        Plan{"FaultyFileTouchesNoBoard", {Good()}, {"Checksum error in line 1."}, "", true},
        Plan{"AFirstBoardOfAnotherMakerIsRefused",
             {Faulty([](sim::Faults& f) { f.makerCode = 0x12; }), Good()},
             {"Refused: maker code 12 (signature 129307) is not Atmel's 1E; not written.",
              "Board 1: ATmega8, serial 100, OK", "Boards: 1 OK, 0 failed."},
             "101\n"},
        // Found as write finds it, with the resynchronising pulses.
        Plan{"ABoardOutOfStepIsFound",
             {Faulty([](sim::Faults& f) { f.outOfStepBits = 1; }), Good()},
             {"Board 1: ATmega8, serial 100, OK", "Board 2: ATmega8, serial 101, OK", "Boards: 2 OK, 0 failed."},
             "102\n"},
        Plan{"ALockedAt90sIsNamedOnceErased",
             {Good("AT90S2313"), Good("AT90S2313")},
             {"Board 1: AT90S2313, serial 100, OK", "Board 2: AT90S2313, serial 101, OK", "Boards: 2 OK, 0 failed."},
             "102\n",
             false,
             FirstBoardLocked(),
             {},
             0x10,
             "AT90S2313,1E9101"},
        // Found on the first board, before its erase.
        Plan{"ASerialNumberBeyondTheEepromEndsTheRun",
             {Good(), Good()},
             {"Serial number address beyond the EEPROM of 512 bytes."},
             "100\n",
             false,
             {},
             {},
             0x1FE},
        Plan{"AnotherChipIsRefused",
             {Good(), Good("ATtiny26"), Good()},
             {"Board 1: ATmega8, serial 100, OK",
              "Refused: ATtiny26 (1E9109), not the ATmega8 of the first board; not written.",
              "Board 2: ATmega8, serial 101, OK", "Boards: 2 OK, 0 failed."},
             "102\n"},
        Plan{"StoppedBetweenBoards",
             {Good(), Good(), Good()},
             {"Board 1: ATmega8, serial 100, OK", "Board 2: ATmega8, serial 101, OK", "Boards: 2 OK, 0 failed."},
             "102\n",
             false,
             [](sim::SimulatedBoards& boards) { return boards.Board(2) != nullptr; }},
        Plan{"StoppedDuringABoard",
             {Good(), Good()},
             {"Board 1: ATmega8, serial 100, OK", "Board 2: ATmega8, Interrupted.", "Boards: 1 OK, 1 failed."},
             "101\n",
             false,
             [](sim::SimulatedBoards& boards) {
                 return boards.Board(1) != nullptr && boards.Board(1)->Flash()[0] != 0xFF;
             }},
        // The counter file turned into a folder after the first board.
        Plan{"CounterThatCannotBeWrittenEndsTheRun",
             {Good(), Good(), Good()},
             {"Board 1: ATmega8, serial 100, OK",
              "Board 2: ATmega8, Serial number counter: cannot write " +
                  (PlanFolder("CounterThatCannotBeWrittenEndsTheRun") / "serial").string() + ": it is a folder.",
              "Boards: 1 OK, 1 failed."},
             "",
             false,
             [](sim::SimulatedBoards& boards) {
                 const fs::path counter = PlanFolder("CounterThatCannotBeWrittenEndsTheRun") / "serial";
                 if (boards.Board(1) != nullptr && fs::is_regular_file(counter)) {
                     fs::remove(counter);
                     fs::create_directory(counter);
                 }
                 return false;
             }},
        Plan{"StartedAgainGoesOnWithTheNextNumber",
             {Good(), Good()},
             {"Board 1: ATmega8, serial 100, OK", "Board 2: ATmega8, serial 101, OK", "Boards: 2 OK, 0 failed.",
              "Board 1: ATmega8, serial 102, OK", "Boards: 1 OK, 0 failed."},
             "103\n",
             false,
             {},
             {Good()}}),
    [](const ::testing::TestParamInfo<Plan>& info) { return info.param.name; });

// Ctrl-C at one moment of a board's serial write: the stop request at that
// count after the counter moved on (the first run's board), then a second run
// on the same counter with a board of its own.
struct SerialMoment {
    const char* chip;
    int request;
};

class SerialInterruption : public ::testing::TestWithParam<SerialMoment>, protected ProductionFolder {
protected:
    void SetUp() override { MakeFolder("Moment" + std::string(GetParam().chip) + std::to_string(GetParam().request)); }
    void TearDown() override { fs::remove_all(folder); }
};

// The four bytes at 0x10, and the number its board line gives the board
// (given or spent).
struct BoardSerial {
    std::array<std::uint8_t, 4> bytes;
    std::optional<std::uint32_t> number;
};

BoardSerial SerialOf(sim::SimulatedBoards& boards, const std::vector<std::string>& lines)
{
    BoardSerial serial{};
    const auto& eeprom = boards.Board(0)->Eeprom();
    std::copy(eeprom.begin() + 0x10, eeprom.begin() + 0x14, serial.bytes.begin());
    for (const std::string& line : lines) {
        std::smatch number;
        if (std::regex_search(line, number, std::regex("^Board 1: .*, serial ([0-9]+)"))) {
            serial.number = static_cast<std::uint32_t>(std::stoul(number[1]));
        }
    }
    return serial;
}

TEST_P(SerialInterruption, NeverPutsOneNumberOnTwoBoards)
{
    const fs::path counter = folder / "serial";
    int requests = -1;
    const StopWhen atTheMoment = [&](sim::SimulatedBoards&) {
        std::ifstream in(counter);
        if (requests < 0 && std::string(std::istreambuf_iterator<char>(in), {}) == "101\n") {
            requests = 0;
        }
        return requests >= 0 && requests++ == GetParam().request;
    };
    std::vector<BoardSerial> serials;
    for (const StopWhen& stopWhen : {atTheMoment, StopWhen()}) {
        Lines lines;
        std::unique_ptr<sim::SimulatedBoards> boards;
        RunBoards({Good(GetParam().chip)}, lines, stopWhen, boards);
        serials.push_back(SerialOf(*boards, lines.lines));
        EXPECT_EQ(boards->ViolationCount(), 0u);
    }

    ASSERT_TRUE(serials[1].number.has_value());
    EXPECT_NE(serials[0].number, serials[1].number);
    for (const BoardSerial& board : serials) {
        for (std::size_t i = 0; i < board.bytes.size(); ++i) {
            if (board.bytes[i] != 0xFF) {
                // A byte on the board belongs to the number its line names.
                ASSERT_TRUE(board.number.has_value()) << "byte " << i;
                EXPECT_EQ(board.bytes[i], static_cast<std::uint8_t>(*board.number >> (8 * i))) << "byte " << i;
            }
        }
    }
}

// Every stop request from the counter's move to past the board's end: the
// byte-write ATmega8 (each byte polled), and the ATmega88's EEPROM pages
// (loaded, then written at once, polled by RDY/BSY).
std::vector<SerialMoment> EveryMoment()
{
    std::vector<SerialMoment> moments;
    for (const char* chip : {"ATmega8", "ATmega88"}) {
        for (int request = 0; request < 20; ++request) {
            moments.push_back({chip, request});
        }
    }
    return moments;
}

INSTANTIATE_TEST_SUITE_P(Production, SerialInterruption, ::testing::ValuesIn(EveryMoment()),
                         [](const ::testing::TestParamInfo<SerialMoment>& info) {
                             return std::string(info.param.chip) + "_" + std::to_string(info.param.request);
                         });

}  // namespace
}  // namespace velkor
