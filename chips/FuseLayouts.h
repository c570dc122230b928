#pragma once

// A chip's fuse and lock bytes: the bits each holds, how serial programming
// writes it, and the bytes serial programming reads (which on some AT90S
// parts mix lock and fuse bits in one byte). The chip records give the
// values; this is their shape, shared by the engine and the simulated chip.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velkor {

// A serial programming instruction: four bytes, the opcode first on the wire.
using Instruction = std::array<std::uint8_t, 4>;

// A byte's bit names, bit 7 first; nullptr where the byte has no such bit
// (it reads 1).
using BitNames = std::array<const char*, 8>;

// One byte serial programming reads: a line of read-fuses.
struct FuseByteLayout {
    const char* name;                             // "Fuse low", "Fuse high", "Fuse ext", "Lock", ...
    std::array<std::uint8_t, 3> readInstruction;  // the fourth byte is the one read
    BitNames bits;                                // the bits as they come out
};

// How serial programming writes a fuse byte or the lock byte. Every write is
// AC, byte 2, byte 3 (sent as 00), byte 4.
struct ByteWrite {
    enum class Form {
        None,        // serial programming cannot write it
        InByteFour,  // byte 4 is the value, in the byte's own bit order
        InByteTwo,   // byte 2 carries the bits where byteTwoBits names them; byte 4 is 00
    };
    Form form = Form::InByteFour;
    std::uint8_t byteTwo = 0;      // byte 2 as sent, its named bits 0
    std::uint8_t checkedBits = 0;  // the bits of byte 2 that tell this write from the others
    BitNames byteTwoBits{};        // InByteTwo: the bit each place of byte 2 carries
};

// A fuse byte or the lock byte as the chip holds it.
struct ChipByte {
    BitNames bits{};
    std::uint8_t factory = 0xFF;
    ByteWrite write;
    // The instruction that reads this byte alone, bit for bit; nothing
    // where it is only read together with other bits, or not at all.
    std::optional<std::array<std::uint8_t, 3>> read;

    std::optional<unsigned> BitOf(std::string_view bitName) const;
    std::uint8_t NamedBits() const;
    // The bits a write can change: those it carries, SPIEN never.
    std::uint8_t WritableBits() const;
    // The instruction that writes value (in this byte's own bit order).
    Instruction WriteInstruction(std::uint8_t value) const;
    // Whether an AC instruction is this byte's write.
    bool IsWrittenBy(const Instruction& instruction) const;
    // What the write instruction sets, in this byte's own bit order; only
    // WritableBits count.
    std::uint8_t ValueWrittenBy(const Instruction& instruction) const;
    // The read instruction, when the byte has one of its own.
    Instruction ReadInstruction() const;
};

// The byte called name among a chip's bytes, if it has one.
const FuseByteLayout* FindFuseByte(const std::optional<std::span<const FuseByteLayout>>& bytes, std::string_view name);

// The names of the bits that value programs (0 = programmed), bit 7 first;
// unused bits are left out.
std::vector<std::string_view> ProgrammedBits(const FuseByteLayout& layout, std::uint8_t value);

}  // namespace velkor
