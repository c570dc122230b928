#!/usr/bin/env python3
"""Draws docs/cable.svg, the ISP cable: python3 docs/cable.py > docs/cable.svg

The DB-25 male plug is drawn from its solder side, the mirror image of its
mating face: pin 1 sits top right, pins 14-25 run right to left below.
The ISP headers are drawn as on the board, seen from above.
"""

from dataclasses import dataclass


@dataclass(frozen=True)
class Wire:
    signal: str
    plug_pins: range
    port_line: str  # the port's name for the line, where it has one
    six_pin: str
    ten_pin: str
    colour: str
    tint: str
    dashes: str  # so that the wires stay apart in black and white print

    @property
    def port_pins(self):
        """As the README's wiring table names them."""
        if len(self.plug_pins) > 1:
            return f"{self.plug_pins[0]}–{self.plug_pins[-1]}"
        return f"{self.plug_pins[0]} ({self.port_line})"


SCK = Wire("SCK", range(2, 3), "D0", "3", "7", "#E69F00", "#FBE5B3", "none")
MOSI = Wire("MOSI", range(3, 4), "D1", "4", "1", "#0072B2", "#C6DFEE", "14 6")
RESET = Wire("RESET", range(4, 5), "D2", "5", "5", "#009E73", "#C2EBDD", "14 5 3 5")
MISO = Wire("MISO", range(11, 12), "BUSY", "1", "9", "#CC79A7", "#F2DCE8", "3 5")
GND = Wire("GND", range(18, 26), "", "6", "4, 6, 8, 10", "#000000", "#D9D9D9", "none")
WIRES = [SCK, MOSI, RESET, MISO, GND]

FONT = "DejaVu Sans, Verdana, Arial, sans-serif"
PITCH = 30  # between DB-25 pins
PAD = 12  # pin radius
HEADER_PITCH = 34

# DB-25 geometry: top row pins 1-13, bottom row 14-25.
TOP_Y, BOTTOM_Y = 250, 286
LEFT_X = 80
# Wires leave the top row upwards to one lane each and run right to a tag.
LANE = {MISO: 84, RESET: 120, MOSI: 156, SCK: 192}
GND_BUS_Y = 352
RESISTOR_X = 546
TAG_X, TAG_W = 596, 390

out = []


def emit(line):
    out.append(line)


def text(x, y, content, size=15, anchor="start", weight="normal", fill="#000"):
    emit(f'<text x="{x}" y="{y}" font-size="{size}" text-anchor="{anchor}" '
         f'font-weight="{weight}" fill="{fill}">{content}</text>')


def db25_position(pin):
    """Solder side: the mating face mirrored left to right."""
    if pin <= 13:
        return LEFT_X + (13 - pin) * PITCH, TOP_Y
    return LEFT_X + (25.5 - pin) * PITCH, BOTTOM_Y


def wire_of_port_pin(pin):
    return next((wire for wire in WIRES if pin in wire.plug_pins), None)


def line(points, wire, width=4):
    coords = " ".join(f"{x},{y}" for x, y in points)
    emit(f'<polyline points="{coords}" fill="none" stroke="{wire.colour}" stroke-width="{width}" '
         f'stroke-dasharray="{wire.dashes}" stroke-linejoin="round"/>')


def pad(x, y, number, wire, square=False):
    fill, stroke, width = (wire.tint, wire.colour, 3) if wire else ("#FFFFFF", "#777777", 1.5)
    if square:
        emit(f'<rect x="{x - PAD}" y="{y - PAD}" width="{2 * PAD}" height="{2 * PAD}" '
             f'fill="{fill}" stroke="{stroke}" stroke-width="{width}"/>')
    else:
        emit(f'<circle cx="{x}" cy="{y}" r="{PAD}" fill="{fill}" stroke="{stroke}" stroke-width="{width}"/>')
    text(x, y + 5, number, size=13, anchor="middle", weight="bold")


def draw_plug():
    text(20, 60, "DB-25 male plug, solder side (pin 1 top right)", size=16, weight="bold")
    emit('<rect x="22" y="212" width="476" height="112" rx="8" fill="#EEEEEE" stroke="#555" stroke-width="2"/>')
    for hole_x in (42, 478):
        emit(f'<circle cx="{hole_x}" cy="268" r="9" fill="#FFFFFF" stroke="#555" stroke-width="2"/>')
    emit('<path d="M 62 226 L 458 226 L 440 310 L 80 310 Z" fill="#F8F8F8" stroke="#333" '
         'stroke-width="2.5" stroke-linejoin="round"/>')
    for pin in GND.plug_pins:
        x, y = db25_position(pin)
        line([(x, y), (x, GND_BUS_Y)], GND)
    for wire, lane_y in LANE.items():
        x, y = db25_position(wire.plug_pins[0])
        line([(x, y), (x, lane_y), (TAG_X, lane_y)], wire)
    x_first, _ = db25_position(GND.plug_pins[-1])
    line([(x_first, GND_BUS_Y), (TAG_X, GND_BUS_Y)], GND, width=5)
    for pin in range(1, 26):
        x, y = db25_position(pin)
        pad(x, y, pin, wire_of_port_pin(pin))


