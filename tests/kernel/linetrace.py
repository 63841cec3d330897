"""Judges a run over a GPIO chip or an I2C expander (PCF8574, MCP23008,
MCP23017): the tool's --trace (the parallel-port registers it would have
written) turned into line levels through the case's --port-map wiring, against
the kernel's own trace of the lines (gpio_value / gpio_direction events) or of
the SMBus transfers (smbus_* events), with CLOCK_MONOTONIC stamps. A PCF8574's
send byte sets its pins and a receive byte reads them; an MCP230xx's write
byte data to IODIR sets directions, to OLAT or GPIO levels, and its read byte
data of GPIO reads the pins. compare.py calls judge_lines for such cases."""

import re

from facts import DATA, DATA_INPUT, ENABLES, SETUP_US
import facts

STAMP = r"\s(\d+)\.(\d+): "
GPIO_VALUE = re.compile(STAMP + r"gpio_value: (\d+) (get|set) (\d)")
GPIO_DIRECTION = re.compile(STAMP + r"gpio_direction: (\d+)\s+(in|out) \((-?\d+)\)")
SMBUS = re.compile(STAMP + r"smbus_(write|read|reply|result): i2c-(\d+) a=([0-9a-f]+) f=\w+ "
                   r"c=([0-9a-f]+) (\w+)(?: l=\d+ \[([0-9a-f]*)\]| (?:wr|rd) res=(-?\d+))?")
# Plain I2C messages (I2C_RDWR, or an adapter without SMBus of its own).
I2C = re.compile(STAMP + r"i2c_(write|read|result): i2c-(\d+) (?:#\d+ a=([0-9a-f]+)|n=\d+ ret=(-?\d+))")
KINDS = ("ppdev", "gpio", "pcf8574", "mcp23008", "mcp23017")


class Wiring:
    """One --port-map entry that goes to a GPIO chip or an I2C expander. Each
    backlight pin is a line of its own: "BL", then "BL2", "BL3"."""

    def __init__(self, kind, device, pins, invert=(), address=None, backlight=None, reads_safe=False,
                 chip=None):
        self.kind, self.device, self.pins = kind, device, pins  # pins: line -> offset or pin number
        self.invert, self.address, self.backlight = set(invert), address, backlight
        self.reads_safe = reads_safe
        self.chip = chip  # the I2C kind: "pcf8574", "mcp23008", "mcp23017"
        self.line_of = {pin: line for line, pin in pins.items()}
        self.backlights = [line for line in pins if line.startswith("BL")]
        # Whether the data lines turn around by their directions (GPIO, an
        # MCP's IODIR) rather than by being written high (a PCF8574's).
        self.directions = kind == "gpio" or (chip or "").startswith("mcp")


def parse_wiring(args, port):
    """The wiring the case's --port-map gives the Port list entry `port`, or
    None when it maps it to no GPIO chip or I2C bus."""
    words = args.split()
    values = [w.split("=", 1)[1] for w in words if w.startswith("--port-map=")]
    values += [b for a, b in zip(words, words[1:]) if a == "--port-map"]
    for value in values:
        base, _, target = value.partition("=")
        if int(base, 16) != int(port, 16):
            continue
        # The kind named first ("mcp23008:/dev/i2c-0@0x20", "gpio:LABEL:..."),
        # else the one the device's node implies.
        kind, colon, rest = target.partition(":")
        if colon and kind in KINDS:
            target = rest
        elif target.startswith("/dev/gpiochip"):
            kind = "gpio"
        elif target.startswith("/dev/i2c-"):
            kind = "pcf8574"
        else:
            continue
        if kind == "gpio":
            # A chip's node, or its label (gpio:LABEL:..., gpio:pi-header:...).
            device, _, rest = target.partition(":")
            pins, invert, safe = {}, [], False
            for item in filter(None, rest.split(",")):
                key, _, val = item.partition("=")
                if key == "invert":
                    invert = val.split("+")
                elif key == "reads":
                    safe = val == "safe"
                else:
                    pins[key] = int(val)
            return Wiring("gpio", device, pins, invert, reads_safe=safe)
        if kind in facts.DEFAULT_MAPS:
            device, _, rest = target.partition("@")
            address, *items = re.split("[:,]", rest)
            pins, invert, backlight = {}, [], 1
            for item in items:
                key, _, val = item.partition("=")
                if key == "backlight":
                    backlight = 1 if val == "on" else 0
                elif key == "invert":
                    invert = val.split("+")
                elif key == "BL":
                    pins["BL" if "BL" not in pins else f"BL{sum(k.startswith('BL') for k in pins) + 1}"] = \
                        facts.pin_number(kind, val)
                else:
                    pins[key] = facts.pin_number(kind, val)
            if not pins:  # the kind's own wiring, unless the mapping gives a whole pin map
                pins, default_invert = facts.DEFAULT_MAPS[kind]
                pins, invert = dict(pins), invert or list(default_invert)
            # invert=BL names every backlight pin.
            invert = [line for line in invert if line != "BL"] + \
                ([line for line in pins if line.startswith("BL")] if "BL" in invert else [])
            return Wiring("i2c", device, pins, invert, address=int(address, 16),
                          backlight=backlight if "BL" in pins else None, chip=kind)
    return None


