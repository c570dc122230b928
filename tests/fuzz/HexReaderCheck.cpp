#include "HexReaderCheck.h"

#include <algorithm>

#include "HexFile.h"

namespace velkor::fuzz {

namespace {
// The shortest line that yields data: a record with one byte and a line end.
constexpr std::size_t kShortestDataLine = 14;
}  // namespace

std::string CheckHexReader(std::span<const std::uint8_t> bytes)
{
    MemoryByteStream stream(bytes);
    HexReader reader(stream);
    const std::size_t lines =
        1 + static_cast<std::size_t>(
                std::count_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == '\n' || b == '\r'; }));
    const std::size_t mostRecords = bytes.size() / kShortestDataLine + 1;

    std::size_t records = 0;
    std::size_t lastLine = 0;
    HexEntry entry = reader.Next();
    for (; entry.kind == HexEntry::Kind::Data; entry = reader.Next()) {
        if (++records > mostRecords) {
            return "more records than the input can hold";
        }
        if (entry.data.empty() || entry.data.size() > 255) {
            return "a record with " + std::to_string(entry.data.size()) + " data bytes";
        }
        if (entry.lineNumber <= lastLine || entry.lineNumber > lines) {
            return "record on line " + std::to_string(entry.lineNumber) + " after line " + std::to_string(lastLine);
        }
        lastLine = entry.lineNumber;
    }
    if (entry.IsError() != !ErrorText(entry).empty()) {
        return "an error without its log line, or a log line without an error";
    }
    if (entry.lineNumber < lastLine || entry.lineNumber > lines) {
        return "the reading ended on line " + std::to_string(entry.lineNumber);
    }
    const HexEntry again = reader.Next();
    if (again.kind != entry.kind || again.lineNumber != entry.lineNumber) {
        return "the reading went on after it ended";
    }
    return {};
}

}  // namespace velkor::fuzz
