#!/usr/bin/env bash
# Installs the Debian packages the tool and its tests need, only those missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config fonts-dejavu-core
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev
    clang libclang-rt-14-dev
    xvfb xauth
    sigrok-cli
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