def tool_steps(trace_lines, base):
    """The tool's register writes and reads of the port at `base` as steps:
    ("w", levels, input) with the dialog's levels of every line known so far
    and whether the data lines are inputs, or ("r", value); they end at the
    trace's "lost" line, if any, returned with the writes after it."""
    levels, data_input, steps, lost = {}, False, [], None
    for line in trace_lines:
        fields = line.split()
        if len(fields) < 3:
            continue
        if lost is not None:
            lost[1] += 1
            continue
        if fields[2] == "lost":
            lost = [line.split(" lost ", 1)[1].strip(), 0]
            continue
        offset, value = int(fields[1], 16) - base, int(fields[2], 16)
        if fields[3:] == ["read"]:
            steps.append(("r", value))
            continue
        if offset == facts.DATA_REGISTER:
            levels.update({d: (value >> i) & 1 for i, d in enumerate(DATA)})
        elif offset == facts.CONTROL_REGISTER:
            levels.update(facts.control_lines(value))
            data_input = bool(value & DATA_INPUT)
        else:
            continue
        steps.append(("w", dict(levels), data_input))
    return steps, lost


def targets(steps, wiring):
    """Each step's wanted state of the wired lines, as the kernel shows them:
    line -> (direction, pin level). A data line that is an input keeps the
    level it last drove (GPIO), is written high (a PCF8574's pins are
    quasi-bidirectional), or both (an MCP's latch); lines the tool has not set
    yet are left out. Each backlight pin carries the backlight's level, low
    where it is lit by a low pin."""
    wanted, out = {}, []
    for line in wiring.backlights:
        wanted[line] = ("out", wiring.backlight ^ (line in wiring.invert))
    for step in steps:
        if step[0] == "r":
            out.append(("r", step[1], None))
            continue
        _, levels, data_input = step
        for line, level in levels.items():
            if line not in wiring.pins:
                continue
            pin = level ^ (line in wiring.invert)
            if line in DATA and data_input:
                if wiring.kind == "gpio":
                    wanted[line] = ("in", wanted.get(line, ("in", None))[1])
                elif wiring.directions:
                    wanted[line] = ("in", 1)
                else:
                    wanted[line] = ("out", 1)
            else:
                wanted[line] = ("out", pin)
        out.append(("w", dict(wanted), data_input))
    return out


def stamp_us(sec, frac):
    return int(sec) * 1_000_000 + int(frac.ljust(6, "0")[:6])


def i2c_transfers(text):
    """The kernel's SMBus transfers and plain I2C messages in its trace, in
    order, each a dict: bus, address, write (a read byte data, whose command
    byte goes out as part of the read, is a read), protocol ("BYTE" for send
    and receive byte, "BYTE_DATA", ..., "I2C" for a plain message), command,
    data (the byte written or read; None when the transfer carried none),
    result (negative: failed), start and end (us)."""
    transfers, open_ = [], {}
    for raw in text.splitlines():
        m = SMBUS.search(raw)
        if m:
            sec, frac, event, bus, address, command, protocol, data, result = m.groups()
            key = (int(bus), int(address, 16))
            if event in ("write", "read"):
                x = {"bus": key[0], "address": key[1], "write": event == "write", "protocol": protocol,
                     "command": int(command, 16), "data": int(data, 16) if data else None,
                     "result": None, "start": stamp_us(sec, frac), "end": None}
                transfers.append(x)
                open_[key] = x
            elif key in open_ and event == "reply":
                open_[key]["data"] = int(data, 16) if data else None
            elif key in open_ and event == "result" and result is not None:
                x = open_.pop(key)
                x["result"], x["end"] = int(result), stamp_us(sec, frac)
            continue
        m = I2C.search(raw)
        if m:
            sec, frac, event, bus, address, result = m.groups()
            if event == "result":
                for x in reversed(transfers):
                    if x["protocol"] == "I2C" and x["bus"] == int(bus) and x["result"] is None:
                        x["result"], x["end"] = int(result), stamp_us(sec, frac)
                continue
            transfers.append({"bus": int(bus), "address": int(address, 16), "write": event == "write",
                              "protocol": "I2C", "command": None, "data": None, "result": None,
                              "start": stamp_us(sec, frac), "end": None})
    for x in transfers:
        if x["end"] is None:
            x["result"], x["end"] = -1, x["start"]
    return transfers


