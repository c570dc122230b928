#include "Cable.h"

#include <array>
#include <algorithm>

#include "NameMatch.h"

namespace velkor {

namespace {

constexpr std::array kPortPins{
    PortPin{1, PortRegister::Control, 0, true},  PortPin{2, PortRegister::Data, 0, false},
    PortPin{3, PortRegister::Data, 1, false},    PortPin{4, PortRegister::Data, 2, false},
    PortPin{5, PortRegister::Data, 3, false},    PortPin{6, PortRegister::Data, 4, false},
    PortPin{7, PortRegister::Data, 5, false},    PortPin{8, PortRegister::Data, 6, false},
    PortPin{9, PortRegister::Data, 7, false},    PortPin{10, PortRegister::Status, 6, false},
    PortPin{11, PortRegister::Status, 7, true},  PortPin{12, PortRegister::Status, 5, false},
    PortPin{13, PortRegister::Status, 4, false}, PortPin{14, PortRegister::Control, 1, true},
    PortPin{15, PortRegister::Status, 3, false}, PortPin{16, PortRegister::Control, 2, false},
    PortPin{17, PortRegister::Control, 3, true},
};

// Status bits 3 to 7 carry pins; a line nothing drives floats high.
constexpr std::uint8_t kStatusPinBits = 0xF8;

// Sets the pin's bit so that the line is at level.
void Drive(PortRegisters& registers, std::uint8_t pin, bool level)
{
    const PortPin port = *FindPortPin(pin);
    std::uint8_t& value = port.reg == PortRegister::Data ? registers.data : registers.control;
    const auto mask = static_cast<std::uint8_t>(1u << port.bit);
    value = (level != port.invertedByPort) ? static_cast<std::uint8_t>(value | mask)
                                           : static_cast<std::uint8_t>(value & ~mask);
}

bool LineLevel(std::uint8_t pin, std::uint8_t value)
{
    const PortPin port = *FindPortPin(pin);
    return (((value >> port.bit) & 1u) != 0) != port.invertedByPort;
}

bool OutputLevel(std::uint8_t pin, std::uint8_t data, std::uint8_t control)
{
    return LineLevel(pin, FindPortPin(pin)->reg == PortRegister::Data ? data : control);
}

void DriveSignal(PortRegisters& registers, const CableSignal& signal, bool atChip)
{
    Drive(registers, signal.pin, atChip != signal.invertedByCable);
}

}  // namespace

std::optional<PortPin> FindPortPin(unsigned number)
{
    for (const PortPin& pin : kPortPins) {
        if (pin.number == number) {
            return pin;
        }
    }
    return std::nullopt;
}

bool IsOutputPin(unsigned number)
{
    const auto pin = FindPortPin(number);
    return pin && pin->reg != PortRegister::Status;
}

bool IsStatusPin(unsigned number)
{
    const auto pin = FindPortPin(number);
    return pin && pin->reg == PortRegister::Status;
}

bool Cable::UsesRegister(PortRegister reg) const
{
    const auto on = [reg](unsigned pin) { return FindPortPin(pin)->reg == reg; };
    return on(sck.pin) || on(mosi.pin) || on(reset.pin) || std::ranges::any_of(enable, on) ||
           std::ranges::any_of(power, on) ||
           std::ranges::any_of(lamps, [&on](const CableLamp& lamp) { return on(lamp.pin); });
}

bool Cable::Engaged(std::uint8_t data, std::uint8_t control) const
{
    const auto level = [data, control](std::uint8_t pin) { return OutputLevel(pin, data, control); };
    return std::ranges::none_of(enable, level) && std::ranges::all_of(power, level);
}

PortRegisters RegistersFor(const Cable& cable, const CableLines& lines)
{
    PortRegisters registers;
    DriveSignal(registers, cable.sck, lines.sck);
    DriveSignal(registers, cable.mosi, lines.mosi);
    DriveSignal(registers, cable.reset, lines.reset);
    for (const std::uint8_t pin : cable.enable) {
        Drive(registers, pin, !lines.engaged);
    }
    for (const std::uint8_t pin : cable.power) {
        Drive(registers, pin, lines.engaged || cable.powerBetweenCommands);
    }
    for (const CableLamp& lamp : cable.lamps) {
        Drive(registers, lamp.pin, lines.lit == lamp.lamp);
    }
    return registers;
}

bool MisoInStatus(const Cable& cable, std::uint8_t status)
{
    return LineLevel(cable.miso.pin, status) != cable.miso.invertedByCable;
}

std::optional<ChipInputs> ChipInputsFrom(const Cable& cable, std::uint8_t data, std::uint8_t control)
{
    if (!cable.Engaged(data, control)) {
        return std::nullopt;
    }
    const auto atChip = [data, control](const CableSignal& signal) {
        return OutputLevel(signal.pin, data, control) != signal.invertedByCable;
    };
    return ChipInputs{.sck = atChip(cable.sck), .mosi = atChip(cable.mosi), .reset = atChip(cable.reset)};
}

std::uint8_t StatusWithMiso(const Cable& cable, std::optional<bool> misoAtChip)
{
    std::uint8_t status = 0;
    for (const PortPin& pin : kPortPins) {
        if (pin.reg != PortRegister::Status) {
            continue;
        }
        const bool level =
            pin.number == cable.miso.pin && misoAtChip ? *misoAtChip != cable.miso.invertedByCable : true;
        if (level != pin.invertedByPort) {
            status = static_cast<std::uint8_t>(status | (1u << pin.bit));
        }
    }
    return static_cast<std::uint8_t>(status & kStatusPinBits);
}

namespace {

std::string SignalText(const char* name, const CableSignal& signal)
{
    return std::string(name) + ' ' + (signal.invertedByCable ? "~" : "") + std::to_string(signal.pin);
}

std::string PinList(const std::vector<std::uint8_t>& pins)
{
    std::string text;
    for (const std::uint8_t pin : pins) {
        text += (text.empty() ? "" : ",") + std::to_string(pin);
    }
    return text;
}

}  // namespace

std::string CablePins(const Cable& cable)
{
    std::string text = SignalText("SCK", cable.sck) + ", " + SignalText("MOSI", cable.mosi) + ", " +
                       SignalText("MISO", cable.miso) + ", " + SignalText("RESET", cable.reset);
    if (!cable.enable.empty()) {
        text += ", enable " + PinList(cable.enable);
    }
    if (!cable.power.empty()) {
        text += ", power " + PinList(cable.power);
    }
    for (const CableLamp& lamp : cable.lamps) {
        text += ", " + std::string(LampName(lamp.lamp)) + " lamp " + std::to_string(lamp.pin);
    }
    return text;
}

const Cable* FindCable(std::span<const Cable> cables, std::string_view name)
{
    for (const Cable& cable : cables) {
        if (SameNameIgnoringCase(cable.name, name)) {
            return &cable;
        }
    }
    return nullptr;
}

}  // namespace velkor
