// Commands that only read the flash: comparing it with a HEX file, and
// saving it as one. Neither ever erases or writes the chip.
#include <algorithm>
#include <stdexcept>

#include "Format.h"
#include "HexFile.h"
#include "Programmer.h"
#include "WholeFile.h"

namespace velkor {

bool Programmer::VerifyCommand(const std::filesystem::path& hexFile)
{
    log_.Clear();
    return RunInCommandFrame([this, &hexFile] {
        const std::optional<CheckedHexFile> file = ReadHexFile(hexFile);
        return file && EnterProgramming(true) && DataFitsChip(*file) && !ReadingLocked() && VerifyFlash(*file);
    });
}

// A byte given twice is compared once, with the value given last, as a Write
// leaves it; the chip is read in ascending address order.
bool Programmer::VerifyFlash(const CheckedHexFile& file)
{
    return CompareWithChip(
        FileImage(file, AddressLimit(Device())),
        [this](std::uint32_t address) { return ReadFlashByte(static_cast<std::uint16_t>(address)); }, "");
}

Programmer::MemoryImage Programmer::FileImage(const CheckedHexFile& file, std::uint32_t limit)
{
    MemoryImage image(limit);
    ForEachRecord(file, [&](const HexEntry& entry) {
        std::copy(entry.data.begin(), entry.data.end(), image.begin() + entry.address);
        return true;
    });
    return image;
}

bool Programmer::CompareWithChip(const MemoryImage& image, const std::function<std::uint8_t(std::uint32_t)>& read,
                                 std::string_view memory)
{
    if (std::none_of(image.begin(), image.end(), [](const auto& byte) { return byte.has_value(); })) {
        log_.Append("Nothing to compare: the file has no data.");
        return false;
    }
    const auto limit = static_cast<std::uint32_t>(image.size());
    long long compared = 0;
    for (std::uint32_t address = 0; address < limit; ++address) {
        if (!image[address]) {
            continue;
        }
        const std::uint8_t chip = read(address);
        ReportProgress(address + 1, limit);
        if (chip != *image[address]) {
            log_.Append(std::string(memory) + FormatNumber("Verify Error at %x: ", address) + "file " +
                        TwoHexDigits(*image[address]) + ", chip " + TwoHexDigits(chip) + ".");
            return false;
        }
        ++compared;
    }
    log_.Append(std::string(memory) + FormatNumber("Verify OK: %d bytes compared.", compared));
    return true;
}

bool Programmer::ReadCommand(const std::filesystem::path& file)
{
    log_.Clear();
    return RunInCommandFrame([this, &file] { return EnterProgramming(true) && !ReadingLocked() && ReadFlash(file); });
}

bool Programmer::ReadFlash(const std::filesystem::path& file)
{
    if (!IdentifiedChipIsListed()) {
        log_.Append("Unknown chip: its flash size is not known.");
        return false;
    }
    const std::vector<std::uint8_t> flash =
        ReadWholeMemory(Device().FlashSize, [this](std::uint16_t address) { return ReadFlashByte(address); });
    if (!SaveMemory(WholeFileSaver(file), flash, false, "Cannot save the flash")) {
        return false;
    }
    log_.Append(FormatNumber("Read %d bytes into ", static_cast<long long>(flash.size())) + file.string() + ".");
    return true;
}

std::vector<std::uint8_t> Programmer::ReadWholeMemory(std::uint32_t size,
                                                      const std::function<std::uint8_t(std::uint16_t)>& readByte)
{
    std::vector<std::uint8_t> memory(size);
    for (std::uint32_t address = 0; address < size; ++address) {
        memory[address] = readByte(static_cast<std::uint16_t>(address));
        ReportProgress(address + 1, size);
    }
    return memory;
}

Programmer::MemorySaver Programmer::WholeFileSaver(const std::filesystem::path& file)
{
    return [&file](std::string_view text) { WriteFileWhole(file, text); };
}

bool Programmer::SaveMemory(const MemorySaver& save, std::span<const std::uint8_t> memory, bool everyRecord,
                            const char* failure)
{
    try {
        save(IntelHexText(memory, everyRecord));
    } catch (const std::runtime_error& error) {
        log_.Append(std::string(failure) + ": " + error.what() + ".");
        return false;
    }
    return true;
}

}  // namespace velkor
