#include "HexFile.h"

#include <algorithm>
#include <array>
#include <utility>

#include "Format.h"
#include "Numbers.h"

namespace velkor {

namespace {
// 1-based character positions of a record's fields: ":" at 1, the byte count
// at 2, the load address at 4, the record type at 8, the data from 10 on and
// the checksum right after the data.
constexpr std::size_t kCountPosition = 2;
constexpr std::size_t kAddressPosition = 4;
constexpr std::size_t kTypePosition = 8;
constexpr std::size_t kDataPosition = 10;
// A record with no data: start code, count, address, type and checksum.
constexpr std::size_t kShortestRecord = 11;
// A record with 255 data bytes.
constexpr std::size_t kLongestRecord = kShortestRecord + 2 * 255;

constexpr std::uint8_t kDataRecord = 0x00;
constexpr std::uint8_t kEndOfFileRecord = 0x01;
constexpr std::uint8_t kSegmentAddressRecord = 0x02;
constexpr std::uint8_t kLinearAddressRecord = 0x04;
constexpr const char* kEndOfFileLine = ":00000001FF\n";
}  // namespace

std::optional<std::uint8_t> MemoryByteStream::NextByte()
{
    if (next_ == bytes_.size()) {
        return std::nullopt;
    }
    return bytes_[next_++];
}

std::string ErrorText(const HexEntry& entry)
{
    const auto inLine = [&entry](std::string_view pattern) {
        return FormatNumber(pattern, static_cast<long long>(entry.lineNumber));
    };
    switch (entry.kind) {
    case HexEntry::Kind::NotIntelHex:
        return FormatNumber("Not Intel-Hex-File.(%d)", entry.firstCharacter);
    case HexEntry::Kind::BadHexDigit:
        return inLine("Bad hex digit in line %d.");
    case HexEntry::Kind::RecordTooShort:
        return inLine("Record too short in line %d.");
    case HexEntry::Kind::ChecksumError:
        return inLine("Checksum error in line %d.");
    case HexEntry::Kind::BadAddressRecord:
        return inLine("Bad address record in line %d.");
    case HexEntry::Kind::ReadError:
        return "File read error.";
    case HexEntry::Kind::NoEndRecord:
        return inLine("File cut short after line %d: no end-of-file record.");
    case HexEntry::Kind::Data:
    case HexEntry::Kind::End:
        break;
    }
    return {};
}

HexEntry HexReader::Next()
{
    while (!final_) {
        if (!ReadLine()) {
            final_ = LineEntry(stream_.ReadFailed() ? HexEntry::Kind::ReadError : HexEntry::Kind::End);
            break;
        }
        if (stream_.ReadFailed()) {
            // The line was cut off by the failing read: not a fault of the file's content.
            final_ = LineEntry(HexEntry::Kind::ReadError);
            break;
        }
        std::optional<HexEntry> entry = ParseLine();
        if (!entry) {
            continue;
        }
        if (entry->kind == HexEntry::Kind::Data) {
            return std::move(*entry);
        }
        final_ = std::move(entry);
    }
    return *final_;
}

bool HexReader::ReadLine()
{
    line_.clear();
    std::optional<std::uint8_t> byte = NextByte();
    if (!byte) {
        return false;
    }
    ++lineNumber_;
    firstByte_ = *byte;
    if (firstByte_ != ':') {
        // Not a record: the rest of the line is never looked at, so a file
        // without line ends (/dev/zero) fails here rather than being read on.
        return true;
    }
    for (; byte; byte = NextByte()) {
        if (*byte == '\n') {
            break;
        }
        if (*byte == '\r') {
            // CRs up to an LF are one line end (CR LF, and CR CR LF as some
            // tools write); otherwise the first CR ends the line and each
            // further one an empty line.
            std::size_t returns = 1;
            std::optional<std::uint8_t> next = NextByte();
            for (; next && *next == '\r'; next = NextByte()) {
                ++returns;
            }
            if (!next || *next != '\n') {
                pendingReturns_ = returns - 1;
                lookahead_ = next;
            }
            break;
        }
        // Characters past the longest record are never looked at; not keeping
        // them bounds what one line can cost, however long it is.
        if (line_.size() < kLongestRecord) {
            line_.push_back(static_cast<char>(*byte));
        }
    }
    return true;
}

std::optional<std::uint8_t> HexReader::NextByte()
{
    if (pendingReturns_ > 0) {
        --pendingReturns_;
        return '\r';
    }
    if (lookahead_) {
        return std::exchange(lookahead_, std::nullopt);
    }
    return stream_.NextByte();
}

std::optional<HexEntry> HexReader::ParseLine()
{
    if (firstByte_ != ':') {
        HexEntry entry = LineEntry(HexEntry::Kind::NotIntelHex);
        entry.firstCharacter = firstByte_;
        return entry;
    }
    if (line_.size() < kShortestRecord) {
        return LineEntry(HexEntry::Kind::RecordTooShort);
    }
    const std::optional<std::uint8_t> count = HexByteAt(kCountPosition);
    if (!count) {
        return LineEntry(HexEntry::Kind::BadHexDigit);
    }
    const std::size_t checksumPosition = kDataPosition + 2 * std::size_t{*count};
    if (line_.size() < checksumPosition + 1) {
        return LineEntry(HexEntry::Kind::RecordTooShort);
    }
    const std::optional<std::uint16_t> loadAddress = HexWordAt(kAddressPosition);
    const std::optional<std::uint8_t> type = HexByteAt(kTypePosition);
    const std::optional<std::uint8_t> checksum = HexByteAt(checksumPosition);
    if (!loadAddress || !type || !checksum) {
        return LineEntry(HexEntry::Kind::BadHexDigit);
    }
    // All bytes of a record, checksum included, add up to 0 modulo 256.
    unsigned sum = *count + (*loadAddress >> 8) + (*loadAddress & 0xFFu) + *type + *checksum;
    std::vector<std::uint8_t> data;
    data.reserve(*count);
    for (std::size_t i = 0; i < *count; ++i) {
        const std::optional<std::uint8_t> byte = HexByteAt(kDataPosition + 2 * i);
        if (!byte) {
            return LineEntry(HexEntry::Kind::BadHexDigit);
        }
        data.push_back(*byte);
        sum += *byte;
    }
    if ((sum & 0xFFu) != 0) {
        return LineEntry(HexEntry::Kind::ChecksumError);
    }
    return Interpret(*type, *loadAddress, std::move(data));
}

std::optional<HexEntry> HexReader::Interpret(std::uint8_t type, std::uint16_t loadAddress,
                                             std::vector<std::uint8_t> data)
{
    switch (type) {
    case kDataRecord: {
        if (data.empty()) {
            return std::nullopt;
        }
        HexEntry entry = LineEntry(HexEntry::Kind::Data);
        entry.address = base_ + loadAddress;
        entry.data = std::move(data);
        return entry;
    }
    case kEndOfFileRecord:
        endRecordRead_ = true;
        return LineEntry(HexEntry::Kind::End);
    case kSegmentAddressRecord:
    case kLinearAddressRecord: {
        if (data.size() != 2) {
            return LineEntry(HexEntry::Kind::BadAddressRecord);
        }
        const std::uint32_t value = (std::uint32_t{data[0]} << 8) | data[1];
        base_ = type == kSegmentAddressRecord ? value << 4 : value << 16;
        return std::nullopt;
    }
    default:
        // Start addresses (types 03 and 05) mean nothing to a programmer.
        return std::nullopt;
    }
}

HexEntry HexReader::LineEntry(HexEntry::Kind kind) const
{
    HexEntry entry;
    entry.kind = kind;
    entry.lineNumber = lineNumber_;
    return entry;
}

// Callers have checked that the line reaches the field.
std::optional<std::uint8_t> HexReader::HexByteAt(std::size_t position) const
{
    const std::optional<std::uint8_t> high = HexDigit(line_[position - 1]);
    const std::optional<std::uint8_t> low = HexDigit(line_[position]);
    if (!high || !low) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*high * 16 + *low);
}

