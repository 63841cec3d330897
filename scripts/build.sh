#!/usr/bin/env bash
# Configures and builds one of the CMake presets (CMakePresets.json); extra
# arguments go to the configure step. --hardened first adds Debian's hardening
# flags (relro, bind now, fortify, stack protector and the architecture's own)
# for DEB_HOST_ARCH, this machine's architecture unless set, as the Debian
# package is built.
set -euo pipefail
cd "$(dirname "$0")/.."
flags=()
if [[ "${1:-}" == --hardened ]]; then
    shift
    # No -g: the package's program is stripped, and the build is shorter without.
    get() { DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --get "$1"; }
    flags=(-DCMAKE_CXX_FLAGS="$(get CXXFLAGS) $(get CPPFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(get LDFLAGS)")
fi
preset=$1; shift
cmake --preset "$preset" "${flags[@]}" "$@" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
