// AVR ELF files read with libelf. The toolchain puts each memory in a space
// of its own above the flash: RAM at 0x800000, EEPROM at 0x810000, fuses at
// 0x820000, lock bits at 0x830000, the signature at 0x840000. A section's
// load address comes from the program header that holds it, as avr-objcopy
// takes it: .data runs from RAM but is loaded into the flash after .text.
#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "ElfFile.h"
#include "Format.h"

namespace velkor {

namespace {

constexpr std::uint64_t kSpaceSize = 0x10000;
constexpr std::uint64_t kRamSpace = 0x800000;
constexpr std::uint64_t kEepromSpace = 0x810000;
constexpr std::uint64_t kFuseSpace = 0x820000;
constexpr std::uint64_t kLockSpace = 0x830000;
constexpr std::uint64_t kSignatureSpace = 0x840000;
// Flash reaches up to the RAM space: 8 MiB, far beyond any AVR's.
constexpr std::uint64_t kFlashSpaceSize = kRamSpace;

struct ElfEnd {
    void operator()(Elf* elf) const { elf_end(elf); }
};
using ElfHandle = std::unique_ptr<Elf, ElfEnd>;

struct Fault {
    std::string line;
};

std::string LibElfReason()
{
    const char* message = elf_errmsg(-1);
    return message != nullptr ? message : "unknown reason";
}

std::string SectionName(Elf* elf, std::size_t namesIndex, const GElf_Shdr& header)
{
    const char* name = elf_strptr(elf, namesIndex, header.sh_name);
    return name != nullptr ? name : "(unnamed)";
}

// The load address of a section: where the loadable segment that holds its
// bytes in the file is loaded, else its own address.
std::uint64_t LoadAddress(const std::vector<GElf_Phdr>& segments, const GElf_Shdr& section)
{
    for (const GElf_Phdr& segment : segments) {
        if (segment.p_type == PT_LOAD && section.sh_offset >= segment.p_offset &&
            section.sh_offset + section.sh_size <= segment.p_offset + segment.p_filesz) {
            return segment.p_paddr + (section.sh_offset - segment.p_offset);
        }
    }
    return section.sh_addr;
}

std::vector<GElf_Phdr> ProgramHeaders(Elf* elf)
{
    std::size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0) {
        throw Fault{"Corrupt ELF file: its program headers cannot be read (" + LibElfReason() + ")."};
    }
    std::vector<GElf_Phdr> headers(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (gelf_getphdr(elf, static_cast<int>(i), &headers[i]) == nullptr) {
            throw Fault{"Corrupt ELF file: its program headers cannot be read (" + LibElfReason() + ")."};
        }
    }
    return headers;
}

// Where a section of the file goes: the memory and the address within it.
// The segments of flash, EEPROM, fuses, lock and signature, in that order.
using Spaces = std::array<std::vector<HexSegment>, 5>;

struct Placement {
    std::vector<HexSegment>* memory = nullptr;
    std::uint32_t address = 0;
};

Placement Place(std::uint64_t loadAddress, std::uint64_t size, Spaces& spaces, const std::string& name)
{
    static constexpr std::uint64_t kSpaces[] = {kEepromSpace, kFuseSpace, kLockSpace, kSignatureSpace};
    std::uint64_t base = 0;
    std::uint64_t spaceSize = kFlashSpaceSize;
    std::vector<HexSegment>* memory = &spaces[0];
    if (loadAddress >= kRamSpace) {
        const auto* space = std::find_if(std::begin(kSpaces), std::end(kSpaces), [loadAddress](std::uint64_t start) {
            return loadAddress >= start && loadAddress < start + kSpaceSize;
        });
        if (space == std::end(kSpaces)) {
            return {};  // RAM, or a space no memory of the chip's programming reaches
        }
        base = *space;
        spaceSize = kSpaceSize;
        memory = &spaces[1 + (space - std::begin(kSpaces))];
    }
    if (loadAddress - base + size > spaceSize) {
        throw Fault{"Corrupt ELF file: section " + name +
                    FormatNumber(" at %x runs past the end of its memory.", static_cast<long long>(loadAddress))};
    }
    return {memory, static_cast<std::uint32_t>(loadAddress - base)};
}

// A small memory's bytes from its first on, with no gap between sections.
std::vector<std::uint8_t> Contiguous(std::vector<HexSegment> segments, std::string_view what)
{
    std::sort(segments.begin(), segments.end(), [](const auto& a, const auto& b) { return a.address < b.address; });
    std::vector<std::uint8_t> bytes;
    for (const HexSegment& segment : segments) {
        if (segment.address != bytes.size()) {
            throw Fault{"Corrupt ELF file: its " + std::string(what) +
                        " bytes do not follow each other from the first."};
        }
        bytes.insert(bytes.end(), segment.bytes.begin(), segment.bytes.end());
    }
    return bytes;
}

void CheckMachine(Elf* elf, const GElf_Ehdr& header)
{
    if (gelf_getclass(elf) != ELFCLASS32 || header.e_machine != EM_AVR) {
        throw Fault{"Not an AVR ELF file: it was built for another processor."};
    }
}

// libelf reads a file whose header tables lie past its end as one without
// sections: a file cut short would look empty.
void CheckTablesInFile(Elf* elf, const GElf_Ehdr& header, std::uint64_t fileSize)
{
    std::size_t sections = 0;
    std::size_t segments = 0;
    if (elf_getshdrnum(elf, &sections) != 0 || elf_getphdrnum(elf, &segments) != 0) {
        throw Fault{"Corrupt ELF file: its header cannot be read (" + LibElfReason() + ")."};
    }
    const auto inFile = [fileSize](std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize) {
        return count == 0 || (offset <= fileSize && count * entrySize <= fileSize - offset);
    };
    if (sections == 0 || !inFile(header.e_shoff, sections, header.e_shentsize) ||
        !inFile(header.e_phoff, segments, header.e_phentsize)) {
        throw Fault{"Cut-short ELF file: its section or program headers are missing."};
    }
}

ElfMemories ReadMemories(Elf* elf, std::uint64_t fileSize)
{
    GElf_Ehdr header;
    if (elf_kind(elf) != ELF_K_ELF || gelf_getehdr(elf, &header) == nullptr) {
        throw Fault{"Corrupt ELF file: its header cannot be read (" + LibElfReason() + ")."};
    }
    CheckMachine(elf, header);
    CheckTablesInFile(elf, header, fileSize);
    const std::vector<GElf_Phdr> segments = ProgramHeaders(elf);
    std::size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf, &namesIndex) != 0) {
        throw Fault{"Corrupt ELF file: its section names cannot be read (" + LibElfReason() + ")."};
    }
    Spaces spaces;
    std::uint64_t taken = 0;
    for (Elf_Scn* section = elf_nextscn(elf, nullptr); section != nullptr; section = elf_nextscn(elf, section)) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr) {
            throw Fault{"Corrupt ELF file: a section header cannot be read (" + LibElfReason() + ")."};
        }
        if ((header.sh_flags & SHF_ALLOC) == 0 || header.sh_type == SHT_NOBITS || header.sh_size == 0) {
            continue;
        }
        const std::string name = SectionName(elf, namesIndex, header);
        const Elf_Data* data = elf_rawdata(section, nullptr);
        if (data == nullptr || data->d_buf == nullptr || data->d_size != header.sh_size) {
            throw Fault{"Corrupt or cut-short ELF file: section " + name + " cannot be read (" + LibElfReason() + ")."};
        }
        const Placement placement = Place(LoadAddress(segments, header), header.sh_size, spaces, name);
        // Sections that share bytes of the file would let a small file claim
        // memory without bound.
        taken += placement.memory != nullptr ? header.sh_size : 0;
        if (taken > fileSize) {
            throw Fault{"Corrupt ELF file: its sections overlap."};
        }
        if (placement.memory != nullptr) {
            const auto* bytes = static_cast<const std::uint8_t*>(data->d_buf);
            placement.memory->push_back({placement.address, {bytes, bytes + data->d_size}});
        }
    }
    for (auto* memory : {&spaces[0], &spaces[1]}) {
        std::stable_sort(memory->begin(), memory->end(),
                         [](const auto& a, const auto& b) { return a.address < b.address; });
    }
    return {.flash = std::move(spaces[0]),
            .eeprom = std::move(spaces[1]),
            .fuses = Contiguous(std::move(spaces[2]), "fuse"),
            .lock = Contiguous(std::move(spaces[3]), "lock"),
            .signature = Contiguous(std::move(spaces[4]), "signature")};
}

}  // namespace

ElfReading ReadElfFile(std::span<const std::uint8_t> bytes)
{
    if (elf_version(EV_CURRENT) == EV_NONE) {
        return {.memories = std::nullopt, .fault = "ELF files cannot be read: libelf is too old."};
    }
    // libelf takes the image as writable memory; it gets a copy of its own.
    std::vector<char> image(bytes.begin(), bytes.end());
    const ElfHandle elf(elf_memory(image.data(), image.size()));
    if (!elf) {
        return {.memories = std::nullopt, .fault = "Corrupt ELF file: " + LibElfReason() + "."};
    }
    try {
        return {.memories = ReadMemories(elf.get(), image.size()), .fault = {}};
    } catch (const Fault& fault) {
        return {.memories = std::nullopt, .fault = fault.line};
    }
}

bool ElfFilesSupported()
{
    return true;
}

}  // namespace velkor
