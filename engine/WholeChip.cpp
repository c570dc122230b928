// The whole chip from one command: every file read and every value checked
// first, then every memory checked against the chip identified, and only
// then the erase and the writes, the lock byte last.
#include "WholeChip.h"

#include <functional>

#include "ElfFile.h"
#include "Format.h"

namespace velkor {

namespace {
// One or two hexadecimal digits, after 0x where given: the Arduino IDE's
// boards give their fuse and lock values as 0xFF.
std::optional<std::uint8_t> ParseValue(std::string_view text)
{
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    return ParseFuseField(text);
}
}  // namespace

CommandResult WholeChip::ProgramCommand(const WholeChipRequest& request)
{
    log_.Clear();
    programmer_.FuseProblem.clear();
    programmer_.UnusedBitsNotes.clear();
    programmer_.FuseClock.reset();
    lock_.UnusedBitsNotes.clear();
    return programmer_.RunInCommandFrame([&] {
        Plan plan;
        return ReadPlan(request, plan) && programmer_.EnterProgramming(true) && PlanFitsChip(plan) && Program(plan);
    });
}

bool WholeChip::GivenOnce(bool alreadyGiven, const char* memory)
{
    if (alreadyGiven) {
        log_.Append(std::string("Not written: the ") + memory + " is given twice.");
    }
    return !alreadyGiven;
}

// Every file once, into memory, before the chip is reached.
bool WholeChip::ReadPlan(const WholeChipRequest& request, Plan& plan)
{
    for (const std::filesystem::path& file : request.files) {
        if (!AddFile(file, true, true, plan)) {
            return false;
        }
    }
    if ((request.flash && !AddFile(*request.flash, true, false, plan)) ||
        (request.eeprom && !AddFile(*request.eeprom, false, true, plan))) {
        return false;
    }
    if (!request.fuses.empty() && GivenOnce(plan.fuses.has_value(), "fuse bytes")) {
        const auto high = ParseValue(request.fuses[0]);
        const auto low = request.fuses.size() > 1 ? ParseValue(request.fuses[1]) : std::nullopt;
        const auto extended = request.fuses.size() > 2 ? ParseValue(request.fuses[2]) : std::nullopt;
        if (!high || !low || (request.fuses.size() > 2 && !extended) || request.fuses.size() > 3) {
            log_.Append("Error: --fuses takes HIGH LOW [EXTENDED], each one or two hexadecimal digits (0x allowed).");
            return false;
        }
        plan.fuses = FuseValues{*high, *low, extended};
    } else if (!request.fuses.empty()) {
        return false;
    }
    if (request.lock && GivenOnce(plan.lock.has_value(), "lock byte")) {
        plan.lock = ParseValue(*request.lock);
        if (!plan.lock) {
            log_.Append("Error: --lock takes one or two hexadecimal digits (0x allowed).");
            return false;
        }
    } else if (request.lock) {
        return false;
    }
    plan.erase = request.erase || plan.flash;
    if (!plan.erase && !plan.eeprom && !plan.fuses && !plan.lock) {
        log_.Append("Nothing to write: the files hold no memory of the chip.");
        return false;
    }
    return true;
}

// A HEX file gives the flash (or, as --eeprom, the EEPROM); an ELF file each
// memory it holds, of those asked for.
bool WholeChip::AddFile(const std::filesystem::path& path, bool flash, bool eeprom, Plan& plan)
{
    std::optional<std::vector<std::uint8_t>> bytes = programmer_.ReadInputFile(path);
    if (!bytes) {
        return false;
    }
    if (!IsElfFile(*bytes)) {
        auto& memory = flash ? plan.flash : plan.eeprom;
        if (!GivenOnce(memory.has_value(), flash ? "flash" : "EEPROM")) {
            return false;
        }
        memory = programmer_.CheckHexText(std::move(*bytes));
        return memory.has_value();
    }
    const std::optional<ElfMemories> memories = programmer_.ReadElf(*bytes);
    if (!memories) {
        return false;
    }
    const auto take = [&](std::optional<Session::CheckedHexFile>& memory, bool has, Session::FileMemory which,
                          const char* name) {
        if (!has) {
            return true;
        }
        if (!GivenOnce(memory.has_value(), name)) {
            return false;
        }
        memory = programmer_.ElfMemoryFile(*memories, which);
        return memory.has_value();
    };
    return take(plan.flash, flash && !memories->flash.empty(), Session::FileMemory::Flash, "flash") &&
           take(plan.eeprom, eeprom && !memories->eeprom.empty(), Session::FileMemory::Eeprom, "EEPROM") &&
           (!flash || !eeprom || (AddElfFuses(memories->fuses, plan) && AddElfLock(memories->lock, plan)));
}

// avr-libc's FUSES: low, high and extended in that order.
bool WholeChip::AddElfFuses(const std::vector<std::uint8_t>& bytes, Plan& plan)
{
    if (bytes.empty()) {
        return true;
    }
    if (bytes.size() < 2 || bytes.size() > 3) {
        log_.Append(FormatNumber("Not written: the ELF file gives %d fuse bytes; two or three can be written.",
                                 static_cast<long long>(bytes.size())));
        return false;
    }
    if (!GivenOnce(plan.fuses.has_value(), "fuse bytes")) {
        return false;
    }
    plan.fuses = FuseValues{bytes[1], bytes[0], bytes.size() == 3 ? std::optional(bytes[2]) : std::nullopt};
    return true;
}

bool WholeChip::AddElfLock(const std::vector<std::uint8_t>& bytes, Plan& plan)
{
    if (bytes.empty()) {
        return true;
    }
    if (bytes.size() != 1) {
        log_.Append("Not written: the ELF file's lock section holds more than one byte.");
        return false;
    }
    if (!GivenOnce(plan.lock.has_value(), "lock byte")) {
        return false;
    }
    plan.lock = bytes[0];
    return true;
}

// Everything that can refuse the plan on this chip, before the erase.
bool WholeChip::PlanFitsChip(const Plan& plan)
{
    if (!programmer_.IdentifiedChipIsListed()) {
        log_.Append("Not written: the chip is not in the device table.");
        programmer_.Fail({.fault = Fault::ChipNotListed});
        return false;
    }
    const bool fits =
        (!plan.flash || (programmer_.FileIsForChip(*plan.flash) && programmer_.DataFitsChip(*plan.flash) &&
                         programmer_.ByteModeValuesAgree(*plan.flash))) &&
        (!plan.eeprom || eeprom_.EepromFileFits(*plan.eeprom)) &&
        (!plan.fuses || programmer_.FuseValuesAllowed(plan.fuses->high, plan.fuses->low, plan.fuses->extended)) &&
        (!plan.lock || lock_.LockValueAllowed(*plan.lock));
    // Without an erase, lock bits already set keep the EEPROM from taking a write.
    return fits && (plan.erase || !plan.eeprom || !lock_.WritingLocked());
}

bool WholeChip::Program(const Plan& plan)
{
    struct Step {
        const char* memory;
        bool given;
        std::function<bool()> write;
    };
    const Step steps[] = {
        {"Chip Erase", plan.erase, [this] { return programmer_.ChipErase(); }},
        {"flash", plan.flash.has_value(), [&] { return programmer_.ProgramErasedFlash(*plan.flash); }},
        {"EEPROM", plan.eeprom.has_value(), [&] { return eeprom_.WriteEepromFile(*plan.eeprom); }},
        {"fuses", plan.fuses.has_value(),
         [&] { return programmer_.WriteFuseBytes(plan.fuses->high, plan.fuses->low, plan.fuses->extended); }},
        {"lock", plan.lock.has_value(), [&] { return lock_.WriteLockByte(*plan.lock); }},
    };
    std::string done;
    for (const Step& step : steps) {
        if (!step.given) {
            continue;
        }
        if (!step.write()) {
            log_.Append(std::string("Stopped at the ") + step.memory +
                        (done.empty() ? "; nothing written before it." : "; done before it: " + done + "."));
            return false;
        }
        done += (done.empty() ? "" : ", ") + std::string(step.memory);
    }
    log_.Append("Done: " + done + ".");
    return true;
}

}  // namespace velkor