std::optional<std::uint16_t> HexReader::HexWordAt(std::size_t position) const
{
    const std::optional<std::uint8_t> high = HexByteAt(position);
    const std::optional<std::uint8_t> low = HexByteAt(position + 2);
    if (!high || !low) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*high * 256 + *low);
}

std::string IntelHexRecord(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data)
{
    unsigned sum = data.size() + (address >> 8) + (address & 0xFFu) + type;
    std::string text = ":" + TwoHexDigits(static_cast<std::uint8_t>(data.size())) +
                       TwoHexDigits(static_cast<std::uint8_t>(address >> 8)) +
                       TwoHexDigits(static_cast<std::uint8_t>(address & 0xFFu)) + TwoHexDigits(type);
    for (const std::uint8_t byte : data) {
        text += TwoHexDigits(byte);
        sum += byte;
    }
    return text + TwoHexDigits(static_cast<std::uint8_t>(0x100 - (sum & 0xFFu))) + "\n";
}

std::string IntelHexText(std::span<const std::uint8_t> flash, bool everyRecord)
{
    constexpr std::size_t kRecordBytes = 16;
    std::string text;
    for (std::size_t start = 0; start < flash.size(); start += kRecordBytes) {
        const auto record = flash.subspan(start, std::min(kRecordBytes, flash.size() - start));
        if (start != 0 && !everyRecord &&
            std::all_of(record.begin(), record.end(), [](std::uint8_t byte) { return byte == 0xFF; })) {
            continue;
        }
        text += IntelHexRecord(kDataRecord, static_cast<std::uint16_t>(start), record);
    }
    return text + kEndOfFileLine;
}

