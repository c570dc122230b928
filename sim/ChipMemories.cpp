#include "ChipMemories.h"

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "FileReading.h"
#include "Numbers.h"
#include "StateFiles.h"

namespace velkor::sim {

namespace {

using nlohmann::json;

constexpr const char* kFuseKeys[] = {"low", "high", "extended"};
// Two hex digits a byte of the largest flash and EEPROM, with room to spare.
constexpr std::uint64_t kLargestStateFile = std::uint64_t{16} << 20;

std::string ToHex(const std::vector<std::uint8_t>& bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

class StateReader {
public:
    StateReader(const ChipModel& model, const std::filesystem::path& file) : model_(model), file_(file) {}

    ChipMemories Read() const
    {
        const json state = Parse();
        if (!state.is_object()) {
            Fail("the top level is not a JSON object");
        }
        CheckChipName(state);
        // What the file does not hold, the chip has as shipped: files saved
        // before the EEPROM and lock byte were kept hold neither.
        ChipMemories memories = ChipMemories::Factory(model_);
        memories.flash = HexBytes(state, "flash", model_.flashBytes);
        ReadFuses(state, memories);
        if (state.contains("eeprom")) {
            memories.eeprom = HexBytes(state, "eeprom", model_.eepromBytes);
        }
        if (state.contains("lock")) {
            memories.lock = HexByte(Member(state, "lock"), "lock");
        }
        return memories;
    }

private:
    [[noreturn]] void Fail(const std::string& why) const
    {
        throw std::runtime_error("Simulated chip state " + file_.string() + ": " + why + ".");
    }

    json Parse() const
    {
        std::vector<std::uint8_t> text;
        try {
            text = ReadInputFile(file_, kLargestStateFile);
        } catch (const std::runtime_error& error) {
            Fail(error.what());
        }
        try {
            return json::parse(text);
        } catch (const json::parse_error& error) {
            Fail(std::string("is not valid JSON (") + error.what() + ")");
        }
    }

    const json& Member(const json& object, const char* key) const
    {
        const auto found = object.find(key);
        if (found == object.end()) {
            Fail(std::string("\"") + key + "\" is missing");
        }
        return *found;
    }

    void CheckChipName(const json& state) const
    {
        const json& chip = Member(state, "chip");
        if (!chip.is_string()) {
            Fail("\"chip\" is not a text");
        }
        if (FindChipModel(chip.get<std::string>()) != &model_) {
            Fail("it is for the chip \"" + chip.get<std::string>() + "\", not for the " + model_.name);
        }
    }

    std::vector<std::uint8_t> HexBytes(const json& state, const char* key, std::size_t expectedBytes) const
    {
        const json& value = Member(state, key);
        if (!value.is_string()) {
            Fail(std::string("\"") + key + "\" is not a text");
        }
        const auto& text = value.get_ref<const std::string&>();
        if (text.size() != expectedBytes * 2) {
            Fail(std::string("\"") + key + "\" holds " + std::to_string(text.size()) + " hex digits, the " +
                 model_.name + " needs " + std::to_string(expectedBytes * 2));
        }
        std::vector<std::uint8_t> bytes(expectedBytes);
        for (std::size_t i = 0; i < expectedBytes; ++i) {
            const std::optional<std::uint8_t> byte = ParseHexByte(std::string_view(text).substr(2 * i, 2));
            if (!byte) {
                Fail(std::string("\"") + key + "\" has a character that is not a hex digit at byte " +
                     std::to_string(i));
            }
            bytes[i] = *byte;
        }
        return bytes;
    }

    std::uint8_t HexByte(const json& value, const std::string& key) const
    {
        const std::optional<std::uint8_t> byte =
            value.is_string() ? ParseHexByte(value.get_ref<const std::string&>()) : std::nullopt;
        if (!byte) {
            Fail("\"" + key + "\" is not two hex digits");
        }
        return *byte;
    }

    void ReadFuses(const json& state, ChipMemories& memories) const
    {
        const json& fuses = Member(state, "fuses");
        if (!fuses.is_object()) {
            Fail("\"fuses\" is not a JSON object");
        }
        std::uint8_t* targets[] = {&memories.fuseLow, &memories.fuseHigh, &memories.fuseExtended};
        for (std::size_t i = 0; i < 3; ++i) {
            const bool present = fuses.contains(kFuseKeys[i]);
            if (i < model_.fuseBytes && !present) {
                Fail(std::string("fuse \"") + kFuseKeys[i] + "\" is missing");
            }
            if (i >= model_.fuseBytes && present) {
                Fail(std::string("the ") + model_.name + " has no fuse \"" + kFuseKeys[i] +
                     "\" reachable over the serial interface");
            }
            if (present) {
                *targets[i] = HexByte(fuses[kFuseKeys[i]], kFuseKeys[i]);
            }
        }
        if (fuses.size() > model_.fuseBytes) {
            Fail("\"fuses\" has an unknown key");
        }
    }

    const ChipModel& model_;
    const std::filesystem::path& file_;
};

}  // namespace

ChipMemories ChipMemories::Factory(const ChipModel& model)
{
    return ChipMemories{
        .flash = std::vector<std::uint8_t>(model.flashBytes, 0xFF),
        .eeprom = std::vector<std::uint8_t>(model.eepromBytes, 0xFF),
        .fuseLow = model.factoryLow,
        .fuseHigh = model.factoryHigh,
        .fuseExtended = model.factoryExtended,
        .lock = model.factoryLock,
    };
}

ChipMemories ReadStateFile(const ChipModel& model, const std::filesystem::path& file)
{
    return StateReader(model, file).Read();
}

void WriteStateFile(const ChipModel& model, const ChipMemories& memories, const std::filesystem::path& file)
{
    const std::uint8_t fuseValues[] = {memories.fuseLow, memories.fuseHigh, memories.fuseExtended};
    json fuses = json::object();
    for (std::size_t i = 0; i < model.fuseBytes; ++i) {
        fuses[kFuseKeys[i]] = ToHex({fuseValues[i]});
    }
    const json state = {
        {"chip", model.name}, {"flash", ToHex(memories.flash)}, {"eeprom", ToHex(memories.eeprom)},
        {"fuses", fuses},     {"lock", ToHex({memories.lock})},
    };
    try {
        WriteFileWhole(file, state.dump(1) + '\n');
    } catch (const std::runtime_error& error) {
        throw std::runtime_error("Simulated chip state " + file.string() + ": " + error.what() + ".");
    }
}

}  // namespace velkor::sim
