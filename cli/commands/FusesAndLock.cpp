// The fuse and lock family: fuse, read-fuses, lock.
#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

#include "CommandOptions.h"
#include "Commands.h"

namespace velkor {

namespace {

// The fields as typed, in hexadecimal: the engine checks them.
struct FuseValues {
    std::string high;
    std::string low;
    std::optional<std::string> extended;
};

int WriteFuses(const Invocation& invocation, const FuseValues& fuses)
{
    ChipCommand fuse("fuse", [&](EngineParts& engine) {
        return engine.programmer.WriteFuses(fuses.high, fuses.low, fuses.extended);
    });
    fuse.report.fuseHigh = fuses.high;
    fuse.report.fuseLow = fuses.low;
    fuse.report.fuseExtended = fuses.extended;
    return RunOnChip(invocation, fuse);
}

int WriteLock(const Invocation& invocation, const std::string& value)
{
    ChipCommand lock("lock", [&](EngineParts& engine) { return engine.lock.LockCommand(value); });
    lock.report.lockValue = value;
    return RunOnChip(invocation, lock);
}

}  // namespace

void DefineFuse(CLI::App& app, Invocation& invocation)
{
    const auto fuses = std::make_shared<FuseValues>();
    CLI::App& fuse = AddCommand(app, invocation, "fuse", "write the fuse bytes typed in hexadecimal (Write FUSE bit)",
                                [&invocation, fuses] { return WriteFuses(invocation, *fuses); });
    fuse.add_option("HIGH", fuses->high, "the high fuse byte's text")->required();
    fuse.add_option("LOW", fuses->low, "the low fuse byte's text")->required();
    fuse.add_option("EXTENDED", fuses->extended, "the extended fuse byte's text, on chips that have one");
}

void DefineReadFuses(CLI::App& app, Invocation& invocation)
{
    AddCommand(app, invocation, "read-fuses", "show the fuse and lock bytes the chip has", [&invocation] {
        return RunOnChip(invocation,
                         {"read-fuses", [](EngineParts& engine) { return engine.lock.ReadFusesCommand(); }});
    });
}

void DefineLock(CLI::App& app, Invocation& invocation)
{
    const auto value = std::make_shared<std::string>();
    AddCommand(app, invocation, "lock",
               "write the lock byte (bit 0 LB1, bit 1 LB2, BLB01..BLB12 above) and read it back",
               [&invocation, value] { return WriteLock(invocation, *value); })
        .add_option("VALUE", *value, "the lock byte in hexadecimal, e.g. FC for lock mode 3")
        ->required();
}

}  // namespace velkor
