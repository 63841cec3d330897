#!/usr/bin/env bash
# Runs the examples of the documents: every ```console block of README.md and
# docs/*.md is a shell session, "$ COMMAND" lines followed by what they print
# (standard output and standard error as a terminal shows them). The commands
# of a block run in one shell, `lcdtest` being the build in build/, and what
# they print must be the block's other lines exactly. Examples that need
# hardware are written as ```sh and say who ran them. Used by CI after
# ./test.sh; needs a build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -x build/lcdtest ]] || { echo "doc-examples: no build/lcdtest; run ./test.sh first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/runtime"
chmod 700 "$work/runtime"
ln -s "$PWD/build/lcdtest" "$work/bin/lcdtest"
python3 - "$work" README.md docs/*.md <<'PY'
import os, re, subprocess, sys

work, documents = sys.argv[1], sys.argv[2:]
env = dict(os.environ, PATH=f"{work}/bin:" + os.environ["PATH"], XDG_RUNTIME_DIR=f"{work}/runtime",
           QT_QPA_PLATFORM="offscreen")
env.pop("DISPLAY", None)
env.pop("WAYLAND_DISPLAY", None)
blocks = failed = 0
for document in documents:
    text = open(document, encoding="utf-8").read()
    for match in re.finditer(r"^```console\n(.*?)^```", text, re.S | re.M):
        line = text.count("\n", 0, match.start()) + 1
        commands, expected = [], []
        for row in match.group(1).splitlines():
            (commands if row.startswith("$ ") else expected).append(row[2:] if row.startswith("$ ") else row)
        blocks += 1
        # Line-buffered output keeps standard output and error in the order a terminal shows.
        script = "\n".join(commands) + "\n"
        run = subprocess.run(["stdbuf", "-oL", "-eL", "bash", "-c", script], cwd=work, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        got = run.stdout.splitlines()
        if got != expected:
            failed += 1
            print(f"{document}:{line}: the example prints otherwise")
            for row in commands:
                print(f"  $ {row}")
            print("  expected:")
            print("".join(f"    {row}\n" for row in expected), end="")
            print("  printed:")
            print("".join(f"    {row}\n" for row in got), end="")
print(f"doc-examples: {blocks - failed} of {blocks} examples print what their documents say")
sys.exit(1 if failed or not blocks else 0)
PY
