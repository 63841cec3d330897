#!/usr/bin/env python3
"""Judges the cases guest.sh ran: the tool's --trace against qemu's log of the
port's registers, or for a Port list entry mapped to a GPIO chip or an I2C bus
against the kernel's trace of the case (linetrace.py) and what the module model
behind it holds afterwards (modelstate.py); a Verify through the model must say
what the simulated module says of the same run with the same fault
($LCDTEST_BIN --port-io=sim). Detection (--detect) is judged by detection.py. Usage: compare.py OUT_DIR BOOT...; one line per
case, then "N passed, M failed"; exit status 1 when any case failed."""

import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True  # no cache beside the sources
import detection  # noqa: E402
import facts  # noqa: E402
import linetrace  # noqa: E402
import modelstate  # noqa: E402

from facts import CONTROL_REGISTER as CONTROL, DATA_REGISTER as DATA, DATA_INPUT, SETUP_US  # noqa: E402

# With an IRQ the kernel adds bit 4 (interrupt enable) from its own copy to
# every PPWCONTROL, so control writes are compared on bits 0-3 and 5 only; data
# writes and reads on all eight.
MASK = {DATA: 0xFF, CONTROL: 0x2F}
# PPCLAIM restores the kernel's saved control value (0x0C, or 0x1C with an IRQ)
# twice before the tool's first write through ppdev.
CLAIM_WRITES = 2
CLAIM_CONTROL = 0x0C

LOG_LINE = re.compile(
    r"@(\d+)\.(\d+):parallel_ioport_(read|write) \w+ \[\w+\] addr 0x([0-9a-f]+) val 0x([0-9a-f]+)")
MARK_OFFSET = 7  # guest.sh reads it before and after each case


def read_log(path):
    """Port events of qemu's log as (kind, offset, value, microseconds), kind
    'r' or 'w', cut into one list per case by the marker reads."""
    segments, current = [], None
    with open(path) as log:
        for line in log:
            m = LOG_LINE.search(line)
            if not m:
                continue
            sec, frac, kind, offset, value = m.groups()
            stamp = int(sec) * 1_000_000 + int(frac.ljust(6, "0")[:6])
            event = (kind[0], int(offset, 16), int(value, 16), stamp)
            if kind == "read" and event[1] == MARK_OFFSET:
                if current is None:
                    current = []
                else:
                    segments.append(current)
                    current = None
            elif current is not None:
                current.append(event)
    return segments


def read_trace(path, base):
    """The tool's writes and reads of the port at `base` as (kind, offset,
    value), kind 'w' or 'r', and all its writes as (address, value) for
    comparing runs with each other."""
    mine, every = [], []
    if not os.path.exists(path):
        return None, None
    with open(path) as trace:
        for line in trace:
            fields = line.split()
            if len(fields) < 3 or fields[2] == "lost":  # where the port went away
                continue
            address, value = int(fields[1], 16), int(fields[2], 16)
            kind = "r" if fields[3:] == ["read"] else "w"
            if kind == "w":
                every.append((address, value))
            if address - base in MASK:
                mine.append((kind, address - base, value))
    return mine, every


def same(a, b):
    return a[0] == b[0] and a[1] == b[1] and (a[2] & MASK[a[1]]) == (b[2] & MASK[b[1]])


def with_direction_writes(tool):
    """The tool's events as ppdev puts them on the port: a change of bit 5 goes
    by PPDATADIR, which first writes the kernel's copy of the control register
    (the tool's last value) with only bit 5 changed."""
    events, last = [], None
    for event in tool:
        if event[1] == CONTROL:
            if last is not None and (event[2] ^ last) & DATA_INPUT:
                events.append(("w", CONTROL, last ^ DATA_INPUT))
            last = event[2]
        events.append(event)
    return events


