// The chip's serial programming interface at pin level: an 8-bit shift
// register clocked by SCK while RESET is low, the instruction decoder behind
// it, and the self-timed write and erase operations.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "ChipMemories.h"
#include "SimulatedTarget.h"

namespace velkor::sim {

namespace {

constexpr std::uint64_t kNanosecondsPerMicrosecond = 1000;
// The chip needs RESET low for 20 ms before it takes Programming Enable.
constexpr std::uint64_t kResetLowBeforeEnable = 20'000'000;

constexpr std::uint8_t kProgrammingEnable1 = 0xAC;
constexpr std::uint8_t kProgrammingEnable2 = 0x53;

enum class BusyWith { Nothing, ChipErase, FlashByte, FlashPage, EepromByte, EepromPage, Fuse, Lock };

const char* Describe(BusyWith operation)
{
    switch (operation) {
    case BusyWith::ChipErase:
        return "Chip Erase";
    case BusyWith::FlashByte:
        return "flash byte write";
    case BusyWith::FlashPage:
        return "flash page write";
    case BusyWith::EepromByte:
        return "EEPROM byte write";
    case BusyWith::EepromPage:
        return "EEPROM page write";
    case BusyWith::Fuse:
        return "fuse write";
    case BusyWith::Lock:
        return "lock bit write";
    case BusyWith::Nothing:
        break;
    }
    return "nothing";
}

std::string Milliseconds(std::uint64_t nanoseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(nanoseconds) / 1e6);
    return text;
}

std::string Microseconds(std::uint64_t nanoseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f us", static_cast<double>(nanoseconds) / 1e3);
    return text;
}

std::string InstructionText(const std::array<std::uint8_t, 4>& bytes)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

bool BitProgrammed(std::uint8_t value, unsigned bit)
{
    return (value >> bit & 1) == 0;
}

template <typename Memories>
auto& FuseCell(Memories& memories, LockoutBit::Fuse fuse)
{
    switch (fuse) {
    case LockoutBit::Fuse::Low:
        return memories.fuseLow;
    case LockoutBit::Fuse::High:
        return memories.fuseHigh;
    case LockoutBit::Fuse::Extended:
        break;
    }
    return memories.fuseExtended;
}

}  // namespace

struct SimulatedChip::Impl {
    Impl(const ChipModel& chipModel, TimeSource& timeSource, std::optional<std::uint32_t> chipClockHz)
        : model(chipModel), forcedClockHz(chipClockHz), time(timeSource), memories(ChipMemories::Factory(chipModel)),
          createdNs(timeSource.NowNanoseconds()), lastSckEdgeNs(createdNs), pageWords(chipModel.pageBytes / 2u)
    {
        PowerUp();
    }

    const ChipModel& model;
    const std::optional<std::uint32_t> forcedClockHz;
    std::uint32_t clockHz = 0;  // as the fuses latched last select
    TimeSource& time;
    Faults faults;
    ChipMemories memories;
    const std::uint64_t createdNs;

    // Pin levels as last driven (SCK: as last seen, which a lost edge
    // leaves behind the pin). RESET counts as high until first driven: the
    // pin has a pull-up.
    bool sck = false;
    bool mosi = false;
    bool reset = true;
    std::uint64_t lastSckEdgeNs;
    std::uint64_t resetFellNs = 0;

    // The shift register: bits come in on rising SCK edges; the byte going
    // out moves on by one bit at each falling edge, and the next one is
    // loaded at the falling edge that ends a byte.
    std::uint8_t received = 0;
    unsigned receivedBits = 0;
    std::uint64_t byteStartNs = 0;
    std::uint8_t sending = 0;
    unsigned sentBits = 0;
    std::uint8_t nextToSend = 0;
    bool loadOnFallingEdge = false;

