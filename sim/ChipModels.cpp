// The simulated chips, each made from its record: the device table's chips
// and the catalogue's. Where the records leave a figure to the board (a
// fuse value that chooses a source on the board), the simulated board has a
// 16 MHz crystal.

#include <algorithm>

#include "BuiltInCatalogue.h"
#include "SimulatedTarget.h"

namespace velkor::sim {

namespace {

using Fuse = LockoutBit::Fuse;

std::optional<FuseBit> FuseBitNamed(const ChipRecord& chip, std::string_view name)
{
    const auto at = chip.FuseBitPosition(name);
    if (!at) {
        return std::nullopt;
    }
    return FuseBit{static_cast<Fuse>(at->first), static_cast<std::uint8_t>(at->second)};
}

// Programmed, these take the chip out of reach of serial programming.
std::vector<LockoutBit> LockoutBitsOf(const ChipRecord& chip)
{
    std::vector<LockoutBit> lockout;
    for (const char* name : {"RSTDISBL", "DWEN"}) {
        if (const auto bit = FuseBitNamed(chip, name)) {
            lockout.push_back({bit->fuse, bit->bit, name});
        }
    }
    return lockout;
}

std::uint8_t WritableFuseBytes(const ChipRecord& chip)
{
    return static_cast<std::uint8_t>(std::ranges::count_if(
        chip.fuses, [](const ChipByte& fuse) { return fuse.write.form != ByteWrite::Form::None; }));
}

std::uint8_t Factory(const ChipRecord& chip, std::size_t fuseByte)
{
    return fuseByte < chip.fuses.size() ? chip.fuses[fuseByte].factory : 0xFF;
}

// The checker has made sure every record has SPIEN.
ChipModel ModelOf(const ChipRecord& chip)
{
    const bool byteMode = chip.row.PageSize == 0;
    const EepromRules eeprom = chip.Eeprom();
    return ChipModel{
        .record = &chip,
        .name = chip.name.c_str(),
        .signature = chip.signature,
        .flashBytes = chip.row.FlashSize,
        .pageBytes = chip.row.PageSize,
        .eepromBytes = chip.row.EepromSize,
        .fuseBytes = WritableFuseBytes(chip),
        .factoryLow = Factory(chip, 0),
        .factoryHigh = Factory(chip, 1),
        .factoryExtended = Factory(chip, 2),
        .factoryLock = chip.lock.factory,
        .lockoutBits = LockoutBitsOf(chip),
        .hasPollRdyBsy = chip.rdyBsyPoll,
        .lowWritable = chip.WritableBits(0),
        .highWritable = chip.WritableBits(1),
        .extendedWritable = chip.WritableBits(2),
        .lockWritable = chip.LockWritableBits(),
        .hidesSignatureWhenLocked = chip.hidesSignatureWhenLocked,
        .spien = *FuseBitNamed(chip, "SPIEN"),
        .eesave = FuseBitNamed(chip, "EESAVE"),
        .flashPollValue = chip.row.NoPollValue,
        .flashPollable = chip.flashPollable,
        .clockHz = chip.clockHz,
        .sckLowMinCycles = static_cast<std::uint8_t>(chip.sck.lowCycles),
        .sckHighMinCycles = static_cast<std::uint8_t>(chip.sck.highCycles),
        .sckExtraCycleFrom12MHz = chip.sck.plusOneFrom12MHz,
        .byteWriteMicros = byteMode ? chip.flashWriteMicros : 0,
        .pageWriteMicros = byteMode ? 0 : chip.flashWriteMicros,
        .chipEraseMicros = chip.chipEraseMicros,
        .fuseWriteMicros = chip.fuseWriteMicros,
        .eepromPageBytes = eeprom.eepromPageBytes,
        .eepromWriteMicros = eeprom.eepromWriteMicros,
        .eepromPollFirst = eeprom.eepromPollFirst,
        .eepromPollSecond = eeprom.eepromPollSecond,
        .clockFuses = chip.clockFuses ? &*chip.clockFuses : nullptr,
    };
}

std::vector<ChipModel> BuildChipModels()
{
    std::vector<ChipModel> chips;
    for (const ChipCatalogue* list : {&TableChips(), &BuiltInCatalogue()}) {
        for (const ChipRecord& chip : list->Chips()) {
            chips.push_back(ModelOf(chip));
        }
    }
    return chips;
}

}  // namespace

std::uint64_t SckPhaseMinimumNs(const ChipModel& model, std::uint32_t clockHz, bool high)
{
    std::uint64_t cycles = high ? model.sckHighMinCycles : model.sckLowMinCycles;
    if (model.sckExtraCycleFrom12MHz && clockHz >= 12'000'000) {
        ++cycles;
    }
    return cycles * 1'000'000'000 / clockHz;
}

std::span<const ChipModel> AllChipModels()
{
    static const std::vector<ChipModel> chips = BuildChipModels();
    return chips;
}

const ChipModel* FindChipModel(std::string_view name)
{
    for (const ChipModel& chip : AllChipModels()) {
        if (chip.record->Answers(name)) {
            return &chip;
        }
    }
    return nullptr;
}

}  // namespace velkor::sim
