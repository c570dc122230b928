#include "ChipCatalogue.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "NameMatch.h"
#include "ProgrammerWaits.h"
#include "SckPace.h"

namespace velkor {

namespace {

using Json = nlohmann::json;

// A chip busy longer than the programmer waits would lose the instructions
// that follow. The fuse time also covers a lock write.
constexpr std::uint32_t kPageWaitMicros = kPageWaitMs * 1000;
constexpr std::uint32_t kEraseWaitMicros = kEraseWaitMs * 1000;
constexpr std::uint32_t kFuseWaitMicros = std::min(kFuseWaitMs, kLockWaitMs) * 1000;
constexpr std::uint32_t kLongestEepromWriteMicros = 20'000;
constexpr std::size_t kLongestName = 31;
constexpr std::size_t kLongestBitName = 15;
constexpr const char* kUnusedBit = "-";

// The instructions that read each byte; the fourth byte is the one read.
constexpr std::array<std::uint8_t, 3> kReadFuseLow{0x50, 0x00, 0x00};
constexpr std::array<std::uint8_t, 3> kReadFuseHigh{0x58, 0x08, 0x00};
constexpr std::array<std::uint8_t, 3> kReadFuseExtended{0x50, 0x08, 0x00};
constexpr std::array<std::uint8_t, 3> kReadLock{0x58, 0x00, 0x00};

struct FuseByteKind {
    const char* key;
    const char* layoutName;
    std::array<std::uint8_t, 3> readInstruction;
};
constexpr std::array<FuseByteKind, 3> kFuseBytes{{
    {"low", "Fuse low", kReadFuseLow},
    {"high", "Fuse high", kReadFuseHigh},
    {"extended", "Fuse ext", kReadFuseExtended},
}};

const std::set<std::string, std::less<>> kChipFields{
    "name",          "also",  "signature", "flash",   "page",    "sram",     "eeprom", "eeprom_page", "pins",
    "no_poll_value", "fuses", "lock",      "rdy_bsy", "busy_us", "clock_hz", "clock",  "note"};

// The outside sources a clock-select value can name; a number names an
// internal oscillator by its frequency.
constexpr std::array<std::pair<const char*, ClockSource::Kind>, 5> kClockSourceNames{{
    {"external clock", ClockSource::Kind::ExternalClock},
    {"crystal", ClockSource::Kind::Crystal},
    {"low-frequency crystal", ClockSource::Kind::LowFrequencyCrystal},
    {"external RC", ClockSource::Kind::ExternalRc},
    {"reserved", ClockSource::Kind::Reserved},
}};
constexpr std::size_t kMostSelectBits = 5;

std::string Hex4(unsigned value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += kDigits[(value >> shift) & 0xF];
    }
    return text;
}

std::optional<std::uint8_t> HexByte(std::string_view text)
{
    const auto digit = [](char c) -> int {
        const int lower = std::tolower(static_cast<unsigned char>(c));
        if (lower >= '0' && lower <= '9')
            return lower - '0';
        if (lower >= 'a' && lower <= 'f')
            return lower - 'a' + 10;
        return -1;
    };
    if (text.size() != 2 || digit(text[0]) < 0 || digit(text[1]) < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(digit(text[0]) * 16 + digit(text[1]));
}

bool IsPrintableName(std::string_view name)
{
    return std::ranges::all_of(name, [](char c) { return c > ' ' && c < 0x7F; });
}

bool IsBitName(std::string_view name)
{
    return name.size() <= kLongestBitName && !name.empty() && std::ranges::all_of(name, [](char c) {
               return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c));
           });
}

// Reads one chip's fields, each checked as it is read; every fault names the
// chip and the field.
class ChipReader {
public:
    ChipReader(const Json& chip, std::size_t number) : chip_(chip), where_("chip " + std::to_string(number)) {}

    [[noreturn]] void Fail(std::string_view field, const std::string& rule) const
    {
        throw ChipFileError(where_ + ", field \"" + std::string(field) + "\": " + rule);
    }