    // Programming mode.
    bool outOfReach = false;  // fuses latched at the last RESET high forbid ISP
    bool silenced = false;    // injected fault: no answer after a Chip Erase
    bool enabled = false;     // a Programming Enable arrived in step
    std::uint8_t previousByte = 0;
    std::uint64_t previousByteStartNs = 0;
    std::array<std::uint8_t, 4> instruction{};
    unsigned instructionBytes = 0;
    std::uint64_t instructionStartNs = 0;
    bool instructionLost = false;

    // The self-timed operation running, and the byte (or first byte of the
    // page) it writes.
    BusyWith busyWith = BusyWith::Nothing;
    std::uint64_t busyUntilNs = 0;
    std::uint32_t busyByteAddress = 0;

    const unsigned pageWords;
    std::vector<std::uint8_t> pageBuffer;
    std::vector<bool> lowByteLoaded;
    std::vector<std::optional<std::uint8_t>> eepromPageBuffer;

    std::vector<std::string> violations;
    std::size_t violationCount = 0;

    // ---- power and pins ----

    void PowerUp()
    {
        reset = true;
        enabled = false;
        busyWith = BusyWith::Nothing;
        busyUntilNs = 0;
        ClearPageBuffer();
        LatchFuses();
    }

    void Drive(bool newSck, bool newMosi, bool newReset)
    {
        const std::uint64_t now = time.NowNanoseconds();
        if (newReset != reset) {
            if (newReset) {
                OnResetRise(now);
            } else {
                OnResetFall(now);
            }
        }
        mosi = newMosi;
        if (newSck == sck) {
            return;
        }
        if (!reset) {
            if (PhaseTooShort(now, newSck)) {
                return;  // the edge is lost
            }
            if (newSck) {
                ClockIn(now);
            } else {
                ClockOut();
            }
        }
        sck = newSck;
        lastSckEdgeNs = now;
    }

    bool Miso() const
    {
        if (reset || !enabled || silenced || outOfReach) {
            return true;  // undriven
        }
        return (sending >> (7 - sentBits) & 1) != 0;
    }

    // A RESET fall starts serial programming afresh: bit count zero, no
    // Programming Enable yet. An out-of-step chip has already counted some
    // stray edges by the time the programmer starts.
    void OnResetFall(std::uint64_t now)
    {
        reset = false;
        resetFellNs = now;
        enabled = false;
        instructionBytes = 0;
        previousByte = 0;
        received = 0;
        receivedBits = 0;
        sending = 0;
        sentBits = 0;
        loadOnFallingEdge = false;
        ClearPageBuffer();
        for (unsigned i = 0; i < faults.outOfStepBits; ++i) {
            ClockIn(now);
            ClockOut();
        }
    }

    void OnResetRise(std::uint64_t now)
    {
        reset = true;
        enabled = false;
        if (Busy(now)) {
            Violation(now, std::string("RESET raised while the ") + Describe(busyWith) + " was still busy (until " +
                               Since(busyUntilNs) + ")");
        }
        LatchFuses();
    }

    // Programmed RSTDISBL turns RESET into an I/O pin, programmed DWEN into
    // the debugWIRE line; without SPIEN programmed the serial interface is off.
    void LatchFuses()
    {
        bool forbidden = !BitProgrammed(FuseCell(memories, model.spien.fuse), model.spien.bit);
        for (const LockoutBit& lockout : model.lockoutBits) {
            forbidden = forbidden || BitProgrammed(FuseCell(memories, lockout.fuse), lockout.bit);
        }
        outOfReach = forbidden;
        clockHz = forcedClockHz.value_or(ClockSelectedByFuses());
    }

    // An internal oscillator runs at its own frequency; a clock or crystal
    // on the board at the board's. CKDIV8 divides either.
    std::uint32_t ClockSelectedByFuses() const
    {
        if (model.clockFuses == nullptr) {
            return model.clockHz;
        }
        const auto selected = SelectClock(*model.clockFuses, model.record->fuses,
                                          {memories.fuseLow, memories.fuseHigh, memories.fuseExtended});
        if (!selected) {
            return model.clockHz;
        }
        return selected->Hz().value_or(model.boardClockHz / (selected->dividedBy8 ? 8 : 1));
    }

