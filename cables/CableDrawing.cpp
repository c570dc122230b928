// A cable's wiring as an SVG drawing: the DB-25 plug from its solder side,
// one wire per signal to a tag naming its pins, and the two ISP headers.
// docs/cable.svg is this drawing of the built-in cable.
#include <algorithm>
#include <array>
#include <sstream>

#include "Cable.h"

namespace velkor {

namespace {

struct Wire {
    std::string signal;
    std::vector<unsigned> plugPins;
    std::string portPins;  // as the tag names them: "2 (D0)", "18–25"
    const char* sixPin;
    const char* tenPin;
    const char* colour;
    const char* tint;
    const char* dashes;  // so that the wires stay apart in black and white print
};

constexpr const char* kFont = "DejaVu Sans, Verdana, Arial, sans-serif";
constexpr int kPitch = 30;  // between DB-25 pins
constexpr int kPad = 12;    // pin radius
constexpr int kHeaderPitch = 34;
constexpr int kTopY = 250, kBottomY = 286, kLeftX = 80;
constexpr int kGndBusY = 352;
constexpr int kResistorX = 546;
constexpr int kTagX = 596, kTagW = 390;
constexpr int kNoteLine = 22;

// The port's name for the line on each pin that carries a signal.
std::string PortLineName(unsigned pin)
{
    constexpr std::array<const char*, 18> kNames{"",   "STROBE", "D0",     "D1",    "D2",   "D3",
                                                 "D4", "D5",     "D6",     "D7",    "ACK",  "BUSY",
                                                 "PE", "SELECT", "AUTOFD", "ERROR", "INIT", "SELECT-IN"};
    return pin < kNames.size() ? kNames[pin] : "";
}

Wire SignalWire(const char* name, const CableSignal& signal, const char* six, const char* ten, const char* colour,
                const char* tint, const char* dashes)
{
    const std::string pin = (signal.invertedByCable ? "~" : "") + std::to_string(signal.pin);
    return {name, {signal.pin}, pin + " (" + PortLineName(signal.pin) + ")", six, ten, colour, tint, dashes};
}

class Drawing {
public:
    explicit Drawing(const Cable& cable)
        : cable_(cable),
          wires_{
              SignalWire("SCK", cable.sck, "3", "7", "#E69F00", "#FBE5B3", "none"),
              SignalWire("MOSI", cable.mosi, "4", "1", "#0072B2", "#C6DFEE", "14 6"),
              SignalWire("RESET", cable.reset, "5", "5", "#009E73", "#C2EBDD", "14 5 3 5"),
              SignalWire("MISO", cable.miso, "1", "9", "#CC79A7", "#F2DCE8", "3 5"),
              Wire{"GND", {18, 19, 20, 21, 22, 23, 24, 25}, "18–25", "6", "4, 6, 8, 10", "#000000", "#D9D9D9", "none"}}
    {
    }

    std::string Draw();

private:
    const Wire& Sck() const { return wires_[0]; }
    const Wire& Mosi() const { return wires_[1]; }
    const Wire& Reset() const { return wires_[2]; }
    const Wire& Miso() const { return wires_[3]; }
    const Wire& Gnd() const { return wires_[4]; }
    // The lane each signal's wire runs right in, MISO on top.
    std::array<std::pair<const Wire*, int>, 4> Lanes() const
    {
        return {{{&Miso(), 84}, {&Reset(), 120}, {&Mosi(), 156}, {&Sck(), 192}}};
    }

    void Text(int x, int y, const std::string& content, int size = 15, const char* anchor = "start",
              const char* weight = "normal")
    {
        out_ << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"" << size << "\" text-anchor=\"" << anchor
             << "\" font-weight=\"" << weight << "\" fill=\"#000\">" << content << "</text>\n";
    }

    static std::pair<int, int> Db25Position(unsigned pin)
    {
        // Solder side: the mating face mirrored left to right.
        if (pin <= 13) {
            return {kLeftX + (13 - static_cast<int>(pin)) * kPitch, kTopY};
        }
        return {kLeftX + (51 - 2 * static_cast<int>(pin)) * kPitch / 2, kBottomY};
    }

