// Flash writing: byte by byte with read-back polling on chips without pages,
// page by page from PageBuffer on chips with pages. Both start from a chip
// that has just been erased, so 0xFF never needs to be sent.
#include <algorithm>

#include "Format.h"
#include "Programmer.h"
#include "ProgrammerWaits.h"

namespace velkor {

namespace {
constexpr std::uint8_t kErased = 0xFF;
// Bit 3 of the byte-wise opcodes selects the high byte of a flash word.
constexpr std::uint8_t kHighByte = 0x08;
constexpr std::uint8_t kWriteProgramMemory = 0x40;
constexpr std::uint8_t kReadProgramMemory = 0x20;
constexpr std::uint8_t kLoadProgramMemoryPage = 0x40;
constexpr std::uint8_t kWriteProgramMemoryPage = 0x4C;

constexpr int kPollReads = 6;
constexpr unsigned kPollIntervalMs = 1;

std::uint8_t HighByteFlag(unsigned byteAddress)
{
    return (byteAddress & 1u) != 0 ? kHighByte : 0x00;
}

Instruction ReadProgramMemory(std::uint16_t address)
{
    const unsigned word = address >> 1;
    return {static_cast<std::uint8_t>(kReadProgramMemory | HighByteFlag(address)), static_cast<std::uint8_t>(word >> 8),
            static_cast<std::uint8_t>(word & 0xFF), 0x00};
}
}  // namespace

bool Programmer::WriteFlashByte(std::uint16_t address, std::uint8_t data)
{
    if (data == kErased) {
        return true;
    }
    const unsigned word = address >> 1;
    SendInstruction({static_cast<std::uint8_t>(kWriteProgramMemory | HighByteFlag(address)),
                     static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF), data});

    // While busy the chip reads back its poll value (0x7F or 0xFF) at the
    // address being written, so data equal to it cannot be confirmed until
    // the write time is over; then one read tells. A chip whose record says
    // it cannot be polled at all (the AT90S1200) has every byte waited out.
    const ChipRecord* chip = ChipInUse();
    if (data == Device().NoPollValue || (chip != nullptr && !chip->flashPollable)) {
        Wait(kByteWaitMs);
        return ReadFlashByte(address) == data || VerifyError();
    }
    for (int read = 0; read < kPollReads; ++read) {
        if (PollInstruction(ReadProgramMemory(address)) == data) {
            return true;
        }
        Wait(kPollIntervalMs);
    }
    return VerifyError();
}

std::uint8_t Session::ReadFlashByte(std::uint16_t address)
{
    return QueryInstruction(ReadProgramMemory(address));
}

bool Programmer::VerifyError()
{
    log_.Append("Verify Error.");
    Fail({.fault = Fault::Mismatch});
    ReleasePort();
    return false;
}

bool Programmer::WriteFlashPages()
{
    const unsigned pageSize = Device().PageSize;
    const unsigned flashSize = Device().FlashSize;
    if (pageSize == 0) {
        return true;  // a byte-mode chip has no pages to walk
    }
    for (unsigned start = 0; start < flashSize; start += pageSize) {
        const auto page = PageBuffer.begin() + start;
        if (std::any_of(page, page + pageSize, [](std::uint8_t byte) { return byte != kErased; }) &&
            !ProgramPage(start, pageSize)) {
            return false;
        }
        log_.Append(FormatNumber("%x", start));
        ReportProgress(start + pageSize, flashSize);
    }
    return true;
}

// Loads every byte of the page, 0xFF included, low byte of each word before
// its high byte as the chips require, writes the page, and once it is written
// (waited out, or told by RDY/BSY) reads every byte back: only the read-back
// tells what the page holds.
bool Programmer::ProgramPage(unsigned start, unsigned pageSize)
{
    for (unsigned i = 0; i < pageSize; ++i) {
        SendInstruction({static_cast<std::uint8_t>(kLoadProgramMemoryPage | HighByteFlag(i)), 0x00,
                         static_cast<std::uint8_t>((i >> 1) & 0xFF), PageBuffer[start + i]});
    }
    SendInstruction({kWriteProgramMemoryPage, static_cast<std::uint8_t>(start >> 9),
                     static_cast<std::uint8_t>((start >> 1) & 0xFF), PageBuffer[start + pageSize - 1]});
    if (!WaitUntilReady(kPageWaitMs, ChipInUse()->flashWriteMicros, "page write")) {
        return false;
    }
    for (unsigned address = start; address < start + pageSize; ++address) {
        if (ReadFlashByte(static_cast<std::uint16_t>(address)) != PageBuffer[address]) {
            return VerifyError();
        }
    }
    return true;
}

}  // namespace velkor