    // A rising edge ends a low phase, a falling edge a high one.
    bool PhaseTooShort(std::uint64_t now, bool rising)
    {
        const std::uint64_t lasted = now - lastSckEdgeNs;
        const std::uint64_t minimum = SckPhaseMinimumNs(model, clockHz, !rising);
        if (lasted > minimum) {
            return false;
        }
        Violation(now, std::string("SCK ") + (rising ? "low" : "high") + " for " + Microseconds(lasted) + "; the " +
                           model.name + " at " + std::to_string(clockHz / 1000) + " kHz needs more than " +
                           Microseconds(minimum) + "; edge lost");
        return true;
    }

    void ClockIn(std::uint64_t now)
    {
        if (receivedBits == 0) {
            byteStartNs = now;
        }
        received = static_cast<std::uint8_t>(received << 1 | (mosi ? 1 : 0));
        if (++receivedBits == 8) {
            receivedBits = 0;
            OnByteReceived(received, now);
        }
    }

    void ClockOut()
    {
        if (loadOnFallingEdge) {
            sending = nextToSend;
            sentBits = 0;
            loadOnFallingEdge = false;
        } else if (sentBits < 7) {
            ++sentBits;
        }
    }

    // ---- bytes and instructions ----

    void OnByteReceived(std::uint8_t byte, std::uint64_t now)
    {
        // What came in goes out during the next byte, unless a read puts
        // its data there.
        nextToSend = byte;
        loadOnFallingEdge = true;
        if (silenced || outOfReach) {
            return;
        }
        if (enabled) {
            OnInstructionByte(byte, now);
        } else {
            WatchForProgrammingEnable(byte);
        }
    }

    // Until it is in step the chip looks at every byte boundary of its own
    // framing for AC 53; a programmer whose framing differs by some bits
    // never gets there until its extra SCK pulses close the gap.
    void WatchForProgrammingEnable(std::uint8_t byte)
    {
        if (previousByte == kProgrammingEnable1 && byte == kProgrammingEnable2) {
            AcceptProgrammingEnable(previousByteStartNs);
        }
        previousByte = byte;
        previousByteStartNs = byteStartNs;
    }

    void AcceptProgrammingEnable(std::uint64_t startNs)
    {
        const std::uint64_t lowFor = startNs - resetFellNs;
        if (lowFor < kResetLowBeforeEnable) {
            Violation(startNs, "Programming Enable began " + Milliseconds(lowFor) +
                                   " after RESET went low (needs 20 ms); not answered");
            return;
        }
        enabled = true;
        instruction = {kProgrammingEnable1, kProgrammingEnable2, 0, 0};
        instructionBytes = 2;
        instructionStartNs = startNs;
        instructionLost = false;
    }

    void OnInstructionByte(std::uint8_t byte, std::uint64_t now)
    {
        if (instructionBytes == 0) {
            instructionStartNs = byteStartNs;
            instructionLost = false;
        }
        instruction[instructionBytes++] = byte;
        if (instructionBytes == 3) {
            PrepareFourthByte(now);
        } else if (instructionBytes == 4) {
            instructionBytes = 0;
            FinishInstruction(now);
        }
    }

    // Bytes 1 to 3 are in: decide whether a busy chip takes the instruction,
    // and put a read's data where the fourth byte goes out.
    void PrepareFourthByte(std::uint64_t now)
    {
        instructionLost = Busy(instructionStartNs) && !MayRunWhileBusy();
        if (instructionLost) {
            return;
        }
        if (const auto value = ReadResult(now)) {
            nextToSend = *value;
        }
    }

