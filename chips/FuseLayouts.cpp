#include "FuseLayouts.h"

#include <algorithm>

namespace velkor {

namespace {

constexpr std::uint8_t kWrite = 0xAC;
constexpr std::string_view kSpien = "SPIEN";

std::uint8_t Mask(unsigned bit)
{
    return static_cast<std::uint8_t>(1u << bit);
}

// Each place of names that carries a bit of byte: use(place, the bit's own place in byte).
template <typename Use>
void ForEachCarriedBit(const BitNames& names, const ChipByte& byte, Use use)
{
    for (unsigned i = 0; i < 8; ++i) {
        if (names[i] != nullptr) {
            if (const auto own = byte.BitOf(names[i])) {
                use(7 - i, *own);
            }
        }
    }
}

}  // namespace

std::optional<unsigned> ChipByte::BitOf(std::string_view bitName) const
{
    for (unsigned i = 0; i < 8; ++i) {
        if (bits[i] != nullptr && bits[i] == bitName) {
            return 7 - i;
        }
    }
    return std::nullopt;
}

std::uint8_t ChipByte::NamedBits() const
{
    std::uint8_t named = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (bits[i] != nullptr) {
            named |= Mask(7 - i);
        }
    }
    return named;
}

std::uint8_t ChipByte::WritableBits() const
{
    std::uint8_t writable = 0;
    switch (write.form) {
    case ByteWrite::Form::None:
        break;
    case ByteWrite::Form::InByteFour:
        writable = NamedBits();
        break;
    case ByteWrite::Form::InByteTwo:
        ForEachCarriedBit(write.byteTwoBits, *this, [&writable](unsigned, unsigned own) { writable |= Mask(own); });
        break;
    }
    if (const auto spien = BitOf(kSpien)) {
        writable &= static_cast<std::uint8_t>(~Mask(*spien));
    }
    return writable;
}

Instruction ChipByte::WriteInstruction(std::uint8_t value) const
{
    if (write.form != ByteWrite::Form::InByteTwo) {
        return {kWrite, write.byteTwo, 0x00, value};
    }
    std::uint8_t byteTwo = write.byteTwo;
    ForEachCarriedBit(write.byteTwoBits, *this, [&](unsigned place, unsigned own) {
        if ((value & Mask(own)) != 0) {
            byteTwo |= Mask(place);
        }
    });
    return {kWrite, byteTwo, 0x00, 0x00};
}

bool ChipByte::IsWrittenBy(const Instruction& instruction) const
{
    return write.form != ByteWrite::Form::None && instruction[0] == kWrite &&
           (instruction[1] & write.checkedBits) == (write.byteTwo & write.checkedBits);
}

std::uint8_t ChipByte::ValueWrittenBy(const Instruction& instruction) const
{
    if (write.form != ByteWrite::Form::InByteTwo) {
        return instruction[3];
    }
    std::uint8_t value = 0xFF;
    ForEachCarriedBit(write.byteTwoBits, *this, [&](unsigned place, unsigned own) {
        if ((instruction[1] & Mask(place)) == 0) {
            value &= static_cast<std::uint8_t>(~Mask(own));
        }
    });
    return value;
}

Instruction ChipByte::ReadInstruction() const
{
    const std::array<std::uint8_t, 3>& bytes = read.value();
    return {bytes[0], bytes[1], bytes[2], 0x00};
}

const FuseByteLayout* FindFuseByte(const std::optional<std::span<const FuseByteLayout>>& bytes, std::string_view name)
{
    if (!bytes) {
        return nullptr;
    }
    const auto byte =
        std::find_if(bytes->begin(), bytes->end(), [name](const FuseByteLayout& b) { return name == b.name; });
    return byte == bytes->end() ? nullptr : &*byte;
}

std::vector<std::string_view> ProgrammedBits(const FuseByteLayout& layout, std::uint8_t value)
{
    std::vector<std::string_view> names;
    for (unsigned i = 0; i < 8; ++i) {
        const bool programmed = (value & (0x80u >> i)) == 0;
        if (programmed && layout.bits[i] != nullptr) {
            names.emplace_back(layout.bits[i]);
        }
    }
    return names;
}

}  // namespace velkor
