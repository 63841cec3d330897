"""Judges `lcdtest --detect` on the I2C boot's adapter (guest.sh's second list
of expanders): what it printed, line for line, and from the kernel's trace
what it sent where, and from the models what it left behind.

The adapter carries, besides the q35 machine's own i801 bus with nothing at
the expanders' addresses:
  0x20  MCP23008, the backpack's wiring with RW on GP0 (found by search)
  0x24  PCF8574 with every pin loaded low, as on a relay board (no module)
  0x27  PCF8574, the common backpack's wiring
  0x3F  PCF8574A, D4..D7 on P0..P3 and the backlight on P7 lit by a low pin
"""

import os

import linetrace
import modelstate

# What it prints, @i2c@ standing for the adapter's node.
STDOUT = [
    "0x378=mcp23008:@i2c@@0x20:RS=GP1,RW=GP0,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7 "
    "(a wiring found by search, backlight active high; proven: read back 14 of 14 bytes)",
    "0x278=pcf8574:@i2c@@0x27 (common backpack wiring, backlight active high; proven: read back "
    "14 of 14 bytes)",
    "0x3BC=pcf8574:@i2c@@0x3F:RS=P4,RW=P5,E0=P6,D4=P0,D5=P1,D6=P2,D7=P3,BL=P7,invert=BL "
    "(a wiring found by search, backlight active low; proven: read back 14 of 14 bytes)",
]
STDERR = [
    "lcdtest: 0x24 on @i2c@: a PCF8574 without a character module (its pins read low when "
    "released, loaded as relays or LEDs load them); left as it was found",
    "lcdtest: 3 modules found (3 proven) on 2 I2C buses",
]

# The expanders' addresses, the only ones detection may send to.
RANGES = (range(0x20, 0x28), range(0x38, 0x40))
LOOK_READS = 44  # receive bytes at an address before anything is written to it
# Each module proven is left greeting, every line at rest: the backlight lit,
# the rest low and, on an MCP, every pin an output and no pull-up on.
GREETED = {0x20: "mcp23008", 0x27: "pcf8574", 0x3F: "pcf8574"}
AT_REST = {
    0x20: {"IODIR": 0x00, "GPPU": 0x00, "OLAT": 0x80},  # BL on GP7, lit by a high pin
    0x27: {"latch": 0x08},  # BL on P3, lit by a high pin
    0x3F: {"latch": 0x00},  # BL on P7, lit by a low pin
}
NO_MODULE = 0x24
BLANK = 0x20


def expander_reads(reads):
    """Whether 44 receive bytes read as an expander answers them: the same
    byte each time (a PCF8574's pins), or a walk of an MCP's 11 or 22
    registers over and over."""
    if len(reads) < LOOK_READS:
        return False
    if len(set(reads)) == 1:
        return True
    return any(all(reads[i] == reads[i - p] for i in range(p, len(reads))) for p in (11, 22))


def devices(text):
    """The model's blocks by address: {"kind", "latch", "IODIR", ..., "text"}."""
    blocks, current = {}, None
    for line in text.splitlines():
        word, _, rest = line.partition(" ")
        if word == "device":
            kind, _, address = rest.split()[0].partition("@")
            current = blocks.setdefault(int(address, 16), {"kind": kind, "text": ""})
        if current is None:
            continue
        current["text"] += line + "\n"
        if word == "latch":
            current["latch"] = int(rest.split()[0], 16)
        elif word == "port":
            fields = rest.split()
            current.update({fields[i]: int(fields[i + 1], 16) for i in range(1, len(fields) - 1, 2)})
        elif word == "module":
            current["module"] = rest
    return blocks


def judge_trace(transfers, bus):
    """Problems and the per-address figures from the kernel's transfers."""
    problems, by_address = [], {}
    for x in transfers:
        by_address.setdefault((x["bus"], x["address"]), []).append(x)
        if not any(x["address"] in r for r in RANGES):
            problems.append(f"a transfer to 0x{x['address']:02X} on i2c-{x['bus']}, outside the "
                            "expanders' addresses")
        if x["protocol"] == "I2C":
            problems.append(f"a plain I2C message to 0x{x['address']:02X} on i2c-{x['bus']}")
    buses = sorted({b for b, _ in by_address} | {bus})
    expanders = set()
    for (b, address), xs in sorted(by_address.items()):
        looks = xs[:LOOK_READS]
        reads = [x["data"] for x in looks if not x["write"] and x["protocol"] == "BYTE" and x["result"] >= 0]
        if len(reads) == LOOK_READS and expander_reads(reads):
            expanders.add((b, address))
            continue
        # Nothing there (or nothing this tool knows): one receive byte, no write.
        writes = [x for x in xs if x["write"]]
        if writes:
            problems.append(f"{len(writes)} writes to 0x{address:02X} on i2c-{b}, which did not answer as "
                            "an expander")
        if len(xs) != 1 or xs[0]["write"] or xs[0]["protocol"] != "BYTE" or xs[0]["result"] >= 0:
            problems.append(f"0x{address:02X} on i2c-{b}: {len(xs)} transfers where one failed receive "
                            "byte was due")
    for b in buses:
        missed = [a for r in RANGES for a in r if (b, a) not in by_address]
        if missed:
            problems.append(f"i2c-{b}: no look at {', '.join(f'0x{a:02X}' for a in missed)}")
    wanted = {(bus, a) for a in list(GREETED) + [NO_MODULE]}
    if expanders != wanted:
        problems.append("answered as expanders: " + ", ".join(f"0x{a:02X} on i2c-{b}" for b, a in sorted(expanders)))
    # The expander without a module, its pins read low: the look, then the
    # kind check alone (the pins released, read, and put back as found).
    xs = by_address.get((bus, NO_MODULE), [])
    got = [("send" if x["write"] else "receive", x["command"] if x["write"] else x["data"])
           for x in xs if x["protocol"] == "BYTE" and x["result"] >= 0]
    due = [("receive", 0x00)] * LOOK_READS + [("send", 0xFF), ("receive", 0x00), ("send", 0x00)]
    if len(got) != len(xs) or got != due:
        problems.append(f"0x{NO_MODULE:02X}: {len(xs)} transfers ({got[LOOK_READS - 1:][:6]}...), not the "
                        f"look's {LOOK_READS} receive bytes of 0x00, a send byte of 0xFF, a receive byte "
                        "of 0x00 and a send byte of 0x00")
    figures = []
    for (b, address), xs in sorted(by_address.items()):
        if (b, address) in expanders:
            figures.append(f"0x{address:02X} {len(xs)} transfers in {(xs[-1]['end'] - xs[0]['start']) / 1e6:.2f} s")
    others = sum(len(xs) for key, xs in by_address.items() if key not in expanders)
    figures.append(f"{others} receive bytes at the {len(by_address) - len(expanders)} other addresses of "
                   f"{len(buses)} buses")
    whole = (transfers[-1]["end"] - transfers[0]["start"]) / 1e6 if transfers else 0
    return problems, figures, whole, len(transfers)