    void FinishInstruction(std::uint64_t now)
    {
        if (instructionLost) {
            Violation(instructionStartNs, "instruction " + InstructionText(instruction) + " sent while the " +
                                              Describe(busyWith) + " was busy (until " + Since(busyUntilNs) +
                                              "); lost");
            return;
        }
        Execute(now);
    }

    bool Busy(std::uint64_t atNs) const { return atNs < busyUntilNs; }

    // Polling: a read of the byte being written (or, on a page-mode chip, of
    // the page being written), and RDY/BSY where the chip has it.
    bool MayRunWhileBusy() const
    {
        const std::uint8_t opcode = instruction[0];
        if (opcode == 0xF0) {
            return model.hasPollRdyBsy;
        }
        if (opcode == 0xA0) {
            return EepromBeingWritten(EepromAddress());
        }
        return (opcode == 0x20 || opcode == 0x28) && BeingWritten(FlashByteAddress());
    }

    bool EepromBeingWritten(std::uint32_t address) const
    {
        if (busyWith == BusyWith::EepromByte) {
            return address == busyByteAddress;
        }
        if (busyWith == BusyWith::EepromPage) {
            return address / model.eepromPageBytes == busyByteAddress / model.eepromPageBytes;
        }
        return false;
    }

    bool BeingWritten(std::uint32_t byteAddress) const
    {
        if (busyWith == BusyWith::FlashByte) {
            return model.flashPollable && byteAddress == busyByteAddress;
        }
        if (busyWith == BusyWith::FlashPage) {
            return byteAddress / model.pageBytes == busyByteAddress / model.pageBytes;
        }
        return false;
    }

    // ---- reads ----

    std::optional<std::uint8_t> ReadResult(std::uint64_t now) const
    {
        const std::uint8_t opcode = instruction[0];
        switch (opcode) {
        case 0x30:
            return SignatureByte(instruction[2] & 0x03);
        case 0x20:
        case 0x28:
            if (ReadingLocked()) {
                return std::nullopt;
            }
            return ReadFlash(now);
        case 0xA0:
            if (ReadingLocked()) {
                return std::nullopt;
            }
            return ReadEeprom(now);
        case 0xF0:
            if (!model.hasPollRdyBsy) {
                return std::nullopt;
            }
            return static_cast<std::uint8_t>(Busy(now) ? 0x01 : 0x00);
        default:
            return ReadFuseOrLock();  // the fuse and lock reads are the record's
        }
    }

    std::uint8_t SignatureByte(unsigned index) const
    {
        if (model.hidesSignatureWhenLocked && ReadingLocked()) {
            return static_cast<std::uint8_t>(index);
        }
        if (index == 0) {
            return faults.makerCode.value_or(model.signature[0]);
        }
        return index < 3 ? model.signature[index] : 0xFF;
    }

    std::uint8_t ReadFlash(std::uint64_t now) const
    {
        const std::uint32_t address = FlashByteAddress();
        if (Busy(now) && BeingWritten(address)) {
            return busyWith == BusyWith::FlashByte ? model.flashPollValue : 0xFF;
        }
        return memories.flash[address];
    }

    // The write erases the byte first (the first half of its time), then
    // programs it; a read meanwhile answers the chip's poll values.
    std::uint8_t ReadEeprom(std::uint64_t now) const
    {
        const std::uint32_t address = EepromAddress();
        if (Busy(now) && EepromBeingWritten(address)) {
            return now < busyUntilNs - BusyNs(model.eepromWriteMicros) / 2 ? model.eepromPollFirst
                                                                           : model.eepromPollSecond;
        }
        return memories.eeprom[address];
    }

