#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace velkor {

// Where each board's serial number goes and how the numbers run.
struct SerialPlan {
    std::uint32_t address = 0;  // EEPROM byte address of the 32-bit little-endian number
    std::uint32_t start = 0;
    std::uint32_t step = 1;
};

// The next serial number, kept in a file of its own (the number in decimal
// on one line) so that a run started again goes on where the last one
// stopped. The file is replaced whole at every change; the caller holds a
// lock on it for as long as it hands out numbers.
class SerialCounter {
public:
    // The file's number, or start when it is higher (a new range never goes
    // back over numbers given out) or there is no file yet. Throws
    // std::runtime_error when the file cannot be read or holds no number.
    SerialCounter(std::filesystem::path file, std::uint32_t start, std::uint32_t step);

    // The number the next board gets; nothing once they are used up.
    std::optional<std::uint32_t> Next() const;
    // Takes the next number: the file holds the one after it before the
    // number goes to a board, so that no kill can give it out twice.
    // Throws std::runtime_error when the file cannot be written.
    void Advance();
    // Gives back the number the last Advance took (its board failed).
    void StepBack();
    // Writes the number it holds as it stands, so that a counter that cannot
    // be written is found before any number is handed out.
    void StoreNow();

private:
    void Store(std::uint64_t next);

    std::filesystem::path file_;
    std::uint64_t next_;
    std::uint64_t taken_ = 0;
    std::uint32_t step_;
};

// The file a counter path stands for: a symbolic link is followed to its
// target (which need not exist yet), where the counter is read, locked and
// written, so that runs given the link and runs given the file share one
// counter. Throws std::runtime_error when the links go round in a circle.
std::filesystem::path CounterFileTarget(const std::filesystem::path& file);

// The usual file of the counter: in the user's state folder
// ($XDG_STATE_HOME/velkor, else ~/.local/state/velkor; %LOCALAPPDATA%\velkor
// on Windows). Empty when there is no such folder.
std::filesystem::path DefaultSerialFile();

}  // namespace velkor