    void Read(CatalogueChip& chip)
    {
        if (!chip_.is_object()) {
            throw ChipFileError(where_ + ": must be an object of fields");
        }
        for (const auto& [key, value] : chip_.items()) {
            if (!kChipFields.contains(key)) {
                Fail(key, "is not a field of a chip (a misspelling?)");
            }
        }
        ReadName(chip);
        ReadSignature(chip);
        chip.row.FlashSize = static_cast<std::uint16_t>(Unsigned("flash", 1, 32768));
        chip.row.PageSize = static_cast<std::uint8_t>(Unsigned("page", 0, 255));
        chip.row.SramSize = static_cast<std::uint16_t>(Unsigned("sram", 0, 65535));
        chip.row.EepromSize = static_cast<std::uint16_t>(Unsigned("eeprom", 0, 65535));
        chip.eepromPageBytes = static_cast<std::uint16_t>(Unsigned("eeprom_page", 0, 255));
        chip.row.Pins = static_cast<std::uint8_t>(Unsigned("pins", 1, 255));
        chip.row.NoPollValue = Byte(Field("no_poll_value"), "no_poll_value");
        chip.rdyBsyPoll = Boolean("rdy_bsy");
        chip.clockHz = Unsigned("clock_hz", kMinChipClockHz, kMaxChipClockHz);
        ReadBusyTimes(chip);
        ReadFuses(chip);
        ReadLock(chip);
        ReadClock(chip);
        CheckSizes(chip);
        if (chip_.contains("note")) {
            chip.note = String(chip_["note"], "note");
        }
    }

private:
    const Json& Field(std::string_view name) const
    {
        const auto found = chip_.find(name);
        if (found == chip_.end()) {
            Fail(name, "is missing");
        }
        return *found;
    }

    std::string String(const Json& value, std::string_view field) const
    {
        if (!value.is_string()) {
            Fail(field, "must be a text in quotes");
        }
        return value.get<std::string>();
    }

    std::uint32_t Unsigned(std::string_view field, std::uint32_t min, std::uint32_t max) const
    {
        return UnsignedIn(Field(field), field, min, max);
    }