def read_moments(events, e1_inverted=True):
    """Problems with a read-back in the port's events, and a note, judged at the
    module's pins (E1 straight to pin 17 is the inverse of the tool's flag unless
    the cable has an inverter): every data read with bit 5 set and RW and an
    enable high for the set-up time; a controller drives (RW and its enable
    high) only while bit 5 is set, and bit 5 never changes while one drives; at
    the end bit 5 clear and every line at rest."""
    problems, control, data, rose, reads = [], facts.CONTROL_FLIPPED, None, 0, 0

    def drives(lines):
        return lines["RW"] and (lines["E0"] or lines["E1"])

    for kind, offset, value, stamp in events:
        lines = facts.control_lines(control, e1_inverted)
        if kind == "r":
            reads += 1
            if not (control & DATA_INPUT and drives(lines)) or stamp - rose < SETUP_US:
                problems.append(f"read {reads} with control 0x{control:02X}, "
                                f"{(stamp - rose) / 1000:.2f} ms after the enable rose")
        elif offset == DATA:
            data = value
        else:
            now = facts.control_lines(value, e1_inverted)
            if any(now[e] and not lines[e] for e in facts.ENABLES):
                rose = stamp
            if (drives(now) and not value & DATA_INPUT) or \
                    ((value ^ control) & DATA_INPUT and (drives(lines) or drives(now))):
                problems.append(f"control 0x{control:02X} then 0x{value:02X}: "
                                "bit 5 and a driving controller out of order")
            control = value
    if not reads or control & MASK[CONTROL] != facts.CONTROL_FLIPPED or data != 0:
        problems.append(f"{reads} reads, ending with control 0x{control:02X}, data {data}")
    return problems[:3], (f"reads: {reads}, each with bit 5, RW and the enable high at the pins "
                          ">= 1 ms; no controller drives without bit 5; ends at rest, data lines "
                          "outputs")


def compare_events(port, tool, claims, kinds="w"):
    """Problems between the port's events and the tool's, after removing the
    claim's writes at the front; also the port events that matched."""
    writes = [e for e in port if e[0] in kinds]
    removed = 0
    while removed < claims and removed < len(writes) and writes[removed][1] == CONTROL \
            and writes[removed][2] & MASK[CONTROL] == CLAIM_CONTROL:
        removed += 1
    if removed != claims:
        return [f"expected {claims} claim writes of 0x{CLAIM_CONTROL:02X} first, found {removed}"], []
    rest = writes[removed:]
    for i, (p, t) in enumerate(zip(rest, tool)):
        if not same(p, t):
            return [f"write {i}: port got +{p[1]}=0x{p[2]:02X}, tool wrote +{t[1]}=0x{t[2]:02X}"], []
    if len(rest) > len(tool):
        extra = ", ".join(f"+{e[1]}=0x{e[2]:02X}" for e in rest[len(tool):][:4])
        return [f"{len(rest) - len(tool)} writes after the tool's last (at exit?): {extra}"], []
    if len(rest) < len(tool):
        return [f"port got {len(rest)} of the tool's {len(tool)} writes"], []
    return [], rest


def timing(events, e1_inverted=True):
    """Enable pulses and data set-ups (facts.timing) from qemu's host-time
    stamps of the port's writes, at the module's pins. The lines count from the
    tool's first rest on: what the kernel's claim left before it is no pulse of
    the tool's."""
    changes, before = [], None
    for kind, offset, value, stamp in events:
        if kind == "r":
            continue
        if offset == DATA:
            changes += [(stamp, d, (value >> i) & 1) for i, d in enumerate(facts.DATA)]
            continue
        if before is None and value & 0x0F != facts.CONTROL_FLIPPED:
            continue
        lines = facts.control_lines(value, e1_inverted)
        if before is not None:
            changes += [(stamp, e, lines[e]) for e in facts.ENABLES if lines[e] != before[e]]
        before = lines
    return facts.timing(changes)


def result_lines(text):
    """Verify's result line and the differences it lists."""
    return [line for line in text.splitlines()
            if line.startswith(("PASS:", "FAIL:", "ERROR:", "lcdtest: E0 ", "lcdtest: E1 "))]


def as_simulated(args, fault, output):
    """Problems when a Verify through the kernel said other than the simulated
    module says of the same run with the model's fault (--sim-fault)."""
    tool = os.environ.get("LCDTEST_BIN")
    if not tool:
        return ["LCDTEST_BIN is not set: no simulated run to hold Verify's result against"]
    run = subprocess.run([tool, *args.split(), "--port-io=sim", "--sim-fault", fault],
                         capture_output=True, text=True, timeout=300)
    got, want = result_lines(output), result_lines(run.stderr + run.stdout)
    if got != want:
        return [f"Verify through the kernel gave {got[-1:] or got}, the simulated module with "
                f"--sim-fault {fault} {want[-1:] or want}"
                + (" (the listed differences too)" if got[-1:] == want[-1:] else "")]
    return []


