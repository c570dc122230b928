#include "ChipCatalogue.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cctype>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "Numbers.h"
#include "ProgrammerWaits.h"
#include "SckPace.h"

namespace velkor {

namespace {

using Json = nlohmann::json;

// A chip busy longer than the programmer waits would lose the instructions
// that follow. The fuse time also covers a lock write.
constexpr std::uint32_t kPageWaitMicros = kPageWaitMs * 1000;
constexpr std::uint32_t kByteWaitMicros = kByteWaitMs * 1000;
constexpr std::uint32_t kEraseWaitMicros = kEraseWaitMs * 1000;
constexpr std::uint32_t kFuseWaitMicros = std::min(kFuseWaitMs, kLockWaitMs) * 1000;
constexpr std::uint32_t kLongestEepromWriteMicros = 20'000;
constexpr std::size_t kLongestName = 31;
constexpr std::size_t kLongestBitName = 15;
constexpr std::size_t kLongestReadName = 10;  // read-fuses pads "name:" to 11
constexpr unsigned kMostSckCycles = 16;
constexpr const char* kUnusedBit = "-";

// The instructions that read and write the fuse and lock bytes where a
// record gives none of its own: every chip but the AT90S parts. A read's
// fourth byte is the one read; a write is AC, byte 2, 00, the value.
constexpr std::array<std::uint8_t, 3> kReadFuseLow{0x50, 0x00, 0x00};
constexpr std::array<std::uint8_t, 3> kReadFuseHigh{0x58, 0x08, 0x00};
constexpr std::array<std::uint8_t, 3> kReadFuseExtended{0x50, 0x08, 0x00};
constexpr std::array<std::uint8_t, 3> kReadLock{0x58, 0x00, 0x00};
constexpr std::uint8_t kWriteLock = 0xE0;
// Byte 2 of every fuse write begins 101, of every lock write 111 (100 is
// Chip Erase).
constexpr std::uint8_t kWriteKindBits = 0xE0;
constexpr std::uint8_t kFuseWriteKind = 0xA0;
constexpr std::uint8_t kLockWriteKind = 0xE0;
constexpr std::array<std::uint8_t, 2> kReadOpcodes{0x50, 0x58};

// Every name the classic serial-programmable AVR parts give a fuse bit or a
// lock bit: the table's, the catalogue's and those of the further chips whose
// facts are gathered for it. A name beyond them is a misspelling, or a bit
// renamed so that the fuse command would not know it.
constexpr std::string_view kKnownFuseBits[]{
    "BODACT0",    "BODACT1", "BODEN",   "BODLEVEL", "BODLEVEL0", "BODLEVEL1", "BODLEVEL2",  "BODPD0",
    "BODPD1",     "BOOTRST", "BOOTSZ0", "BOOTSZ1",  "CKDIV",     "CKDIV8",    "CKOPT",      "CKOUT",
    "CKSEL",      "CKSEL0",  "CKSEL1",  "CKSEL2",   "CKSEL3",    "DUVRDINIT", "DWEN",       "EESAVE",
    "FSTRT",      "HWBE",    "JTAGEN",  "M103C",    "M161C",     "OCDEN",     "OSCSEL0",    "OSCSEL1",
    "PLLCK",      "PSC0RB",  "PSC1RB",  "PSC2RB",   "PSC2RBA",   "PSCINRB",   "PSCRB",      "PSCRV",
    "PSCRVA",     "PSCRVB",  "RCEN",    "RESERVED", "RSTDISBL",  "S8515C",    "S8535C",     "SELFPRGEN",
    "SPIEN",      "SUT",     "SUT0",    "SUT1",     "SUT2",      "TA0SEL",    "ULPOSCSEL0", "ULPOSCSEL1",
    "ULPOSCSEL2", "WDTON"};
constexpr std::string_view kKnownLockBits[]{"BLB01", "BLB02", "BLB11", "BLB12", "LB1", "LB2"};

struct ByteKind {
    const char* key;
    const char* layoutName;
    std::array<std::uint8_t, 3> readInstruction;
    std::uint8_t writeByteTwo;
    std::uint8_t writeKind;  // what byte 2 of its write begins with
    std::span<const std::string_view> knownBits;
    const char* bitKind;
};
constexpr std::array<ByteKind, 3> kFuseBytes{{
    {"low", "Fuse low", kReadFuseLow, 0xA0, kFuseWriteKind, kKnownFuseBits, "fuse"},
    {"high", "Fuse high", kReadFuseHigh, 0xA8, kFuseWriteKind, kKnownFuseBits, "fuse"},
    {"extended", "Fuse ext", kReadFuseExtended, 0xA4, kFuseWriteKind, kKnownFuseBits, "fuse"},
}};
constexpr ByteKind kLockByte{"lock", "Lock", kReadLock, kWriteLock, kLockWriteKind, kKnownLockBits, "lock"};

const std::set<std::string, std::less<>> kChipFields{"name",
                                                     "also",
                                                     "signature",
                                                     "flash",
                                                     "page",
                                                     "sram",
                                                     "eeprom",
                                                     "eeprom_page",
                                                     "pins",
                                                     "fuse_count",
                                                     "no_poll_value",
                                                     "flash_poll",
                                                     "fuses",
                                                     "lock",
                                                     "reads",
                                                     "rdy_bsy",
                                                     "busy_us",
                                                     "eeprom_poll_values",
                                                     "clock_hz",
                                                     "clock",
                                                     "sck_min_cycles",
                                                     "note",
                                                     "hides_signature_when_locked",
                                                     "fuses_frozen_from_lock_mode"};

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

// Three bytes in hexadecimal, one blank between them: "1E 95 0F".
std::optional<std::array<std::uint8_t, 3>> HexBytes3(std::string_view text)
{
    const auto byteAt = [text](std::size_t at) { return ParseHexByte(text.substr(std::min(at, text.size()), 2)); };
    const auto b0 = byteAt(0), b1 = byteAt(3), b2 = byteAt(6);
    if (text.size() != 8 || text[2] != ' ' || text[5] != ' ' || !b0 || !b1 || !b2) {
        return std::nullopt;
    }
    return std::array<std::uint8_t, 3>{*b0, *b1, *b2};
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

bool HasBit(const BitNames& bits, std::string_view name)
{
    return std::ranges::any_of(bits, [name](const char* bit) { return bit != nullptr && bit == name; });
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

    void Read(ChipRecord& chip)
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
        chip.flashPollable = OptionalBoolean("flash_poll", true);
        chip.rdyBsyPoll = Boolean("rdy_bsy");
        ReadEepromPollValues(chip);
        chip.clockHz = Unsigned("clock_hz", kMinChipClockHz, kMaxChipClockHz);
        ReadBusyTimes(chip);
        ReadFuses(chip);
        ReadLock(chip);
        ReadReads(chip);
        ReadFuseCount(chip);
        ReadClock(chip);
        ReadSckRule(chip);
        ReadLockRules(chip);
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

    bool BooleanIn(const Json& value, std::string_view field) const
    {
        if (!value.is_boolean()) {
            Fail(field, "must be true or false");
        }
        return value.get<bool>();
    }

    bool Boolean(std::string_view field) const { return BooleanIn(Field(field), field); }

    bool OptionalBoolean(std::string_view field, bool absent) const
    {
        return chip_.contains(field) ? Boolean(field) : absent;
    }

    std::uint8_t Byte(const Json& value, std::string_view field) const
    {
        const auto byte = ParseHexByte(String(value, field));
        if (!byte) {
            Fail(field, "must be two hexadecimal digits, such as \"FF\"");
        }
        return *byte;
    }

    void ReadName(ChipRecord& chip)
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

    void ReadSignature(ChipRecord& chip)
    {
        const auto bytes = HexBytes3(String(Field("signature"), "signature"));
        if (!bytes) {
            Fail("signature", "must be three bytes in hexadecimal, such as \"1E 95 0F\"");
        }
        chip.signature = *bytes;
        chip.row.Signature = static_cast<std::uint16_t>((*bytes)[1] << 8 | (*bytes)[2]);
        // 00 00 ends the table; FF FF is what no chip answers; 01 02 is an
        // AT90S in lock mode 3.
        if (chip.row.Signature == 0x0000 || chip.row.Signature == 0xFFFF || chip.row.Signature == 0x0102) {
            Fail("signature", "bytes 1 and 2 cannot be 00 00, FF FF or 01 02: no chip is identified by them");
        }
    }

    // One value, or the two a read gives in the first and the second half
    // of an EEPROM write; absent: FF throughout.
    void ReadEepromPollValues(ChipRecord& chip)
    {
        if (!chip_.contains("eeprom_poll_values")) {
            return;
        }
        const Json& values = chip_["eeprom_poll_values"];
        if (!values.is_array() || values.empty() || values.size() > 2) {
            Fail("eeprom_poll_values", "must list the one or two values a read gives while an EEPROM write is busy");
        }
        chip.eepromPollValues[0] = Byte(values.front(), "eeprom_poll_values");
        chip.eepromPollValues[1] = Byte(values.back(), "eeprom_poll_values");
    }

    void ReadBusyTimes(ChipRecord& chip)
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
        // A chip without pages writes flash a byte at a time; unpolled,
        // each byte gets the programmer's byte wait.
        chip.flashWriteMicros = time("flash_page", chip.row.PageSize != 0 ? kPageWaitMicros : kByteWaitMicros);
        chip.eepromWriteMicros = time("eeprom", kLongestEepromWriteMicros);
        chip.chipEraseMicros = time("erase", kEraseWaitMicros);
        chip.fuseWriteMicros = time("fuse", kFuseWaitMicros);
        if (busy.size() != 4) {
            Fail("busy_us", "holds flash_page, eeprom, erase and fuse, nothing else");
        }
    }

    // A list of 8 bit names, bit 7 first, "-" for a bit that is not there.
    // fresh: the bits of a byte of that kind, new names the chip keeps;
    // nothing: bits its fuse and lock bytes name already.
    BitNames ReadBitNames(ChipRecord& chip, const Json& bits, const std::string& field, const ByteKind* fresh)
    {
        if (!bits.is_array() || bits.size() != 8) {
            Fail(field, "must list 8 bit names, bit 7 first (\"-\" for an unused bit)");
        }
        BitNames names{};
        for (unsigned i = 0; i < 8; ++i) {
            const std::string name = String(bits[i], field);
            if (name == kUnusedBit) {
                continue;
            }
            if (!IsBitName(name)) {
                Fail(field, "\"" + name + "\" is no bit name: capital letters and digits, up to 15");
            }
            if (fresh != nullptr && std::ranges::find(fresh->knownBits, name) == fresh->knownBits.end()) {
                Fail(field, "\"" + name + "\" is no " + fresh->bitKind + " bit of the AVR parts (a misspelling?)");
            }
            if (HasBit(names, name) || (fresh != nullptr && ChipHasBit(chip, name))) {
                Fail(field, "\"" + name + "\" is named twice");
            }
            names[i] = fresh != nullptr ? chip.bitNames.emplace_back(name).c_str() : ChipBit(chip, name, field);
        }
        return names;
    }

    // The chip's own text of a bit its fuse or lock bytes name; nullptr if none does.
    static const char* FindChipBit(const ChipRecord& chip, std::string_view name)
    {
        const auto own = [name](const ChipByte& byte) -> const char* {
            const auto bit = byte.BitOf(name);
            return bit ? byte.bits[7 - *bit] : nullptr;
        };
        for (const ChipByte& fuse : chip.fuses) {
            if (const char* bit = own(fuse)) {
                return bit;
            }
        }
        return own(chip.lock);
    }

    static bool ChipHasBit(const ChipRecord& chip, std::string_view name) { return FindChipBit(chip, name) != nullptr; }

    const char* ChipBit(const ChipRecord& chip, std::string_view name, const std::string& field) const
    {
        const char* bit = FindChipBit(chip, name);
        if (bit == nullptr) {
            Fail(field, "\"" + std::string(name) + "\" is no fuse or lock bit of this chip");
        }
        return bit;
    }

    // A fuse byte or the lock byte: its bits, its factory value and, where
    // the chip's instructions differ from the usual ones, how it is written.
    ChipByte ReadByte(ChipRecord& chip, const Json& byte, const std::string& field, const ByteKind& kind)
    {
        const std::size_t fields = 2 + (byte.is_object() && byte.contains("write") ? 1u : 0u);
        if (!byte.is_object() || !byte.contains("bits") || !byte.contains("factory") || byte.size() != fields) {
            Fail(field, "must hold \"bits\" and \"factory\", and \"write\" where the chip writes it otherwise");
        }
        ChipByte result;
        result.bits = ReadBitNames(chip, byte["bits"], field + ".bits", &kind);
        result.factory = Byte(byte["factory"], field + ".factory");
        if ((result.factory | result.NamedBits()) != 0xFF) {
            Fail(field + ".factory", "an unused bit always reads 1");
        }
        result.write = {ByteWrite::Form::InByteFour, kind.writeByteTwo, 0xFF, {}};
        if (byte.contains("write")) {
            result.write = ReadWrite(result, byte["write"], field + ".write", kind.writeKind);
        }
        return result;
    }

    // false: serial programming cannot write the byte. {"byte_2": "A8"}:
    // byte 2 as sent, the value in byte 4. {"byte_2": [8 bits]}: each "1",
    // "0", "x" (not checked, sent as 1) or a bit of the byte, which then
    // goes in byte 2 rather than byte 4.
    ByteWrite ReadWrite(const ChipByte& byte, const Json& write, const std::string& field, std::uint8_t writeKind)
    {
        if (write.is_boolean() && !write.get<bool>()) {
            return {ByteWrite::Form::None, 0, 0, {}};
        }
        if (!write.is_object() || write.size() != 1 || !write.contains("byte_2")) {
            Fail(field, "must be false (not written serially) or hold \"byte_2\"");
        }
        const Json& byteTwo = write["byte_2"];
        const std::string bitsField = field + ".byte_2";
        ByteWrite result{ByteWrite::Form::InByteFour, 0, 0xFF, {}};
        if (byteTwo.is_string()) {
            result.byteTwo = Byte(byteTwo, bitsField);
        } else if (!byteTwo.is_array() || byteTwo.size() != 8) {
            Fail(bitsField, "must be two hexadecimal digits or 8 bits, bit 7 first: \"1\", \"0\", \"x\" or a bit name");
        } else {
            result.checkedBits = 0;
            for (unsigned i = 0; i < 8; ++i) {
                const std::string bit = String(byteTwo[i], bitsField);
                const auto mask = static_cast<std::uint8_t>(0x80u >> i);
                if (bit == "1" || bit == "0") {
                    result.checkedBits |= mask;
                }
                if (bit == "1" || bit == "x") {
                    result.byteTwo |= mask;
                } else if (bit != "0") {
                    if (!byte.BitOf(bit) || HasBit(result.byteTwoBits, bit)) {
                        Fail(bitsField, "\"" + bit + "\" is no bit of this byte, or is given twice");
                    }
                    result.byteTwoBits[i] = byte.bits[7 - *byte.BitOf(bit)];
                    result.form = ByteWrite::Form::InByteTwo;
                }
            }
        }
        if ((result.checkedBits & kWriteKindBits) != kWriteKindBits || (result.byteTwo & kWriteKindBits) != writeKind) {
            Fail(bitsField, std::string("byte 2 of a ") +
                                (writeKind == kLockWriteKind ? "lock write begins 111" : "fuse write begins 101"));
        }
        return result;
    }

    void ReadFuses(ChipRecord& chip)
    {
        const Json& fuses = Field("fuses");
        if (!fuses.is_object()) {
            Fail("fuses", "must hold low, and then high and extended where the chip has them");
        }
        for (const auto& [key, value] : fuses.items()) {
            if (std::ranges::none_of(kFuseBytes, [&key](const ByteKind& kind) { return key == kind.key; })) {
                Fail("fuses." + key, "is no fuse byte: low, high or extended");
            }
        }
        for (std::size_t i = 0; i < kFuseBytes.size() && fuses.contains(kFuseBytes[i].key); ++i) {
            const ByteKind& kind = kFuseBytes[i];
            chip.fuses.push_back(ReadByte(chip, fuses[kind.key], std::string("fuses.") + kind.key, kind));
        }
        if (chip.fuses.size() != fuses.size()) {
            Fail("fuses", "high needs low, and extended needs high");
        }
        CheckSerialProgrammingBits(chip);
        CheckLockoutBitsAreNamed(chip);
    }

    // The fuse command guards the bits that would take the chip out of
    // reach of serial programming by their names, so a layout must name
    // them where the chip's generation has them. debugWIRE came with the
    // CKDIV8 generation: every layout with CKDIV8 and no JTAG interface
    // (JTAGEN) has DWEN. Every layout with DWEN has RSTDISBL, but those of
    // the battery-management parts, whose clock bits are SUT2 or OSCSEL0.
    void CheckLockoutBitsAreNamed(const ChipRecord& chip) const
    {
        const auto has = [&chip](const char* bit) { return chip.FuseBitPosition(bit).has_value(); };
        if (has("CKDIV8") && !has("JTAGEN") && !has("DWEN")) {
            Fail("fuses", "no DWEN: a chip with CKDIV8 and without JTAGEN has debugWIRE, whose bit the fuse command "
                          "must know");
        }
        if (has("DWEN") && !has("SUT2") && !has("OSCSEL0") && !has("RSTDISBL")) {
            Fail("fuses", "no RSTDISBL: a chip with DWEN can turn its RESET pin off, and the fuse command must know "
                          "that bit");
        }
    }

    // The chip must ship reachable: SPIEN programmed, RSTDISBL and DWEN not.
    void CheckSerialProgrammingBits(const ChipRecord& chip) const
    {
        const auto spien = chip.FuseBitPosition("SPIEN");
        if (!spien) {
            Fail("fuses", "no SPIEN: every chip programmed serially has it");
        }
        if ((chip.fuses[spien->first].factory >> spien->second & 1) != 0) {
            Fail(std::string("fuses.") + kFuseBytes[spien->first].key + ".factory", "SPIEN ships programmed (0)");
        }
        for (const char* hazard : {"RSTDISBL", "DWEN"}) {
            const auto at = chip.FuseBitPosition(hazard);
            if (at && (chip.fuses[at->first].factory >> at->second & 1) == 0) {
                Fail(std::string("fuses.") + kFuseBytes[at->first].key + ".factory",
                     std::string(hazard) + " ships unprogrammed (1)");
            }
        }
    }

    void ReadLock(ChipRecord& chip)
    {
        chip.lock = ReadByte(chip, Field("lock"), "lock", kLockByte);
        if (chip.lock.BitOf("LB1") != 0u || chip.lock.BitOf("LB2") != 1u) {
            Fail("lock.bits", "LB2 and LB1 are bits 1 and 0");
        }
        if (chip.lock.write.form == ByteWrite::Form::None) {
            Fail("lock.write", "every chip takes its lock bits serially");
        }
    }

    // What serial programming reads, each a line of read-fuses; absent:
    // each fuse byte and the lock byte by the usual instructions.
    void ReadReads(ChipRecord& chip)
    {
        if (!chip_.contains("reads")) {
            for (std::size_t i = 0; i < chip.fuses.size(); ++i) {
                chip.layout.push_back({kFuseBytes[i].layoutName, kFuseBytes[i].readInstruction, chip.fuses[i].bits});
            }
            chip.layout.push_back({kLockByte.layoutName, kLockByte.readInstruction, chip.lock.bits});
        } else {
            const Json& reads = chip_["reads"];
            if (!reads.is_array()) {
                Fail("reads", "must list the bytes serial programming reads");
            }
            for (const Json& read : reads) {
                chip.layout.push_back(ReadOneRead(chip, read));
            }
        }
        for (const FuseByteLayout& read : chip.layout) {
            if (chip.ReadAnswering({read.readInstruction[0], read.readInstruction[1], read.readInstruction[2], 0}) !=
                &read) {
                Fail("reads", std::string("the chip cannot tell the read \"") + read.name + "\" from an earlier one");
            }
        }
        NoteOwnReads(chip);
    }

    FuseByteLayout ReadOneRead(ChipRecord& chip, const Json& read)
    {
        if (!read.is_object() || read.size() != 3 || !read.contains("name") || !read.contains("instruction") ||
            !read.contains("bits")) {
            Fail("reads", "each read holds \"name\", \"instruction\" and \"bits\"");
        }
        const std::string& name = chip.bitNames.emplace_back(String(read["name"], "reads.name"));
        if (name.empty() || name.size() > kLongestReadName ||
            !std::ranges::all_of(name, [](char c) { return c >= ' ' && c < 0x7F; })) {
            Fail("reads.name", "must be 1 to 10 letters, digits, signs or blanks");
        }
        const auto instruction = HexBytes3(String(read["instruction"], "reads.instruction"));
        if (!instruction || std::ranges::find(kReadOpcodes, (*instruction)[0]) == kReadOpcodes.end()) {
            Fail("reads.instruction",
                 "must be the three bytes before the one read, such as \"58 00 00\": 50 or 58 first");
        }
        return {name.c_str(), *instruction, ReadBitNames(chip, read["bits"], "reads.bits", nullptr)};
    }

    // A byte read bit for bit by one of the reads can be read on its own.
    static void NoteOwnReads(ChipRecord& chip)
    {
        const auto note = [&chip](ChipByte& byte) {
            for (const FuseByteLayout& read : chip.layout) {
                if (std::ranges::equal(read.bits, byte.bits, [](const char* a, const char* b) {
                        return (a == nullptr) == (b == nullptr) && (a == nullptr || std::string_view(a) == b);
                    })) {
                    byte.read = read.readInstruction;
                    return;
                }
            }
        };
        for (ChipByte& fuse : chip.fuses) {
            note(fuse);
        }
        note(chip.lock);
    }

    // The table keeps the described FUSE figure of its rows; elsewhere it is
    // the number of fuse bytes. The fuse command writes the chips with two
    // or three by the usual instructions.
    void ReadFuseCount(ChipRecord& chip)
    {
        const auto count = static_cast<unsigned>(chip.fuses.size());
        chip.row.FuseCount =
            static_cast<std::uint8_t>(chip_.contains("fuse_count") ? Unsigned("fuse_count", 0, count) : count);
        if (chip.row.FuseCount < 2) {
            return;
        }
        for (const ChipByte& fuse : chip.fuses) {
            if (!fuse.read || fuse.write.form != ByteWrite::Form::InByteFour) {
                Fail("fuse_count", "the fuse command writes 2 or 3 fuse bytes by the usual instructions, each read "
                                   "and written on its own: give 0 or 1");
            }
        }
    }

    // "clock": which fuse bits select the clock, the divider bit, and what
    // each select value picks. The factory fuses must pick clock_hz.
    void ReadClock(ChipRecord& chip)
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

    std::string FuseBitName(const ChipRecord& chip, const Json& value, std::string_view field) const
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
        if (const std::optional<ClockSource> crystal = CrystalWithRange(source)) {
            return *crystal;
        }
        const std::string name = source.is_string() ? source.get<std::string>() : std::string();
        for (const auto& [text, kind] : kClockSourceNames) {
            if (name == text) {
                return {kind, 0};
            }
        }
        Fail("clock.sources",
             "each is an internal oscillator's frequency in Hz, or \"external clock\", "
             "\"crystal\", \"low-frequency crystal\", \"external RC\" or \"reserved\", or "
             "{\"crystal\": Hz} or {\"low-frequency crystal\": Hz} with the setting's lowest frequency");
    }

