// What ties a file to a chip: an ELF file's memories laid out as the HEX
// path checks them, the chip it was built for, and the chip a command
// expects.
#include <algorithm>

#include "BuiltInCatalogue.h"
#include "Format.h"
#include "NameMatch.h"
#include "Session.h"

namespace velkor {

namespace {
std::string SignatureBytes(ChipSignature signature)
{
    return TwoHexDigits(signature.maker) + " " + TwoHexDigits(static_cast<std::uint8_t>(signature.device >> 8)) + " " +
           TwoHexDigits(static_cast<std::uint8_t>(signature.device & 0xFF));
}
}  // namespace

bool ChipAnswersTo(std::string_view rowName, std::string_view name)
{
    const std::size_t firstDigit = rowName.find_first_of("0123456789");
    const std::string_view prefix = rowName.substr(0, std::min(firstDigit, rowName.size()));
    for (std::size_t start = 0; start <= rowName.size();) {
        const std::size_t slash = std::min(rowName.find('/', start), rowName.size());
        const std::string_view part = rowName.substr(start, slash - start);
        const std::string full =
            start == 0 || part.starts_with(prefix) ? std::string(part) : std::string(prefix) + std::string(part);
        if (SameNameIgnoringCase(full, name)) {
            return true;
        }
        start = slash + 1;
    }
    return false;
}

std::optional<ElfMemories> Session::ReadElf(std::span<const std::uint8_t> bytes)
{
    ElfReading reading = ReadElfFile(bytes);
    if (!reading.memories) {
        log_.Append(reading.fault);
        return std::nullopt;
    }
    if (!reading.memories->signature.empty() && reading.memories->signature.size() != 3) {
        log_.Append("Corrupt ELF file: its signature section does not hold three bytes.");
        return std::nullopt;
    }
    return std::move(reading.memories);
}

std::optional<Session::CheckedHexFile> Session::ElfMemoryFile(const ElfMemories& memories, FileMemory memory)
{
    const std::string text = IntelHexText(memory == FileMemory::Flash ? memories.flash : memories.eeprom);
    std::optional<CheckedHexFile> file = CheckHexText({text.begin(), text.end()});
    if (file) {
        file->fromElf = true;
        // <avr/signature.h> lays the bytes out last first.
        if (const auto& signature = memories.signature; signature.size() == 3) {
            file->builtFor = ChipSignature{signature[2], static_cast<std::uint16_t>(signature[1] << 8 | signature[0])};
        }
    }
    return file;
}

std::string Session::ChipDescription(ChipSignature signature) const
{
    const ChipRecord* chip = nullptr;
    if (signature.maker == MakerCode && signature.device == DeviceSignature) {
        chip = ChipInUse();
    }
    for (const ChipCatalogue* list : {&TableChips(), &BuiltInCatalogue()}) {
        chip = chip != nullptr ? chip : list->Find(signature.device);
    }
    chip = chip != nullptr ? chip : FindInChipLists(signature.device);
    return (chip != nullptr ? std::string(chip->row.Name) : std::string("an unknown chip")) + " (" +
           SignatureBytes(signature) + ")";
}

bool Session::FileIsForChip(const CheckedHexFile& file)
{
    if (!file.builtFor || (file.builtFor->maker == MakerCode && file.builtFor->device == DeviceSignature)) {
        return true;
    }
    log_.Append("Wrong chip: the file was built for " + ChipDescription(*file.builtFor) + ", the chip is " +
                ChipDescription({MakerCode, DeviceSignature}) + ".");
    Fail({.fault = Fault::Other});
    ReleasePort();
    return false;
}

std::string Session::OutOfRangeText(const CheckedHexFile& file, std::size_t line, std::uint32_t limit)
{
    if (!file.fromElf) {
        return FormatNumber("Address out of range in line %d", static_cast<long long>(line));
    }
    std::uint64_t reach = 0;
    ForEachRecord(file, [&](const HexEntry& record) {
        reach = std::max<std::uint64_t>(reach, record.address + record.data.size());
        return true;
    });
    return FormatNumber("Address out of range: the ELF file's data reaches %x", static_cast<long long>(reach - 1)) +
           FormatNumber(", past the memory's %d bytes", limit);
}

bool Session::IsExpectedChip() const
{
    return !ExpectedChip || (IdentifiedChipIsListed() && ChipAnswersTo(Device().Name, *ExpectedChip));
}

}  // namespace velkor
