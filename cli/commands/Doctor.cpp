// velkor-cli doctor: checks the port, the cable and the chip, or toggles or
// watches one pin for a meter or a lamp. It never writes to the chip.
#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CommandOptions.h"
#include "Commands.h"
#include "Doctor.h"

namespace velkor {

namespace {

struct DoctorOptions {
    std::optional<unsigned> toggle;
    std::optional<unsigned> watch;
};

std::vector<const Cable*> Candidates(const CableChoice& cables)
{
    std::vector<const Cable*> candidates;
    for (const auto list : {KnownCables(), cables.FromFile()}) {
        for (const Cable& cable : list) {
            candidates.push_back(&cable);
        }
    }
    return candidates;
}

int RunDoctor(const Invocation& invocation, const DoctorOptions& doctor)
{
    if (doctor.toggle && !IsOutputPin(*doctor.toggle)) {
        throw UsageError("doctor --toggle: pin " + std::to_string(*doctor.toggle) +
                         " is no output pin of the port (1-9, 14, 16, 17)");
    }
    if (doctor.watch && !IsStatusPin(*doctor.watch)) {
        throw UsageError("doctor --watch: pin " + std::to_string(*doctor.watch) +
                         " is no status pin of the port (10, 11, 12, 13, 15)");
    }
    const CableChoice cables(invocation.options);
    const std::vector<const Cable*> candidates = Candidates(cables);
    return RunOnChip(invocation, {"doctor", [&doctor, candidates](EngineParts& engine) {
                                      CableDoctor examiner(engine.programmer, candidates);
                                      if (doctor.toggle) {
                                          return examiner.Toggle(static_cast<std::uint8_t>(*doctor.toggle));
                                      }
                                      if (doctor.watch) {
                                          return examiner.Watch(static_cast<std::uint8_t>(*doctor.watch));
                                      }
                                      return examiner.Examine();
                                  }});
}

}  // namespace

void DefineDoctor(CLI::App& app, Invocation& invocation)
{
    auto doctor = std::make_shared<DoctorOptions>();
    CLI::App& command =
        AddCommand(app, invocation, "doctor",
                   "check the port, the cable and the chip step by step and say what to check next (writes nothing)",
                   [&invocation, doctor] { return RunDoctor(invocation, *doctor); });
    auto* toggle = command.add_option("--toggle", doctor->toggle, "toggle output PIN about once a second until Ctrl-C")
                       ->type_name("PIN");
    command.add_option("--watch", doctor->watch, "print status PIN's level whenever it changes, until Ctrl-C")
        ->type_name("PIN")
        ->excludes(toggle);
}

}  // namespace velkor
