#pragma once

// A parallel-port programming cable as data: which port pin carries each of
// the four programming signals (and whether the cable itself inverts it), the
// pins that switch its buffer on, power it and light its lamps. The engine
// drives the port through a cable, the simulated target sees the chip's lines
// through one; both work from the pin levels this file turns into register
// values and back.

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// ---- The PC's port ---------------------------------------------------------

enum class PortRegister { Data, Status, Control };

// A DB-25 pin of the PC's standard parallel port that carries a signal.
struct PortPin {
    std::uint8_t number;
    PortRegister reg;
    std::uint8_t bit;
    bool invertedByPort;  // pins 1, 11, 14, 17: the bit is the opposite of the line
};

// The pin's register and bit; nothing for a ground pin or a number off the plug.
std::optional<PortPin> FindPortPin(unsigned number);
bool IsOutputPin(unsigned number);
bool IsStatusPin(unsigned number);

// ---- A cable ---------------------------------------------------------------

struct CableSignal {
    std::uint8_t pin = 0;
    bool invertedByCable = false;  // "~": the chip sees the opposite of the pin
};

// What a lamp of the cable shows.
enum class Lamp { Ready, Programming, Verifying, Error };

// "ready", "programming", "verifying", "error": as a cable file names it.
std::string_view LampName(Lamp lamp);

struct CableLamp {
    Lamp lamp;
    std::uint8_t pin;  // lit while the pin is high
};

struct Cable {
    std::string name;
    std::string description;
    CableSignal sck, mosi, miso, reset;
    std::vector<std::uint8_t> enable;  // low while programming, high otherwise
    std::vector<std::uint8_t> power;   // high while programming
    std::vector<CableLamp> lamps;
    // Whether the power pins stay high between commands.
    bool powerBetweenCommands = false;

    bool UsesRegister(PortRegister reg) const;
    // Whether the chip's lines are driven: every enable pin low and every
    // power pin high, as the data and control registers set them.
    bool Engaged(std::uint8_t data, std::uint8_t control) const;
};

// The lines a cable is to drive, at the chip: engaged switches the buffer on
// and powers it; lit is the lamp shown, if any.
struct CableLines {
    bool sck = false;
    bool mosi = false;
    bool reset = true;
    bool engaged = false;
    std::optional<Lamp> lit{};
};

struct PortRegisters {
    std::uint8_t data = 0;
    std::uint8_t control = 0;
};

// The register values that put the cable's pins where lines says, the
// port's and the cable's inversions applied. Bits of no pin of the cable are 0.
PortRegisters RegistersFor(const Cable& cable, const CableLines& lines);
// The chip's MISO level (true: high) in a status register value.
bool MisoInStatus(const Cable& cable, std::uint8_t status);

// What the chip sees of the port through the cable: its three inputs, when the
// cable drives them.
struct ChipInputs {
    bool sck, mosi, reset;
};
std::optional<ChipInputs> ChipInputsFrom(const Cable& cable, std::uint8_t data, std::uint8_t control);
// The status register with every status pin high (a line left open floats
// high) but the cable's MISO pin, which carries misoAtChip through the cable;
// nothing: MISO floats too.
std::uint8_t StatusWithMiso(const Cable& cable, std::optional<bool> misoAtChip);

// "SCK 2, MOSI 3, MISO 11, RESET 4, enable 9": the pins in one line.
std::string CablePins(const Cable& cable);

// The cable's wiring drawn as SVG: the plug from its solder side, a wire to a
// tag naming its pins for each signal, the ISP headers (docs/cable.svg is
// the built-in cable's).
std::string CableDrawing(const Cable& cable);

// ---- Known cables ------------------------------------------------------------

// Why a cable file was refused: the cable, the field and the rule it breaks.
struct CableFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads cables in the cable format; throws CableFileError at the first fault.
// earlier: cables known before these, whose names may not come again.
std::vector<Cable> ParseCables(std::string_view text, std::span<const Cable> earlier = {});

// The cables built into the programs (cables.json), the built-in wiring first.
std::span<const Cable> KnownCables();
const Cable& BuiltInCable();
std::string_view BuiltInCablesText();
// The cable of that name (any case) among cables; nullptr when none is.
const Cable* FindCable(std::span<const Cable> cables, std::string_view name);

}  // namespace velkor