    // {"crystal": 8000000}: a crystal setting meant for 8 MHz and up.
    std::optional<ClockSource> CrystalWithRange(const Json& source) const
    {
        if (!source.is_object() || source.size() != 1) {
            return std::nullopt;
        }
        for (const auto kind : {ClockSource::Kind::Crystal, ClockSource::Kind::LowFrequencyCrystal}) {
            const char* name = kind == ClockSource::Kind::Crystal ? "crystal" : "low-frequency crystal";
            if (source.contains(name)) {
                return ClockSource{kind, 0,
                                   UnsignedIn(source[name], "clock.sources", kMinChipClockHz, kMaxChipClockHz)};
            }
        }
        return std::nullopt;
    }

    void CheckFactoryClock(const ChipRecord& chip, const ClockFuses& fuses) const
    {
        std::array<std::optional<std::uint8_t>, 3> factory;
        for (std::size_t i = 0; i < chip.fuses.size(); ++i) {
            factory[i] = chip.fuses[i].factory;
        }
        const auto selected = SelectClock(fuses, chip.fuses, factory);
        if (selected && selected->Hz() && *selected->Hz() != chip.clockHz) {
            Fail("clock_hz",
                 "the factory fuses select " + selected->Describe() + ", not " + std::to_string(chip.clockHz) + " Hz");
        }
    }

