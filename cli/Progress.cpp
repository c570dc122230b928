#include "Progress.h"

#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace velkor {

namespace {
// Redrawing more often than this only makes the terminal flicker.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

TerminalProgress::TerminalProgress(std::ostream& terminal, std::string command)
    : terminal_(terminal), command_(std::move(command))
{
}

void TerminalProgress::Show(std::uint32_t done, std::uint32_t total, std::string_view note)
{
    const int percent = total == 0 ? 100 : static_cast<int>(std::uint64_t{done} * 100 / total);
    const Clock::time_point now = Clock::now();
    if (shownWidth_ != 0 && percent == shownPercent_ && now - shownAt_ < kRedrawInterval) {
        return;
    }
    std::ostringstream line;
    line << command_ << ' ' << std::setw(3) << percent << "% of the flash  " << std::fixed << std::setprecision(1)
         << std::chrono::duration<double>(now - start_).count() << " s  " << note;
    const std::string text = line.str();
    // Spaces rather than an escape sequence clear what a longer line left.
    const std::size_t pad = shownWidth_ > text.size() ? shownWidth_ - text.size() : 0;
    terminal_ << '\r' << text << std::string(pad, ' ') << std::flush;
    shownWidth_ = text.size();
    shownPercent_ = percent;
    shownAt_ = now;
}

void TerminalProgress::Erase()
{
    if (shownWidth_ == 0) {
        return;
    }
    terminal_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
    shownWidth_ = 0;
}

bool StandardErrorIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace velkor
