// The cable records: every rule of the checker refuses a file that breaks it
// and names the cable, the field and the rule; and every known cable drives
// the lines it names, as the chip sees them through the port's and its own
// inversions.
#include <gtest/gtest.h>

#include <string>

#include "Cable.h"

namespace velkor {
namespace {

struct Refusal {
    const char* what;
    const char* cable;  // the fields after the name
    const char* says;   // the cable, the field and the rule
};

class CableChecker : public ::testing::TestWithParam<Refusal> {};

TEST_P(CableChecker, RefusesAFileThatBreaksARule)
{
    const std::string text = std::string(R"({"cables": [{"name": "mine", )") + GetParam().cable + "}]}";
    try {
        ParseCables(text, KnownCables());
        ADD_FAILURE() << "accepted: " << text;
    } catch (const CableFileError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().says), std::string::npos) << e.what();
    }
}

constexpr const char* kGood = R"("sck": 2, "mosi": 3, "miso": 11)";

INSTANTIATE_TEST_SUITE_P(
    , CableChecker,
    ::testing::Values(Refusal{"MisoOnAnOutput", R"("sck": 2, "mosi": 3, "miso": 4, "reset": 5)",
                              "cable mine: field miso: MISO must be a status pin"},
                      Refusal{"SckOnAStatusPin", R"("sck": 10, "mosi": 3, "miso": 11, "reset": 5)",
                              "cable mine: field sck: pin 10 is no output pin"},
                      Refusal{"EnableOnAStatusPin", R"("sck": 2, "mosi": 3, "miso": 11, "reset": 4, "enable": [12])",
                              "cable mine: field enable: pin 12 is no output pin"},
                      Refusal{"LampOnAGround", R"("sck": 2, "mosi": 3, "miso": 11, "reset": 4, "lamps": {"ready": 18})",
                              "cable mine: field lamps: pin 18 is no output pin"},
                      Refusal{"PinTwice", R"("sck": 2, "mosi": 3, "miso": 11, "reset": 4, "power": [5, 3])",
                              "cable mine: field power: pin 3 carries another signal already"},
                      Refusal{"NoReset", kGood, "cable mine: field reset: every cable names the pins"},
                      Refusal{"PinOffThePlug", R"("sck": 26, "mosi": 3, "miso": 11, "reset": 4)",
                              "cable mine: field sck: a pin is a DB-25 pin number from 1 to 25"},
                      Refusal{"InvertedEnable", R"("sck": 2, "mosi": 3, "miso": 11, "reset": 4, "enable": ["~9"])",
                              "cable mine: field enable: only the four signals may be inverted"},
                      Refusal{"UnknownLamp", R"("sck": 2, "mosi": 3, "miso": 11, "reset": 4, "lamps": {"busy": 5})",
                              "cable mine: field lamps: a lamp is ready, programming, verifying or error"},
                      Refusal{"UnknownField", R"("sck": 2, "mosi": 3, "miso": 11, "reset": 4, "clock": 5)",
                              "cable mine: field clock: is no field of a cable"},
                      Refusal{"PowerFlagNotABoolean",
                              R"("sck": 2, "mosi": 3, "miso": 11, "reset": 4, "power_between_commands": 1)",
                              "cable mine: field power_between_commands: must be true or false"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(CableFile, RefusesAKnownNameAndAFileThatIsNoCableFile)
{
    EXPECT_THROW(
        ParseCables(R"({"cables": [{"name": "STK200", "sck": 2, "mosi": 3, "miso": 11, "reset": 4}]})", KnownCables()),
        CableFileError);
    EXPECT_THROW(ParseCables("{\"cables\": 3}"), CableFileError);
    EXPECT_THROW(ParseCables("not json"), CableFileError);
}

// The built-in cable keeps the register values the transfer has always written.
TEST(BuiltInCable, WritesTheDataRegisterAsItAlwaysHas)
{
    const Cable& cable = BuiltInCable();
    EXPECT_EQ(RegistersFor(cable, {}).data, 0x84);
    EXPECT_EQ(RegistersFor(cable, {.reset = false, .engaged = true}).data, 0x00);
    EXPECT_EQ(RegistersFor(cable, {.reset = true, .engaged = true}).data, 0x04);
    EXPECT_EQ(RegistersFor(cable, {.sck = true, .mosi = true, .reset = false, .engaged = true}).data, 0x03);
    EXPECT_FALSE(cable.UsesRegister(PortRegister::Control));
    EXPECT_TRUE(MisoInStatus(cable, 0x78));   // BUSY high reads as bit 7 clear
    EXPECT_FALSE(MisoInStatus(cable, 0xF8));  // and low as bit 7 set
}

// The port's inversions on pins 1, 11, 14 and 17 and the cable's "~" add up.
TEST(KnownCables, InversionsOfThePortAndTheCableAddUp)
{
    const Cable& isp89 = *FindCable(KnownCables(), "89isp");  // RESET on pin 17, SCK on pin 1
    EXPECT_EQ(RegistersFor(isp89, {.sck = false, .reset = true}).control, 0x01);
    const Cable& atisp = *FindCable(KnownCables(), "atisp");  // every signal "~"
    EXPECT_EQ(RegistersFor(atisp, {.sck = false, .mosi = false, .reset = true}).data,
              0x60);                         // SCK, MOSI pins high, RESET low
    EXPECT_TRUE(MisoInStatus(atisp, 0x38));  // ACK low: the chip's MISO high
}

// Whatever a cable drives, the chip sees through it, engaged; nothing
// otherwise. MISO comes back from its status pin.
TEST(KnownCables, TheChipSeesWhatTheCableDrivesOnlyWhileEngaged)
{
    for (const Cable& cable : KnownCables()) {
        for (unsigned bits = 0; bits < 8; ++bits) {
            const CableLines lines{.sck = (bits & 1) != 0,
                                   .mosi = (bits & 2) != 0,
                                   .reset = (bits & 4) != 0,
                                   .engaged = true,
                                   .lit = Lamp::Programming};
            const PortRegisters registers = RegistersFor(cable, lines);
            const auto seen = ChipInputsFrom(cable, registers.data, registers.control);
            ASSERT_TRUE(seen) << cable.name;
            EXPECT_EQ(seen->sck, lines.sck) << cable.name;
            EXPECT_EQ(seen->mosi, lines.mosi) << cable.name;
            EXPECT_EQ(seen->reset, lines.reset) << cable.name;
        }
        const PortRegisters released = RegistersFor(cable, {});
        EXPECT_EQ(ChipInputsFrom(cable, released.data, released.control).has_value(),
                  cable.enable.empty() && cable.power.empty())
            << cable.name;
        EXPECT_TRUE(MisoInStatus(cable, StatusWithMiso(cable, true))) << cable.name;
        EXPECT_FALSE(MisoInStatus(cable, StatusWithMiso(cable, false))) << cable.name;
    }
}

}  // namespace
}  // namespace velkor
