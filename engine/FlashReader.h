#pragma once

#include <filesystem>

#include "CommandResult.h"
#include "Session.h"

namespace velkor {

// The commands that only read the flash: comparing it with a HEX file and
// saving it as one. Neither ever erases or writes the chip.
class FlashReader {
public:
    explicit FlashReader(Session& session) : session_(session), log_(session.CommandLog()) {}

    // Programming mode without erase, then the file's data compared with the
    // chip's flash: one line with the bytes compared, or the first that
    // differs; a file without data has nothing to compare and fails.
    CommandResult VerifyCommand(const std::filesystem::path& hexFile);
    // Programming mode without erase, then the whole flash saved to file as
    // Intel HEX; a failed read or save leaves file as it was.
    CommandResult ReadCommand(const std::filesystem::path& file);

private:
    // Compares the file's data with the chip's flash.
    bool VerifyFlash(const Session::CheckedHexFile& file);
    bool ReadFlash(const std::filesystem::path& file);

    Session& session_;
    Log& log_;
};

}  // namespace velkor