    // "sck_min_cycles": {"low": 2, "high": 2, "plus_one_from_12mhz": true};
    // absent: as here, the rule of the ATmega and ATtiny parts.
    void ReadSckRule(ChipRecord& chip)
    {
        if (!chip_.contains("sck_min_cycles")) {
            return;
        }
        const Json& rule = chip_["sck_min_cycles"];
        if (!rule.is_object() || rule.size() != 3 || !rule.contains("low") || !rule.contains("high") ||
            !rule.contains("plus_one_from_12mhz")) {
            Fail("sck_min_cycles", "must hold \"low\", \"high\" and \"plus_one_from_12mhz\"");
        }
        chip.sck.lowCycles = UnsignedIn(rule["low"], "sck_min_cycles.low", 1, kMostSckCycles);
        chip.sck.highCycles = UnsignedIn(rule["high"], "sck_min_cycles.high", 1, kMostSckCycles);
        chip.sck.plusOneFrom12MHz = BooleanIn(rule["plus_one_from_12mhz"], "sck_min_cycles.plus_one_from_12mhz");
    }

    // What locking does beyond the memories: from which lock mode the fuses
    // are frozen too (absent: 2, as on the ATmega and ATtiny parts; null:
    // none), and whether mode 3 hides the signature (the AT90S parts).
    void ReadLockRules(ChipRecord& chip)
    {
        if (chip_.contains("fuses_frozen_from_lock_mode")) {
            const Json& mode = chip_["fuses_frozen_from_lock_mode"];
            chip.fusesFrozenFromLockMode =
                mode.is_null() ? std::nullopt
                               : std::optional<unsigned>(UnsignedIn(mode, "fuses_frozen_from_lock_mode", 2, 3));
        }
        chip.hidesSignatureWhenLocked = OptionalBoolean("hides_signature_when_locked", false);
    }

