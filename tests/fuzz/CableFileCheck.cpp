#include "CableFileCheck.h"

#include <set>
#include <string_view>

#include "Cable.h"

namespace velkor::fuzz {

namespace {

std::string RuleBroken(const Cable& cable)
{
    if (!IsStatusPin(cable.miso.pin)) {
        return "MISO on pin " + std::to_string(cable.miso.pin);
    }
    std::vector<unsigned> outputs{cable.sck.pin, cable.mosi.pin, cable.reset.pin};
    outputs.insert(outputs.end(), cable.enable.begin(), cable.enable.end());
    outputs.insert(outputs.end(), cable.power.begin(), cable.power.end());
    for (const CableLamp& lamp : cable.lamps) {
        outputs.push_back(lamp.pin);
    }
    std::set<unsigned> pins{cable.miso.pin};
    for (const unsigned pin : outputs) {
        if (!IsOutputPin(pin)) {
            return "an output on pin " + std::to_string(pin);
        }
        if (!pins.insert(pin).second) {
            return "pin " + std::to_string(pin) + " twice";
        }
    }
    if (FindCable(KnownCables(), cable.name) != nullptr) {
        return "the known name " + cable.name;
    }
    const PortRegisters registers = RegistersFor(cable, {.sck = true, .mosi = false, .reset = false, .engaged = true});
    const auto seen = ChipInputsFrom(cable, registers.data, registers.control);
    if (!seen || !seen->sck || seen->mosi || seen->reset) {
        return "the chip does not see what the cable drives";
    }
    return {};
}

}  // namespace

std::string CheckCableFile(std::span<const std::uint8_t> bytes)
{
    std::vector<Cable> cables;
    try {
        cables =
            ParseCables(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), KnownCables());
    } catch (const CableFileError&) {
        return {};
    }
    for (const Cable& cable : cables) {
        if (std::string broken = RuleBroken(cable); !broken.empty()) {
            return "cable " + cable.name + " accepted with " + broken;
        }
    }
    return {};
}

}  // namespace velkor::fuzz
