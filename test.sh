#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# --sanitize builds and tests with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
dir=build
args=()
if [[ "${1:-}" == "--sanitize" ]]; then
    dir=build-asan
    args=(-DLCDTEST_SANITIZE=ON)
fi
scripts/build.sh "$dir" "${args[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
