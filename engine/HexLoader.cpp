// The Write command's body: program the flash from an Intel HEX file, byte by
// byte on chips without pages, or gathered in PageBuffer and programmed page
// by page. The file is read once, into memory, and checked whole before the
// first instruction; everything after works from that one reading.
#include <algorithm>

#include "FileReading.h"
#include "Format.h"
#include "HexFile.h"
#include "Programmer.h"

namespace velkor {

namespace {
// The text of a HEX file in memory, handed out with a checkpoint every 64 KiB:
// reading 64 MiB takes long enough that a stop request must be heard.
class CheckpointedStream final : public ByteStream {
public:
    CheckpointedStream(std::span<const std::uint8_t> bytes, std::function<void()> checkpoint)
        : bytes_(bytes), checkpoint_(std::move(checkpoint))
    {
    }

    std::optional<std::uint8_t> NextByte() override
    {
        if ((++read_ & kCheckpointMask) == 0) {
            checkpoint_();
        }
        return bytes_.NextByte();
    }
    bool ReadFailed() const override { return false; }

private:
    static constexpr std::size_t kCheckpointMask = (std::size_t{1} << 16) - 1;
    MemoryByteStream bytes_;
    std::function<void()> checkpoint_;
    std::size_t read_ = 0;
};
}  // namespace

bool Programmer::WriteHexFile(const std::filesystem::path& hexFile)
{
    const std::optional<CheckedHexFile> file = ReadHexFile(hexFile);
    return file && WriteCheckedHexFile(*file);
}

bool Programmer::WriteCheckedHexFile(const CheckedHexFile& file)
{
    return PrepareChipForFile(file) && ProgramErasedFlash(file);
}

bool Programmer::ProgramErasedFlash(const CheckedHexFile& file)
{
    std::fill(PageBuffer.begin(), PageBuffer.end(), 0xFF);
    log_.Append("\r\n--- Write AVR ---");

    const bool pageMode = Device().PageSize != 0;
    bool programmed = true;
    ForEachRecord(file, [&](const HexEntry& record) { return programmed = ProgramRecord(record, pageMode); });
    if (!programmed || (pageMode && !WriteFlashPages())) {
        return false;
    }
    log_.Append("---done.---");
    return kept_ == nullptr || kept_->RestoreAfterFlash();
}

std::optional<Session::CheckedHexFile> Session::ReadHexFile(const std::filesystem::path& hexFile, FileMemory memory)
{
    std::optional<std::vector<std::uint8_t>> bytes = ReadInputFile(hexFile);
    if (!bytes) {
        return std::nullopt;
    }
    if (IsElfFile(*bytes)) {
        const std::optional<ElfMemories> memories = ReadElf(*bytes);
        return memories ? ElfMemoryFile(*memories, memory) : std::nullopt;
    }
    return CheckHexText(std::move(*bytes));
}

std::optional<std::vector<std::uint8_t>> Session::ReadInputFile(const std::filesystem::path& file)
{
    FileReading reading = ReadFileWhole(file, kLargestHexFile, StopRequested);
    switch (reading.result) {
    case FileReading::Result::Read:
        return std::move(reading.bytes);
    case FileReading::Result::NotFound:
    case FileReading::Result::Folder:
        log_.Append("File not found.");
        Fail({.fault = Fault::FileNotFound});
        return std::nullopt;
    case FileReading::Result::NotRegular:
        log_.Append("Not a regular file: a HEX file cannot be a pipe or a device.");
        return std::nullopt;
    case FileReading::Result::TooLarge:
        log_.Append(FormatNumber("File too large: a HEX file may hold at most %d MiB.",
                                 static_cast<long long>(kLargestHexFile >> 20)));
        return std::nullopt;
    case FileReading::Result::ReadError:
        log_.Append("File read error.");
        return std::nullopt;
    case FileReading::Result::Stopped:
        StopIfRequested();
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Session::CheckedHexFile> Session::CheckHexText(std::vector<std::uint8_t> text)
{
    CheckpointedStream stream(text, [this] { StopIfRequested(); });
    HexFileCheck check(stream);
    if (check.Fault()) {
        log_.Append(ErrorText(*check.Fault()));
        return std::nullopt;
    }
    return CheckedHexFile{std::move(text), std::move(check)};
}

void Session::ForEachRecord(const CheckedHexFile& file, const std::function<bool(const HexEntry&)>& use)
{
    CheckpointedStream stream(file.text, [this] { StopIfRequested(); });
    HexReader reader(stream);
    // The text was checked whole: it reads to its end without a fault.
    for (HexEntry entry = reader.Next(); entry.kind == HexEntry::Kind::Data && use(entry); entry = reader.Next()) {
    }
}

// Identifies the chip and checks the file against it. True with a listed
// chip erased and in programming mode; a chip whose signature was hidden is
// erased first to be identified (its flash could not be read anyway).
bool Programmer::PrepareChipForFile(const CheckedHexFile& file)
{
    const bool identified = EnterProgramming(true);
    const bool hidden = identified && !IdentifiedChipIsListed() && SignatureHidden();
    if (!identified || (!hidden && !FileIsForChip(file)) || !DataFitsChip(file)) {
        return false;
    }
    if (hidden && kept_ != nullptr) {
        log_.Append("Not written: the chip is locked and hides its EEPROM, which cannot be kept.");
        ReleasePort();
        return false;
    }
    if (hidden) {
        if (!ChipErase()) {
            return false;
        }
        ReadSignature();
        if (!FileIsForChip(file)) {
            return false;
        }
    }
    if (!IdentifiedChipIsListed()) {
        log_.Append("Not written: the chip is not in the device table.");
        Fail({.fault = Fault::ChipNotListed});
        ReleasePort();
        return false;
    }
    return (!hidden || DataFitsChip(file)) && ByteModeValuesAgree(file) &&
           (hidden || ((kept_ == nullptr || kept_->SaveBeforeErase()) && ChipErase()));
}

bool Session::DataFitsChip(const CheckedHexFile& file)
{
    if (const auto line = file.check.FirstLineReaching(AddressLimit(Device()))) {
        log_.Append(OutOfRangeText(file, *line, AddressLimit(Device())) + ".");
        Fail({.fault = Fault::AddressOutOfRange, .line = *line});
        ReleasePort();
        return false;
    }
    return true;
}

// Byte mode writes each byte as it comes, into a flash that is not erased in
// between: bits only go from 1 to 0, so a second, different value for one
// address can never be programmed. Page mode keeps the last value.
bool Programmer::ByteModeValuesAgree(const CheckedHexFile& file)
{
    if (Device().PageSize != 0) {
        return true;
    }
    std::vector<std::optional<std::uint8_t>> given(AddressLimit(Device()));
    std::optional<std::size_t> conflict;
    ForEachRecord(file, [&](const HexEntry& record) {
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            std::optional<std::uint8_t>& value = given[record.address + i];
            if (value && *value != record.data[i]) {
                conflict = record.lineNumber;
                return false;
            }
            value = record.data[i];
        }
        return true;
    });
    if (conflict) {
        log_.Append(
            FormatNumber("Address given a second, different value in line %d.", static_cast<long long>(*conflict)));
        ReleasePort();
        return false;
    }
    return true;
}

// Writes or stores the record's bytes in order and logs its echo line, which
// is left out when a byte stops the command. The file's data was found to fit
// the chip before the erase.
bool Programmer::ProgramRecord(const HexEntry& record, bool pageMode)
{
    const std::uint32_t limit = AddressLimit(Device());
    std::string echo = FormatNumber("%04x: ", record.address);
    for (std::size_t i = 0; i < record.data.size(); ++i) {
        const std::uint32_t address = record.address + static_cast<std::uint32_t>(i);
        const std::uint8_t data = record.data[i];
        echo += TwoHexDigits(data) + " ";
        if (pageMode) {
            PageBuffer[address] = data;
        } else if (!WriteFlashByte(static_cast<std::uint16_t>(address), data)) {
            return false;
        }
    }
    log_.Append(echo);
    if (!pageMode && !record.data.empty()) {
        // Pages are only written once the whole file is read; bytes as they come.
        ReportProgress(static_cast<std::uint32_t>(record.address + record.data.size()), limit);
    }
    return true;
}

}  // namespace velkor
