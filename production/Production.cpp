#include "Production.h"

#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "Format.h"
#include "Sha256.h"
#include "WholeFile.h"

namespace velkor {

namespace {

constexpr std::string_view kRecordHeader = "time,board,chip,signature,serial,sha256,result,seconds\n";
constexpr std::uint8_t kAtmelMakerCode = 0x1E;

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

std::string BoardLine(const BoardReport& board)
{
    std::string line = "Board " + std::to_string(board.number) + ": " + board.chip;
    if (board.serial) {
        line += ", serial " + std::to_string(*board.serial) + (board.passed ? "" : " spent");
    }
    return line + ", " + Seconds(board.seconds) + " s, " + board.result;
}

std::string UtcTimeNow()
{
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

// A CSV field, quoted when it holds a comma, a quote or a line end.
std::string CsvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string RecordLine(const BoardReport& board, const std::string& fileDigest)
{
    return UtcTimeNow() + "," + std::to_string(board.number) + "," + CsvField(board.chip) + "," + board.signature +
           "," + (board.serial ? std::to_string(*board.serial) : "") + "," + fileDigest + "," + CsvField(board.result) +
           "," + Seconds(board.seconds) + "\n";
}

}  // namespace

Production::Production(PortOperations& port, Clock& clock, Log& out)
    : programmer_(port, clock, engineLog_), clock_(clock), out_(out)
{
}

ProductionSummary Production::Run(const std::filesystem::path& hexFile)
{
    summary_ = {};
    firstSignature_.reset();
    board_.reset();
    runBroken_ = false;
    bool started = false;
    programmer_.RunInCommandFrame([&] {
        started = true;
        return Boards(hexFile);
    });
    if (!started) {
        out_.Append(engineLog_.last);  // the port could not be opened
        summary_.completed = false;
        return summary_;
    }
    if (board_) {
        // Stopped during a board: the frame has logged why and released the port.
        summary_.stoppedInBoard = true;
        summary_.completed = FinishBoard(false, engineLog_.last) && summary_.completed;
    }
    // No summary for a run that ended on a fault before any board.
    if (!fileDigest_.empty() && (summary_.completed || summary_.passed + summary_.failed > 0)) {
        out_.Append("Boards: " + std::to_string(summary_.passed) + " OK, " + std::to_string(summary_.failed) +
                    " failed.");
    }
    return summary_;
}

bool Production::Boards(const std::filesystem::path& hexFile)
{
    fileDigest_.clear();
    const std::optional<Programmer::CheckedHexFile> file = programmer_.ReadHexFile(hexFile);
    if (!file) {
        out_.Append(engineLog_.last);
        summary_.completed = false;
        return false;
    }
    if (!FilesWritable()) {
        summary_.completed = false;
        return false;
    }
    fileDigest_ = Sha256Hex(file->text);
    for (;;) {
        if (OnWaiting) {
            OnWaiting(summary_.passed + summary_.failed + 1);
        }
        if (!WaitForBoard()) {
            return true;
        }
        const Verdict verdict = Judge();
        if (verdict == Verdict::EndRun || (verdict == Verdict::Write && !ProgramBoard(*file))) {
            summary_.completed = false;
            return false;
        }
        if (!WaitUntilGone()) {
            return true;
        }
    }
}

// Before the first board: the counter written as it stands and the record
// opened (its header written when it is new), so that a file that cannot
// take them ends the run before any board is erased.
bool Production::FilesWritable()
{
    if (SerialNumbers) {
        try {
            SerialNumbers->counter.StoreNow();
        } catch (const std::runtime_error& e) {
            out_.Append(std::string("Serial number counter: ") + e.what() + ".");
            return false;
        }
    }
    return !RecordFile || Append("");
}

bool Production::StopRequested() const
{
    return programmer_.StopRequested && programmer_.StopRequested();
}

bool Production::WaitForBoard()
{
    while (!StopRequested()) {
        if (programmer_.ProbeChip()) {
            return true;
        }
        clock_.Sleep(kProbeIntervalMs);
    }
    return false;
}

bool Production::WaitUntilGone()
{
    for (unsigned misses = 0; misses < kMissesForGone;) {
        clock_.Sleep(kProbeIntervalMs);
        if (StopRequested()) {
            return false;
        }
        misses = programmer_.ProbeChip() ? 0 : misses + 1;
    }
    return true;
}

namespace {
std::string ChipName(const Programmer& programmer)
{
    return programmer.IdentifiedChipIsListed() ? programmer.Device().Name : "unlisted chip";
}

std::string SignatureText(const Programmer& programmer)
{
    return TwoHexDigits(programmer.MakerCode) + SignatureBytesText(programmer.DeviceSignature, "");
}
}  // namespace

// The first board sets the chip of the run, once its maker code is Atmel's
// (a bad contact reads anything) and the serial number fits its EEPROM (or
// no board of the run could take it: the run ends before this one is
// erased). A board with another chip is left untouched; one that hides its
// signature (an AT90S in lock mode 3) is only known once it is erased.
Production::Verdict Production::Judge()
{
    const std::string signature = SignatureText(programmer_);
    if (programmer_.SignatureHidden() || (firstSignature_ && firstSignature_->first == signature)) {
        return Verdict::Write;
    }
    if (firstSignature_) {
        out_.Append("Refused: " + ChipName(programmer_) + " (" + signature + "), not the " + firstSignature_->second +
                    " of the first board; not written.");
    } else if (programmer_.MakerCode != kAtmelMakerCode) {
        out_.Append("Refused: maker code " + TwoHexDigits(programmer_.MakerCode) + " (signature " + signature +
                    ") is not Atmel's 1E; not written.");
    } else if (!SerialFits(out_)) {
        Attention();
        return Verdict::EndRun;
    } else {
        firstSignature_ = {signature, ChipName(programmer_)};
        return Verdict::Write;
    }
    Attention();
    return Verdict::Refuse;
}

// Whether the serial number's four bytes lie within the EEPROM of the chip
// identified last; a line to log when not. An unlisted chip is not written
// at all, and says so itself.
bool Production::SerialFits(Log& log) const
{
    const DEVTYPE& chip = programmer_.Device();
    if (!SerialNumbers || !programmer_.IdentifiedChipIsListed() ||
        std::uint64_t{SerialNumbers->address} + 4 <= chip.EepromSize) {
        return true;
    }
    log.Append(FormatNumber("Serial number address beyond the EEPROM of %d bytes.", chip.EepromSize));
    return false;
}

// Programs the board as the Write command does, then gives it its serial
// number. False when the run cannot go on.
bool Production::ProgramBoard(const Programmer::CheckedHexFile& file)
{
    board_.emplace();
    board_->number = summary_.passed + summary_.failed + 1;
    TakeIdentity();
    boardStart_ = clock_.Now();
    engineLog_.Clear();
    serialSent_ = false;
    bool passed = programmer_.WriteCheckedHexFile(file);
    TakeIdentity();
    if (passed && SerialNumbers) {
        passed = WriteSerialNumber();
    }
    programmer_.ReleasePort();
    return FinishBoard(passed, passed ? "OK" : engineLog_.last);
}

// The board's chip as identified last: a board whose signature was hidden is
// known by its name once the Write has erased it, and, first of the run, sets
// the run's chip.
void Production::TakeIdentity()
{
    board_->chip = ChipName(programmer_);
    board_->signature = SignatureText(programmer_);
    if (!firstSignature_ && programmer_.IdentifiedChipIsListed()) {
        firstSignature_ = {board_->signature, board_->chip};
    }
}

// The number is taken (the counter moves on, on the disk) before it goes to
// the board, and given back when the board fails before any of its bytes
// was sent: a run killed in between leaves a gap, never two boards with one
// number. Once a write has gone out the number is spent, whatever ends the
// board.
bool Production::WriteSerialNumber()
{
    SerialCounter& counter = SerialNumbers->counter;
    const std::uint32_t address = SerialNumbers->address;
    const std::optional<std::uint32_t> number = counter.Next();
    if (!number) {
        engineLog_.Append("No serial number left: the counter is past 4294967295.");
        return false;
    }
    // Found only now on a board whose signature was hidden until its erase.
    if (!SerialFits(engineLog_)) {
        runBroken_ = true;
        return false;
    }
    try {
        counter.Advance();
    } catch (const std::runtime_error& e) {
        engineLog_.Append(std::string("Serial number counter: ") + e.what() + ".");
        runBroken_ = true;
        return false;
    }
    board_->serial = number;
    const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>(*number), static_cast<std::uint8_t>(*number >> 8),
                                            static_cast<std::uint8_t>(*number >> 16),
                                            static_cast<std::uint8_t>(*number >> 24)};
    // Read back byte by byte; a failure's line is the engine's own.
    eeprom_.OnEepromWrite = [this] { serialSent_ = true; };
    const bool written = eeprom_.WriteEepromBytes(static_cast<std::uint16_t>(address), bytes);
    eeprom_.OnEepromWrite = nullptr;
    return written;
}

// Reports the board in its line and its record; a failed board gives back
// the number it took unless some of its bytes were sent. False when the
// counter or the record could not be written: the run cannot go on.
bool Production::FinishBoard(bool passed, const std::string& result)
{
    // A stop request may end the board inside the serial write.
    eeprom_.OnEepromWrite = nullptr;
    BoardReport board = std::move(*board_);
    board_.reset();
    board.passed = passed;
    board.result = result;
    board.seconds = std::chrono::duration<double>(clock_.Now() - boardStart_).count();
    bool sound = !runBroken_;
    if (board.serial && !passed && !serialSent_) {
        board.serial.reset();
        try {
            SerialNumbers->counter.StepBack();
        } catch (const std::runtime_error& e) {
            out_.Append(std::string("Serial number counter: ") + e.what() + ".");
            sound = false;
        }
    }
    ++(passed ? summary_.passed : summary_.failed);
    out_.Append(BoardLine(board));
    if (!passed) {
        Attention();
    }
    return (!RecordFile || Append(RecordLine(board, fileDigest_))) && sound;
}

bool Production::Append(const std::string& line)
{
    try {
        AppendToFile(*RecordFile, line, kRecordHeader);
        return true;
    } catch (const std::runtime_error& e) {
        out_.Append(std::string("Record: ") + e.what() + ".");
        return false;
    }
}

void Production::Attention()
{
    if (OnAttention) {
        OnAttention();
    }
}

}  // namespace velkor
