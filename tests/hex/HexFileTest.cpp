// Reading Intel HEX records out of a byte stream.
#include <gtest/gtest.h>

#include <numeric>

#include "HexFile.h"
#include "HexText.h"

namespace velkor {
namespace {

using Kind = HexEntry::Kind;
using testing::AddressRecord;
using testing::DataRecord;
using testing::EndOfFileRecord;
using testing::JoinLines;
using testing::Lowercase;

std::span<const std::uint8_t> Bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Every entry up to and including the one that ends the reading.
std::vector<HexEntry> ReadAll(ByteStream& stream)
{
    HexReader reader(stream);
    std::vector<HexEntry> entries{reader.Next()};
    while (entries.back().kind == Kind::Data) {
        entries.push_back(reader.Next());
    }
    return entries;
}

std::vector<HexEntry> ReadAll(std::string_view text)
{
    MemoryByteStream stream(Bytes(text));
    return ReadAll(stream);
}

HexEntry LastEntry(std::string_view text)
{
    return ReadAll(text).back();
}

const std::vector<std::uint8_t> kSample{0xAB, 0x0C, 0x7F};

TEST(HexReader, GivesDataRecordsWithAddressLineAndBytes)
{
    const auto entries =
        ReadAll(JoinLines({DataRecord(0x0010, kSample), DataRecord(0x1FC0, {kSample.data(), 1})}, "\r\n"));

    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].kind, Kind::Data);
    EXPECT_EQ(entries[0].address, 0x0010u);
    EXPECT_EQ(entries[0].lineNumber, 1u);
    EXPECT_EQ(entries[0].data, kSample);
    EXPECT_EQ(entries[1].address, 0x1FC0u);
    EXPECT_EQ(entries[1].lineNumber, 2u);
    EXPECT_EQ(entries[1].data, std::vector<std::uint8_t>{0xAB});
    EXPECT_EQ(entries[2].kind, Kind::End);
}

TEST(HexReader, LowercaseDigitsCountWithTheirValues)
{
    const std::string upper = DataRecord(0xABCD, kSample);
    const auto entries = ReadAll(Lowercase(upper));
    ASSERT_EQ(entries.front().kind, Kind::Data) << Lowercase(upper);
    EXPECT_EQ(entries.front().address, 0xABCDu);
    EXPECT_EQ(entries.front().data, kSample);
}

class LineEnds : public ::testing::TestWithParam<const char*> {};

TEST_P(LineEnds, EndLinesAloneOrInPairsAndTheLastLineNeedsNone)
{
    const std::vector<std::string> lines{DataRecord(0x0000, kSample), DataRecord(0x0100, kSample),
                                         DataRecord(0x0200, kSample)};
    std::string text = JoinLines(lines, GetParam());
    const auto entries = ReadAll(text);
    ASSERT_EQ(entries.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].address, 0x100u * i);
        EXPECT_EQ(entries[i].lineNumber, i + 1);
        EXPECT_EQ(entries[i].data, kSample);
    }

    text.resize(text.size() - std::string_view(GetParam()).size());
    EXPECT_EQ(ReadAll(text).size(), 4u) << "last line without its end";
}

INSTANTIATE_TEST_SUITE_P(HexReader, LineEnds, ::testing::Values("\n", "\r\n", "\r", "\r\r\n", "\r\r\r\n"));

TEST(HexReader, RecordsOfEveryLengthAreReadWhole)
{
    std::vector<std::string> lines;
    std::vector<std::vector<std::uint8_t>> payloads;
    for (unsigned length = 1; length <= 255; ++length) {
        std::vector<std::uint8_t> data(length);
        std::iota(data.begin(), data.end(), static_cast<std::uint8_t>(length));
        lines.push_back(DataRecord(static_cast<std::uint16_t>(length * 256), data));
        payloads.push_back(std::move(data));
    }
    const auto entries = ReadAll(JoinLines(lines, "\n"));
    ASSERT_EQ(entries.size(), 256u);
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        EXPECT_EQ(entries[i].data, payloads[i]) << "length " << i + 1;
    }
}

TEST(HexReader, ExtendedAddressRecordsMoveTheFollowingData)
{
    const auto entries =
        ReadAll(JoinLines({AddressRecord(0x02, 0x1000), DataRecord(0x0010, kSample), AddressRecord(0x04, 0x0001),
                           DataRecord(0xFFFF, kSample), AddressRecord(0x04, 0x0000), DataRecord(0x0020, kSample)},
                          "\n"));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].address, 0x10010u);
    EXPECT_EQ(entries[0].lineNumber, 2u);
    EXPECT_EQ(entries[1].address, 0x1FFFFu);
    EXPECT_EQ(entries[2].address, 0x0020u);
}

TEST(HexReader, TheEndOfFileRecordEndsTheReading)
{
    const auto entries = ReadAll(
        JoinLines({DataRecord(0x0000, kSample), EndOfFileRecord(), "", "junk", DataRecord(0x0100, kSample)}, "\r\n"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].kind, Kind::End);
    EXPECT_EQ(entries[1].lineNumber, 2u);
}

TEST(HexReader, PassesOverEmptyDataRecordsStartAddressesAndUnknownTypes)
{
    const std::uint8_t start[4] = {0x00, 0x00, 0x01, 0x00};
    const auto entries = ReadAll(JoinLines({DataRecord(0x0000, {}), testing::HexRecordText(0x03, 0, start),
                                            testing::HexRecordText(0x05, 0, start),
                                            testing::HexRecordText(0x42, 0, kSample), DataRecord(0x0040, kSample)},
                                           "\n"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].lineNumber, 5u);
}