    const Wire* WireOfPortPin(unsigned pin) const
    {
        for (const Wire& wire : wires_) {
            if (std::ranges::find(wire.plugPins, pin) != wire.plugPins.end()) {
                return &wire;
            }
        }
        return nullptr;
    }

    bool IsCablePin(unsigned pin) const
    {
        const auto has = [pin](const auto& pins) { return std::ranges::find(pins, pin) != pins.end(); };
        return has(cable_.enable) || has(cable_.power) ||
               std::ranges::any_of(cable_.lamps, [pin](const CableLamp& lamp) { return lamp.pin == pin; });
    }

    void Line(const std::vector<std::pair<int, int>>& points, const Wire& wire, int width = 4)
    {
        out_ << "<polyline points=\"";
        for (std::size_t i = 0; i < points.size(); ++i) {
            out_ << (i == 0 ? "" : " ") << points[i].first << ',' << points[i].second;
        }
        out_ << "\" fill=\"none\" stroke=\"" << wire.colour << "\" stroke-width=\"" << width << "\" stroke-dasharray=\""
             << wire.dashes << "\" stroke-linejoin=\"round\"/>\n";
    }

    void Pad(int x, int y, unsigned number, const Wire* wire, bool square = false, bool cablePin = false)
    {
        const char* fill = wire ? wire->tint : cablePin ? "#FFF3A0" : "#FFFFFF";
        const char* stroke = wire ? wire->colour : cablePin ? "#8A6D00" : "#777777";
        const char* width = wire || cablePin ? "3" : "1.5";
        if (square) {
            out_ << "<rect x=\"" << x - kPad << "\" y=\"" << y - kPad << "\" width=\"" << 2 * kPad << "\" height=\""
                 << 2 * kPad << "\" fill=\"" << fill << "\" stroke=\"" << stroke << "\" stroke-width=\"" << width
                 << "\"/>\n";
        } else {
            out_ << "<circle cx=\"" << x << "\" cy=\"" << y << "\" r=\"" << kPad << "\" fill=\"" << fill
                 << "\" stroke=\"" << stroke << "\" stroke-width=\"" << width << "\"/>\n";
        }
        Text(x, y + 5, std::to_string(number), 13, "middle", "bold");
    }

    void DrawPlug();
    void DrawResistors();
    void DrawTags();
    void DrawHeader(const std::string& title, int left, int top,
                    const std::vector<std::pair<const char*, const char*>>& rows);
    std::vector<std::string> Notes() const;