def judge_model(name, args, out, wiring, base, reached, output):
    """Problems and notes from the module model behind the wiring after the case."""
    path = os.path.join(out, name + ".model")
    if not os.path.exists(path):
        return ["no state of the module model"], []
    state = modelstate.parse(open(path).read(), wiring.address)
    if state is None:
        return [], ["no module behind the chip" if wiring.kind == "gpio"
                    else f"no device at 0x{wiring.address:02X}"]
    steps, lost = linetrace.tool_steps(open(os.path.join(out, name + ".trace")), base)
    fault = state["fault"]
    memory = reached and not lost and fault == "none"
    problems, note = modelstate.judge(state, steps, wiring, memory)
    notes = [f"model: {note}" + ("" if fault == "none" else f", {fault} held at the module")]
    if "--verify" in args and reached and not lost:
        found = as_simulated(args, fault, output)
        problems += found
        if not found:
            notes.append(f"Verify as on the simulated module with --sim-fault {fault}")
    return problems, notes


def judge_lost(message, output, trace_path):
    """A device gone in the middle of a scripted Verify: told once, then only
    the result line; the trace has no read after its lost line."""
    told = message.removeprefix("ERROR: ")
    lines = output.splitlines()
    at = [i for i, line in enumerate(lines) if line == "lcdtest: " + told]
    if len(at) != 1:
        return [f"the loss told {len(at)} times"], []
    if lines[at[0] + 1:] != [message]:
        return [f"after the loss the tool said {lines[at[0] + 1:]!r}"], []
    trace = open(trace_path).read().split(" lost ", 1)
    if len(trace) != 2:
        return ["no lost line in the trace"], []
    if any(line.endswith(" read") for line in trace[1].splitlines()):
        return ["the tool read after its lost line"], []
    return [], ["told once, then only the result line; no read after the trace's lost line"]


def judge_script(case, out):
    """A guest-side check of its own (expanders.py): its checks all held, and
    the model behind the device holds what it says it sent, with no breach."""
    name, args = case[0], case[2]
    address = int(args.split()[-1], 16)
    status = open(os.path.join(out, name + ".status")).read().strip() \
        if os.path.exists(os.path.join(out, name + ".status")) else "missing"
    output = open(os.path.join(out, name + ".err"), errors="replace").read()
    problems = [line for line in output.splitlines() if line.startswith("FAIL")]
    summary = [line for line in output.splitlines() if line.startswith("checks: ")]
    if status != "0" or not summary:
        problems.append(f"exit status {status}: {output.strip()[-300:]!r}")
    path = os.path.join(out, name + ".model")
    state = modelstate.parse(open(path).read(), address) if os.path.exists(path) else None
    if state is None:
        return problems + [f"no module model at 0x{address:02X}"], []
    for n in range(int(state["controllers"])):
        c = state[f"E{n}"]
        if c["breaches"]:
            problems.append(f"E{n} counted {c['breaches']} bus-rule breaches ({c['kinds']}); last: {c['last']}")
    sent = 0
    for line in output.splitlines():
        if not line.startswith("sent "):
            continue
        _, controller, area, start, *data = line.split()
        data, start = [int(b, 16) for b in data], int(start, 16)
        held = state[controller]["ddram"] if area == "DDRAM" else dict(enumerate(state[controller]["cgram"]))
        if [held.get(start + i) for i in range(len(data))] != data:
            problems.append(f"the model's {controller} {area} at 0x{start:02X} lacks what was sent")
        sent += len(data)
    return problems, [f"{summary[0] if summary else ''}; the model holds the {sent} bytes sent, "
                      "no bus rule broken"]


