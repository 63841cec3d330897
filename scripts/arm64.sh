#!/usr/bin/env bash
# Builds the tool, its tests and its Debian package for 64-bit ARM (Raspberry Pi
# OS, Debian arm64) on this amd64 machine, and runs the tests under emulation:
# in the Debian 13 chroot of scripts/chroot.sh, which alone gets the cross
# compilers and the arm64 libraries, with qemu-user running the arm64 programs.
# One Release build with the tests (preset arm64, into build-arm64/, with the
# package's hardening flags) serves both; scripts/package.sh --arch arm64 then
# makes build-arm64/lcdtest_<version>_arm64.deb from it, checks it, and
# installs, starts and removes it in the chroot.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -e /etc/lcdtest-chroot ]] || exec scripts/chroot.sh --arm64 scripts/arm64.sh "$@"
step() { echo "== $* (at $SECONDS s)"; }

step "packages"
scripts/deps.sh --package --arm64
step "build"
DEB_HOST_ARCH=arm64 scripts/build.sh --hardened arm64
step "tests"
ctest --preset arm64 -j"$(nproc)"
step "package"
scripts/package.sh --arch arm64
step "done"
