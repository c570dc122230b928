// velkor-cli cables: every cable the options in force know, one line each
// with its pins; or, with --svg NAME, that cable's wiring drawn.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <optional>
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

int DrawCable(const Options& options, const std::string& name, std::ostream& out)
{
    const CableChoice choice(options);
    const Cable* cable = FindCable(choice.FromFile(), name);
    if (cable == nullptr) {
        cable = FindCable(KnownCables(), name);
    }
    if (cable == nullptr) {
        throw UsageError("cables --svg: no cable is called '" + name + "' (velkor-cli cables lists them)");
    }
    out << CableDrawing(*cable);
    return 0;
}

}  // namespace

void DefineCables(CLI::App& app, Invocation& invocation)
{
    auto svg = std::make_shared<std::optional<std::string>>();
    CLI::App& command =
        AddCommand(app, invocation, "cables", "list the cables the options in force know: the known ones, --cable-file",
                   [&invocation, svg] {
                       return *svg ? DrawCable(invocation.options, **svg, invocation.out)
                                   : ListAllCables(invocation.options, invocation.out);
                   });
    command.add_option("--svg", *svg, "draw cable NAME's wiring as SVG on standard output")->type_name("NAME");
}

}  // namespace velkor