def mcp_register(chip, register):
    """An MCP230xx register address as (name, bank), or (None, None)."""
    for name, banks in facts.MCP_REGISTERS[chip].items():
        if register in banks:
            return name, banks.index(register)
    return None, None


def expander_events(text, wiring):
    """An I2C wiring's events (see kernel_events), each with the number of its
    transfer last: a PCF8574's send byte moves every pin, its receive byte
    reads them; an MCP's IODIR write turns each pin of its bank ("d"), an
    OLAT or GPIO write sets their levels ("v"), a GPIO read reads them ("r").
    What the tool sends to open an MCP (reads of IODIR, an MCP23017's write
    of 0 to register 0x05) is ("g", register, us, n, {line: direction})."""
    events, problems = [], []
    pin_names = {pin: (f"P{pin}" if wiring.chip == "pcf8574" else
                       f"GP{pin}" if wiring.chip == "mcp23008" else f"GP{'AB'[pin // 8]}{pin % 8}")
                 for pin in range(16)}
    for n, x in enumerate(i2c_transfers(text)):
        what = "a plain I2C message" if x["protocol"] == "I2C" else \
            f"SMBus {'write' if x['write'] else 'read'} {x['protocol']}"
        if f"/dev/i2c-{x['bus']}" != wiring.device or x["address"] != wiring.address:
            problems.append(f"{what} on i2c-{x['bus']} at 0x{x['address']:02X}, not the wiring's")
            continue
        if x["result"] < 0:  # only a transfer the device acknowledged moved its pins
            continue
        us = x["end"]
        if wiring.chip == "pcf8574":
            if x["protocol"] != "BYTE":
                problems.append(f"{what} to the PCF8574, which takes send and receive byte")
            elif x["write"]:
                events += [("v", ln, (x["command"] >> pin) & 1, us, n) for pin, ln in wiring.line_of.items()]
            else:
                events.append(("r", {ln: (x["data"] >> pin) & 1 for pin, ln in wiring.line_of.items()
                                     if ln in DATA}, us, n))
            continue
        if x["protocol"] != "BYTE_DATA":
            problems.append(f"{what} to the {wiring.chip.upper()}, which takes byte data")
            continue
        register, bank = mcp_register(wiring.chip, x["command"])
        pins = range(8 * (bank or 0), 8 * (bank or 0) + 8)
        bit = {pin: (x["data"] >> (pin % 8)) & 1 for pin in pins}
        if register == "IODIR" and x["write"]:
            for pin in pins:
                if pin in wiring.line_of:
                    events.append(("d", wiring.line_of[pin], "in" if bit[pin] else "out", us, n))
                elif not bit[pin]:
                    problems.append(f"IODIR 0x{x['data']:02X} makes {pin_names[pin]}, which nothing "
                                    "is wired to, an output")
        elif register in ("OLAT", "GPIO") and x["write"]:
            events += [("v", wiring.line_of[pin], bit[pin], us, n) for pin in pins if pin in wiring.line_of]
        elif register == "GPIO":
            events.append(("r", {wiring.line_of[pin]: bit[pin] for pin in pins
                                 if wiring.line_of.get(pin) in DATA}, us, n))
        elif register == "IODIR":
            events.append(("g", "IODIR", us, n, {wiring.line_of[pin]: "in" if bit[pin] else "out"
                                                 for pin in pins if pin in wiring.line_of}))
        elif wiring.chip == "mcp23017" and x["write"] and x["command"] == facts.MCP23017_IOCON_BANK1 \
                and x["data"] == 0:
            events.append(("g", "IOCON", us, n, {}))
        else:
            problems.append(f"{what} of register 0x{x['command']:02X}, which a run has no business with")
    return events, problems