    // The read the record has for the instruction, its bits gathered from
    // the fuse and lock bytes they belong to; a place no bit has reads 1.
    std::optional<std::uint8_t> ReadFuseOrLock() const
    {
        const FuseByteLayout* read = model.record->ReadAnswering(instruction);
        if (read == nullptr) {
            return std::nullopt;
        }
        std::uint8_t value = 0xFF;
        for (unsigned i = 0; i < 8; ++i) {
            if (read->bits[i] != nullptr && !HeldBit(read->bits[i])) {
                value &= static_cast<std::uint8_t>(~(0x80u >> i));
            }
        }
        return value;
    }

    // A fuse or lock bit by name as the chip holds it (true: 1).
    bool HeldBit(std::string_view name) const
    {
        for (std::size_t byte = 0; byte < model.record->fuses.size(); ++byte) {
            if (const auto bit = model.record->fuses[byte].BitOf(name)) {
                return !BitProgrammed(FuseCell(memories, static_cast<LockoutBit::Fuse>(byte)), *bit);
            }
        }
        const auto bit = model.record->lock.BitOf(name);
        return !bit || !BitProgrammed(memories.lock, *bit);
    }

    // ---- writes ----

    void Execute(std::uint64_t now)
    {
        switch (instruction[0]) {
        case 0xAC:
            ExecuteAcGroup(now);
            break;
        case 0x40:
        case 0x48:
            if (model.Mode() == FlashMode::Byte) {
                WriteFlashByte(now);
            } else {
                LoadPageByte(now);
            }
            break;
        case 0x4C:
            if (model.Mode() == FlashMode::Page) {
                WritePage(now);
            }
            break;
        case 0xC0:
            WriteEepromByte(now);
            break;
        case 0xC1:
            if (model.eepromPageBytes != 0) {
                eepromPageBuffer[instruction[2] & (model.eepromPageBytes - 1)] = instruction[3];
            }
            break;
        case 0xC2:
            if (model.eepromPageBytes != 0) {
                WriteEepromPage(now);
            }
            break;
        default:
            break;  // reads were answered with byte 4; others are ignored
        }
    }

    void ExecuteAcGroup(std::uint64_t now)
    {
        const std::uint8_t selector = instruction[1];
        if ((selector & 0xE0) == 0x80) {
            ChipErase(now);
        } else if ((selector & 0xE0) == 0xE0) {
            WriteLock(now);
        } else {
            WriteFuse(now);  // Programming Enable in step and unknown codes change nothing
        }
    }

    void ChipErase(std::uint64_t now)
    {
        std::fill(memories.flash.begin(), memories.flash.end(), 0xFF);
        if (!EepromSaved()) {
            std::fill(memories.eeprom.begin(), memories.eeprom.end(), 0xFF);
        }
        memories.lock = model.factoryLock;
        ClearPageBuffer();
        StartBusy(BusyWith::ChipErase, model.chipEraseMicros, now);
        if (faults.silentAfterErase) {
            silenced = true;
        }
    }

    bool EepromSaved() const
    {
        return model.eesave && BitProgrammed(FuseCell(memories, model.eesave->fuse), model.eesave->bit);
    }

    // A programmed LB1 (mode 2) stops further flash and EEPROM programming.
    bool WritingLocked() const { return BitProgrammed(memories.lock, 0); }
    // LB1 and LB2 programmed (mode 3): no more reading either.
    bool ReadingLocked() const { return BitProgrammed(memories.lock, 0) && BitProgrammed(memories.lock, 1); }
    unsigned LockMode() const { return ReadingLocked() ? 3 : WritingLocked() ? 2 : 1; }

    void WriteEepromByte(std::uint64_t now)
    {
        if (WritingLocked()) {
            return;
        }
        const std::uint32_t address = EepromAddress();
        if (!faults.stuckEepromBytes.contains(address)) {
            memories.eeprom[address] = instruction[3];
        }
        StartBusy(BusyWith::EepromByte, model.eepromWriteMicros, now, address);
    }

