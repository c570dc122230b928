// A memory and a HEX file: the file's data laid out by address, compared
// with the chip, and a memory read whole and saved as Intel HEX.
#include <algorithm>
#include <stdexcept>

#include "Format.h"
#include "HexFile.h"
#include "Session.h"
#include "WholeFile.h"

namespace velkor {

Session::MemoryImage Session::FileImage(const CheckedHexFile& file, std::uint32_t limit)
{
    MemoryImage image(limit);
    ForEachRecord(file, [&](const HexEntry& entry) {
        std::copy(entry.data.begin(), entry.data.end(), image.begin() + entry.address);
        return true;
    });
    return image;
}

bool Session::CompareWithChip(const MemoryImage& image, const std::function<std::uint8_t(std::uint32_t)>& read,
                              std::string_view memory)
{
    if (std::none_of(image.begin(), image.end(), [](const auto& byte) { return byte.has_value(); })) {
        log_.Append("Nothing to compare: the file has no data.");
        return false;
    }
    const auto limit = static_cast<std::uint32_t>(image.size());
    long long compared = 0;
    ShowLamp(Lamp::Verifying);
    for (std::uint32_t address = 0; address < limit; ++address) {
        if (!image[address]) {
            continue;
        }
        const std::uint8_t chip = read(address);
        ReportProgress(address + 1, limit);
        if (chip != *image[address]) {
            ShowLamp(std::nullopt);
            log_.Append(std::string(memory) + FormatNumber("Verify Error at %x: ", address) + "file " +
                        TwoHexDigits(*image[address]) + ", chip " + TwoHexDigits(chip) + ".");
            Fail({.fault = Fault::Mismatch, .address = address, .expected = *image[address], .found = chip});
            return false;
        }
        ++compared;
    }
    ShowLamp(std::nullopt);
    log_.Append(std::string(memory) + FormatNumber("Verify OK: %d bytes compared.", compared));
    return true;
}

std::vector<std::uint8_t> Session::ReadWholeMemory(std::uint32_t size,
                                                   const std::function<std::uint8_t(std::uint16_t)>& readByte)
{
    std::vector<std::uint8_t> memory(size);
    for (std::uint32_t address = 0; address < size; ++address) {
        memory[address] = readByte(static_cast<std::uint16_t>(address));
        ReportProgress(address + 1, size);
    }
    return memory;
}

Session::MemorySaver Session::WholeFileSaver(const std::filesystem::path& file)
{
    return [&file](std::string_view text) { WriteFileWhole(file, text); };
}

bool Session::SaveMemory(const MemorySaver& save, std::span<const std::uint8_t> memory, bool everyRecord,
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