def draw_resistors():
    for wire in (RESET, MOSI, SCK):
        y = LANE[wire]
        emit(f'<rect x="{RESISTOR_X - 20}" y="{y - 8}" width="40" height="16" fill="#FFFFFF" '
             f'stroke="#000" stroke-width="2" stroke-dasharray="4 3"/>')
        text(RESISTOR_X, y + 5, "R", size=13, anchor="middle", weight="bold")
    text(RESISTOR_X, 222, "R: optional,", size=13, anchor="middle")
    text(RESISTOR_X, 238, "220–470 Ω", size=13, anchor="middle")


def draw_tags():
    text(TAG_X, 60, "Wire: DB-25 pin → ISP header pin", size=16, weight="bold")
    for wire, y in list(LANE.items()) + [(GND, GND_BUS_Y)]:
        emit(f'<rect x="{TAG_X}" y="{y - 15}" width="{TAG_W}" height="30" rx="5" fill="{wire.tint}" '
             f'stroke="{wire.colour}" stroke-width="2.5"/>')
        pins = "pins" if len(wire.plug_pins) > 1 else "pin"
        emit(f'<text x="{TAG_X + 10}" y="{y + 5}" font-size="15"><tspan font-weight="bold">{wire.signal}</tspan>'
             f' {pins} {wire.port_pins} → 6-pin: {wire.six_pin}, 10-pin: {wire.ten_pin}</text>')


def draw_header(title, left, top, rows):
    """rows: (left pin's signal, right pin's signal) from pin 1 down, as on the board."""
    text(left, top, title, size=16, weight="bold")
    body_x = left + 130
    body_top = top + 20
    height = len(rows) * HEADER_PITCH + 12
    emit(f'<rect x="{body_x}" y="{body_top}" width="{2 * HEADER_PITCH + 12}" height="{height}" rx="4" '
         f'fill="#333333" stroke="#000" stroke-width="2"/>')
    # Pin 1 marker, as the board's silk screen shows it.
    emit(f'<path d="M {body_x - 16} {body_top + 14} l 12 8 l -12 8 Z" fill="#000"/>')
    for row, names in enumerate(rows):
        y = body_top + 6 + HEADER_PITCH // 2 + row * HEADER_PITCH
        for column, name in enumerate(names):
            number = 2 * row + column + 1
            x = body_x + 6 + HEADER_PITCH // 2 + column * HEADER_PITCH
            wire = next((w for w in WIRES if w.signal == name), None)
            pad(x, y, number, wire, square=number == 1)
            label = name if wire or name == "NC" else f"{name}: not wired"
            if column == 0:
                text(body_x - 22, y + 5, label, anchor="end", weight="bold" if wire else "normal")
            else:
                text(body_x + 2 * HEADER_PITCH + 24, y + 5, label, weight="bold" if wire else "normal")


def draw_notes(top):
    notes = [
        "R (optional): 220–470 Ω in series with SCK, MOSI and RESET, close to the plug. They limit the current",
        "when a wire touches the wrong pin or the board runs at 3.3 V (the port drives 5 V), and they damp",
        "ringing on a longer cable. Keep the cable short. VCC stays unconnected: the board needs its own supply.",
    ]
    for index, note in enumerate(notes):
        text(20, top + index * 22, note)


def main():
    emit('<?xml version="1.0" encoding="UTF-8"?>')
    emit("<!-- Drawn by docs/cable.py: change that and run it again. -->")
    emit('<svg xmlns="http://www.w3.org/2000/svg" width="1000" height="740" viewBox="0 0 1000 740" '
         f'font-family="{FONT}">')
    emit('<title>Velkor ISP cable: PC parallel port (DB-25) to the AVR ISP header</title>')
    emit('<rect width="1000" height="740" fill="#FFFFFF"/>')
    text(20, 30, "Velkor ISP cable: PC parallel port to the AVR ISP header", size=20, weight="bold")
    draw_plug()
    draw_resistors()
    draw_tags()
    draw_header("6-pin ISP header", 20, 410, [("MISO", "VCC"), ("SCK", "MOSI"), ("RESET", "GND")])
    draw_header("10-pin ISP header", 520, 410,
                [("MOSI", "VCC"), ("NC", "GND"), ("RESET", "GND"), ("SCK", "GND"), ("MISO", "GND")])
    text(20, 646, "Headers on the board, seen from above. ▶ and the square pad mark pin 1 (a ribbon's red stripe).", size=14)
    draw_notes(674)
    emit("</svg>")
    print("\n".join(out))


if __name__ == "__main__":
    main()