std::string IntelHexText(std::span<const HexSegment> segments)
{
    constexpr std::size_t kRecordBytes = 16;
    std::string text;
    std::optional<std::uint16_t> upper;
    for (const HexSegment& segment : segments) {
        const std::span<const std::uint8_t> bytes(segment.bytes);
        for (std::size_t start = 0; start < bytes.size();) {
            const std::uint32_t address = segment.address + static_cast<std::uint32_t>(start);
            const auto high = static_cast<std::uint16_t>(address >> 16);
            if (high != upper.value_or(0)) {
                const std::array<std::uint8_t, 2> base{static_cast<std::uint8_t>(high >> 8),
                                                       static_cast<std::uint8_t>(high & 0xFFu)};
                text += IntelHexRecord(kLinearAddressRecord, 0, base);
            }
            upper = high;
            // A record never crosses a 64 KiB boundary: its address wraps there.
            const std::size_t toBoundary = 0x10000 - (address & 0xFFFFu);
            const std::size_t count = std::min({kRecordBytes, bytes.size() - start, toBoundary});
            text += IntelHexRecord(kDataRecord, static_cast<std::uint16_t>(address), bytes.subspan(start, count));
            start += count;
        }
    }
    return text + kEndOfFileLine;
}

HexFileCheck::HexFileCheck(ByteStream& stream)
{
    constexpr std::uint64_t kAddressSpace = 65536;
    HexReader reader(stream);
    HexEntry entry = reader.Next();
    for (; entry.kind != HexEntry::Kind::End; entry = reader.Next()) {
        if (entry.IsError()) {
            fault_ = std::move(entry);
            return;
        }
        const std::uint64_t lastAddress = std::uint64_t{entry.address} + entry.data.size() - 1;
        const bool reachesFurther = reaches_.empty() || lastAddress > reaches_.back().lastAddress;
        if (reachesFurther && (reaches_.empty() || reaches_.back().lastAddress < kAddressSpace)) {
            reaches_.push_back({lastAddress, entry.lineNumber});
        }
    }
    // A copy or a build cut off at a line end leaves sound records but no
    // end-of-file record; a text without data may lack it (an empty file).
    if (!reaches_.empty() && !reader.EndRecordRead()) {
        entry.kind = HexEntry::Kind::NoEndRecord;
        fault_ = std::move(entry);
    }
}

std::optional<std::size_t> HexFileCheck::FirstLineReaching(std::uint32_t limit) const
{
    const auto reach = std::partition_point(reaches_.begin(), reaches_.end(),
                                            [limit](const Reach& r) { return r.lastAddress < limit; });
    if (reach == reaches_.end()) {
        return std::nullopt;
    }
    return reach->lineNumber;
}

}  // namespace velkor