    const Cable& cable_;
    std::array<Wire, 5> wires_;
    std::ostringstream out_;
};

void Drawing::DrawPlug()
{
    Text(20, 60, "DB-25 male plug, solder side (pin 1 top right)", 16, "start", "bold");
    out_ << "<rect x=\"22\" y=\"212\" width=\"476\" height=\"112\" rx=\"8\" fill=\"#EEEEEE\" stroke=\"#555\" "
            "stroke-width=\"2\"/>\n";
    for (const int holeX : {42, 478}) {
        out_ << "<circle cx=\"" << holeX
             << "\" cy=\"268\" r=\"9\" fill=\"#FFFFFF\" stroke=\"#555\" stroke-width=\"2\"/>\n";
    }
    out_ << "<path d=\"M 62 226 L 458 226 L 440 310 L 80 310 Z\" fill=\"#F8F8F8\" stroke=\"#333\" "
            "stroke-width=\"2.5\" stroke-linejoin=\"round\"/>\n";
    for (const unsigned pin : Gnd().plugPins) {
        const auto [x, y] = Db25Position(pin);
        Line({{x, y}, {x, kGndBusY}}, Gnd());
    }
    for (const auto& [wire, laneY] : Lanes()) {
        const auto [x, y] = Db25Position(wire->plugPins.front());
        Line({{x, y}, {x, laneY}, {kTagX, laneY}}, *wire);
    }
    const int firstX = Db25Position(Gnd().plugPins.back()).first;
    Line({{firstX, kGndBusY}, {kTagX, kGndBusY}}, Gnd(), 5);
    for (unsigned pin = 1; pin <= 25; ++pin) {
        const auto [x, y] = Db25Position(pin);
        Pad(x, y, pin, WireOfPortPin(pin), false, IsCablePin(pin));
    }
}

void Drawing::DrawResistors()
{
    for (const auto& [wire, y] : Lanes()) {
        if (wire == &Miso()) {
            continue;
        }
        out_ << "<rect x=\"" << kResistorX - 20 << "\" y=\"" << y - 8
             << "\" width=\"40\" height=\"16\" fill=\"#FFFFFF\" stroke=\"#000\" stroke-width=\"2\" "
                "stroke-dasharray=\"4 3\"/>\n";
        Text(kResistorX, y + 5, "R", 13, "middle", "bold");
    }
    Text(kResistorX, 222, "R: optional,", 13, "middle");
    Text(kResistorX, 238, "220–470 Ω", 13, "middle");
}

void Drawing::DrawTags()
{
    Text(kTagX, 60, "Wire: DB-25 pin → ISP header pin", 16, "start", "bold");
    const auto lanes = Lanes();
    std::vector<std::pair<const Wire*, int>> tags(lanes.begin(), lanes.end());
    tags.emplace_back(&Gnd(), kGndBusY);
    for (const auto& [wire, y] : tags) {
        out_ << "<rect x=\"" << kTagX << "\" y=\"" << y - 15 << "\" width=\"" << kTagW
             << "\" height=\"30\" rx=\"5\" fill=\"" << wire->tint << "\" stroke=\"" << wire->colour
             << "\" stroke-width=\"2.5\"/>\n";
        const char* pins = wire->plugPins.size() > 1 ? "pins" : "pin";
        out_ << "<text x=\"" << kTagX + 10 << "\" y=\"" << y + 5 << "\" font-size=\"15\"><tspan font-weight=\"bold\">"
             << wire->signal << "</tspan> " << pins << ' ' << wire->portPins << " → 6-pin: " << wire->sixPin
             << ", 10-pin: " << wire->tenPin << "</text>\n";
    }
}

// rows: the left pin's signal and the right pin's, from pin 1 down, as on the board.
void Drawing::DrawHeader(const std::string& title, int left, int top,
                         const std::vector<std::pair<const char*, const char*>>& rows)
{
    Text(left, top, title, 16, "start", "bold");
    const int bodyX = left + 130;
    const int bodyTop = top + 20;
    const int height = static_cast<int>(rows.size()) * kHeaderPitch + 12;
    out_ << "<rect x=\"" << bodyX << "\" y=\"" << bodyTop << "\" width=\"" << 2 * kHeaderPitch + 12 << "\" height=\""
         << height << "\" rx=\"4\" fill=\"#333333\" stroke=\"#000\" stroke-width=\"2\"/>\n";
    // Pin 1 marker, as the board's silk screen shows it.
    out_ << "<path d=\"M " << bodyX - 16 << ' ' << bodyTop + 14 << " l 12 8 l -12 8 Z\" fill=\"#000\"/>\n";
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const int y = bodyTop + 6 + kHeaderPitch / 2 + static_cast<int>(row) * kHeaderPitch;
        for (int column = 0; column < 2; ++column) {
            const std::string name = column == 0 ? rows[row].first : rows[row].second;
            const auto number = static_cast<unsigned>(2 * row + column + 1);
            const int x = bodyX + 6 + kHeaderPitch / 2 + column * kHeaderPitch;
            const auto found = std::ranges::find_if(wires_, [&name](const Wire& wire) { return wire.signal == name; });
            const Wire* wire = found != wires_.end() ? &*found : nullptr;
            Pad(x, y, number, wire, number == 1);
            const std::string label = wire || name == "NC" ? name : name + ": not wired";
            const char* weight = wire ? "bold" : "normal";
            if (column == 0) {
                Text(bodyX - 22, y + 5, label, 15, "end", weight);
            } else {
                Text(bodyX + 2 * kHeaderPitch + 24, y + 5, label, 15, "start", weight);
            }
        }
    }
}

std::string PinNumbers(const std::vector<std::uint8_t>& pins)
{
    std::string text;
    for (const std::uint8_t pin : pins) {
        text += (text.empty() ? "" : ", ") + std::to_string(pin);
    }
    return text;
}

std::vector<std::string> Drawing::Notes() const
{
    std::vector<std::string> notes{
        "R (optional): 220–470 Ω in series with SCK, MOSI and RESET, close to the plug. They limit the current",
        "when a wire touches the wrong pin or the board runs at 3.3 V (the port drives 5 V), and they damp",
        "ringing on a longer cable. Keep the cable short. VCC stays unconnected: the board needs its own supply.",
    };
    if (!cable_.enable.empty()) {
        notes.push_back("Yellow pads, to the cable's own parts: enable (low while programming, a buffer's output "
                        "enable): " +
                        PinNumbers(cable_.enable) + ".");
    }
    if (!cable_.power.empty()) {
        notes.push_back(
            "Yellow pads: power for the cable's buffer (high while programming): " + PinNumbers(cable_.power) + ".");
    }
    std::string lamps;
    for (const CableLamp& lamp : cable_.lamps) {
        lamps += (lamps.empty() ? "" : ", ") + std::string(LampName(lamp.lamp)) + " " + std::to_string(lamp.pin);
    }
    if (!lamps.empty()) {
        notes.push_back("Yellow pads: the cable's lamps (lit while high): " + lamps + ".");
    }
    if (cable_.sck.invertedByCable || cable_.mosi.invertedByCable || cable_.miso.invertedByCable ||
        cable_.reset.invertedByCable) {
        notes.push_back("~: the cable inverts that signal (a transistor or an inverting buffer).");
    }
    return notes;
}

std::string Drawing::Draw()
{
    const bool ours = cable_.name == BuiltInCable().name;
    const std::string name = ours ? "Velkor ISP cable" : "The " + cable_.name + " cable";
    const std::vector<std::string> notes = Notes();
    const int height = 674 + static_cast<int>(notes.size()) * kNoteLine;
    out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    // No double hyphen: an XML comment may not hold one.
    out_ << "<!-- Drawn by cables/CableDrawing.cpp for the " << cable_.name
         << " cable: change that and draw it again (see HACKING.md). -->\n";
    out_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1000\" height=\"" << height << "\" viewBox=\"0 0 1000 "
         << height << "\" font-family=\"" << kFont << "\">\n";
    out_ << "<title>" << name << ": PC parallel port (DB-25) to the AVR ISP header</title>\n";
    out_ << "<rect width=\"1000\" height=\"" << height << "\" fill=\"#FFFFFF\"/>\n";
    Text(20, 30, name + ": PC parallel port to the AVR ISP header", 20, "start", "bold");
    DrawPlug();
    DrawResistors();
    DrawTags();
    DrawHeader("6-pin ISP header", 20, 410, {{"MISO", "VCC"}, {"SCK", "MOSI"}, {"RESET", "GND"}});
    DrawHeader("10-pin ISP header", 520, 410,
               {{"MOSI", "VCC"}, {"NC", "GND"}, {"RESET", "GND"}, {"SCK", "GND"}, {"MISO", "GND"}});
    Text(20, 646, "Headers on the board, seen from above. ▶ and the square pad mark pin 1 (a ribbon's red stripe).",
         14);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        Text(20, 674 + static_cast<int>(i) * kNoteLine, notes[i]);
    }
    out_ << "</svg>\n";
    return out_.str();
}

}  // namespace

std::string CableDrawing(const Cable& cable)
{
    return Drawing(cable).Draw();
}

}  // namespace velkor