def kernel_events(text, wiring, gpio_base):
    """The kernel's trace as ("v", line, level, us), ("d", line, dir, us),
    ("r", {line: level}, us); an expander's transfer becomes one event per
    pin it sets (see expander_events). Also a list of problems (lines outside
    the wiring, failed transfers)."""
    if wiring.kind != "gpio":
        return expander_events(text, wiring)
    events, problems, reading = [], [], None
    for raw in text.splitlines():
        m = GPIO_VALUE.search(raw) or GPIO_DIRECTION.search(raw)
        if not m:
            continue
        sec, frac, gpio, what, value = m.groups()
        us = stamp_us(sec, frac)
        line = wiring.line_of.get(int(gpio) - gpio_base)
        if line is None:
            problems.append(f"the kernel logged GPIO {gpio}, which the wiring does not name")
            continue
        if what == "get":
            # One GET_VALUES logs one get per line: a line seen again starts another read.
            if reading is None or line in reading[1]:
                reading = ("r", {}, us)
                events.append(reading)
            reading[1][line] = int(value)
            continue
        reading = None
        if what == "set":
            events.append(("v", line, int(value), us))
        elif int(value) == 0:
            events.append(("d", line, what, us))
        else:
            problems.append(f"GPIO {gpio} ({line}) failed to turn {what}: {value}")
    return events, problems


def initial_state(wiring, directions=None):
    """A chip's lines start as inputs; a PCF8574's pins at levels not yet seen;
    an MCP's pins in the directions its IODIR was read with (`directions`),
    their latches not yet seen."""
    first = "in" if wiring.kind == "gpio" else "out"
    return {line: [(directions or {}).get(line, first), None] for line in wiring.pins}


def claim(events, wiring):
    """How many leading events take the lines (GPIO: each wired line set and
    turned out once, by the line request), and problems with it: the tool
    takes them at rest, every line low as the dialog shows it."""
    if wiring.kind != "gpio":
        return 0, []
    taken, k = {}, 0
    while k + 1 < len(events) and events[k][0] == "v" and events[k + 1][:3] == ("d", events[k][1], "out") \
            and events[k][1] not in taken:
        taken[events[k][1]] = events[k][2] ^ (events[k][1] in wiring.invert)
        k += 2
    if not k:
        return 0, []
    high = [line for line, level in taken.items() if level]
    problems = [f"the request took {', '.join(high)} high"] if high else []
    if set(taken) != set(wiring.pins):
        problems.append(f"the request took {len(taken)} of the {len(wiring.pins)} wired lines")
    return k, problems


def moved_lines(events, wiring, taken=0):
    """How many kernel events after the first `taken` change a line (for runs
    that must reach none)."""
    state, moved = initial_state(wiring), 0
    for index, event in enumerate(events):
        if event[0] in "vd":
            slot = 1 if event[0] == "v" else 0
            if state[event[1]][slot] != event[2] and index >= taken:
                moved += 1
            state[event[1]][slot] = event[2]
    return moved


