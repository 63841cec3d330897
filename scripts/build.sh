#!/usr/bin/env bash
# Configures and builds one of the CMake presets (CMakePresets.json); extra
# arguments go to the configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=$1; shift
cmake --preset "$preset" "$@" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
