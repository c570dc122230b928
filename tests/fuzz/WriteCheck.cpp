#include "WriteCheck.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "DeviceTable.h"
#include "Programmer.h"
#include "SimulatedTarget.h"

namespace velkor::fuzz {

namespace {

// ---- The model: Intel HEX as the Write reads it ------------------------------

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        // CRs up to an LF end one line; otherwise a CR ends it alone.
        const std::size_t lineFeed = text.find_first_not_of('\r', end);
        const bool toLineFeed = lineFeed != std::string_view::npos && text[lineFeed] == '\n';
        text.remove_prefix(toLineFeed ? lineFeed + 1 : end + 1);
    }
    return lines;
}

std::optional<unsigned> HexValue(std::string_view line, std::size_t position, std::size_t digits)
{
    if (position + digits > line.size()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = line[position + i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

struct Record {
    unsigned type = 0;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
};

// A record line: ":" count address type data checksum, the bytes adding up
// to 0; what follows the checksum does not count. Nothing for a faulty line.
std::optional<Record> ParseRecord(std::string_view line)
{
    if (line.empty() || line[0] != ':') {
        return std::nullopt;
    }
    const auto count = HexValue(line, 1, 2);
    const auto address = HexValue(line, 3, 4);
    const auto type = HexValue(line, 7, 2);
    if (!count || !address || !type) {
        return std::nullopt;
    }
    Record record{*type, *address, {}};
    unsigned sum = *count + (*address >> 8) + (*address & 0xFF) + *type;
    for (unsigned i = 0; i <= *count; ++i) {
        const auto byte = HexValue(line, 9 + 2 * i, 2);
        if (!byte) {
            return std::nullopt;
        }
        sum += *byte;
        if (i < *count) {
            record.data.push_back(static_cast<std::uint8_t>(*byte));
        }
    }
    if (sum % 256 != 0) {
        return std::nullopt;
    }
    return record;
}

// The data records with their full addresses, in file order, and whether the
// file has a fault: a faulty line, data beyond the flash, or data without an
// end-of-file record after it.
struct FileContents {
    std::vector<Record> data;
    bool faulty = false;
};

FileContents ReadFile(std::string_view text, std::uint32_t flashSize)
{
    FileContents contents;
    std::uint32_t base = 0;
    for (const std::string_view line : SplitLines(text)) {
        auto record = ParseRecord(line);
        const bool addressRecord = record && (record->type == 2 || record->type == 4);
        if (!record || (addressRecord && record->data.size() != 2)) {
            contents.faulty = true;
            break;
        }
        if (record->type == 1) {
            return contents;
        }
        if (addressRecord) {
            const unsigned value = record->data[0] << 8 | record->data[1];
            base = record->type == 2 ? value << 4 : value << 16;
        }
        if (record->type != 0 || record->data.empty()) {
            continue;  // a data record without data has no address to check
        }
        record->address += base;
        if (std::uint64_t{record->address} + record->data.size() > flashSize) {
            contents.faulty = true;
            break;
        }
        contents.data.push_back(std::move(*record));
    }
    contents.faulty = contents.faulty || !contents.data.empty();
    return contents;
}

// Byte mode cannot take two different values for one address: the flash is
// not erased between them.
bool GivesTwoValues(const std::vector<Record>& data, std::size_t flashSize)
{
    std::vector<int> given(flashSize, -1);
    for (const Record& record : data) {
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            int& value = given[record.address + i];
            if (value >= 0 && value != record.data[i]) {
                return true;
            }
            value = record.data[i];
        }
    }
    return false;
}

// ---- The model: what the Write leaves in the flash ---------------------------

struct Outcome {
    bool succeeded = false;
    std::vector<std::uint8_t> flash;
};

Outcome ReferenceWrite(const DEVTYPE& device, const std::vector<std::uint8_t>& before, std::string_view text)
{
    // The whole file is checked before Chip Erase: a fault in it leaves the
    // chip as it was.
    const bool pageMode = device.PageSize != 0;
    const FileContents file = ReadFile(text, device.FlashSize);
    if (file.faulty || (!pageMode && GivesTwoValues(file.data, device.FlashSize))) {
        return {false, before};
    }
    std::vector<std::uint8_t> flash(before.size(), 0xFF);  // erased
    std::vector<std::uint8_t> image(before.size(), 0xFF);
    for (const Record& record : file.data) {
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            const std::uint8_t data = record.data[i];
            std::uint8_t& cell = (pageMode ? image : flash)[record.address + i];
            if (pageMode) {
                cell = data;
                continue;
            }
            if (data == 0xFF) {
                continue;  // never sent: the erased value
            }
            // Flash bits only go from 1 to 0, and every byte is read back:
            // one that reads otherwise ends the Write there.
            cell &= data;
            if (cell != data) {
                return {false, flash};
            }
        }
    }
    return {true, pageMode ? image : flash};
}

// ---- The harness -------------------------------------------------------------

const DEVTYPE& ChosenChip(std::uint8_t choice)
{
    const std::size_t listed = kDeviceRows - 1;
    return DeviceTable[choice % listed];
}

std::filesystem::path HexFileOfThisProcess()
{
    return std::filesystem::temp_directory_path() / ("velkor-write-fuzz-" + std::to_string(::getpid()) + ".hex");
}

std::string Compare(const Outcome& expected, bool succeeded, const std::vector<std::uint8_t>& flash)
{
    if (succeeded != expected.succeeded) {
        return std::string("the Write ") + (succeeded ? "succeeded" : "failed") + ", the model says it " +
               (expected.succeeded ? "succeeds" : "fails");
    }
    for (std::size_t i = 0; i < flash.size(); ++i) {
        if (flash[i] != expected.flash[i]) {
            return "flash byte " + std::to_string(i) + " is " + std::to_string(flash[i]) + ", the model has " +
                   std::to_string(expected.flash[i]);
        }
    }
    return {};
}

}  // namespace

std::string CheckWrite(std::span<const std::uint8_t> input)
{
    if (input.empty()) {
        return {};
    }
    const DEVTYPE& device = ChosenChip(input[0]);
    const std::string_view text(reinterpret_cast<const char*>(input.data() + 1), input.size() - 1);

    sim::SimulatedTarget target(device.Name);
    std::vector<std::uint8_t>& flash = target.chip()->Flash();
    for (std::size_t i = 0; i < flash.size(); ++i) {
        flash[i] = static_cast<std::uint8_t>(i * 37 + 11);  // a program already there
    }
    const std::vector<std::uint8_t> before = flash;
    const std::filesystem::path file = HexFileOfThisProcess();
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));

    MemoryLog log;
    Programmer programmer(target.port(), target.clock(), log);
    const bool succeeded = programmer.WriteCommand(file).succeeded;

    std::string violation = Compare(ReferenceWrite(device, before, text), succeeded, flash);
    if (violation.empty() && succeeded != (!log.lines.empty() && log.lines.back() == "---done.---")) {
        violation = "the log's last line does not match the result";
    }
    if (violation.empty() && target.port().DataRegister() != 0x84) {
        violation = "the port was left at " + std::to_string(target.port().DataRegister());
    }
    if (violation.empty() && target.ViolationCount() != 0) {
        violation = "timing violation: " + target.chip()->TimingViolations().front();
    }
    return violation.empty() ? violation : std::string(device.Name) + ": " + violation;
}

}  // namespace velkor::fuzz