def match(wanted, events, wiring, state=None):
    """Walks the kernel's events through the tool's steps (from `state`, each
    line's [direction, level], or the wiring's initial one): each step's
    events may move only the lines that step changes, toward what it wants.
    Returns problems and the changes as (us, line, dialog level, step) plus
    the reads as (us, {line: level}, the tool's value, step)."""
    state = state or initial_state(wiring)
    k, changes, reads, problems = 0, [], [], []

    def settled(target):
        return all(state[ln] == list(want) for ln, want in target.items())

    def level(line, pin):
        return pin ^ (line in wiring.invert)

    for index, (kind, target, _) in enumerate(wanted):
        if kind == "r":
            while k < len(events) and events[k][0] != "r" and not changes_state(events[k], state):
                k += 1
            if k == len(events) or events[k][0] != "r":
                return problems + [f"step {index}: the tool read, the kernel shows no read there"], changes, reads
            reads.append((events[k][2], events[k][1], target, index))
            k += 1
            continue
        while not settled(target):
            if k == len(events):
                wrong = [ln for ln, want in target.items() if state[ln] != list(want)]
                return problems + [f"step {index}: the kernel's log ends with {', '.join(wrong)} "
                                   f"not as the tool set them"], changes, reads
            event = events[k]
            k += 1
            if event[0] == "r":
                return problems + [f"step {index}: a read the tool did not make"], changes, reads
            slot = 1 if event[0] == "v" else 0
            line, value, us = event[1], event[2], event[3]
            if state[line][slot] == value:
                continue
            # A value logged right before the same line's "out" is the turn-around's
            # own doing; on a line that already was an output it must not move.
            if slot and state[line][0] == "out" and k < len(events) and events[k][:3] == ("d", line, "out"):
                return problems + [f"step {index}: the turn-around moved {line} to {value}"], changes, reads
            if line in target and target[line][slot] != value:
                return problems + [f"step {index}: {line} {'went to' if slot else 'turned'} {value}, "
                                   f"the tool wanted {target[line][slot]}"], changes, reads
            if line not in target and line in ENABLES and level(line, value):
                problems.append(f"step {index}: {line} rose before the tool set it")
            state[line][slot] = value
            changes.append((us, line, level(line, value) if slot else value, index))
    rest = [e for e in events[k:] if e[0] == "r" or changes_state(e, state, apply=True)]
    if rest:
        problems.append(f"{len(rest)} kernel events after the tool's last step (at exit?)")
    return problems, changes, reads


def changes_state(event, state, apply=False):
    if event[0] not in "vd":
        return False
    slot = 1 if event[0] == "v" else 0
    changed = state[event[1]][slot] != event[2]
    if apply:
        state[event[1]][slot] = event[2]
    return changed


def timing(changes):
    """Enable pulses and data set-ups (facts.timing) of the matched changes."""
    return facts.timing([(us, line, value) for us, line, value, _ in changes if value not in ("in", "out")])


def read_moments(steps, changes, reads, wiring, lost=False):
    """Each read with the data lines turned around (inputs on GPIO and an MCP,
    pins high on a PCF8574), RW high and an enable high for the set-up time, and the
    read's wired bits as the tool logged them; every turn-around with RW and
    the enables low, in the tool's steps and in the kernel's directions; at
    the end the data lines outputs and E0, E1 and RW low, unless the device
    went away before the end (`lost`)."""
    problems, levels, direction, rose = [], {}, {}, {}
    data = [d for d in DATA if d in wiring.pins]
    turns, was_input = 0, False
    for step in steps:
        if step[0] == "w" and step[2] != was_input:
            was_input, turns = step[2], turns + 1
            if any(step[1].get(c) for c in ("RW",) + ENABLES):
                problems.append("the tool turned the data lines around with RW or an enable high")
    for us, order, item in sorted([(c[0], 0, c) for c in changes] + [(r[0], 1, r) for r in reads],
                                  key=lambda e: e[:2]):
        if order:
            _, values, tool_value, _ = item
            turned = all(direction.get(d) == "in" for d in data) if wiring.directions else \
                all(levels.get(d) == 1 for d in data)
            up = [e for e in ENABLES if levels.get(e)]
            if not (turned and levels.get("RW") and up) or us - max(rose[e] for e in up) < SETUP_US:
                problems.append(f"a read at {us} us without the data lines turned around, RW and "
                                "an enable high for 1 ms")
            # The tool undoes an inverter on a data line; the kernel reads the pin.
            if values != {d: (tool_value >> DATA.index(d)) & 1 ^ (d in wiring.invert) for d in data}:
                problems.append(f"a read gave the tool 0x{tool_value:02X}, the kernel {values}")
            continue
        _, line, value, _ = item
        if value in ("in", "out"):
            if direction.get(line, value) != value and (levels.get("RW") or any(levels.get(e) for e in ENABLES)):
                problems.append(f"{line} turned {value} with RW or an enable high")
            direction[line] = value
            continue
        if line in ENABLES and value and not levels.get(line):
            rose[line] = us
        levels[line] = value
    at_rest = all(not levels.get(c) for c in ("E0", "E1", "RW")) and not was_input
    if wiring.directions:
        at_rest = at_rest and all(direction.get(d) == "out" for d in data)
    if not reads or not (at_rest or lost):
        problems.append(f"{len(reads)} reads, ending {'at' if at_rest else 'not at'} rest")
    return problems[:3], (f"reads: {len(reads)}, each with the data lines turned around, RW and the "
                          f"enable high >= 1 ms, as the kernel read them; {turns // 2} "
                          f"turn-around{'s' if turns // 2 != 1 else ''} with RW and the enables low, "
                          "no other line moved; " + ("the device gone mid-read" if lost else "ends at rest"))


