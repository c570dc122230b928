#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// The command log. Lines are UTF-8 text without time stamps or levels; the
// window, the command line and the tests each supply their own.
class Log {
public:
    virtual ~Log() = default;

    virtual void Clear() = 0;

    // Appends text as the new last line. A CR LF pair inside the text starts
    // a new line, so "\r\n--- Write AVR ---" shows an empty line first.
    void Append(std::string_view text);

protected:
    virtual void AppendLine(std::string_view line) = 0;
};

// Keeps the lines in memory: the tests' log, and the store behind others.
class MemoryLog : public Log {
public:
    void Clear() override { lines.clear(); }
    std::vector<std::string> lines;

protected:
    void AppendLine(std::string_view line) override { lines.emplace_back(line); }
};

}  // namespace velkor