TEST(HexReader, IgnoresWhatFollowsTheChecksumHoweverLong)
{
    const std::string line = DataRecord(0x0000, kSample) + std::string(100000, 'Z');
    const auto entries = ReadAll(JoinLines({line, DataRecord(0x0100, kSample)}, "\n"));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].address, 0x0100u);
}

struct BadLine {
    const char* name;
    std::string line;
    Kind kind;
    std::string message;  // for an error on line 3
};

void PrintTo(const BadLine& bad, std::ostream* os)
{
    *os << bad.name;
}

class BadLines : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadLines, StopTheReadingWithALineThatSaysWhereAndWhy)
{
    const std::string text = JoinLines(
        {DataRecord(0x0000, kSample), DataRecord(0x0003, kSample), GetParam().line, DataRecord(0x0100, kSample)},
        "\r\n");
    const auto entries = ReadAll(text);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].kind, GetParam().kind);
    EXPECT_EQ(entries[2].lineNumber, 3u);
    EXPECT_EQ(ErrorText(entries[2]), GetParam().message);
}

std::string WithCharacter(std::string line, std::size_t position, char c)
{
    line[position - 1] = c;
    return line;
}

// ":" "03" "0010" "00" "AB0C7F" "B7": count at 2, address at 4, type at 8,
// data from 10, checksum at 16.
const std::string kGood = DataRecord(0x0010, kSample);

INSTANTIATE_TEST_SUITE_P(
    HexReader, BadLines,
    ::testing::Values(
        BadLine{"Checksum", WithCharacter(kGood, 17, '8'), Kind::ChecksumError, "Checksum error in line 3."},
        BadLine{"ChecksumBit7", WithCharacter(kGood, 16, '3'), Kind::ChecksumError, "Checksum error in line 3."},
        BadLine{"DataChanged", WithCharacter(kGood, 11, 'C'), Kind::ChecksumError, "Checksum error in line 3."},
        BadLine{"DigitInCount", WithCharacter(kGood, 3, 'G'), Kind::BadHexDigit, "Bad hex digit in line 3."},
        BadLine{"DigitInAddress", WithCharacter(kGood, 5, ' '), Kind::BadHexDigit, "Bad hex digit in line 3."},
        BadLine{"DigitInType", WithCharacter(kGood, 9, 'x'), Kind::BadHexDigit, "Bad hex digit in line 3."},
        BadLine{"DigitInData", WithCharacter(kGood, 14, '.'), Kind::BadHexDigit, "Bad hex digit in line 3."},
        BadLine{"DigitInChecksum", WithCharacter(kGood, 16, 'g'), Kind::BadHexDigit, "Bad hex digit in line 3."},
        BadLine{"StartCodeOnly", ":", Kind::RecordTooShort, "Record too short in line 3."},
        BadLine{"NoChecksum", kGood.substr(0, 15), Kind::RecordTooShort, "Record too short in line 3."},
        BadLine{"HalfChecksum", kGood.substr(0, 16), Kind::RecordTooShort, "Record too short in line 3."},
        BadLine{"CountTooLarge", ":04001000AB0C7FB6", Kind::RecordTooShort, "Record too short in line 3."},
        BadLine{"AddressRecordOfOneByte", ":0100000401FA", Kind::BadAddressRecord, "Bad address record in line 3."},
        BadLine{"EmptyLine", "", Kind::NotIntelHex, "Not Intel-Hex-File.(13)"},
        BadLine{"ByteOrderMark", "\xEF\xBB\xBF" + kGood, Kind::NotIntelHex, "Not Intel-Hex-File.(239)"},
        BadLine{"LeadingBlank", " " + kGood, Kind::NotIntelHex, "Not Intel-Hex-File.(32)"}),
    [](const ::testing::TestParamInfo<BadLine>& info) { return info.param.name; });

TEST(HexReader, AnEmptyLineEndedByLineFeedGivesItsCode)
{
    EXPECT_EQ(ErrorText(LastEntry(JoinLines({kGood, ""}, "\n"))), "Not Intel-Hex-File.(10)");
}

TEST(HexReader, AnEmptyStreamEndsAtOnce)
{
    const auto entries = ReadAll("");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, Kind::End);
}

// Gives the bytes of a text, then fails the way a disk read fails.
class FailingStream final : public ByteStream {
public:
    explicit FailingStream(std::string text) : text_(std::move(text)) {}

    std::optional<std::uint8_t> NextByte() override
    {
        if (next_ == text_.size()) {
            failed_ = true;
            return std::nullopt;
        }
        return static_cast<std::uint8_t>(text_[next_++]);
    }
    bool ReadFailed() const override { return failed_; }

private:
    std::string text_;
    std::size_t next_ = 0;
    bool failed_ = false;
};

TEST(HexReader, AReadErrorStopsTheReadingEvenInTheMiddleOfALine)
{
    for (const std::string& text : {kGood + "\n", kGood + "\n" + kGood.substr(0, 7), kGood + "\r"}) {
        FailingStream stream(text);
        const auto entries = ReadAll(stream);
        EXPECT_EQ(entries.back().kind, Kind::ReadError) << text;
        EXPECT_EQ(ErrorText(entries.back()), "File read error.");
    }
}

}  // namespace
}  // namespace velkor
