// The Write command's body: program the flash from an Intel HEX file, byte by
// byte as it is read on chips without pages, or gathered in PageBuffer and
// programmed page by page once the whole file has read cleanly.
#include <algorithm>

#include "Format.h"
#include "HexFile.h"
#include "Programmer.h"

namespace velkor {

namespace {
std::string AddressOutOfRange(std::size_t lineNumber)
{
    return FormatNumber("Address out of range in line %d.", static_cast<long long>(lineNumber));
}
}  // namespace

bool Programmer::WriteHexFile(const std::filesystem::path& hexFile)
{
    FileByteStream file(hexFile);
    if (!EnterProgrammingForFile(file) || !ChipErase()) {
        return false;
    }
    std::fill(PageBuffer.begin(), PageBuffer.end(), 0xFF);
    log_.Append("\r\n--- Write AVR ---");

    // The second reading: the file may have changed since the check, so its
    // faults still stop the command here.
    const bool pageMode = Device().PageSize != 0;
    HexReader reader(file);
    for (HexEntry entry = reader.Next(); entry.kind != HexEntry::Kind::End; entry = reader.Next()) {
        if (entry.IsError()) {
            log_.Append(ErrorText(entry));
            return false;
        }
        if (!ProgramRecord(entry, pageMode)) {
            return false;
        }
    }
    if (pageMode && !WriteFlashPages()) {
        return false;
    }
    log_.Append("---done.---");
    return true;
}

// Reads the whole file once before any instruction reaches the chip, so that
// a faulty file never costs the chip its program; then identifies the chip
// and checks that the file's data fits it. True with the chip in programming
// mode (not erased) and the file rewound for its second reading.
bool Programmer::EnterProgrammingForFile(FileByteStream& file)
{
    if (!file.IsOpen()) {
        log_.Append("File not found.");
        return false;
    }
    if (!file.Rewind()) {
        log_.Append("File cannot be read twice.");
        return false;
    }
    const HexFileCheck check(file);
    if (check.Fault()) {
        log_.Append(ErrorText(*check.Fault()));
        return false;
    }
    if (!file.Rewind()) {
        log_.Append("File read error.");
        return false;
    }
    if (!EnterProgramming(true)) {
        return false;
    }
    if (const auto line = check.FirstLineReaching(AddressLimit(Device()))) {
        log_.Append(AddressOutOfRange(*line));
        ReleasePort();
        return false;
    }
    return true;
}

// Writes or stores the record's bytes in order and logs its echo line, which
// is left out when a byte stops the command.
bool Programmer::ProgramRecord(const HexEntry& record, bool pageMode)
{
    const std::uint32_t limit = AddressLimit(Device());
    std::string echo = FormatNumber("%04x: ", record.address);
    for (std::size_t i = 0; i < record.data.size(); ++i) {
        const std::uint64_t address = std::uint64_t{record.address} + i;
        if (address >= limit) {
            log_.Append(AddressOutOfRange(record.lineNumber));
            return false;
        }
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