    // Only the bytes loaded since the last page write change.
    void WriteEepromPage(std::uint64_t now)
    {
        const std::uint32_t first = EepromAddress() & ~std::uint32_t{model.eepromPageBytes - 1u};
        if (!WritingLocked()) {
            for (std::uint32_t i = 0; i < model.eepromPageBytes; ++i) {
                if (eepromPageBuffer[i] && !faults.stuckEepromBytes.contains(first + i)) {
                    memories.eeprom[first + i] = *eepromPageBuffer[i];
                }
            }
            StartBusy(BusyWith::EepromPage, model.eepromWriteMicros, now, first);
        }
        ClearPageBuffer();
    }

    void WriteFlashByte(std::uint64_t now)
    {
        if (WritingLocked()) {
            return;
        }
        const std::uint32_t address = FlashByteAddress();
        ProgramFlash(address, instruction[3]);
        StartBusy(BusyWith::FlashByte, model.byteWriteMicros, now, address);
    }

    void LoadPageByte(std::uint64_t now)
    {
        const unsigned word = instruction[2] & (pageWords - 1);
        const bool highByte = (instruction[0] & 0x08) != 0;
        if (highByte && !lowByteLoaded[word]) {
            Violation(now, "high byte of page word " + std::to_string(word) + " loaded before its low byte");
        }
        pageBuffer[word * 2 + (highByte ? 1 : 0)] = instruction[3];
        if (!highByte) {
            lowByteLoaded[word] = true;
        }
    }

    void WritePage(std::uint64_t now)
    {
        const std::uint32_t firstByte = (FlashWordAddress() & ~(pageWords - 1)) * 2;
        if (!WritingLocked()) {
            for (std::uint32_t i = 0; i < model.pageBytes; ++i) {
                ProgramFlash(firstByte + i, pageBuffer[i]);
            }
            StartBusy(BusyWith::FlashPage, model.pageWriteMicros, now, firstByte);
        }
        ClearPageBuffer();
    }

    // Programming only pulls bits from 1 to 0; a stuck cell takes nothing.
    void ProgramFlash(std::uint32_t address, std::uint8_t value)
    {
        if (faults.stuckFlashBytes.contains(address)) {
            return;
        }
        memories.flash[address] &= value;
    }

    // The fuse byte whose write the instruction is, in the record's terms.
    void WriteFuse(std::uint64_t now)
    {
        for (std::size_t byte = 0; byte < model.record->fuses.size(); ++byte) {
            const ChipByte& fuse = model.record->fuses[byte];
            if (fuse.IsWrittenBy(instruction)) {
                SetFuse(static_cast<LockoutBit::Fuse>(byte), fuse.ValueWrittenBy(instruction), now);
            }
        }
    }

    // Only the bits the instruction reaches change; SPIEN is never among them.
    void SetFuse(LockoutBit::Fuse fuse, std::uint8_t value, std::uint64_t now)
    {
        if (model.record->FusesFrozenIn(LockMode())) {
            return;
        }
        const std::uint8_t writable = WritableBits(fuse);
        std::uint8_t& cell = FuseCell(memories, fuse);
        cell = static_cast<std::uint8_t>((cell & ~writable) | (value & writable));
        StartBusy(BusyWith::Fuse, model.fuseWriteMicros, now);
    }

    // Every chip takes AC 111x xxxx as its lock write, the bits where its
    // record says. Lock bits can only be programmed; Chip Erase alone
    // clears them.
    void WriteLock(std::uint64_t now)
    {
        const std::uint8_t requested = model.record->lock.ValueWrittenBy(instruction);
        memories.lock &= static_cast<std::uint8_t>(requested | ~model.lockWritable);
        StartBusy(BusyWith::Lock, model.fuseWriteMicros, now);
    }

    void StartBusy(BusyWith operation, std::uint32_t micros, std::uint64_t now, std::uint32_t byteAddress = 0)
    {
        busyWith = operation;
        busyUntilNs = now + BusyNs(micros);
        busyByteAddress = byteAddress;
    }

