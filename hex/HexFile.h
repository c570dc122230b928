#pragma once

// Reading Intel HEX: a byte stream is cut into lines, each line checked as a
// record, and the data records handed out with their full byte addresses.
// Nothing here touches the chip, so the reader can be driven from any bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// Where HEX text comes from, one byte at a time.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // The next byte; nothing at the end of the stream or once a read failed.
    virtual std::optional<std::uint8_t> NextByte() = 0;
    // True once a read has failed, as opposed to the stream having ended.
    virtual bool ReadFailed() const = 0;
};

class MemoryByteStream final : public ByteStream {
public:
    explicit MemoryByteStream(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::optional<std::uint8_t> NextByte() override;
    bool ReadFailed() const override { return false; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t next_ = 0;
};

// What the reader found next: a data record, the end of the data, or the
// reason the file cannot be used from here on.
struct HexEntry {
    enum class Kind {
        Data,
        End,
        NotIntelHex,
        BadHexDigit,
        RecordTooShort,
        ChecksumError,
        BadAddressRecord,
        ReadError,
        NoEndRecord,  // data, then the end of the text without an end-of-file record
    };

    Kind kind = Kind::End;
    std::size_t lineNumber = 0;       // 1-based line the entry comes from
    std::uint32_t address = 0;        // Data: byte address of data[0], extended base included
    std::vector<std::uint8_t> data;   // Data: 1 to 255 bytes
    std::uint8_t firstCharacter = 0;  // NotIntelHex: the line's first byte (its terminator if empty)

    bool IsError() const { return kind != Kind::Data && kind != Kind::End; }
};

// The log line for an entry whose IsError() is true, e.g. "Checksum error in line 12.".
std::string ErrorText(const HexEntry& entry);

// The largest HEX file a command reads: far beyond the 180 KB of text that a
// 64 KiB flash needs, and small enough to hold in memory whole.
constexpr std::uint64_t kLargestHexFile = std::uint64_t{64} << 20;

// Reads records line by line. A line ends at LF, at a run of CRs ended by LF
// (CR LF, CR CR LF), or at a CR alone. Data
// records (type 00) come out with their address extended by the last type 02
// or 04 record; the end-of-file record (type 01) ends the reading, and other
// types are passed over, as are data records with no data.
class HexReader {
public:
    explicit HexReader(ByteStream& stream) : stream_(stream) {}

    // The next data record, or End, or the error that stops the reading.
    // Once End or an error has come, every later call returns it again.
    HexEntry Next();
    // True once the end-of-file record has been read.
    bool EndRecordRead() const { return endRecordRead_; }

private:
    bool ReadLine();
    std::optional<std::uint8_t> NextByte();
    // What the current line gives: nothing for a line that only sets the
    // address base or is passed over.
    std::optional<HexEntry> ParseLine();
    std::optional<HexEntry> Interpret(std::uint8_t type, std::uint16_t loadAddress, std::vector<std::uint8_t> data);
    HexEntry LineEntry(HexEntry::Kind kind) const;
    std::optional<std::uint8_t> HexByteAt(std::size_t position) const;
    std::optional<std::uint16_t> HexWordAt(std::size_t position) const;

    ByteStream& stream_;
    std::string line_;                       // the current line, terminator excluded
    std::uint8_t firstByte_ = 0;             // the line's first byte, terminator included
    std::optional<std::uint8_t> lookahead_;  // the byte read after a CR that was not LF
    std::size_t pendingReturns_ = 0;         // CRs of a run not ended by LF, each an empty line
    bool endRecordRead_ = false;
    std::size_t lineNumber_ = 0;
    std::uint32_t base_ = 0;  // from the last extended address record
    std::optional<HexEntry> final_;
};

// One record's line: type, 16-bit load address, data and checksum, LF-ended.
std::string IntelHexRecord(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data);

// Bytes that belong at one place of a memory, from address on.
struct HexSegment {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

// segments as Intel HEX, in their order: data records of up to 16 bytes, an
// extended linear address record (type 04) wherever the upper 16 bits of the
// address change, the end-of-file record last.
std::string IntelHexText(std::span<const HexSegment> segments);

// flash as Intel HEX: data records of 16 bytes from address 0 (at most 64 KiB),
// upper-case digits, LF line ends, the end-of-file record last. Records that
// hold only erased bytes (0xFF) are left out, except the first: a binary made
// from the file then starts at address 0, as the flash does. With
// everyRecord, erased records are kept too: the file then gives every byte,
// as an EEPROM image written back must.
std::string IntelHexText(std::span<const std::uint8_t> flash, bool everyRecord = false);

// What one whole reading of a HEX file found: the fault that stops it, or
// enough about where its data lies to check it against any chip's flash.
class HexFileCheck {
public:
    // Reads the stream to its end (or its first fault).
    explicit HexFileCheck(ByteStream& stream);

    // The entry of the fault the file shows by itself (a text with data but
    // no end-of-file record included); nothing for a sound file.
    const std::optional<HexEntry>& Fault() const { return fault_; }
    // The first line with a data byte at limit or above; nothing when all
    // data lies below it. Limits above 65536 are not kept apart from 65536.
    std::optional<std::size_t> FirstLineReaching(std::uint32_t limit) const;

private:
    struct Reach {
        std::uint64_t lastAddress;  // of the record's last byte
        std::size_t lineNumber;
    };
    // Each record that reaches further than all before it, up to the first
    // one that reaches 65536: bounded, however long the file.
    std::vector<Reach> reaches_;
    std::optional<HexEntry> fault_;
};

}  // namespace velkor