    std::uint32_t UnsignedIn(const Json& value, std::string_view field, std::uint32_t min, std::uint32_t max) const
    {
        if (!value.is_number_unsigned() || value.get<std::uint64_t>() < min || value.get<std::uint64_t>() > max) {
            Fail(field, "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max));
        }
        return static_cast<std::uint32_t>(value.get<std::uint64_t>());
    }

    bool Boolean(std::string_view field) const
    {
        const Json& value = Field(field);
        if (!value.is_boolean()) {
            Fail(field, "must be true or false");
        }
        return value.get<bool>();
    }

    std::uint8_t Byte(const Json& value, std::string_view field) const
    {
        const auto byte = HexByte(String(value, field));
        if (!byte) {
            Fail(field, "must be two hexadecimal digits, such as \"FF\"");
        }
        return *byte;
    }

    void ReadName(CatalogueChip& chip)
    {
        chip.name = String(Field("name"), "name");
        if (chip.name.empty() || chip.name.size() > kLongestName || !IsPrintableName(chip.name)) {
            Fail("name", "must be 1 to 31 letters, digits or signs, without blanks");
        }
        chip.row.Name = chip.name.c_str();  // the chip never moves: it lives in a deque
        where_ += " (" + chip.name + ")";
        if (chip_.contains("also")) {
            const Json& also = chip_["also"];
            if (!also.is_array()) {
                Fail("also", "must be a list of names");
            }
            for (const Json& other : also) {
                chip.otherNames.push_back(String(other, "also"));
                if (chip.otherNames.back().empty() || !IsPrintableName(chip.otherNames.back())) {
                    Fail("also", "each name must be letters, digits or signs, without blanks");
                }
            }
        }
    }

    void ReadSignature(CatalogueChip& chip)
    {
        const std::string text = String(Field("signature"), "signature");
        const auto byteAt = [&text](std::size_t at) { return HexByte(std::string_view(text).substr(at, 2)); };
        const auto b0 = byteAt(0), b1 = byteAt(3), b2 = byteAt(6);
        if (text.size() != 8 || text[2] != ' ' || text[5] != ' ' || !b0 || !b1 || !b2) {
            Fail("signature", "must be three bytes in hexadecimal, such as \"1E 95 0F\"");
        }
        chip.signature = {*b0, *b1, *b2};
        chip.row.Signature = static_cast<std::uint16_t>(*b1 << 8 | *b2);
        // 00 00 ends the table; FF FF is what no chip answers; 01 02 is an
        // AT90S in lock mode 3.
        if (chip.row.Signature == 0x0000 || chip.row.Signature == 0xFFFF || chip.row.Signature == 0x0102) {
            Fail("signature", "bytes 1 and 2 cannot be 00 00, FF FF or 01 02: no chip is identified by them");
        }
    }

    void ReadBusyTimes(CatalogueChip& chip)
    {
        const Json& busy = Field("busy_us");
        if (!busy.is_object()) {
            Fail("busy_us", "must hold flash_page, eeprom, erase and fuse");
        }
        const auto time = [&](const char* key, std::uint32_t max) {
            const std::string field = std::string("busy_us.") + key;
            if (!busy.contains(key)) {
                Fail(field, "is missing");
            }
            return UnsignedIn(busy[key], field, 1, max);
        };
        chip.pageWriteMicros = time("flash_page", kPageWaitMicros);
        chip.eepromWriteMicros = time("eeprom", kLongestEepromWriteMicros);
        chip.chipEraseMicros = time("erase", kEraseWaitMicros);
        chip.fuseWriteMicros = time("fuse", kFuseWaitMicros);
        if (busy.size() != 4) {
            Fail("busy_us", "holds flash_page, eeprom, erase and fuse, nothing else");
        }
    }

    // One byte's bit names, bit 7 first, each kept by the chip.
    FuseByteLayout ReadByte(CatalogueChip& chip, const Json& byte, const std::string& field, const char* layoutName,
                            std::array<std::uint8_t, 3> readInstruction, std::uint8_t& factory)
    {
        if (!byte.is_object() || !byte.contains("bits") || !byte.contains("factory") || byte.size() != 2) {
            Fail(field, "must hold \"bits\" and \"factory\", nothing else");
        }
        const Json& bits = byte["bits"];
        if (!bits.is_array() || bits.size() != 8) {
            Fail(field + ".bits", "must list 8 bit names, bit 7 first (\"-\" for an unused bit)");
        }
        FuseByteLayout layout{layoutName, readInstruction, {}};
        std::uint8_t named = 0;
        for (unsigned i = 0; i < 8; ++i) {
            const std::string name = String(bits[i], field + ".bits");
            if (name == kUnusedBit) {
                continue;
            }
            if (!IsBitName(name)) {
                Fail(field + ".bits", "\"" + name + "\" is no bit name: capital letters and digits, up to 15");
            }
            if (HasBit(layout, name) || std::ranges::any_of(chip.layout, [&name](const FuseByteLayout& other) {
                    return HasBit(other, name);
                })) {
                Fail(field + ".bits", "\"" + name + "\" is named twice");
            }
            layout.bits[i] = chip.bitNames.emplace_back(name).c_str();
            named = static_cast<std::uint8_t>(named | (0x80u >> i));
        }
        factory = Byte(byte["factory"], field + ".factory");
        if ((factory | named) != 0xFF) {
            Fail(field + ".factory", "an unused bit always reads 1");
        }
        return layout;
    }

    static bool HasBit(const FuseByteLayout& layout, std::string_view name)
    {
        return std::ranges::any_of(layout.bits, [name](const char* bit) { return bit != nullptr && bit == name; });
    }

    void ReadFuses(CatalogueChip& chip)
    {
        const Json& fuses = Field("fuses");
        if (!fuses.is_object()) {
            Fail("fuses", "must hold low, and then high and extended where the chip has them");
        }
        for (const auto& [key, value] : fuses.items()) {
            if (std::ranges::none_of(kFuseBytes, [&key](const FuseByteKind& kind) { return key == kind.key; })) {
                Fail("fuses." + key, "is no fuse byte: low, high or extended");
            }
        }
        for (std::size_t i = 0; i < kFuseBytes.size() && fuses.contains(kFuseBytes[i].key); ++i) {
            const FuseByteKind& kind = kFuseBytes[i];
            chip.layout.push_back(ReadByte(chip, fuses[kind.key], std::string("fuses.") + kind.key, kind.layoutName,
                                           kind.readInstruction, chip.factoryFuses[i]));
        }
        chip.row.FuseCount = static_cast<std::uint8_t>(chip.layout.size());
        if (chip.layout.size() != fuses.size()) {
            Fail("fuses", "high needs low, and extended needs high");
        }
        CheckSerialProgrammingBits(chip);
    }

    // The chip must ship reachable: SPIEN programmed, RSTDISBL and DWEN not.
    void CheckSerialProgrammingBits(const CatalogueChip& chip) const
    {
        const auto spien = chip.FuseBitPosition("SPIEN");
        if (!spien) {
            Fail("fuses", "no SPIEN: every chip programmed serially has it");
        }
        if ((chip.factoryFuses[spien->first] >> spien->second & 1) != 0) {
            Fail(std::string("fuses.") + kFuseBytes[spien->first].key + ".factory", "SPIEN ships programmed (0)");
        }
        for (const char* hazard : {"RSTDISBL", "DWEN"}) {
            const auto at = chip.FuseBitPosition(hazard);
            if (at && (chip.factoryFuses[at->first] >> at->second & 1) == 0) {
                Fail(std::string("fuses.") + kFuseBytes[at->first].key + ".factory",
                     std::string(hazard) + " ships unprogrammed (1)");
            }
        }
    }

    void ReadLock(CatalogueChip& chip)
    {
        chip.layout.push_back(ReadByte(chip, Field("lock"), "lock", "Lock", kReadLock, chip.factoryLock));
        const FuseByteLayout& lock = chip.layout.back();
        if (lock.bits[7] == nullptr || std::string_view(lock.bits[7]) != "LB1" || lock.bits[6] == nullptr ||
            std::string_view(lock.bits[6]) != "LB2") {
            Fail("lock.bits", "LB2 and LB1 are bits 1 and 0");
        }
    }

    // "clock": which fuse bits select the clock, the divider bit, and what
    // each select value picks. The factory fuses must pick clock_hz.
    void ReadClock(CatalogueChip& chip)
    {
        if (!chip_.contains("clock")) {
            return;
        }
        const Json& clock = chip_["clock"];
        if (!clock.is_object() || !clock.contains("select") || !clock.contains("sources") ||
            clock.size() != 2 + (clock.contains("divide_by_8") ? 1u : 0u)) {
            Fail("clock", "must hold \"select\" and \"sources\", and \"divide_by_8\" where the chip has it");
        }
        ClockFuses fuses;
        const Json& select = clock["select"];
        if (!select.is_array() || select.empty() || select.size() > kMostSelectBits) {
            Fail("clock.select", "must list 1 to 5 fuse bit names, the most significant first");
        }
        for (const Json& bit : select) {
            fuses.selectBits.push_back(FuseBitName(chip, bit, "clock.select"));
        }
        if (clock.contains("divide_by_8")) {
            fuses.divideBy8Bit = FuseBitName(chip, clock["divide_by_8"], "clock.divide_by_8");
        }
        const Json& sources = clock["sources"];
        const std::size_t count = std::size_t{1} << fuses.selectBits.size();
        if (!sources.is_array() || sources.size() != count) {
            Fail("clock.sources", "must list " + std::to_string(count) + " sources, one per select value from 0");
        }
        const std::uint32_t slowest = kMinChipClockHz * (fuses.divideBy8Bit.empty() ? 1 : 8);
        for (const Json& source : sources) {
            fuses.sources.push_back(Source(source, slowest));
        }
        CheckFactoryClock(chip, fuses);
        chip.clockFuses = std::move(fuses);
    }

    std::string FuseBitName(const CatalogueChip& chip, const Json& value, std::string_view field) const
    {
        const std::string name = String(value, field);
        if (!chip.FuseBitPosition(name)) {
            Fail(field, "\"" + name + "\" is no fuse bit of this chip");
        }
        return name;
    }

    ClockSource Source(const Json& source, std::uint32_t slowest) const
    {
        if (source.is_number()) {
            return {ClockSource::Kind::Internal, UnsignedIn(source, "clock.sources", slowest, kMaxChipClockHz)};
        }
        const std::string name = source.is_string() ? source.get<std::string>() : std::string();
        for (const auto& [text, kind] : kClockSourceNames) {
            if (name == text) {
                return {kind, 0};
            }
        }
        Fail("clock.sources", "each is an internal oscillator's frequency in Hz, or \"external clock\", "
                              "\"crystal\", \"low-frequency crystal\", \"external RC\" or \"reserved\"");
    }

    void CheckFactoryClock(const CatalogueChip& chip, const ClockFuses& fuses) const
    {
        const auto factory =
            SelectClock(fuses, chip.layout, {chip.factoryFuses[0], chip.factoryFuses[1], chip.factoryFuses[2]});
        if (factory && factory->Hz() && *factory->Hz() != chip.clockHz) {
            Fail("clock_hz",
                 "the factory fuses select " + factory->Describe() + ", not " + std::to_string(chip.clockHz) + " Hz");
        }
    }

    void CheckSizes(const CatalogueChip& chip) const
    {
        if (chip.row.PageSize == 0) {
            Fail("page", "a chip beyond the table is written page by page: give its page size");
        }
        if (const auto fault = DeviceRowFault(chip.row)) {
            Fail(fault->substr(0, fault->find(':')), fault->substr(fault->find(':') + 2));
        }
        if (chip.eepromPageBytes != 0 &&
            (!std::has_single_bit(chip.eepromPageBytes) || chip.row.EepromSize % chip.eepromPageBytes != 0)) {
            Fail("eeprom_page", "must be 0 or a power of two that divides eeprom");
        }
    }

    const Json& chip_;
    std::string where_;
};

std::string WithoutLibraryPrefix(const std::string& message)
{
    const std::size_t end = message.find("] ");
    return end == std::string::npos ? message : message.substr(end + 2);
}

std::size_t LineOf(std::string_view text, std::size_t byte)
{
    const std::size_t end = std::min(byte, text.size());
    return 1 +
           static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
}

bool IsNote(const Json& note)
{
    return note.is_string() ||
           (note.is_array() && std::ranges::all_of(note, [](const Json& line) { return line.is_string(); }));
}

}  // namespace

