#!/usr/bin/env bash
# Builds the benchmark into build/ when needed and runs it on the offscreen
# platform, then under a virtual X display when xvfb-run is there. Arguments go
# to the benchmark (see ./bench/run.sh --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
scripts/build.sh ci
if [[ " $* " == *" --help "* || " $* " == *" -h "* ]]; then
    QT_QPA_PLATFORM=offscreen exec ./build/lcdbench "$@"
fi
QT_QPA_PLATFORM=offscreen ./build/lcdbench "$@"
if command -v xvfb-run >/dev/null; then
    echo
    QT_QPA_PLATFORM=xcb xvfb-run -a ./build/lcdbench "$@"
else
    echo "lcdbench: xvfb-run not found; no figures for a virtual X display" >&2
fi
