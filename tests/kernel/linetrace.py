"""Judges a run over a GPIO chip or a PCF8574 backpack: the tool's --trace (the
parallel-port registers it would have written) turned into line levels through
the case's --port-map wiring, against the kernel's own trace of the lines
(gpio_value / gpio_direction events) or of the SMBus bytes (smbus_* events),
with CLOCK_MONOTONIC stamps. compare.py calls judge_lines for such cases."""

import re

from facts import DATA, DATA_INPUT, ENABLES, PCF8574_PINS, SETUP_US
import facts

STAMP = r"\s(\d+)\.(\d+): "
GPIO_VALUE = re.compile(STAMP + r"gpio_value: (\d+) (get|set) (\d)")
GPIO_DIRECTION = re.compile(STAMP + r"gpio_direction: (\d+)\s+(in|out) \((-?\d+)\)")
SMBUS = re.compile(STAMP + r"smbus_(write|read|reply|result): i2c-(\d+) a=([0-9a-f]+) f=\w+ "
                   r"c=([0-9a-f]+) BYTE(?: l=1 \[([0-9a-f]+)\]| (?:wr|rd) res=(-?\d+))?")


class Wiring:
    """One --port-map entry that goes to a GPIO chip or an I2C backpack."""

    def __init__(self, kind, device, pins, invert=(), address=None, backlight=None, reads_safe=False):
        self.kind, self.device, self.pins = kind, device, pins  # pins: line -> offset or Pn
        self.invert, self.address, self.backlight = set(invert), address, backlight
        self.reads_safe = reads_safe
        self.line_of = {pin: line for line, pin in pins.items()}


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
        if target.startswith("/dev/gpiochip"):
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
        if target.startswith("/dev/i2c-"):
            device, _, rest = target.partition("@")
            address, *items = re.split("[:,]", rest)
            pins, backlight = {}, 1
            for item in items:
                key, _, val = item.partition("=")
                if key == "backlight":
                    backlight = 1 if val == "on" else 0
                else:
                    pins[key] = int(val.lstrip("Pp"))
            pins = pins or dict(PCF8574_PINS)
            return Wiring("i2c", device, pins, address=int(address, 16),
                          backlight=backlight if "BL" in pins else None)
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
    level it last drove (GPIO), or is written high (a PCF8574's pins are
    quasi-bidirectional); lines the tool has not set yet are left out."""
    wanted, out = {}, []
    if wiring.backlight is not None:
        wanted["BL"] = ("out", wiring.backlight)
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
                else:
                    wanted[line] = ("out", 1)
            else:
                wanted[line] = ("out", pin)
        out.append(("w", dict(wanted), data_input))
    return out


def kernel_events(text, wiring, gpio_base):
    """The kernel's trace as ("v", line, level, us), ("d", line, dir, us),
    ("r", {line: level}, us); a PCF8574 byte becomes one "v" per pin with the
    same stamp. Also a list of problems (lines outside the wiring, failed
    transfers)."""
    events, problems, reading, pending = [], [], None, None
    for raw in text.splitlines():
        if wiring.kind == "gpio":
            m = GPIO_VALUE.search(raw) or GPIO_DIRECTION.search(raw)
            if not m:
                continue
            sec, frac, gpio, what, value = m.groups()
            us = int(sec) * 1_000_000 + int(frac.ljust(6, "0")[:6])
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
            continue
        m = SMBUS.search(raw)
        if not m:
            continue
        sec, frac, kind, bus, address, command, reply, result = m.groups()
        us = int(sec) * 1_000_000 + int(frac.ljust(6, "0")[:6])
        if f"/dev/i2c-{bus}" != wiring.device or int(address, 16) != wiring.address:
            problems.append(f"SMBus {kind} on i2c-{bus} at 0x{address}, not the wiring's")
        elif kind == "write":
            pending = [(ln, (int(command, 16) >> pin) & 1) for pin, ln in wiring.line_of.items()]
        elif kind == "read":
            pending = []
        elif kind == "reply" and reply is not None:
            events.append(("r", {ln: (int(reply, 16) >> pin) & 1 for pin, ln in wiring.line_of.items()
                                 if ln in DATA}, us))
        elif kind == "result" and pending is not None:
            # Only a transfer the device acknowledged moved its pins.
            if int(result) >= 0:
                events += [("v", ln, level, us) for ln, level in pending]
            pending = None
    return events, problems


def initial_state(wiring):
    """A chip's lines start as inputs; a PCF8574's pins at levels not yet seen."""
    first = "in" if wiring.kind == "gpio" else "out"
    return {line: [first, None] for line in wiring.pins}


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


def match(wanted, events, wiring):
    """Walks the kernel's events through the tool's steps: each step's events
    may move only the lines that step changes, toward what it wants. Returns
    problems and the changes as (us, line, dialog level, step) plus the reads
    as (us, {line: level}, the tool's value, step)."""
    state = initial_state(wiring)
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
    """Each read with the data lines turned around (inputs on GPIO, pins high
    on a PCF8574), RW high and an enable high for the set-up time, and the
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
            turned = all(direction.get(d) == "in" for d in data) if wiring.kind == "gpio" else \
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
    if wiring.kind == "gpio":
        at_rest = at_rest and all(direction.get(d) == "out" for d in data)
    if not reads or not (at_rest or lost):
        problems.append(f"{len(reads)} reads, ending {'at' if at_rest else 'not at'} rest")
    return problems[:3], (f"reads: {len(reads)}, each with the data lines turned around, RW and the "
                          f"enable high >= 1 ms, as the kernel read them; {turns // 2} "
                          f"turn-around{'s' if turns // 2 != 1 else ''} with RW and the enables low, "
                          "no other line moved; " + ("the device gone mid-read" if lost else "ends at rest"))


def opening_write(events, wiring):
    """How many leading events are a backpack's opening write: one send byte
    (its pins share a stamp) with E0 low and every other pin released high,
    which takes E0 to rest alone where the expander powered up with it high."""
    if wiring.kind != "i2c" or not events or events[0][0] != "v":
        return 0
    stamp = events[0][3]
    pins = [e for e in events if e[0] == "v" and e[3] == stamp]
    wanted = {line: 0 if line == "E0" else 1 for line in wiring.pins}
    if len(pins) != len(wiring.pins) or {e[1]: e[2] for e in pins} != wanted:
        return 0
    return len(pins)


def judge_lines(wiring, trace_lines, base, kernel_text, gpio_base):
    """Problems and notes for a run that reached the wiring."""
    steps, lost = tool_steps(trace_lines, base)
    events, problems = kernel_events(kernel_text, wiring, gpio_base)
    # Reads before any line moved: the tool asking whether a device answers.
    probes = next((i for i, e in enumerate(events) if e[0] != "r"), len(events))
    opening = opening_write(events[probes:], wiring)
    found, changes, reads = match(targets(steps, wiring), events[probes + opening:], wiring)
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
        notes.append(f"{writes} writes, {len(changes)} line changes matched, {held}, "
                     f"nothing at exit" + (f", {probes} read at open" if probes else "") +
                     (", the opening write took E0 to rest alone" if opening else ""))
    if any(s[0] == "r" for s in steps):
        found, note = read_moments(steps, changes, reads, wiring, lost is not None)
        problems += found
        notes.append(note)
    return problems, notes