std::optional<std::pair<unsigned, unsigned>> CatalogueChip::FuseBitPosition(std::string_view bitName) const
{
    return velkor::FuseBitPosition(layout, bitName);
}

namespace {
std::uint8_t NamedBits(const FuseByteLayout& layout, std::string_view except)
{
    std::uint8_t bits = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (layout.bits[i] != nullptr && layout.bits[i] != except) {
            bits = static_cast<std::uint8_t>(bits | (0x80u >> i));
        }
    }
    return bits;
}
}  // namespace

std::uint8_t CatalogueChip::WritableBits(unsigned fuseByte) const
{
    return fuseByte < row.FuseCount ? NamedBits(layout[fuseByte], "SPIEN") : 0;
}

std::uint8_t CatalogueChip::LockWritableBits() const
{
    return NamedBits(layout.back(), {});
}

bool CatalogueChip::Answers(std::string_view chipName) const
{
    return SameNameIgnoringCase(name, chipName) ||
           std::ranges::any_of(otherNames,
                               [chipName](const std::string& other) { return SameNameIgnoringCase(other, chipName); });
}

ChipCatalogue ChipCatalogue::Parse(std::string_view text, ChipSource source)
{
    Json document;
    try {
        document = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        throw ChipFileError("line " + std::to_string(LineOf(text, e.byte)) + ": not JSON (" +
                            WithoutLibraryPrefix(e.what()) + ")");
    }
    if (!document.is_object() || !document.contains("chips") || !document["chips"].is_array()) {
        throw ChipFileError("the file must be an object whose \"chips\" lists the chips");
    }
    for (const auto& [key, value] : document.items()) {
        if (key != "chips" && !(key == "note" && IsNote(value))) {
            throw ChipFileError("field \"" + key +
                                "\": the file holds \"chips\" and a \"note\" (a text or a list of texts)");
        }
    }
    ChipCatalogue catalogue;
    catalogue.source_ = source;
    std::size_t number = 0;
    for (const Json& entry : document["chips"]) {
        CatalogueChip& chip = catalogue.chips_.emplace_back();
        ChipReader reader(entry, ++number);
        reader.Read(chip);
        if (std::ranges::any_of(DeviceTable,
                                [&chip](const DEVTYPE& row) { return row.Signature == chip.row.Signature; })) {
            reader.Fail("signature", "the built-in table has " + Hex4(chip.row.Signature) + " already");
        }
        for (std::size_t other = 0; other + 1 < catalogue.chips_.size(); ++other) {
            const CatalogueChip& earlier = catalogue.chips_[other];
            if (earlier.row.Signature == chip.row.Signature) {
                reader.Fail("signature",
                            "the " + earlier.name +
                                " has it already: chips that share a signature are one chip (name it \"A/B\")");
            }
            if (earlier.Answers(chip.name) ||
                std::ranges::any_of(chip.otherNames, [&earlier](const std::string& n) { return earlier.Answers(n); })) {
                reader.Fail("name", "the " + earlier.name + " has that name already");
            }
        }
    }
    return catalogue;
}

