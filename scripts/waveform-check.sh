#!/usr/bin/env bash
# Checks that a real logic-analyser decoder (sigrok-cli) reads the tool's waveform
# file: a scripted 16x2 run on the simulated module writes a trace and a VCD, and
# the bytes the decoder finds on E0's falling edges must be the bytes the trace
# shows on the data lines at those edges. Used by CI; needs a build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
env -u DISPLAY ./build/lcdtest --run 16x2:8 --port-io=sim --no-window \
    --trace "$work/run.txt" --vcd "$work/run.vcd" >/dev/null 2>&1
lines=""
for bit in 0 1 2 3 4 5 6 7; do lines+=":d$bit=D$bit"; done
# Some builds of the decoder library crash while Python shuts down, after all
# output is out, so its exit status is not used; an empty output fails below.
{ sigrok-cli -I vcd -i "$work/run.vcd" -P "parallel:clk=E0$lines:clock_edge=falling" \
    >"$work/decoded.txt" || true; } 2>/dev/null
python3 - "$work/run.txt" "$work/decoded.txt" <<'PY'
import sys
data, e0, latched = 0, False, []
for line in open(sys.argv[1]):
    _, address, value, *rest = line.split()
    if rest:
        continue  # a read
    address, value = int(address, 16), int(value, 16)
    if address == 0x378:
        data = value
    elif address == 0x37A:
        high = not (value & 0x01)  # the register's bit 0 is E0 inverted
        if e0 and not high:
            latched.append(data)
        e0 = high
decoded = [int(l.split(":")[1], 16) for l in open(sys.argv[2]) if l.startswith("parallel-1:")]
# The decoder reports each byte at the edge after it, so the last one waits for an
# edge that never comes; the lines start low, so no edge comes before the first.
if len(latched) < 100 or decoded != latched[:-1]:
    sys.exit(f"waveform check: the decoder found {len(decoded)} bytes, the trace shows "
             f"{len(latched)} latched; first decoded {decoded[:5]}, latched {latched[:5]}")
print(f"waveform check: the decoder reads all {len(latched)} latched bytes of the run")
PY