def judge_models(text):
    """Problems and notes from what the models hold after detection."""
    problems, notes = [], []
    blocks = devices(text)
    for address, kind in GREETED.items():
        block = blocks.get(address)
        if block is None or block["kind"] != kind:
            problems.append(f"no {kind} at 0x{address:02X} in the model's state")
            continue
        held = {k: v for k, v in block.items() if k in AT_REST[address]}
        if held != AT_REST[address]:
            problems.append(f"0x{address:02X} left with {held}, at rest is {AT_REST[address]}")
        state = modelstate.parse(block["text"], address)
        c = state["E0"] if state else None
        if not c or c["bus"] != 4 or c["lines"] != 2:
            problems.append(f"0x{address:02X}: the module is not on the 4-bit bus with 2 lines")
            continue
        greeting = f"found at 0x{address:02X}".encode()
        wanted = {a: BLANK for a in list(range(0x28)) + list(range(0x40, 0x68))}
        wanted.update({i: b for i, b in enumerate(greeting)})
        if c["ddram"] != wanted:
            problems.append(f"0x{address:02X}: DDRAM does not hold the greeting alone: "
                            f"{bytes(c['ddram'].get(a, 0) for a in range(0x28))!r}")
        notes.append(f"0x{address:02X} greets, {c['breaches']} bus-rule breaches ({c['kinds']})")
    block = blocks.get(NO_MODULE)
    if block is None or block.get("module") != "none" or block.get("latch") != 0x00:
        problems.append(f"0x{NO_MODULE:02X} is not the relay board left as found (pins low): "
                        f"{(block or {}).get('text', '').strip()!r}")
    return problems, notes


def judge_rules(case, out):
    """Detection on freshly powered backpacks again, judged on the module whose
    wiring is known and tried first (0x27): bringing it up breaks no bus rule.
    A search may: it cannot know which pin is E until the module answers."""
    name = case[0]
    path = os.path.join(out, name + ".status")
    status = open(path).read().strip() if os.path.exists(path) else "missing"
    problems = [] if status == "0" else [f"exit status {status}"]
    path = os.path.join(out, name + ".model")
    block = devices(open(path).read() if os.path.exists(path) else "").get(0x27)
    state = modelstate.parse(block["text"], 0x27) if block else None
    if not state:
        return problems + ["no module at 0x27 in the model's state"], []
    c = state["E0"]
    if c["breaches"]:
        problems.append(f"the module at 0x27 (its wiring known) counted {c['breaches']} bus-rule "
                        f"breaches ({c['kinds']}); last: {c['last']}")
    return problems, ["the module at 0x27, brought up on its known wiring from power-on, broke no bus rule"]


def judge(case, out):
    name = case[0]

    def read(suffix):
        path = os.path.join(out, name + suffix)
        return open(path, errors="replace").read() if os.path.exists(path) else None

    path = os.path.join(out, "i2cbus")
    bus = open(path).read().strip() if os.path.exists(path) else "?"
    problems = []
    status = (read(".status") or "missing").strip()
    if status != "0":
        problems.append(f"exit status {status}")
    stdout, stderr = (read(".out") or "").splitlines(), (read(".err") or "").splitlines()
    want_out = [line.replace("@i2c@", bus) for line in STDOUT]
    want_err = [line.replace("@i2c@", bus) for line in STDERR]
    if stdout != want_out:
        problems.append(f"standard output {stdout!r}, expected {want_out!r}")
    if stderr != want_err:
        problems.append(f"standard error {stderr!r}, expected {want_err!r}")
    transfers = linetrace.i2c_transfers(read(".events") or "")
    found, figures, whole, count = judge_trace(transfers, int(bus.rsplit("-", 1)[-1]) if "-" in bus else -1)
    problems += found
    found, notes = judge_models(read(".model") or "")
    problems += found
    return problems[:4], [f"the lines printed as expected, status 0; {count} transfers in {whole:.1f} s: "
                          + ", ".join(figures) + "; nothing outside 0x20..0x27 and 0x38..0x3F, no write "
                          "where no expander answered, the relay board's kind check alone; "
                          + "; ".join(notes) + ", every line at rest"]
