#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CommandResult.h"
#include "Session.h"

namespace velkor {

// The lock byte: writing it with each chip's instruction, reading it back in
// each chip's own bit layout, what a locked chip keeps from the programmer,
// and the fuse and lock bytes read as the chip's layout names them.
class LockBits {
public:
    explicit LockBits(Session& session) : session_(session), log_(session.CommandLog()) {}

    // Writes the lock byte typed in hexadecimal (bit 0 LB1, bit 1 LB2, the
    // boot lock bits above on chips that have them), reads it back where the
    // chip can, and says which lock modes it sets. A value that programs a
    // lock bit the chip does not have is refused before anything is written;
    // bits 6 and 7, which no chip has, are written as 1 with a note.
    CommandResult LockCommand(std::string_view valueText);
    // Programming mode without erase, then one line per fuse and lock byte
    // the chip lets serial programming read.
    CommandResult ReadFusesCommand();

    // One line when the last LockCommand was given 0 in bits the chip does
    // not have: they are written as 1, and the user is told so.
    std::vector<std::string> UnusedBitsNotes;

    // Within an open programming session, on the chip identified last: true,
    // with a log line, when lock mode 3 (LB1 and LB2 programmed, or a hidden
    // signature) keeps the flash and EEPROM from being read;
    bool ReadingLocked();
    // when LB1 keeps the EEPROM from being written;
    bool WritingLocked();
    // after an EEPROM write that did not take, on a chip whose lock bits
    // cannot be read: a line saying that a lock would explain it.
    void NoteLockUnread();
    // Within an open programming session: one line per fuse and lock byte
    // the chip lets serial programming read.
    bool ReadFuseAndLockBytes();

    // Within an open programming session: whether value can be written to
    // the lock byte of the chip identified last; false after the line that
    // says why not. Nothing is sent.
    bool LockValueAllowed(std::uint8_t value);
    // Writes value and reads it back where the chip can, with its log lines.
    bool WriteLockByte(std::uint8_t value);

private:
    bool LockedAgainst(std::uint8_t bits, std::string_view line);
    std::optional<std::uint8_t> ReadLockByte();
    // The byte as the chip's own read instruction gives it.
    std::uint8_t ReadLayoutByte(const FuseByteLayout& byte);

    Session& session_;
    Log& log_;
};

}  // namespace velkor
