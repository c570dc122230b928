// The EEPROM: reading it whole, comparing it with a file, and writing only the
// bytes that differ, each chip its own way (byte writes polled by reading,
// by RDY/BSY or waited out; page writes where the chip has EEPROM pages).
#include <algorithm>
#include <cctype>
#include <utility>

#include "Format.h"
#include "Eeprom.h"
#include "LockBits.h"
#include "WholeFile.h"

namespace velkor {

namespace {
constexpr std::uint8_t kReadEeprom = 0xA0;
constexpr std::uint8_t kWriteEeprom = 0xC0;
constexpr std::uint8_t kLoadEepromPage = 0xC1;
constexpr std::uint8_t kWriteEepromPage = 0xC2;
// Once the write's own time has been waited, a few polls straight away, then
// one a millisecond: a chip at low supply takes up to twice as long.
constexpr int kPromptPolls = 16;
constexpr int kPatientPolls = 20;

Instruction EepromInstruction(std::uint8_t opcode, std::uint32_t address, std::uint8_t data)
{
    return {opcode, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF), data};
}
}  // namespace

std::uint8_t EepromMemory::ReadEepromByte(std::uint16_t address)
{
    return programmer_.QueryInstruction(EepromInstruction(kReadEeprom, address, 0x00));
}

bool EepromMemory::EepromKnown()
{
    if (!programmer_.MemoryRules() || programmer_.Device().EepromSize == 0) {
        log_.Append("Unknown chip: its EEPROM is not known.");
        return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> EepromMemory::ReadEeprom()
{
    if (LockBits(programmer_).ReadingLocked() || !EepromKnown()) {
        return std::nullopt;
    }
    return programmer_.ReadWholeMemory(programmer_.Device().EepromSize,
                                       [this](std::uint16_t address) { return ReadEepromByte(address); });
}

CommandResult EepromMemory::ReadEepromCommand(const std::filesystem::path& file)
{
    log_.Clear();
    return programmer_.RunInCommandFrame([this, &file] {
        if (!programmer_.EnterProgramming(true)) {
            return false;
        }
        const auto eeprom = ReadEeprom();
        if (!eeprom) {
            return false;
        }
        if (!programmer_.SaveMemory(Session::WholeFileSaver(file), *eeprom, true, "Cannot save the EEPROM")) {
            return false;
        }
        log_.Append(FormatNumber("Read %d EEPROM bytes into ", static_cast<long long>(eeprom->size())) + file.string() +
                    ".");
        return true;
    });
}

bool EepromMemory::EepromFileFits(const Session::CheckedHexFile& file)
{
    if (!EepromKnown() || !programmer_.FileIsForChip(file)) {
        return false;
    }
    if (const auto line = file.check.FirstLineReaching(programmer_.Device().EepromSize)) {
        log_.Append(programmer_.OutOfRangeText(file, *line, programmer_.Device().EepromSize) +
                    FormatNumber(": the EEPROM holds %d bytes.", programmer_.Device().EepromSize));
        programmer_.Fail({.fault = Fault::AddressOutOfRange, .line = *line});
        return false;
    }
    return true;
}

CommandResult EepromMemory::VerifyEepromCommand(const std::filesystem::path& hexFile)
{
    log_.Clear();
    return programmer_.RunInCommandFrame([this, &hexFile] {
        const std::optional<Session::CheckedHexFile> file =
            programmer_.ReadHexFile(hexFile, Session::FileMemory::Eeprom);
        if (!file || !programmer_.EnterProgramming(true) || LockBits(programmer_).ReadingLocked() ||
            !EepromFileFits(*file)) {
            return false;
        }
        return programmer_.CompareWithChip(
            programmer_.FileImage(*file, programmer_.Device().EepromSize),
            [this](std::uint32_t address) { return ReadEepromByte(static_cast<std::uint16_t>(address)); }, "EEPROM ");
    });
}

CommandResult EepromMemory::WriteEepromCommand(const std::filesystem::path& hexFile)
{
    log_.Clear();
    return programmer_.RunInCommandFrame([this, &hexFile] {
        const std::optional<Session::CheckedHexFile> file =
            programmer_.ReadHexFile(hexFile, Session::FileMemory::Eeprom);
        return file && programmer_.EnterProgramming(true) && !LockBits(programmer_).WritingLocked() &&
               EepromFileFits(*file) && WriteEepromFile(*file);
    });
}

bool EepromMemory::WriteEepromFile(const Session::CheckedHexFile& file)
{
    if (WriteEepromImage(programmer_.FileImage(file, programmer_.Device().EepromSize))) {
        return true;
    }
    LockBits(programmer_).NoteLockUnread();
    return false;
}

bool EepromMemory::WriteEepromBytes(std::uint16_t address, std::span<const std::uint8_t> bytes)
{
    if (!EepromKnown()) {
        return false;
    }
    if (address + bytes.size() > programmer_.Device().EepromSize) {
        log_.Append(FormatNumber("EEPROM bytes past its end: it holds %d bytes.", programmer_.Device().EepromSize));
        return false;
    }
    if (LockBits(programmer_).WritingLocked()) {
        return false;
    }
    MemoryImage image(programmer_.Device().EepromSize);
    std::copy(bytes.begin(), bytes.end(), image.begin() + address);
    return WriteEepromImage(image);
}

// Unit by unit (a byte, or an EEPROM page) that the image gives a byte of:
// reads what the chip holds there, then writes what differs. A byte that
// needs no write is not written: EEPROM cells wear. Units the image does not
// touch are not even read. The caller has made sure no lock bit forbids it
// (the Write's restore follows its Chip Erase, which clears them).
bool EepromMemory::WriteEepromImage(const MemoryImage& image)
{
    const EepromRules rules = *programmer_.MemoryRules();
    const std::uint32_t unit = std::max<std::uint32_t>(rules.eepromPageBytes, 1);
    std::vector<std::uint8_t> held(image.size(), 0xFF);
    long long written = 0;
    long long right = 0;
    for (std::uint32_t first = 0; first < image.size(); first += unit) {
        if (std::none_of(image.begin() + first, image.begin() + first + unit,
                         [](const auto& byte) { return byte.has_value(); })) {
            continue;
        }
        for (std::uint32_t address = first; address < first + unit; ++address) {
            held[address] = ReadEepromByte(static_cast<std::uint16_t>(address));
            if (image[address]) {
                ++(*image[address] == held[address] ? right : written);
            }
        }
        if (!WriteEepromPage(rules, first, held, image)) {
            return false;
        }
        programmer_.ReportProgress(first + unit, static_cast<std::uint32_t>(image.size()));
    }
    log_.Append(FormatNumber("EEPROM: %d bytes written, ", written) + FormatNumber("%d already right.", right));
    return true;
}

// The unit starting at first: one byte on a byte-write chip, one page on a
// chip with EEPROM pages, whose every byte is loaded (the image's value or
// the one held) so that what the chip does with bytes not loaded never
// matters. Nothing is sent when nothing differs.
bool EepromMemory::WriteEepromPage(const EepromRules& rules, std::uint32_t first, const std::vector<std::uint8_t>& held,
                                   const MemoryImage& image)
{
    const std::uint32_t unit = std::max<std::uint32_t>(rules.eepromPageBytes, 1);
    const auto wanted = [&](std::uint32_t address) { return image[address].value_or(held[address]); };
    bool differs = false;
    for (std::uint32_t address = first; address < first + unit; ++address) {
        differs = differs || wanted(address) != held[address];
    }
    if (!differs) {
        return true;
    }
    if (rules.eepromPageBytes == 0) {
        SendEepromWrite(EepromInstruction(kWriteEeprom, first, wanted(first)));
    } else {
        for (std::uint32_t address = first; address < first + unit; ++address) {
            programmer_.SendInstruction(EepromInstruction(kLoadEepromPage, address & (unit - 1), wanted(address)));
        }
        SendEepromWrite(EepromInstruction(kWriteEepromPage, first, 0x00));
    }
    const auto last = static_cast<std::uint16_t>(first + unit - 1);
    if (!WaitForEepromWrite(rules, last, wanted(last))) {
        return false;
    }
    for (std::uint32_t address = first; address < first + unit; ++address) {
        if (wanted(address) != held[address] &&
            !EepromReadsBack(static_cast<std::uint16_t>(address), wanted(address))) {
            return false;
        }
    }
    return true;
}

// The instruction's stop point comes before whoever watches the writes is
// told: once told, the instruction goes out whole.
void EepromMemory::SendEepromWrite(const Instruction& instruction)
{
    programmer_.StopIfRequested();
    if (OnEepromWrite) {
        OnEepromWrite();
    }
    for (const std::uint8_t byte : instruction) {
        programmer_.SendByte(byte);
    }
}

// A chip beyond the table with RDY/BSY is polled from the start. Elsewhere
// the write's own time first; then RDY/BSY where the chip has it, else a read
// of the byte written, which gives the chip's poll values until it is done;
// a value equal to one of them cannot be told apart and is waited out. A chip
// that never says it is done is left to the read-back, which then tells.
bool EepromMemory::WaitForEepromWrite(const EepromRules& rules, std::uint16_t address, std::uint8_t value)
{
    if (programmer_.PollsReadyBusy()) {
        return programmer_.WaitUntilReady(0, rules.eepromWriteMicros, "EEPROM write");
    }
    programmer_.Wait(rules.eepromWriteMicros / 1000);
    const bool pollable = rules.rdyBsyPoll || (value != rules.eepromPollFirst && value != rules.eepromPollSecond);
    if (!pollable) {
        programmer_.Wait(2);  // the fraction of a millisecond left, and as much again for a margin
        return true;
    }
    for (int poll = 0; poll < kPromptPolls + kPatientPolls; ++poll) {
        const bool done = rules.rdyBsyPoll
                              ? !programmer_.ReportsBusy()
                              : programmer_.PollInstruction(EepromInstruction(kReadEeprom, address, 0x00)) == value;
        if (done) {
            return true;
        }
        if (poll >= kPromptPolls) {
            programmer_.Wait(1);
        }
    }
    return true;
}

bool EepromMemory::EepromReadsBack(std::uint16_t address, std::uint8_t value)
{
    const std::uint8_t chip = ReadEepromByte(address);
    if (chip == value) {
        return true;
    }
    log_.Append(FormatNumber("EEPROM Verify Error at %x: ", address) + "wrote " + TwoHexDigits(value) + ", chip " +
                TwoHexDigits(chip) + ".");
    programmer_.Fail({.fault = Fault::Mismatch, .address = address, .expected = value, .found = chip});
    return false;
}

// ---- keeping the EEPROM through a Write -------------------------------------

CommandResult EepromMemory::WriteKeepingEepromCommand(const std::filesystem::path& hexFile,
                                                      const std::filesystem::path& copyFolder)
{
    copyFolder_ = copyFolder;
    CommandResult written = programmer_.WriteCommand(hexFile, this);
    // A copy left by a failure stays on disk, named; the next Write must not
    // take it for its own.
    keptEeprom_.reset();
    return written;
}

// The copy's first name: the chip's name with anything but letters, digits,
// '.', '_' and '+' turned into '-' (an "A/B" row, a chip file's own name),
// so that it is one plain file name and reads the same when printed.
namespace {
std::filesystem::path CopyName(const std::filesystem::path& folder, std::string chipName)
{
    std::replace_if(
        chipName.begin(), chipName.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '+'; }, '-');
    return folder / ("eeprom-copy-" + chipName + ".hex");
}
}  // namespace

// Before the erase: the whole EEPROM read and saved, or no erase at all. The
// copy gets a name no other file has (an earlier copy may be the only one
// left of another chip's EEPROM, and concurrent Writes in one folder each
// keep their own).
bool EepromMemory::SaveBeforeErase()
{
    auto eeprom = ReadEeprom();
    if (!eeprom) {
        log_.Append("Not written: the EEPROM could not be read to be kept.");
        return false;
    }
    std::filesystem::path copy;
    const auto save = [&](std::string_view text) {
        copy = WriteNewFile(CopyName(copyFolder_, programmer_.Device().Name), text);
    };
    if (!programmer_.SaveMemory(save, *eeprom, true, "Not written: cannot save the EEPROM's copy")) {
        return false;
    }
    keptEeprom_ = KeptEeprom{copy, std::move(*eeprom)};
    if (OnEepromCopySaved) {
        OnEepromCopySaved(copy);
    }
    return true;
}

// After the flash: the copy written back, read back, and only then removed.
bool EepromMemory::RestoreAfterFlash()
{
    log_.Append("Restoring the EEPROM.");
    if (!WriteEepromImage(MemoryImage(keptEeprom_->bytes.begin(), keptEeprom_->bytes.end()))) {
        return false;
    }
    std::error_code error;
    std::filesystem::remove(keptEeprom_->file, error);
    return true;
}

}  // namespace velkor