def judge(case, out, segment, references):
    name, user, args, size, port, init, reaches, message = case
    if user == "script":
        return judge_script(case, out)
    if reaches == "detect":
        return detection.judge(case, out)
    if reaches == "detect-rules":
        return detection.judge_rules(case, out)
    reaches, _, expected = reaches.partition(":")
    problems, notes = [], []
    base = int(port, 16)
    tool, every = read_trace(os.path.join(out, name + ".trace"), base)
    status = open(os.path.join(out, name + ".status")).read().strip() \
        if os.path.exists(os.path.join(out, name + ".status")) else "missing"
    if status != (expected or "0"):
        problems.append(f"exit status {status}")
    if tool is None:
        return problems + ["no trace"], notes
    err = open(os.path.join(out, name + ".err"), errors="replace").read()
    second = name.startswith("second_instance")
    if message != "-":
        where = open(os.path.join(out, name + ".second.err"), errors="replace").read() if second else err
        if message not in where:
            problems.append(f"message missing: {message!r}; got: {where.strip()[-300:]!r}")
    if second:
        state = os.path.join(out, name + ".second.status")
        if not os.path.exists(state):
            problems.append("the second instance did not keep running after its message")
    key = (size, init, port)
    wiring = linetrace.parse_wiring(args, port)
    if wiring:
        kernel = open(os.path.join(out, name + ".events"), errors="replace").read() \
            if os.path.exists(os.path.join(out, name + ".events")) else ""
        # The chip's node and first line number as the case found them.
        chip = open(os.path.join(out, name + ".chip")).read().split() \
            if os.path.exists(os.path.join(out, name + ".chip")) else ["-", "0"]
    if wiring and reaches == "port":
        if not kernel:
            return problems + ["no kernel trace"], notes
        found, more = linetrace.judge_lines(wiring, open(os.path.join(out, name + ".trace")),
                                            base, kernel, int(chip[1]))
        problems += found
        notes += more
        if name.startswith("unplug_verify"):
            found, more = judge_lost(message, err, os.path.join(out, name + ".trace"))
            problems += found
            notes += more
        references.setdefault(key, every)
    elif reaches == "port":
        claims = 0 if "--port-io=raw" in args else CLAIM_WRITES
        reads = any(e[0] == "r" for e in tool)
        found, matched = compare_events(segment, with_direction_writes(tool) if claims else tool,
                                        claims, "rw" if reads else "w")
        problems += found
        if matched:
            problem, held = facts.timing_note(*timing(matched, "--e1-wiring=inverter" not in args))
            if problem:
                problems.append(problem)
            else:
                notes.append(f"{len(matched)} writes matched, {claims} claim writes removed, "
                             f"{held}, nothing at exit")
            if reads:
                found, note = read_moments(matched, "--e1-wiring=inverter" not in args)
                problems += found
                notes.append(note)
        references.setdefault(key, every)
    else:
        if wiring:
            events, _ = linetrace.kernel_events(kernel, wiring, int(chip[1]))
            # Opening the port may take the lines (at rest); nothing may move after.
            taken, found = linetrace.claim(events, wiring)
            problems += found
            moved = linetrace.moved_lines(events, wiring, taken)
            if moved:
                problems.append(f"{moved} line changes reached {wiring.device}")
            elif taken:
                notes.append(f"the request took the {taken // 2} wired lines low and nothing moved after")
        elif [e for e in segment if e[0] == "w"]:
            problems.append(f"{len([e for e in segment if e[0] == 'w'])} writes reached the port")
        reference = references.get(key)
        if "--run" in args:  # a scripted run stops before its first write
            if every:
                problems.append(f"the scripted run wrote {len(every)} times")
            notes.append(f"message shown, exit status {status}, nothing written")
        elif reference is None:
            problems.append("no run of the same size, bus and port to compare the trace with")
        elif every != reference:
            problems.append("the run's writes differ from a run on a working port")
        else:
            reached = f"no line moved on {wiring.device}" if wiring else "no write reached the port"
            notes.append(f"message shown, {reached}, the run's {len(every)} writes as usual")
    if wiring:
        found, more = judge_model(name, args, out, wiring, base, reaches == "port", err)
        problems += found
        notes += more
    return problems, notes


def main():
    out_dir = sys.argv[1]
    boots = sys.argv[2:]
    if not boots:
        sys.exit("usage: compare.py OUT_DIR BOOT...")
    passed = failed = 0
    references = {}
    deferred = []
    for boot in boots:
        out = os.path.join(out_dir, boot)
        rows = [line.rstrip("\n").split("|", 7) for line in open(os.path.join(out, "cases"))] \
            if os.path.exists(os.path.join(out, "cases")) else []
        segments = read_log(os.path.join(out, "qemu.log")) if os.path.exists(os.path.join(out, "qemu.log")) else []
        # A boot without marker reads cut the kernel's own trace per case instead.
        if rows and all(os.path.exists(os.path.join(out, row[0] + ".events")) for row in rows):
            segments = [[] for _ in rows]
        if len(segments) != len(rows) or not rows:
            print(f"FAIL {boot}: {len(rows)} cases run, {len(segments)} marked in qemu's log "
                  f"(see {out}/guest.log)")
            failed += 1
        for row, segment in zip(rows, segments):
            # Runs that reach no port are judged against a run that does, so last.
            if row[6].startswith("none"):
                deferred.append((boot, row, out, segment))
                continue
            problems, notes = judge(row, out, segment, references)
            passed, failed = report(boot, row[0], problems, notes, passed, failed)
    for boot, row, out, segment in deferred:
        problems, notes = judge(row, out, segment, references)
        passed, failed = report(boot, row[0], problems, notes, passed, failed)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


def report(boot, name, problems, notes, passed, failed):
    if problems:
        print(f"FAIL {boot}/{name}: " + "; ".join(problems))
        return passed, failed + 1
    print(f"PASS {boot}/{name}: " + "; ".join(notes))
    return passed + 1, failed


if __name__ == "__main__":
    sys.exit(main())
