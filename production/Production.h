#pragma once

// Board after board: the same HEX file into every board that is plugged in,
// each with its own serial number, each reported in one line and, when asked,
// in a CSV record. Port-agnostic like the rest of the engine: boards are
// found by trying Programming Enable through the port operations, and every
// wait goes through the Clock.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Log.h"
#include "Eeprom.h"
#include "Programmer.h"
#include "SerialNumbers.h"

namespace velkor {

// What became of one board.
struct BoardReport {
    unsigned number = 0;
    std::string chip;       // the name the engine knows it by
    std::string signature;  // the three signature bytes in hex, "1E9307"
    // The board's number: on a board that passed, and on a failed one that
    // was sent (some of) its bytes, whose number is spent.
    std::optional<std::uint32_t> serial;
    double seconds = 0;
    bool passed = false;
    std::string result;  // "OK", or the line that says what went wrong
};

struct ProductionSummary {
    unsigned passed = 0;
    unsigned failed = 0;
    // False when the run could not go on: the file or the port was unusable,
    // or the counter or the record could not be written.
    bool completed = true;
    // A stop request came while a board was being programmed (it counts as failed).
    bool stoppedInBoard = false;
};

class Production {
public:
    // Board lines and the summary go to out.
    Production(PortOperations& port, Clock& clock, Log& out);

    // The engine that programs each board: the caller sets its PortAddress,
    // SckPhase, ChipLists and StopRequested. A stop request between boards
    // ends the run; during a board it stops that board as it stops any command.
    Programmer& Engine() { return programmer_; }

    // Serial numbers: each board that passes takes the counter's next number,
    // as does one that fails once the number's bytes may have reached it.
    struct Serials {
        std::uint32_t address;
        SerialCounter& counter;
    };
    std::optional<Serials> SerialNumbers;
    // A CSV file that gets one line per board, flushed to the disk at once.
    std::optional<std::filesystem::path> RecordFile;

    // Told when a board failed or was refused, so that someone looks up.
    std::function<void()> OnAttention;
    // Told before the wait for each board, with its number.
    std::function<void(unsigned)> OnWaiting;

    // Reads and checks hexFile once, writes the counter and opens the record
    // (a header when it is new), then programs board after board until a stop
    // request; a faulty file, or a counter or record that cannot be written,
    // stops before any board is touched.
    ProductionSummary Run(const std::filesystem::path& hexFile);

    // How often the port is tried while waiting for a board to come or go.
    static constexpr unsigned kProbeIntervalMs = 300;
    // A board is gone once this many tries in a row found nothing.
    static constexpr unsigned kMissesForGone = 2;

private:
    // Keeps the engine's last line: a failed board's report.
    class LastLineLog final : public Log {
    public:
        void Clear() override { last.clear(); }
        std::string last;

    protected:
        void AppendLine(std::string_view line) override { last = line; }
    };

    enum class Verdict { Write, Refuse, EndRun };

    bool Boards(const std::filesystem::path& hexFile);
    bool FilesWritable();
    bool StopRequested() const;
    bool WaitForBoard();
    bool WaitUntilGone();
    Verdict Judge();
    bool SerialFits(Log& log) const;
    bool ProgramBoard(const Programmer::CheckedHexFile& file);
    void TakeIdentity();
    bool WriteSerialNumber();
    bool FinishBoard(bool passed, const std::string& result);
    // Appends line to the record; false, with a line saying why, when it cannot.
    bool Append(const std::string& line);
    void Attention();

    LastLineLog engineLog_;
    Programmer programmer_;
    EepromMemory eeprom_{programmer_};  // the serial numbers' writer
    Clock& clock_;
    Log& out_;
    ProductionSummary summary_;
    std::string fileDigest_;
    std::optional<std::pair<std::string, std::string>> firstSignature_;  // signature and chip name
    std::optional<BoardReport> board_;                                   // the board being programmed
    std::chrono::nanoseconds boardStart_{};
    // The run cannot go on: the counter could not be written, or the serial
    // number does not fit the chip of the run.
    bool runBroken_ = false;
    bool serialSent_ = false;  // a write of the board's serial number has gone out
};

}  // namespace velkor
