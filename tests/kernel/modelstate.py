"""Judges what the module model behind the GPIO chip or an I2C expander holds
after a case (the NAME.model file guest.sh copies from debugfs) against what
the tool's --trace says the run sent. The expected memories come from this
file's own decoding of the trace: the tool's line levels replayed into a
controller's write side (bus width, nibble pairing, address counter, DDRAM
map, clear), a test oracle written apart from the C model it checks."""

import facts

BLANK = 0x20  # what clear display (and the model's power-on) leaves in DDRAM


def parse(text, address=None):
    """The state of the module behind `address` (an I2C expander) or the only
    one (the GPIO chip): {"wiring": ..., "fault": ..., "E0": {...}, ...}, or
    None when no module hangs there. Each controller: bus (4 or 8), lines,
    breaches (total), last, ddram {address: byte}, cgram [64 bytes]."""
    blocks, current = {}, None
    for line in text.splitlines():
        word, _, rest = line.partition(" ")
        if word == "device":
            where = rest.split()[0].split("@")[1]
            current = blocks.setdefault(int(where, 16), {"device": rest})
            continue
        if current is None:
            current = blocks.setdefault(None, {})
        if word in ("E0", "E1"):
            state = current.setdefault(word, {"ddram": {}})
            what, _, value = rest.partition(" ")
            if what == "bus":
                fields = value.split(", ")
                state["bus"] = int(fields[0].split("-")[0])
                state["lines"] = int(fields[1].split()[0])
            elif what == "breaches":
                state["breaches"] = int(value.split(":")[0])
                state["kinds"] = value.split(":", 1)[1].strip()
            elif what == "last":
                state["last"] = value
            elif what in ("ddram", "cgram"):
                start, *data = value.split()
                data = [int(b, 16) for b in data]
                if what == "cgram":
                    state["cgram"] = data
                else:
                    state["ddram"].update({int(start, 16) + i: b for i, b in enumerate(data)})
        else:
            current[word] = rest
    block = blocks.get(address if address is not None else None)
    if block is None or block.get("wiring") == "-" or "controllers" not in block:
        return None
    return block


class Controller:
    """The write side of one controller, as the oracle replays it."""

    def __init__(self):
        self.eight_bit, self.two_lines, self.increment = True, False, True
        self.low_due, self.high, self.ac, self.cgram_selected = False, 0, 0, False
        self.ddram = {a: BLANK for a in range(80)}
        self.cgram = [0] * 64

    def cells(self):
        """The DDRAM addresses with a cell, in the order of the cells."""
        return list(range(0x28)) + list(range(0x40, 0x68)) if self.two_lines else list(range(0x50))

    def step(self, up):
        d = 1 if up else -1
        if self.cgram_selected:
            self.ac = (self.ac + d) & 0x3F
        elif self.ac in self.cells():
            cells = self.cells()
            self.ac = cells[(cells.index(self.ac) + d) % len(cells)]
        else:
            self.ac = (self.ac + d) & 0x7F

    def instruction(self, op):
        if op & 0x80:
            self.cgram_selected, self.ac = False, op & 0x7F
        elif op & 0x40:
            self.cgram_selected, self.ac = True, op & 0x3F
        elif op & 0x20:
            if self.two_lines != bool(op & 0x08):
                # The same cells under the other address map.
                held = [self.ddram[a] for a in self.cells()]
                self.two_lines = bool(op & 0x08)
                self.ddram = dict(zip(self.cells(), held))
            self.eight_bit = bool(op & 0x10)
        elif op & 0x10:
            if not op & 0x08:  # a cursor move, not a display shift
                self.step(op & 0x04)
        elif op & 0x08:
            pass  # display control: nothing the memories keep
        elif op & 0x04:
            self.increment = bool(op & 0x02)
        elif op & 0x02:
            self.cgram_selected, self.ac = False, 0
        elif op & 0x01:
            self.ddram = {a: BLANK for a in self.cells()}
            self.cgram_selected, self.ac, self.increment = False, 0, True

    def latch(self, rs, rw, bus):
        """One falling edge of the enable: a write, or a read, which only pairs
        nibbles and, for data, steps the address counter."""
        if not self.eight_bit:
            self.low_due = not self.low_due
            if self.low_due:
                self.high = bus & 0xF0
                return
            bus = self.high | bus >> 4
        if rw:
            if rs:
                self.step(self.increment)
        elif not rs:
            self.instruction(bus)
        else:
            if self.cgram_selected:
                self.cgram[self.ac & 0x3F] = bus
            elif self.ac in self.ddram:
                self.ddram[self.ac] = bus
            self.step(self.increment)


def replay(steps, wiring):
    """The controllers after the tool's steps (linetrace.tool_steps): every
    falling enable edge latched with the module's lines as the wiring leaves
    them (data lines not driven or not wired at the pull-ups, an unwired RW at
    ground)."""
    controllers, before = [Controller(), Controller()], None
    for step in steps:
        if step[0] != "w":
            continue
        levels, data_input = step[1], step[2]
        lines = {}
        for name in facts.DATA + ["RS", "RW"] + list(facts.ENABLES):
            if name in facts.DATA and (name not in wiring.pins or data_input):
                lines[name] = 1
            else:
                lines[name] = levels.get(name, 0) if name in wiring.pins else 0
        if before is not None:
            for n, enable in enumerate(facts.ENABLES):
                if before[enable] and not lines[enable]:
                    bus = sum(lines[d] << i for i, d in enumerate(facts.DATA))
                    controllers[n].latch(lines["RS"], lines["RW"], bus)
        before = lines
    return controllers


def judge(state, steps, wiring, memory=True):
    """Problems and a note: no breach of the bus rules, and (with `memory`)
    each controller's bus width, DDRAM and CGRAM exactly as the run sent them."""
    problems = []
    count = int(state["controllers"])
    for n in range(count):
        c = state[f"E{n}"]
        if c["breaches"]:
            problems.append(f"E{n} counted {c['breaches']} bus-rule breaches ({c['kinds']}); last: {c['last']}")
    if not memory:
        return problems, f"{count} controller{'s' if count > 1 else ''}, no bus rule broken"
    sent, held = replay(steps, wiring), []
    for n in range(count):
        c, want = state[f"E{n}"], sent[n]
        name = f"E{n}"
        if c["bus"] != (8 if want.eight_bit else 4) or c["lines"] != (2 if want.two_lines else 1):
            problems.append(f"{name} is on a {c['bus']}-bit bus with {c['lines']} lines, "
                            f"the run set {8 if want.eight_bit else 4}-bit with "
                            f"{2 if want.two_lines else 1}")
            continue
        for area, got, expected in (("DDRAM", c["ddram"], want.ddram),
                                    ("CGRAM", dict(enumerate(c["cgram"])), dict(enumerate(want.cgram)))):
            if got != expected:
                wrong = [a for a in sorted(expected) if got.get(a) != expected[a]]
                first = wrong[0] if wrong else min(set(got) ^ set(expected))
                def byte(value):
                    return "nothing" if value is None else f"0x{value:02X}"
                problems.append(f"{name} {area} differs at {len(wrong)} addresses, first 0x{first:02X}: "
                                f"holds {byte(got.get(first))}, the run sent {byte(expected.get(first))}")
        written = sum(1 for a, b in want.ddram.items() if b != BLANK)
        glyphs = sum(1 for b in want.cgram if b)
        held.append(f"{name} {c['bus']}-bit, {written} DDRAM cells and {glyphs} CGRAM bytes not blank")
    return problems, ("memories as sent (" + "; ".join(held) + "), no bus rule broken")