def opening_write(events, wiring, state):
    """How many leading events are an expander's opening write, which takes E0
    to rest alone where the expander powered up with it high: a PCF8574's one
    send byte with E0 low and every other pin released high; an MCP's OLAT
    write of E0's bank, E0 low and every other pin high, then (where E0 was an
    input) its IODIR write turning E0 alone out. Applies them to `state`."""
    if wiring.kind != "i2c" or not events or events[0][0] != "v" or "E0" not in wiring.pins:
        return 0
    bank = wiring.pins["E0"] // 8 if wiring.directions else 0
    lines = {line for line, pin in wiring.pins.items() if pin // 8 == bank}

    def transfer(at):
        return [e for e in events[at:] if e[-1] == events[at][-1]] if at < len(events) else []

    levels = transfer(0)
    if {e[1]: e[2] for e in levels} != {line: int(line != "E0") for line in lines} or \
            any(e[0] != "v" for e in levels):
        return 0
    for e in levels:
        state[e[1]][1] = e[2]
    if not wiring.directions:
        return len(levels)
    turns = transfer(len(levels))
    wanted = {line: "out" if line == "E0" else state[line][0] for line in lines}
    if state["E0"][0] == "out" or any(e[0] != "d" for e in turns) or {e[1]: e[2] for e in turns} != wanted:
        return len(levels)
    for e in turns:
        state[e[1]][0] = e[2]
    return len(levels) + len(turns)


def opening_reads(events, wiring):
    """How many leading events open the device (a PCF8574's receive bytes, an
    MCP's reads of IODIR and an MCP23017's write of 0 to register 0x05, in
    that order), the directions they found, and problems with them."""
    if not wiring.directions or wiring.kind == "gpio":
        return next((i for i, e in enumerate(events) if e[0] != "r"), len(events)), None, []
    count = next((i for i, e in enumerate(events) if e[0] != "g"), len(events))
    opened = [e[1] for e in events[:count]]
    wanted = ["IODIR"] if wiring.chip == "mcp23008" else ["IOCON", "IODIR", "IODIR"]
    directions = {}
    for e in events[:count]:
        directions.update(e[4])
    problems = [] if opened == wanted else [f"the device was opened with {opened}, not {wanted}"]
    stray = [e[1] for e in events[count:] if e[0] == "g"]
    if stray:
        problems.append(f"{len(stray)} transfers of {stray[0]} after the device was opened")
    return count, directions, problems


def judge_lines(wiring, trace_lines, base, kernel_text, gpio_base):
    """Problems and notes for a run that reached the wiring."""
    steps, lost = tool_steps(trace_lines, base)
    events, problems = kernel_events(kernel_text, wiring, gpio_base)
    # Transfers before any line moved: the tool asking whether a device answers.
    probes, directions, found = opening_reads(events, wiring)
    problems += found
    events = events[:probes] + [e for e in events[probes:] if e[0] != "g"]
    state = initial_state(wiring, directions)
    opening = opening_write(events[probes:], wiring, state)
    found, changes, reads = match(targets(steps, wiring), events[probes + opening:], wiring, state)
    problems += claim(events[probes:], wiring)[1] + found
    notes = []
    if problems:
        return problems[:3], notes
    if lost:
        notes.append(f"the kernel took every write before the trace's lost line and none of the "
                     f"{lost[1]} after it")
    problem, held = facts.timing_note(*timing(changes))
    if problem:
        problems.append(problem)
    else:
        writes = sum(1 for s in steps if s[0] == "w")
        opened = f"{probes} transfer{'s' if probes > 1 else ''} at open" if directions is not None \
            else f"{probes} read at open"
        notes.append(f"{writes} writes, {len(changes)} line changes matched, {held}, "
                     f"nothing at exit" + (f", {opened}" if probes else "") +
                     (", the opening write took E0 to rest alone" if opening else ""))
    if any(s[0] == "r" for s in steps):
        found, note = read_moments(steps, changes, reads, wiring, lost is not None)
        problems += found
        notes.append(note)
    return problems, notes
