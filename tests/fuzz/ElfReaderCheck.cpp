#include "ElfReaderCheck.h"

#include "ElfFile.h"
#include "HexFile.h"

namespace velkor::fuzz {

namespace {

// What the segments' text gives back when read as a HEX file: its fault, or
// the bytes in order.
std::string CheckSegments(const std::vector<HexSegment>& segments, std::uint64_t spaceSize, std::uint64_t& total)
{
    std::uint64_t given = 0;
    for (const HexSegment& segment : segments) {
        if (segment.bytes.empty() || segment.address + segment.bytes.size() > spaceSize) {
            return "a segment empty or beyond its space";
        }
        given += segment.bytes.size();
    }
    const std::string text = IntelHexText(segments);
    MemoryByteStream stream({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    HexReader reader(stream);
    std::uint64_t read = 0;
    HexEntry entry = reader.Next();
    for (; entry.kind == HexEntry::Kind::Data; entry = reader.Next()) {
        read += entry.data.size();
    }
    if (entry.kind != HexEntry::Kind::End || read != given) {
        return "the segments' HEX text does not read back whole";
    }
    total += given;
    return {};
}

}  // namespace

std::string CheckElfReader(std::span<const std::uint8_t> bytes)
{
    const ElfReading reading = ReadElfFile(bytes);
    if (!reading.memories) {
        return reading.fault.empty() ? "a refusal without its log line" : "";
    }
    if (!IsElfFile(bytes)) {
        return "memories from a file that does not start as an ELF file";
    }
    const ElfMemories& memories = *reading.memories;
    std::uint64_t total = memories.fuses.size() + memories.lock.size() + memories.signature.size();
    for (const std::string& fault :
         {CheckSegments(memories.flash, 0x800000, total), CheckSegments(memories.eeprom, 0x10000, total)}) {
        if (!fault.empty()) {
            return fault;
        }
    }
    if (total > bytes.size()) {
        return "more memory bytes than the file has";
    }
    return {};
}

}  // namespace velkor::fuzz
