// What velkor-cli tells without a chip: ports, chips, and --version.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CommandOptions.h"
#include "Commands.h"
#include "Format.h"
#include "ParallelPorts.h"

namespace velkor {

namespace {

// The table keeps no maker code: its chips are all Atmel's (1E).
constexpr std::uint8_t kAtmel = 0x1E;

// The name column of the chip list: 18 wide, wider where a name needs it,
// with two blanks after the longest.
constexpr std::size_t kNameColumn = 18;

std::string DeviceState(const ParallelPort& port)
{
    switch (port.access) {
    case DeviceAccess::Usable:
        if (!port.holder.empty()) {
            return "device node present, but another program or driver holds the port now (" + port.holder + ")";
        }
        return "device node present, you may open it";
    case DeviceAccess::Missing:
        return std::string("no device node (") + kLoadPpdevHint + ")";
    case DeviceAccess::Denied:
        return std::string("device node present, you may not open it (") + kJoinLpGroupHint + ")";
    case DeviceAccess::NotPermitted:
        return std::string("device node present, but opening it is not permitted (") + kNotPermittedHint + ")";
    case DeviceAccess::Failed:
        break;
    }
    return std::string("device node cannot be opened: ") + std::strerror(port.openError);
}

// The parallel ports the kernel knows, one line each. Succeeds when at least
// one of them can be used now (opened, and held by nobody).
int ListPorts(std::ostream& out)
{
    const std::vector<ParallelPort> ports = ListParallelPorts();
    if (ports.empty()) {
        out << "No parallel port: the kernel knows none (load its drivers: sudo modprobe parport_pc ppdev)\n";
        return kExitFailed;
    }
    bool anyUsable = false;
    for (const ParallelPort& port : ports) {
        out << std::left << std::setw(15) << PpdevDevicePath(port.number) << std::setw(8)
            << FormatPortAddress(port.baseAddress) << DeviceState(port) << '\n';
        anyUsable = anyUsable || (port.access == DeviceAccess::Usable && port.holder.empty());
    }
    return anyUsable ? 0 : kExitFailed;
}

std::size_t NameColumn(const std::vector<const ChipCatalogue*>& lists)
{
    std::size_t width = kNameColumn;
    for (const ChipCatalogue* list : lists) {
        for (const ChipRecord& chip : list->Chips()) {
            width = std::max(width, chip.name.size() + 2);
        }
    }
    return width;
}

void ListChip(const DEVTYPE& row, std::uint8_t maker, const std::string& source, std::size_t nameColumn,
              std::ostream& out)
{
    const std::string signature = TwoHexDigits(maker) + " " + SignatureBytesText(row.Signature, " ");
    out << std::left << std::setw(static_cast<int>(nameColumn)) << row.Name << signature << std::right << "  flash "
        << std::setw(5) << row.FlashSize << "  page " << std::setw(3);
    if (row.PageSize == 0) {
        out << "-";
    } else {
        out << unsigned{row.PageSize};
    }
    out << "  EEPROM " << std::setw(4) << row.EepromSize << "  fuses " << unsigned{row.FuseCount} << "  " << source
        << '\n';
}

// One line per chip, in the order identification searches them: name,
// signature, flash, page, EEPROM, fuse bytes and where it comes from.
void ListChips(const std::vector<const ChipCatalogue*>& lists, const std::optional<std::filesystem::path>& chipFile,
               std::ostream& out)
{
    const std::size_t nameColumn = NameColumn(lists);
    for (const DEVTYPE& row : DeviceTable) {
        if (row.Signature != 0) {
            ListChip(row, kAtmel, "table", nameColumn, out);
        }
    }
    for (const ChipCatalogue* list : lists) {
        const std::string source =
            list->Source() == ChipSource::UserFile && chipFile ? "file " + chipFile->string() : "catalogue";
        for (const ChipRecord& chip : list->Chips()) {
            ListChip(chip.row, chip.signature[0], source, nameColumn, out);
        }
    }
}

}  // namespace

void DefinePorts(CLI::App& app, Invocation& invocation)
{
    AddCommand(app, invocation, "ports", "list the parallel ports and whether you may use them",
               [&invocation] { return ListPorts(invocation.out); });
}

void DefineChips(CLI::App& app, Invocation& invocation)
{
    AddCommand(app, invocation, "chips",
               "list the chips the options in force know: the table, --chip-file, --all-chips", [&invocation] {
                   const std::unique_ptr<KnownChips> known = ReadKnownChips(invocation.options);
                   ListChips(known->Lists(), invocation.options.chipFile, invocation.out);
                   return 0;
               });
}

void DefineVersion(CLI::App& app)
{
    app.set_version_flag("--version", "velkor-cli " VELKOR_VERSION, "print the version and exit");
}

}  // namespace velkor
