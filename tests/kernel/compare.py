#!/usr/bin/env python3
"""Judges the cases guest.sh ran: the tool's --trace against qemu's log of the
port's registers, or for a Port list entry mapped to a GPIO chip or an I2C bus
against the kernel's trace of the case (linetrace.py). Usage: compare.py
OUT_DIR BOOT...; one line per case, then "N passed, M failed"; exit status 1
when any case failed."""

import os
import re
import sys

sys.dont_write_bytecode = True  # no cache beside the sources
import linetrace  # noqa: E402

CONTROL = 2  # register offsets from the port's base
DATA = 0
SETUP_US = 1000  # what the tool requests before an enable edge, and as the pulse
# Bits 0-3 of the control register drive pins 1, 14, 16 and 17, and bit 5 turns
# the data lines around. With an IRQ the kernel adds bit 4 (interrupt enable)
# from its own copy to every PPWCONTROL, so control writes are compared on bits
# 0-3 and 5 only; data writes and reads on all eight.
MASK = {DATA: 0xFF, CONTROL: 0x2F}
DATA_INPUT = 0x20
# The tool's line flags are the control register XOR 0x03: E0 bit 0, RW bit 1, E1 bit 3.
FLIPPED, E0, RW, E1 = 0x03, 0x01, 0x02, 0x08
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
    problems, control, data, rose, reads = [], FLIPPED, None, 0, 0

    def pins(byte):
        lines = (byte ^ FLIPPED) & (E0 | RW | E1)
        return lines ^ E1 if e1_inverted else lines

    for kind, offset, value, stamp in events:
        lines = pins(control)
        if kind == "r":
            reads += 1
            if not (control & DATA_INPUT and lines & RW and lines & (E0 | E1)) \
                    or stamp - rose < SETUP_US:
                problems.append(f"read {reads} with control 0x{control:02X}, "
                                f"{(stamp - rose) / 1000:.2f} ms after the enable rose")
        elif offset == DATA:
            data = value
        else:
            now = pins(value)
            if now & ~lines & (E0 | E1):
                rose = stamp
            drove, drives = lines & RW and lines & (E0 | E1), now & RW and now & (E0 | E1)
            if (drives and not value & DATA_INPUT) or \
                    ((value ^ control) & DATA_INPUT and (drove or drives)):
                problems.append(f"control 0x{control:02X} then 0x{value:02X}: "
                                "bit 5 and a driving controller out of order")
            control = value
    if not reads or control & MASK[CONTROL] != FLIPPED or data != 0:
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
    """Enable pulses (line, microseconds) and data set-ups before a rising
    enable edge (microseconds), from qemu's host-time stamps, at the module's
    pins: E1 straight to pin 17 is the inverse of the tool's flag."""
    pulses, setups = [], []
    last_data, rise = None, {}
    flags = None
    for kind, offset, value, stamp in events:
        if kind == "r":
            continue
        if offset == DATA:
            last_data = stamp
            continue
        # The lines count from the tool's first rest on: what the kernel's claim
        # left before it is no pulse of the tool's.
        if flags is None and value & 0x0F != FLIPPED:
            continue
        # The tool writes its flags XOR 0x03: E0 is bit 0 inverted, E1 bit 3.
        now = {"E0": (value & 1) ^ 1, "E1": ((value >> 3) & 1) ^ int(e1_inverted)}
        if flags is not None:
            for line in ("E0", "E1"):
                # A set-up counts once its pulse ends: the straight E1 rises at
                # the final rest and stays up, which clocks nothing.
                if now[line] and not flags[line]:
                    rise[line] = (stamp, None if last_data is None else stamp - last_data)
                elif flags[line] and not now[line] and line in rise:
                    began, setup = rise.pop(line)
                    pulses.append((line, stamp - began))
                    if setup is not None:
                        setups.append(setup)
        flags = now
    return pulses, setups


def judge(case, out, segment, references):
    name, user, args, size, port, init, reaches, message = case
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
        chip = open(os.path.join(out, "gpiochip")).read().split() \
            if os.path.exists(os.path.join(out, "gpiochip")) else ["-", "0"]
    if wiring and reaches == "port":
        if not kernel:
            return problems + ["no kernel trace"], notes
        found, more = linetrace.judge_lines(wiring, open(os.path.join(out, name + ".trace")),
                                            base, kernel, int(chip[1]))
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
            pulses, setups = timing(matched, "--e1-wiring=inverter" not in args)
            lengths = [us for _, us in pulses]
            short = [us for us in lengths + setups if us < SETUP_US]
            if not pulses or short:
                problems.append(f"{len(short)} pulses or set-ups under 1 ms")
            else:
                counts = ", ".join(f"{sum(1 for n, _ in pulses if n == line)} on {line}"
                                   for line in ("E0", "E1") if any(n == line for n, _ in pulses))
                notes.append(f"{len(matched)} writes matched, {claims} claim writes removed, "
                             f"enable pulses ({counts}) >= {min(lengths) / 1000:.2f} ms, "
                             f"data set-up >= {min(setups) / 1000:.2f} ms, nothing at exit")
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
