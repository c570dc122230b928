#include "Hints.h"

#include <system_error>

#include "BuiltInCatalogue.h"
#include "FileReading.h"
#include "Format.h"
#include "HexFile.h"
#include "Programmer.h"
#include "SckPace.h"

namespace velkor {

namespace {

constexpr std::uint8_t kHiddenMaker = 0x00;
constexpr std::uint16_t kHiddenSignature = 0x0102;
// Where avr-objcopy puts a program's .eeprom section unless told otherwise.
constexpr std::uint32_t kObjcopyEepromOffset = 0x810000;

std::vector<std::string> ProgramEnableFaultHints(const CommandReport& report)
{
    const std::string slowClock =
        report.paceGiven ? "a chip on a slower clock than --chip-clock gives misses its SCK pace: give less, or leave "
                           "--chip-clock out and the chip's clock is found."
                         : "a chip on a slow clock misses the default SCK pace, so the pace for 16 kHz, the slowest a "
                           "fuse selects, was tried too: a chip set to a crystal or an external clock needs it on "
                           "the board (--chip-clock with its frequency skips the search).";
    if (report.simulated) {
        return {"the simulated chip gave no answer: --simulate none attaches no chip, and a --sim-fault can make "
                "one silent.",
                slowClock};
    }
    return {"the chip gave no answer: check its power, and the cable and its pins (the README's wiring table).",
            "check that --port names the port the cable is on (now " + report.port + ").", slowClock};
}

// Why a fuse field is refused, in the words of the accepted form.
std::string FuseFieldFault(const std::string& text)
{
    if (text.empty()) {
        return "is empty";
    }
    if (text.size() > 2) {
        return "has " + std::to_string(text.size()) + " characters";
    }
    for (const char c : text) {
        if (!ParseFuseField(std::string(1, c))) {
            return "holds '" + std::string(1, c) + "', which is not a hexadecimal digit";
        }
    }
    return {};
}

// The fuse fields of fuse, or the value of lock.
std::vector<std::string> FieldHints(const CommandReport& report)
{
    std::vector<std::string> hints;
    const auto explain = [&hints](const std::string& field, const std::string& text, const char* example) {
        if (!ParseFuseField(text)) {
            hints.push_back(field + " \"" + text + "\" " + FuseFieldFault(text) +
                            ": type one or two hexadecimal digits (0-9, a-f), for example " + example + ".");
        }
    };
    if (report.command == "lock") {
        explain("LOCK", report.lockValue, "fc");
        return hints;
    }
    explain("HIGH", report.fuseHigh, "d9");
    explain("LOW", report.fuseLow, "d9");
    if (report.fuseExtended) {
        explain("EXTENDED", *report.fuseExtended, "fd");
    }
    return hints;
}

// An AT90S in lock mode 3 answers 00 01 02: not a chip missing from the table.
std::vector<std::string> HiddenSignatureHints()
{
    return {"signature 00 01 02 is what an AT90S in lock mode 3 answers in place of its own: it stays hidden until "
            "a Chip Erase, which write does (it then identifies the chip again)."};
}

// A signature that no chip the run knows has.
std::vector<std::string> UnknownCpuHints(const ChipSignature& signature)
{
    if (signature.maker == kHiddenMaker && signature.device == kHiddenSignature) {
        return HiddenSignatureHints();
    }
    std::vector<std::string> hints{"the chip's signature is " + TwoHexDigits(signature.maker) + " " +
                                   SignatureBytesText(signature.device, " ") +
                                   " (hexadecimal); no chip in Velkor's device table has it."};
    if (const ChipRecord* chip = BuiltInCatalogue().Find(signature.device)) {
        hints.push_back("the chip catalogue knows it as the " + chip->name + ": add --all-chips.");
    }
    return hints;
}

// The system's own reason, found by trying the file again by the rule every
// input file is opened by: a FIFO is refused, not waited on. Nothing is read.
std::string OpenFailureReason(const std::filesystem::path& path)
{
    const FileReading reading = ReadFileWhole(path, 0, {});
    if (reading.result == FileReading::Result::Read || reading.result == FileReading::Result::TooLarge) {
        return "it opens now";
    }
    return ReadingFault(reading, 0);
}

std::vector<std::string> FileNotFoundHints(const CommandReport& report)
{
    if (report.hexFile.empty()) {
        return {"there is no default HEX file: HOME is not set and the password database has no home folder for "
                "this user. Name the file: velkor-cli write FILE."};
    }
    std::error_code error;
    if (std::filesystem::is_directory(report.hexFile, error)) {
        return {"\"" + report.hexFile.string() + "\" is a folder: name the HEX file in it, e.g. velkor-cli " +
                report.command + " " + ShellWord((report.hexFile / "program.hex").string()) + "."};
    }
    return {"could not read \"" + report.hexFile.string() + "\": " + OpenFailureReason(report.hexFile) + "."};
}

// An EEPROM image made from a program's .eeprom section without
// --change-section-lma keeps the section's address, 0x810000 on.
std::vector<std::string> EepromOffsetHints(const CommandReport& report)
{
    const FileReading reading = ReadFileWhole(report.hexFile, kLargestHexFile, {});
    MemoryByteStream stream(reading.bytes);
    HexReader reader(stream);
    const HexEntry first = reader.Next();
    if (first.kind != HexEntry::Kind::Data || first.address < kObjcopyEepromOffset ||
        first.address >= kObjcopyEepromOffset + 0x10000) {
        return {};
    }
    return {"the image's data starts at 0x810000: it still carries avr-objcopy's EEPROM offset. Make it again "
            "with --change-section-lma .eeprom=0 (avr-objcopy -j .eeprom --change-section-lma .eeprom=0 -O ihex "
            "program.elf eeprom.hex)."};
}

std::vector<std::string> UnlistedChipHints()
{
    return {"nothing was erased or written: Velkor writes only the chips it knows, those of its device table and, "
            "with --all-chips or --chip-file, of its catalogue or your own file (velkor-cli chips --all-chips lists "
            "them)."};
}

std::vector<std::string> PortHints()
{
    return {"nothing was sent. velkor-cli ports lists the parallel ports and whether you may use them; to try a "
            "command without hardware, add --simulate CHIP (for example ATmega8)."};
}

}  // namespace

std::vector<std::string> HintsFor(const CommandReport& report)
{
    std::vector<std::string> hints;
    const auto add = [&hints](const std::vector<std::string>& more) {
        hints.insert(hints.end(), more.begin(), more.end());
    };
    // Every identification comes before the fault that ends a command.
    for (const ChipSignature& signature : report.result.unlisted) {
        add(UnknownCpuHints(signature));
    }
    switch (report.result.failure.fault) {
    case Fault::NoProgramEnable:
        add(ProgramEnableFaultHints(report));
        break;
    case Fault::InvalidValue:
        add(FieldHints(report));
        break;
    case Fault::AddressOutOfRange:
        if (report.command.ends_with("-eeprom")) {
            add(EepromOffsetHints(report));
        }
        break;
    case Fault::ChipNotListed:
        add(UnlistedChipHints());
        break;
    case Fault::FileNotFound:
        add(FileNotFoundHints(report));
        break;
    case Fault::PortNotOpened:
        add(PortHints());
        break;
    case Fault::None:
    case Fault::Mismatch:
    case Fault::Interrupted:
    case Fault::Other:
        break;
    }
    return hints;
}

std::string ShellWord(std::string_view word)
{
    constexpr std::string_view kPlain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:+,@";
    if (!word.empty() && word.find_first_not_of(kPlain) == std::string_view::npos) {
        return std::string(word);
    }
#ifdef _WIN32
    // A Windows file name holds no double quote.
    return "\"" + std::string(word) + "\"";
#else
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
#endif
}

std::string ShellCommand(const std::vector<std::string>& words)
{
    std::string command;
    for (const std::string& word : words) {
        command += (command.empty() ? "" : " ") + ShellWord(word);
    }
    return command;
}

std::string FuseClockLine(const SelectedClock& clock, std::uint32_t paceHz)
{
    const std::string selected = "the fuses now select " + clock.Describe();
    if (const auto hz = clock.Hz()) {
        if (SckPhaseFor(*hz) <= SckPhaseFor(paceHz)) {
            return selected + ".";
        }
        return selected + "; from now on give --chip-clock " + ChipClockText(*hz) + ".";
    }
    if (clock.source.kind == ClockSource::Kind::Reserved) {
        return selected + ".";
    }
    return selected + "; from now on give --chip-clock that source's frequency" +
           (clock.dividedBy8 ? " divided by 8, e.g. --chip-clock 2M" : ", e.g. --chip-clock 16M") + " for 16 MHz.";
}

std::string PaceText(std::optional<std::uint32_t> chipClockHz, const std::optional<Session::ChosenPace>& chosen,
                     bool brief)
{
    if (chipClockHz) {
        return "SCK paced for " + FrequencyText(*chipClockHz) + (brief ? ", --chip-clock" : ", as --chip-clock gives");
    }
    if (!chosen) {
        return "SCK paced for " + FrequencyText(kDefaultChipClockHz) +
               (brief ? ", the default" : ": the default, no chip's fuses read");
    }
    const char* source = chosen->reason.starts_with("its fuses") ? ", from the fuses"
                         : chosen->foundAtSlowestPace            ? ", the slowest"
                                                                 : ", the default";
    return "SCK paced for " + FrequencyText(chosen->clockHz) + (brief ? source : ": " + chosen->reason);
}

std::string SlowClockFoundLine(const Session::ChosenPace& chosen)
{
    return "the chip missed the default SCK pace and answered at the pace for 16 kHz; " + chosen.reason +
           ", so the command went on at the pace for " + FrequencyText(chosen.clockHz) + ". --chip-clock " +
           ChipClockText(chosen.clockHz) + " skips this search.";
}

}  // namespace velkor
