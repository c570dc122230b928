#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace velkor {

// One line on a terminal that a long command keeps rewriting: the command,
// how much of the flash it has done, the time since it began and a note. The line
// is erased before a log line reaches the same screen and when it ends, so
// neither the log nor later messages are mixed into it.
class TerminalProgress {
public:
    TerminalProgress(std::ostream& terminal, std::string command);
    ~TerminalProgress() { Erase(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // note: what else the line tells, after the time (the SCK pace).
    void Show(std::uint32_t done, std::uint32_t total, std::string_view note);
    void Erase();

private:
    using Clock = std::chrono::steady_clock;

    std::ostream& terminal_;
    std::string command_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point shownAt_;
    int shownPercent_ = -1;
    std::size_t shownWidth_ = 0;
};

// True when standard error is a terminal, where progress is worth showing.
bool StandardErrorIsTerminal();

}  // namespace velkor