ChipCatalogue ChipCatalogue::Load(const std::filesystem::path& file, ChipSource source)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        throw ChipFileError(file.string() + ": cannot be read");
    }
    try {
        return Parse(text.str(), source);
    } catch (const ChipFileError& e) {
        throw ChipFileError(file.string() + ": " + e.what());
    }
}

const CatalogueChip* ChipCatalogue::Find(std::uint16_t signature) const
{
    const auto chip =
        std::ranges::find_if(chips_, [signature](const CatalogueChip& c) { return c.row.Signature == signature; });
    return chip == chips_.end() ? nullptr : &*chip;
}

const CatalogueChip* ChipCatalogue::FindByName(std::string_view chipName) const
{
    const auto chip = std::ranges::find_if(chips_, [chipName](const CatalogueChip& c) { return c.Answers(chipName); });
    return chip == chips_.end() ? nullptr : &*chip;
}

std::optional<std::string> DeviceRowFault(const DEVTYPE& row)
{
    const auto powerOfTwo = [](unsigned n) { return std::has_single_bit(n); };
    if (row.Name == nullptr || *row.Name == '\0') {
        return "name: must not be empty";
    }
    if (row.Signature == 0) {
        return "signature: must not be 0, which ends the table";
    }
    if (!powerOfTwo(row.FlashSize)) {
        return "flash: must be a power of two (addresses wrap by masking)";
    }
    if (row.PageSize != 0 && (!powerOfTwo(row.PageSize) || row.FlashSize % row.PageSize != 0)) {
        return "page: must be 0 (byte by byte) or a power of two that divides flash";
    }
    if (row.EepromSize != 0 && !powerOfTwo(row.EepromSize)) {
        return "eeprom: must be 0 or a power of two";
    }
    if (row.Pins == 0) {
        return "pins: must not be 0";
    }
    if (row.FuseCount > 3) {
        return "fuses: a chip has at most 3 fuse bytes";
    }
    return std::nullopt;
}

}  // namespace velkor
