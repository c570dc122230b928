// The Write command's body: program the flash from an Intel HEX file, byte by
// byte as it is read on chips without pages, or gathered in PageBuffer and
// programmed page by page once the whole file has read cleanly.
#include <algorithm>

#include "Format.h"
#include "HexFile.h"
#include "Programmer.h"

namespace velkor {

namespace {
constexpr std::uint32_t kAddressSpace = 65536;

// The first byte address the chip cannot take: its flash size when it is a
// listed chip, else the end of the 16-bit flash address.
std::uint32_t AddressLimit(const DEVTYPE& device)
{
    return device.Signature != 0 ? device.FlashSize : kAddressSpace;
}
}  // namespace

bool Programmer::WriteHexFile(const std::filesystem::path& hexFile)
{
    FileByteStream file(hexFile);
    if (!file.IsOpen()) {
        log_.Append("File not found.");
        return false;
    }
    if (!EnterProgramming(false)) {
        return false;
    }
    std::fill(PageBuffer.begin(), PageBuffer.end(), 0xFF);
    log_.Append("\r\n--- Write AVR ---");

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
    if (pageMode) {
        WriteFlashPages();
    }
    log_.Append("---done.---");
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
            log_.Append(FormatNumber("Address out of range in line %d.", static_cast<long long>(record.lineNumber)));
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
