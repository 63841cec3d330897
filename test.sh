#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test.
# --sanitize builds and tests with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh --tests
preset=ci
[[ "${1:-}" == "--sanitize" ]] && preset=asan
scripts/build.sh "$preset"
ctest --preset "$preset" -j"$(nproc)"
