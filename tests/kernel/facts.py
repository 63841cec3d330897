"""What the kernel check's judges share: the registers of the tool's --trace,
the module's lines, the I2C expanders' pins, default wirings and registers,
the timing the tool keeps, and the measure of enable pulses and set-ups from
line changes."""

import re

SETUP_US = 1000  # what the tool requests before an enable edge, and as the pulse

# Register offsets from the port's base.
DATA_REGISTER, CONTROL_REGISTER = 0, 2
# A control write carries the module's lines XOR 0x03 in bits 0-3 (pins 1, 14,
# 16 and 17) and the data direction in bit 5.
CONTROL_BITS = {"E0": 0x01, "RW": 0x02, "RS": 0x04, "E1": 0x08}
CONTROL_FLIPPED = 0x03
DATA_INPUT = 0x20

DATA = [f"D{i}" for i in range(8)]
ENABLES = ("E0", "E1")

# The common backpack's wiring, and the pin the backlight hangs on.
PCF8574_PINS = {"RS": 0, "RW": 1, "E0": 2, "BL": 3, "D4": 4, "D5": 5, "D6": 6, "D7": 7}

# What a mapping without a pin map gives each I2C kind, pins numbered from 0
# (an MCP23017's GPB0 is 8), and the lines a low pin drives: the MCP23008's
# backpack has RW to ground, the MCP23017's RGB plate three backlight pins lit
# by a low pin.
DEFAULT_MAPS = {
    "pcf8574": (PCF8574_PINS, ()),
    "mcp23008": ({"RS": 1, "E0": 2, "D4": 3, "D5": 4, "D6": 5, "D7": 6, "BL": 7}, ()),
    "mcp23017": ({"RS": 15, "RW": 14, "E0": 13, "D4": 12, "D5": 11, "D6": 10, "D7": 9,
                  "BL": 6, "BL2": 7, "BL3": 8}, ("BL", "BL2", "BL3")),
}


def pin_number(kind, name):
    """"P3", "GP3", "GPB3" as the pin's number on that kind, or None."""
    form = {"pcf8574": r"P([0-7])", "mcp23008": r"GP([0-7])", "mcp23017": r"GP([AB])([0-7])"}[kind]
    m = re.fullmatch(form, name, re.IGNORECASE)
    if not m:
        return None
    return int(m.group(1)) if kind != "mcp23017" else "AB".index(m.group(1).upper()) * 8 + int(m.group(2))


# The registers of the MCP230xx with IOCON.BANK 0, by bank (A, B): where the
# pins' directions (IODIR), latches (OLAT; a write of GPIO goes to it as
# well), pull-ups (GPPU) and levels (GPIO) are.
MCP_REGISTERS = {
    "mcp23008": {"IODIR": (0x00,), "GPPU": (0x06,), "GPIO": (0x09,), "OLAT": (0x0A,)},
    "mcp23017": {"IODIR": (0x00, 0x01), "GPPU": (0x0C, 0x0D), "GPIO": (0x12, 0x13),
                 "OLAT": (0x14, 0x15)},
}
# Register 0x05 of an MCP23017: IOCON where BANK is 1; the tool writes 0 there
# when it opens one, to have BANK 0.
MCP23017_IOCON_BANK1 = 0x05


def control_lines(value, e1_inverted=False):
    """The levels a control register value gives the module's control lines;
    E1 straight to pin 17 (`e1_inverted`) is the inverse of the tool's flag."""
    flipped = value ^ CONTROL_FLIPPED
    lines = {line: int(bool(flipped & bit)) for line, bit in CONTROL_BITS.items()}
    if e1_inverted:
        lines["E1"] ^= 1
    return lines


def timing(changes):
    """Enable pulses (line, us) and data set-ups before a rising enable edge
    (us) from line changes (us, line, level) in time order; a data line
    "changes" as often as it is written. A set-up counts once its pulse has
    ended: an enable that rises and stays up clocks nothing."""
    pulses, setups, rose, last_data = [], [], {}, None
    for us, line, level in changes:
        if line in DATA:
            last_data = us
        elif line in ENABLES:
            if level and line not in rose:
                rose[line] = (us, None if last_data is None else us - last_data)
            elif not level and line in rose:
                began, setup = rose.pop(line)
                pulses.append((line, us - began))
                if setup is not None:
                    setups.append(setup)
    return pulses, setups


def timing_note(pulses, setups):
    """The problem with the pulses and set-ups, or the note that they all hold."""
    lengths = [us for _, us in pulses]
    short = [us for us in lengths + setups if us < SETUP_US]
    if not pulses or short:
        return f"{len(short)} of {len(pulses)} pulses and {len(setups)} set-ups under 1 ms", None
    counts = ", ".join(f"{sum(1 for n, _ in pulses if n == e)} on {e}" for e in ENABLES
                       if any(n == e for n, _ in pulses))
    return None, (f"enable pulses ({counts}) >= {min(lengths) / 1000:.2f} ms, "
                  f"data set-up >= {min(setups) / 1000:.2f} ms")
