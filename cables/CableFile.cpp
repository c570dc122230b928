// The cable format's reader and checker: every rule of the PC's port a cable
// must keep, checked when the build embeds the known cables and when a user's
// cable file is read.
#include <nlohmann/json.hpp>

#include <array>
#include <set>

#include "Cable.h"
#include "NameMatch.h"

namespace velkor {

namespace {

using nlohmann::json;

constexpr std::array kLampNames{std::pair{Lamp::Ready, "ready"}, std::pair{Lamp::Programming, "programming"},
                                std::pair{Lamp::Verifying, "verifying"}, std::pair{Lamp::Error, "error"}};
constexpr std::array kFields{"name",  "description", "sck",   "mosi",  "miso",
                             "reset", "enable",      "power", "lamps", "power_between_commands"};

// Reads one cable, naming it and the field in every fault.
class CableReader {
public:
    explicit CableReader(const json& record) : record_(record) {}

    Cable Read()
    {
        if (!record_.is_object()) {
            throw CableFileError("a cable must be an object with its fields");
        }
        cable_.name = Name();
        for (const auto& [field, value] : record_.items()) {
            if (std::ranges::find(kFields, field) == kFields.end()) {
                Fault(field, "is no field of a cable (" + FieldList() + ")");
            }
        }
        cable_.description = Text("description");
        cable_.sck = Signal("sck", true);
        cable_.mosi = Signal("mosi", true);
        cable_.miso = Signal("miso", false);
        cable_.reset = Signal("reset", true);
        cable_.enable = Pins("enable");
        cable_.power = Pins("power");
        cable_.lamps = Lamps();
        cable_.powerBetweenCommands = Flag("power_between_commands");
        return cable_;
    }

private:
    [[noreturn]] void Fault(std::string_view field, const std::string& rule) const
    {
        throw CableFileError("cable " + (cable_.name.empty() ? std::string("without a name") : cable_.name) +
                             ": field " + std::string(field) + ": " + rule);
    }

    static std::string FieldList()
    {
        std::string list;
        for (const char* field : kFields) {
            list += (list.empty() ? "" : ", ") + std::string(field);
        }
        return list;
    }

    std::string Name()
    {
        const auto found = record_.find("name");
        if (found == record_.end() || !found->is_string() || found->get<std::string>().empty()) {
            Fault("name", "every cable needs a name (a non-empty text)");
        }
        const std::string name = found->get<std::string>();
        if (name.find_first_of(" \t\r\n") != std::string::npos) {
            cable_.name = name;
            Fault("name", "a name is one word, as --cable takes it");
        }
        return name;
    }

    std::string Text(const char* field)
    {
        const auto found = record_.find(field);
        if (found == record_.end()) {
            return {};
        }
        if (!found->is_string()) {
            Fault(field, "must be a text");
        }
        return found->get<std::string>();
    }

    bool Flag(const char* field)
    {
        const auto found = record_.find(field);
        if (found == record_.end()) {
            return false;
        }
        if (!found->is_boolean()) {
            Fault(field, "must be true or false");
        }
        return found->get<bool>();
    }

    // A pin number from 1 to 25, for field.
    std::uint8_t PinNumber(const char* field, const json& value, bool mayInvert, bool& inverted)
    {
        std::string text;
        if (value.is_number_unsigned()) {
            text = std::to_string(value.get<std::uint64_t>());
        } else if (value.is_string()) {
            text = value.get<std::string>();
        }
        inverted = text.starts_with('~');
        if (inverted && !mayInvert) {
            Fault(field, "only the four signals may be inverted by the cable (\"~\")");
        }
        const std::string digits = inverted ? text.substr(1) : text;
        const bool isNumber =
            !digits.empty() && digits.size() <= 2 && digits.find_first_not_of("0123456789") == std::string::npos;
        const int number = isNumber ? std::stoi(digits) : 0;
        if (number < 1 || number > 25) {
            Fault(field, "a pin is a DB-25 pin number from 1 to 25, \"~\" before it where the cable inverts it");
        }
        return Claim(field, static_cast<std::uint8_t>(number));
    }

    // Every pin carries one signal; enable, power and lamp pins are outputs.
    std::uint8_t Claim(const char* field, std::uint8_t pin)
    {
        if (!used_.insert(pin).second) {
            Fault(field, "pin " + std::to_string(pin) + " carries another signal already: no pin may carry two");
        }
        if (std::string_view(field) != "miso" && !IsOutputPin(pin)) {
            Fault(field, "pin " + std::to_string(pin) + " is no output pin of the port (1-9, 14, 16, 17)");
        }
        return pin;
    }

    CableSignal Signal(const char* field, bool output)
    {
        const auto found = record_.find(field);
        if (found == record_.end()) {
            Fault(field, "every cable names the pins of SCK, MOSI, MISO and RESET");
        }
        CableSignal signal;
        signal.pin = PinNumber(field, *found, true, signal.invertedByCable);
        if (!output && !IsStatusPin(signal.pin)) {
            Fault(field, "MISO must be a status pin of the port (10, 11, 12, 13 or 15), not pin " +
                             std::to_string(signal.pin));
        }
        return signal;
    }

    std::vector<std::uint8_t> Pins(const char* field)
    {
        const auto found = record_.find(field);
        if (found == record_.end()) {
            return {};
        }
        if (!found->is_array()) {
            Fault(field, "must be a list of pins");
        }
        std::vector<std::uint8_t> pins;
        bool inverted = false;
        for (const json& pin : *found) {
            pins.push_back(PinNumber(field, pin, false, inverted));
        }
        return pins;
    }

    std::vector<CableLamp> Lamps()
    {
        const auto found = record_.find("lamps");
        if (found == record_.end()) {
            return {};
        }
        if (!found->is_object()) {
            Fault("lamps", "must map ready, programming, verifying or error to a pin");
        }
        std::vector<CableLamp> lamps;
        for (const auto& [lamp, name] : kLampNames) {
            if (const auto pin = found->find(name); pin != found->end()) {
                bool inverted = false;
                lamps.push_back({lamp, PinNumber("lamps", *pin, false, inverted)});
            }
        }
        if (lamps.size() != found->size()) {
            Fault("lamps", "a lamp is ready, programming, verifying or error");
        }
        return lamps;
    }

    const json& record_;
    Cable cable_;
    std::set<std::uint8_t> used_;
};

}  // namespace

std::string_view LampName(Lamp lamp)
{
    for (const auto& [known, name] : kLampNames) {
        if (known == lamp) {
            return name;
        }
    }
    return "lamp";
}

std::vector<Cable> ParseCables(std::string_view text, std::span<const Cable> earlier)
{
    const json file = json::parse(text, nullptr, false);
    if (file.is_discarded()) {
        throw CableFileError("not JSON");
    }
    if (!file.is_object() || !file.contains("cables") || !file["cables"].is_array()) {
        throw CableFileError("a cable file is an object whose \"cables\" is a list of cables");
    }
    std::vector<Cable> cables;
    for (const json& record : file["cables"]) {
        Cable cable = CableReader(record).Read();
        if (FindCable(earlier, cable.name) != nullptr || FindCable(cables, cable.name) != nullptr) {
            throw CableFileError("cable " + cable.name + ": field name: a cable of that name is known already");
        }
        cables.push_back(std::move(cable));
    }
    return cables;
}

}  // namespace velkor