    // How long an operation of the data sheet's micros keeps this chip busy.
    std::uint64_t BusyNs(std::uint32_t micros) const
    {
        return std::uint64_t{micros} * kNanosecondsPerMicrosecond * faults.busyTimePercent / 100;
    }

    // ---- helpers ----

    // Address bits above the chip's size are don't-care: the address wraps.
    std::uint32_t FlashWordAddress() const
    {
        const std::uint32_t word = std::uint32_t{instruction[1]} << 8 | instruction[2];
        return word & (model.flashBytes / 2 - 1);
    }

    std::uint32_t FlashByteAddress() const { return FlashWordAddress() * 2 + ((instruction[0] & 0x08) != 0 ? 1 : 0); }

    std::uint32_t EepromAddress() const
    {
        const std::uint32_t address = std::uint32_t{instruction[1]} << 8 | instruction[2];
        return address & (model.eepromBytes - 1u);
    }

    void ClearPageBuffer()
    {
        pageBuffer.assign(model.pageBytes, 0xFF);
        lowByteLoaded.assign(pageWords, false);
        eepromPageBuffer.assign(model.eepromPageBytes, std::nullopt);
    }

    std::uint8_t WritableBits(LockoutBit::Fuse fuse) const
    {
        switch (fuse) {
        case LockoutBit::Fuse::Low:
            return model.lowWritable;
        case LockoutBit::Fuse::High:
            return model.highWritable;
        case LockoutBit::Fuse::Extended:
            break;
        }
        return model.extendedWritable;
    }

    std::string Since(std::uint64_t atNs) const { return Milliseconds(atNs - createdNs); }

    void Violation(std::uint64_t atNs, const std::string& what)
    {
        ++violationCount;
        if (violations.size() < kMaxViolationTexts) {
            violations.push_back("at " + Since(atNs) + ": " + what);
        }
    }
};

SimulatedChip::SimulatedChip(const ChipModel& model, TimeSource& time, std::optional<std::uint32_t> clockHz)
    : impl_(std::make_unique<Impl>(model, time, clockHz))
{
}

SimulatedChip::~SimulatedChip() = default;

const ChipModel& SimulatedChip::Model() const
{
    return impl_->model;
}

std::uint32_t SimulatedChip::ClockHz() const
{
    return impl_->clockHz;
}

void SimulatedChip::Drive(bool sck, bool mosi, bool reset)
{
    impl_->Drive(sck, mosi, reset);
}

bool SimulatedChip::Miso() const
{
    return impl_->Miso();
}

Faults& SimulatedChip::InjectedFaults()
{
    return impl_->faults;
}

std::vector<std::uint8_t>& SimulatedChip::Flash()
{
    return impl_->memories.flash;
}
std::vector<std::uint8_t>& SimulatedChip::Eeprom()
{
    return impl_->memories.eeprom;
}
std::uint8_t& SimulatedChip::FuseLow()
{
    return impl_->memories.fuseLow;
}
std::uint8_t& SimulatedChip::FuseHigh()
{
    return impl_->memories.fuseHigh;
}
std::uint8_t& SimulatedChip::FuseExtended()
{
    return impl_->memories.fuseExtended;
}
std::uint8_t& SimulatedChip::LockBits()
{
    return impl_->memories.lock;
}

const std::vector<std::string>& SimulatedChip::TimingViolations() const
{
    return impl_->violations;
}

std::size_t SimulatedChip::TimingViolationCount() const
{
    return impl_->violationCount;
}

bool SimulatedChip::OutOfReach() const
{
    return impl_->outOfReach;
}

void SimulatedChip::LoadState(const std::filesystem::path& file)
{
    impl_->memories = ReadStateFile(impl_->model, file);
    impl_->PowerUp();
}

void SimulatedChip::SaveState(const std::filesystem::path& file) const
{
    WriteStateFile(impl_->model, impl_->memories, file);
}

}  // namespace velkor::sim
