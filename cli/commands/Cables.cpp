// velkor-cli cables: every cable the options in force know, one line each
// with its pins.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include "CommandOptions.h"
#include "Commands.h"

namespace velkor {

namespace {

void ListCables(std::span<const Cable> cables, const std::string& source, std::size_t nameColumn, std::ostream& out)
{
    for (const Cable& cable : cables) {
        out << cable.name << std::string(nameColumn - cable.name.size(), ' ') << CablePins(cable) << "  (" << source
            << (cable.description.empty() ? "" : ": " + cable.description) << ")\n";
    }
}

int ListAllCables(const Options& options, std::ostream& out)
{
    const CableChoice choice(options);
    std::size_t nameColumn = 0;
    for (const auto cables : {KnownCables(), choice.FromFile()}) {
        for (const Cable& cable : cables) {
            nameColumn = std::max(nameColumn, cable.name.size() + 2);
        }
    }
    ListCables(KnownCables(), "known", nameColumn, out);
    if (options.cableFile) {
        ListCables(choice.FromFile(), "file " + options.cableFile->string(), nameColumn, out);
    }
    return 0;
}

}  // namespace

void DefineCables(CLI::App& app, Invocation& invocation)
{
    AddCommand(app, invocation, "cables", "list the cables the options in force know: the known ones, --cable-file",
               [&invocation] { return ListAllCables(invocation.options, invocation.out); });
}

}  // namespace velkor
