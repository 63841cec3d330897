#!/usr/bin/env bash
# Installs the Debian packages that are missing: those to build and run the tool,
# with --tests also those the tests and the benchmark need, with --package those
# that build and check the Debian package. The names are ones Debian 12 and 13
# both carry.
set -euo pipefail

packages=(cmake g++ make pkg-config fonts-dejavu-core qt6-base-dev libgl-dev)
for group in "$@"; do
    case "$group" in
    # libclang-rt-dev is clang's runtime (sanitizers, libFuzzer) for the
    # release's own clang: 14 on Debian 12, 19 on Debian 13.
    --tests) packages+=(libgtest-dev libgmock-dev clang libclang-rt-dev xvfb xauth sigrok-cli python3) ;;
    --package) packages+=(dpkg-dev file lintian desktop-file-utils appstream xvfb xauth x11-utils) ;;
    *) echo "usage: $0 [--tests] [--package]" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
# Another apt or dpkg run (an unattended upgrade, say) may hold the lock for a while.
apt_opts=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" install -y -qq \
    --no-install-recommends "${missing[@]}"
