// The simulated chips as data, from their data sheets and the decisions noted
// where the sheets leave a figure open (5 V supply, factory clock, and a
// board with a 16 MHz crystal for a fuse value that chooses a source on the
// board).

#include <utility>

#include "BuiltInCatalogue.h"
#include "EepromLockRules.h"
#include "NameMatch.h"
#include "SimulatedTarget.h"

namespace velkor::sim {

namespace {

using Fuse = LockoutBit::Fuse;

constexpr std::uint32_t kAt90sByteWrite = 4000;  // tWD_PROG at 5 V
constexpr std::uint32_t kAt90sFuseWrite = 9000;
constexpr std::uint32_t kPageWrite = 4500;  // tWD_FLASH
constexpr std::uint32_t kMegaErase = 9000;  // tWD_ERASE, ATmega and ATtiny26
constexpr std::uint32_t kMegaFuseWrite = 4500;

// An AT90S byte-mode part on a 4 MHz crystal; each SCK phase > 2 cycles.
ChipModel At90s(const char* name, std::uint8_t sig1, std::uint8_t sig2, std::uint32_t flash, std::uint16_t eeprom,
                FuseLockEncoding encoding, std::uint8_t fuse, std::uint8_t pollValue, std::uint32_t eraseMicros)
{
    const bool oneFuse = encoding == FuseLockEncoding::FuseInLockByte || encoding == FuseLockEncoding::SeparateFuseByte;
    return ChipModel{
        .name = name,
        .signature = {0x1E, sig1, sig2},
        .flashBytes = flash,
        .pageBytes = 0,
        .eepromBytes = eeprom,
        .fuseBytes = static_cast<std::uint8_t>(oneFuse ? 1 : 0),
        .factoryLow = fuse,
        .factoryHigh = 0xFF,
        .factoryExtended = 0xFF,
        .factoryLock = 0xFF,
        .lockoutBits = {},
        .encoding = encoding,
        .hasPollRdyBsy = false,
        .lockBitsProtectFuses = false,
        .lowWritable = static_cast<std::uint8_t>(encoding == FuseLockEncoding::FuseInLockByte     ? 0x01
                                                 : encoding == FuseLockEncoding::SeparateFuseByte ? 0x1F
                                                                                                  : 0x00),
        .highWritable = 0,
        .extendedWritable = 0,
        .lockWritable = 0x03,
        .hidesSignatureWhenLocked = true,
        .spien = {Fuse::Low, 5},
        .eesave = std::nullopt,
        .flashPollValue = pollValue,
        .flashPollable = true,
        .clockHz = 4'000'000,
        .sckLowMinCycles = 2,
        .sckHighMinCycles = 2,
        .sckExtraCycleFrom12MHz = false,
        .byteWriteMicros = kAt90sByteWrite,
        .pageWriteMicros = 0,
        .chipEraseMicros = eraseMicros,
        .fuseWriteMicros = kAt90sFuseWrite,
    };
}

// A page-mode part on its factory 1 MHz internal clock; each SCK phase
// > 2 cycles; a programmed LB1 freezes its fuses.
ChipModel Mega(const char* name, std::uint8_t sig1, std::uint8_t sig2, std::uint32_t flash, std::uint16_t page,
               std::uint16_t eeprom, std::uint8_t fuseBytes, std::array<std::uint8_t, 3> factoryFuses,
               std::uint8_t highWritable, std::uint8_t extendedWritable, std::uint8_t lockWritable,
               std::vector<LockoutBit> lockout, bool mega48Family)
{
    return ChipModel{
        .name = name,
        .signature = {0x1E, sig1, sig2},
        .flashBytes = flash,
        .pageBytes = page,
        .eepromBytes = eeprom,
        .fuseBytes = fuseBytes,
        .factoryLow = factoryFuses[0],
        .factoryHigh = factoryFuses[1],
        .factoryExtended = factoryFuses[2],
        .factoryLock = 0xFF,
        .lockoutBits = std::move(lockout),
        .encoding = FuseLockEncoding::FuseBytes,
        .hasPollRdyBsy = mega48Family,
        .lockBitsProtectFuses = true,
        .lowWritable = 0xFF,
        .highWritable = highWritable,
        .extendedWritable = extendedWritable,
        .lockWritable = lockWritable,
        .hidesSignatureWhenLocked = false,
        .spien = {Fuse::High, 5},
        .eesave = FuseBit{Fuse::High, 3},
        .flashPollValue = 0xFF,
        .flashPollable = true,
        .clockHz = 1'000'000,
        .sckLowMinCycles = 2,
        .sckHighMinCycles = 2,
        .sckExtraCycleFrom12MHz = true,
        .byteWriteMicros = 0,
        .pageWriteMicros = kPageWrite,
        .chipEraseMicros = kMegaErase,
        .fuseWriteMicros = kMegaFuseWrite,
        .clockFuses = TableClockFuses(static_cast<std::uint16_t>(sig1 << 8 | sig2)),
        .fuseLayout =
            FuseLayoutOf(static_cast<std::uint16_t>(sig1 << 8 | sig2)).value_or(std::span<const FuseByteLayout>()),
    };
}

std::optional<FuseBit> FuseBitNamed(const CatalogueChip& chip, std::string_view name)
{
    const auto at = chip.FuseBitPosition(name);
    if (!at) {
        return std::nullopt;
    }
    return FuseBit{static_cast<Fuse>(at->first), static_cast<std::uint8_t>(at->second)};
}

std::vector<LockoutBit> LockoutBitsOf(const CatalogueChip& chip)
{
    std::vector<LockoutBit> lockout;
    for (const char* name : {"RSTDISBL", "DWEN"}) {
        if (const auto bit = FuseBitNamed(chip, name)) {
            lockout.push_back({bit->fuse, bit->bit, name});
        }
    }
    return lockout;
}

// A chip of the catalogue, made from its data alone. Every one of them is of
// the ATmega/ATtiny generation: fuse bytes read and written by the 50/58 and
// AC Ax instructions, SCK phases > 2 cycles (3 from 12 MHz), and a programmed
// LB1 that freezes the fuses too. The checker has made sure SPIEN is there.
ChipModel FromCatalogue(const CatalogueChip& chip)
{
    return ChipModel{
        .name = chip.name.c_str(),
        .signature = chip.signature,
        .flashBytes = chip.row.FlashSize,
        .pageBytes = chip.row.PageSize,
        .eepromBytes = chip.row.EepromSize,
        .fuseBytes = chip.row.FuseCount,
        .factoryLow = chip.factoryFuses[0],
        .factoryHigh = chip.factoryFuses[1],
        .factoryExtended = chip.factoryFuses[2],
        .factoryLock = chip.factoryLock,
        .lockoutBits = LockoutBitsOf(chip),
        .encoding = FuseLockEncoding::FuseBytes,
        .hasPollRdyBsy = chip.rdyBsyPoll,
        .lockBitsProtectFuses = true,
        .lowWritable = chip.WritableBits(0),
        .highWritable = chip.WritableBits(1),
        .extendedWritable = chip.WritableBits(2),
        .lockWritable = chip.LockWritableBits(),
        .hidesSignatureWhenLocked = false,
        .spien = *FuseBitNamed(chip, "SPIEN"),
        .eesave = FuseBitNamed(chip, "EESAVE"),
        .flashPollValue = chip.row.NoPollValue,
        .flashPollable = true,
        .clockHz = chip.clockHz,
        .sckLowMinCycles = 2,
        .sckHighMinCycles = 2,
        .sckExtraCycleFrom12MHz = true,
        .byteWriteMicros = 0,
        .pageWriteMicros = chip.pageWriteMicros,
        .chipEraseMicros = chip.chipEraseMicros,
        .fuseWriteMicros = chip.fuseWriteMicros,
        .clockFuses = chip.clockFuses ? &*chip.clockFuses : nullptr,
        .fuseLayout = chip.layout,
    };
}

// The EEPROM facts of every chip, table or catalogue, from the rules the
// engine writes by.
void AddEepromFacts(ChipModel& model)
{
    const auto signature = static_cast<std::uint16_t>(model.signature[1] << 8 | model.signature[2]);
    const CatalogueChip* catalogued = BuiltInCatalogue().Find(signature);
    const EepromLockRules rules =
        catalogued != nullptr ? EepromLockRulesOf(*catalogued) : *EepromLockRulesOf(signature);
    model.eepromPageBytes = rules.eepromPageBytes;
    model.eepromWriteMicros = rules.eepromWriteMicros;
    model.eepromPollFirst = rules.eepromPollFirst;
    model.eepromPollSecond = rules.eepromPollSecond;
}

const LockoutBit kRstdisblHigh7{Fuse::High, 7, "RSTDISBL"};
const LockoutBit kDwenHigh6{Fuse::High, 6, "DWEN"};

std::vector<ChipModel> BuildChipModels()
{
    using enum FuseLockEncoding;
    std::vector<ChipModel> chips;

    // AT90S1200: LB write only; polling unusable, so every write is waited
    // out. Its clock rule is its own: SCK low > 1, high > 4 XTAL1 cycles.
    ChipModel at90s1200 = At90s("AT90S1200", 0x90, 0x01, 1024, 64, LockWriteOnly, 0xDF, 0xFF, 20000);
    at90s1200.flashPollable = false;
    at90s1200.sckLowMinCycles = 1;
    at90s1200.sckHighMinCycles = 4;
    chips.push_back(std::move(at90s1200));

    chips.push_back(At90s("AT90S2313", 0x91, 0x01, 2048, 128, LockWriteOnly, 0xDF, 0x7F, 20000));
    // 2323/2343: factory FSTRT/RCEN programmed; 18 ms erase.
    chips.push_back(At90s("AT90S2323", 0x91, 0x02, 2048, 128, FuseInLockByte, 0xDE, 0xFF, 18000));
    ChipModel at90s2343 = At90s("AT90S2343", 0x91, 0x03, 2048, 128, FuseInLockByte, 0xDE, 0xFF, 18000);
    at90s2343.clockHz = 1'000'000;  // runs from its internal RC (RCEN programmed)
    chips.push_back(std::move(at90s2343));
    chips.push_back(At90s("AT90S2333", 0x91, 0x05, 2048, 128, SeparateFuseByte, 0xDA, 0xFF, 20000));

    // ATtiny26: RSTDISBL high bit 4, SPIEN high bit 3, EESAVE high bit 2;
    // high bits 7..5 unused; only LB1/LB2.
    ChipModel attiny26 = Mega("ATtiny26", 0x91, 0x09, 2048, 32, 128, 2, {0xE1, 0xF7, 0xFF}, 0x17, 0x00, 0x03,
                              {{Fuse::High, 4, "RSTDISBL"}}, false);
    attiny26.spien = {Fuse::High, 3};
    attiny26.eesave = FuseBit{Fuse::High, 2};
    chips.push_back(std::move(attiny26));

    chips.push_back(At90s("AT90S4414", 0x92, 0x01, 4096, 256, LockWriteOnly, 0xDF, 0x7F, 20000));
    chips.push_back(At90s("AT90S4434", 0x92, 0x02, 4096, 256, FuseInLockByte, 0xDF, 0xFF, 20000));
    chips.push_back(At90s("AT90S4433", 0x92, 0x03, 4096, 256, SeparateFuseByte, 0xDA, 0xFF, 20000));
    chips.push_back(At90s("AT90S8515", 0x93, 0x01, 8192, 512, LockWriteOnly, 0xDF, 0x7F, 20000));
    chips.push_back(At90s("AT90S8535", 0x93, 0x03, 8192, 512, FuseInLockByte, 0xDF, 0xFF, 20000));

    chips.push_back(
        Mega("ATmega8", 0x93, 0x07, 8192, 64, 512, 2, {0xE1, 0xD9, 0xFF}, 0xDF, 0x00, 0x3F, {kRstdisblHigh7}, false));
    // ATmega48 family: extended fuse, RDY/BSY, DWEN.
    chips.push_back(Mega("ATmega48", 0x92, 0x05, 4096, 64, 256, 3, {0x62, 0xDF, 0xFF}, 0xDF, 0x01, 0x03,
                         {kRstdisblHigh7, kDwenHigh6}, true));
    chips.push_back(Mega("ATmega88", 0x93, 0x0A, 8192, 64, 512, 3, {0x62, 0xDF, 0xF9}, 0xDF, 0x07, 0x3F,
                         {kRstdisblHigh7, kDwenHigh6}, true));
    chips.push_back(Mega("ATmega168", 0x94, 0x06, 16384, 128, 512, 3, {0x62, 0xDF, 0xF9}, 0xDF, 0x07, 0x3F,
                         {kRstdisblHigh7, kDwenHigh6}, true));
    for (const CatalogueChip& chip : BuiltInCatalogue().Chips()) {
        chips.push_back(FromCatalogue(chip));
    }
    for (ChipModel& chip : chips) {
        AddEepromFacts(chip);
    }
    return chips;
}

}  // namespace

std::uint64_t SckPhaseMinimumNs(const ChipModel& model, std::uint32_t clockHz, bool high)
{
    std::uint64_t cycles = high ? model.sckHighMinCycles : model.sckLowMinCycles;
    if (model.sckExtraCycleFrom12MHz && clockHz >= 12'000'000)
        ++cycles;
    return cycles * 1'000'000'000 / clockHz;
}

std::span<const ChipModel> AllChipModels()
{
    static const std::vector<ChipModel> chips = BuildChipModels();
    return chips;
}

// A catalogue chip also answers to the names of the chips that share its
// signature ("ATtiny13" is the "ATtiny13/13A").
const ChipModel* FindChipModel(std::string_view name)
{
    // The device table's own misspellings name the chips they stand for.
    constexpr std::pair<std::string_view, std::string_view> kTableSpellings[] = {{"ATiny26", "ATtiny26"},
                                                                                 {"ATmage88", "ATmega88"}};
    for (const auto& [spelling, chipName] : kTableSpellings) {
        if (SameNameIgnoringCase(spelling, name))
            name = chipName;
    }
    const CatalogueChip* catalogued = BuiltInCatalogue().FindByName(name);
    const std::string_view modelName = catalogued != nullptr ? std::string_view(catalogued->name) : name;
    for (const ChipModel& chip : AllChipModels()) {
        if (SameNameIgnoringCase(chip.name, modelName))
            return &chip;
    }
    return nullptr;
}

}  // namespace velkor::sim