    void CheckSizes(const ChipRecord& chip) const
    {
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

// Where the JSON parser is, so that a number it cannot hold (1e400) is
// refused as ChipReader refuses a field: by the chip, its name once read,
// and the field.
class ParsePosition {
public:
    bool operator()(int depth, Json::parse_event_t event, Json& parsed)
    {
        const auto level = static_cast<std::size_t>(depth);
        switch (event) {
        case Json::parse_event_t::key:
            keys_.resize(level - 1);
            keys_.push_back(parsed.get<std::string>());
            break;
        case Json::parse_event_t::object_start:
        case Json::parse_event_t::array_start:
            if (keys_.size() > level) {
                keys_.resize(level);
            }
            if (event == Json::parse_event_t::object_start && level == kChipDepth && InChips()) {
                ++chip_;
                name_.clear();
            }
            break;
        case Json::parse_event_t::value:
            if (level == kChipDepth + 1 && InChips() && keys_.size() == kChipDepth + 1 && keys_.back() == "name" &&
                parsed.is_string()) {
                name_ = parsed.get<std::string>();
            }
            break;
        default:
            break;
        }
        return true;
    }

    // "chip 3 (ATmegaX), field \"busy_us.erase\"", or the field outside the chips.
    std::string Where() const
    {
        if (!InChips() || chip_ == 0) {
            return "field \"" + Joined(0) + "\"";
        }
        std::string where = "chip " + std::to_string(chip_) + (name_.empty() ? "" : " (" + name_ + ")");
        return keys_.size() > kChipDepth ? where + ", field \"" + Joined(kChipDepth) + "\"" : where;
    }

private:
    static constexpr std::size_t kChipDepth = 2;  // the file's object, its "chips" list, a chip

    bool InChips() const { return !keys_.empty() && keys_[0] == "chips"; }

    std::string Joined(std::size_t from) const
    {
        std::string path;
        for (std::size_t i = from; i < keys_.size(); ++i) {
            path += (i == from ? "" : ".") + keys_[i];
        }
        return path;
    }

    std::vector<std::string> keys_;  // the key at each depth from 1 down to the value being read ("" in a list)
    std::size_t chip_ = 0;
    std::string name_;
};

// The number as the file gives it, from the parser's message.
std::string NumberText(const std::string& message)
{
    const std::size_t first = message.find('\'');
    const std::size_t last = message.rfind('\'');
    return first < last ? message.substr(first + 1, last - first - 1) : "a number";
}

bool IsNote(const Json& note)
{
    return note.is_string() ||
           (note.is_array() && std::ranges::all_of(note, [](const Json& line) { return line.is_string(); }));
}

// A name the programs know already would name two chips: --simulate and the
// state files could not tell which.
void CheckNamesAreFree(const ChipReader& reader, const ChipRecord& chip, const ChipCatalogue& earlier)
{
    const char* list = earlier.Source() == ChipSource::Table       ? "table"
                       : earlier.Source() == ChipSource::Catalogue ? "catalogue"
                                                                   : "chip file";
    if (const ChipRecord* taken = earlier.FindByName(chip.name)) {
        reader.Fail("name", std::string("the ") + list + "'s " + taken->name + " has that name already");
    }
    for (const std::string& other : chip.otherNames) {
        if (const ChipRecord* taken = earlier.FindByName(other)) {
            reader.Fail("also", "\"" + other + "\": the " + list + "'s " + taken->name + " has that name already");
        }
    }
}

}  // namespace

ChipCatalogue ChipCatalogue::Parse(std::string_view text, ChipSource source,
                                   std::span<const ChipCatalogue* const> earlier)
{
    Json document;
    ParsePosition position;
    try {
        document = Json::parse(text.begin(), text.end(), std::ref(position));
    } catch (const Json::parse_error& e) {
        throw ChipFileError("line " + std::to_string(LineOf(text, e.byte)) + ": not JSON (" +
                            WithoutLibraryPrefix(e.what()) + ")");
    } catch (const Json::out_of_range& e) {
        throw ChipFileError(position.Where() + ": " + NumberText(e.what()) + " is out of range");
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
        ChipRecord& chip = catalogue.chips_.emplace_back();
        ChipReader reader(entry, ++number);
        reader.Read(chip);
        for (const ChipCatalogue* list : earlier) {
            if (list->Source() == ChipSource::Table && list->Find(chip.row.Signature) != nullptr) {
                reader.Fail("signature", "the built-in table has " + Hex4(chip.row.Signature) + " already");
            }
            CheckNamesAreFree(reader, chip, *list);
        }
        for (std::size_t other = 0; other + 1 < catalogue.chips_.size(); ++other) {
            const ChipRecord& previous = catalogue.chips_[other];
            if (previous.row.Signature == chip.row.Signature) {
                reader.Fail("signature",
                            "the " + previous.name +
                                " has it already: chips that share a signature are one chip (name it \"A/B\")");
            }
            if (previous.Answers(chip.name) || std::ranges::any_of(chip.otherNames, [&previous](const std::string& n) {
                    return previous.Answers(n);
                })) {
                reader.Fail("name", "the " + previous.name + " has that name already");
            }
        }
    }
    return catalogue;
}

ChipCatalogue ChipCatalogue::Load(const std::filesystem::path& file, ChipSource source,
                                  std::span<const ChipCatalogue* const> earlier)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        throw ChipFileError(file.string() + ": cannot be read");
    }
    try {
        return Parse(text.str(), source, earlier);
    } catch (const ChipFileError& e) {
        throw ChipFileError(file.string() + ": " + e.what());
    }
}

const ChipRecord* ChipCatalogue::Find(std::uint16_t signature) const
{
    const auto chip =
        std::ranges::find_if(chips_, [signature](const ChipRecord& c) { return c.row.Signature == signature; });
    return chip == chips_.end() ? nullptr : &*chip;
}

const ChipRecord* ChipCatalogue::FindByName(std::string_view chipName) const
{
    const auto chip = std::ranges::find_if(chips_, [chipName](const ChipRecord& c) { return c.Answers(chipName); });
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
