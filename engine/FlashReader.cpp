// Commands that only read the flash: comparing it with a HEX file, and
// saving it as one. Neither ever erases or writes the chip.
#include "FlashReader.h"

#include "Format.h"
#include "LockBits.h"

namespace velkor {

CommandResult FlashReader::VerifyCommand(const std::filesystem::path& hexFile)
{
    log_.Clear();
    return session_.RunInCommandFrame([this, &hexFile] {
        const std::optional<Session::CheckedHexFile> file = session_.ReadHexFile(hexFile);
        return file && session_.EnterProgramming(true) && session_.FileIsForChip(*file) &&
               session_.DataFitsChip(*file) && !LockBits(session_).ReadingLocked() && VerifyFlash(*file);
    });
}

// A byte given twice is compared once, with the value given last, as a Write
// leaves it; the chip is read in ascending address order.
bool FlashReader::VerifyFlash(const Session::CheckedHexFile& file)
{
    return session_.CompareWithChip(
        session_.FileImage(file, AddressLimit(session_.Device())),
        [this](std::uint32_t address) { return session_.ReadFlashByte(static_cast<std::uint16_t>(address)); }, "");
}

CommandResult FlashReader::ReadCommand(const std::filesystem::path& file)
{
    log_.Clear();
    return session_.RunInCommandFrame([this, &file] {
        return session_.EnterProgramming(true) && !LockBits(session_).ReadingLocked() && ReadFlash(file);
    });
}

bool FlashReader::ReadFlash(const std::filesystem::path& file)
{
    if (!session_.IdentifiedChipIsListed()) {
        log_.Append("Unknown chip: its flash size is not known.");
        return false;
    }
    const std::vector<std::uint8_t> flash = session_.ReadWholeMemory(
        session_.Device().FlashSize, [this](std::uint16_t address) { return session_.ReadFlashByte(address); });
    if (!session_.SaveMemory(Session::WholeFileSaver(file), flash, false, "Cannot save the flash")) {
        return false;
    }
    log_.Append(FormatNumber("Read %d bytes into ", static_cast<long long>(flash.size())) + file.string() + ".");
    return true;
}

}  // namespace velkor
