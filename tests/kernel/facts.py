"""What the kernel check's judges share: the registers of the tool's --trace,
the module's lines, the PCF8574 backpack's pins and the timing the tool keeps,
and the measure of enable pulses and set-ups from line changes."""

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
