#include "Hints.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "BuiltInCatalogue.h"
#include "Format.h"
#include "Programmer.h"
#include "SckPace.h"

namespace velkor {

namespace {

constexpr std::uint8_t kAtmelMaker = 0x1E;

bool StartsWith(const std::string& line, const std::string& prefix)
{
    return line.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> ProgramEnableFaultHints(const CommandReport& report)
{
    const std::string slowClock =
        "a chip on a slow clock misses the default SCK pace: give its clock, e.g. --chip-clock 128k.";
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

std::vector<std::string> FuseFieldHints(const CommandReport& report)
{
    std::vector<std::string> hints;
    const auto explain = [&hints](const std::string& field, const std::string& text) {
        if (!ParseFuseField(text)) {
            hints.push_back(field + " \"" + text + "\" " + FuseFieldFault(text) +
                            ": type one or two hexadecimal digits (0-9, a-f), for example d9.");
        }
    };
    explain("HIGH", report.fuseHigh);
    explain("LOW", report.fuseLow);
    return hints;
}

// "Unknown CPU N" gives signature bytes 1 and 2 as one decimal number; the
// line before it tells the maker byte.
std::vector<std::string> UnknownCpuHints(const std::string& line, const std::string& previous)
{
    const long signature = std::strtol(line.c_str() + std::strlen("Unknown CPU "), nullptr, 10);
    std::string maker = "??";
    if (previous == "ATMEL") {
        maker = TwoHexDigits(kAtmelMaker);
    } else if (StartsWith(previous, "Unknown Maker ")) {
        maker = TwoHexDigits(static_cast<std::uint8_t>(std::atoi(previous.c_str() + std::strlen("Unknown Maker "))));
    }
    std::vector<std::string> hints{"the chip's signature is " + maker + " " +
                                   SignatureBytesText(static_cast<std::uint16_t>(signature), " ") +
                                   " (hexadecimal); no chip in Velkor's device table has it."};
    if (const ChipRecord* chip = BuiltInCatalogue().Find(static_cast<std::uint16_t>(signature))) {
        hints.push_back("the chip catalogue knows it as the " + chip->name + ": add --all-chips.");
    }
    return hints;
}

// The system's own reason, found by trying the file again. Only a regular
// file is tried: opening a FIFO would wait for a writer.
std::string OpenFailureReason(const std::filesystem::path& path)
{
    std::error_code error;
    if (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error)) {
        return "it is not a regular file";
    }
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file != nullptr) {
        std::fclose(file);
        return "it opens now";
    }
    return std::generic_category().message(errno);
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
                report.command + " " + (report.hexFile / "program.hex").string() + "."};
    }
    return {"could not read \"" + report.hexFile.string() + "\": " + OpenFailureReason(report.hexFile) + "."};
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
    for (std::size_t i = 0; i < report.log.size(); ++i) {
        const std::string& line = report.log[i];
        if (line == "Program enable fault.") {
            add(ProgramEnableFaultHints(report));
        } else if (line == "Error" && report.command == "fuse") {
            add(FuseFieldHints(report));
        } else if (StartsWith(line, "Unknown CPU ")) {
            add(UnknownCpuHints(line, i > 0 ? report.log[i - 1] : std::string()));
        } else if (line == "Not written: the chip is not in the device table.") {
            add(UnlistedChipHints());
        } else if (line == "File not found.") {
            add(FileNotFoundHints(report));
        } else if (StartsWith(line, "Cannot open the port")) {
            add(PortHints());
        }
    }
    return hints;
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

}  // namespace velkor
