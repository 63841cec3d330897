#!/usr/bin/env bash
# Installs the Debian packages that are missing: those to build and run the tool,
# with --tests also those the tests and the benchmark need, with --package those
# that build and check the Debian package, with --kernel those of the
# virtual-machine check (tests/kernel/run.sh). The names are ones Debian 12 and
# 13 both carry. --chroot brings what makes the Debian 13 chroot of
# scripts/chroot.sh, --emulator the emulator that runs arm64 programs on this
# machine; --arm64 (in that chroot only) the cross compilers and the arm64 libraries.
set -euo pipefail

packages=(cmake g++ make pkg-config fonts-dejavu-core qt6-base-dev libgl-dev)
foreign=
for group in "$@"; do
    case "$group" in
    # libclang-rt-dev is clang's runtime (sanitizers, libFuzzer) for the
    # release's own clang: 14 on Debian 12, 19 on Debian 13.
    --tests) packages+=(libgtest-dev libgmock-dev clang libclang-rt-dev xvfb xauth sigrok-cli python3) ;;
    --package) packages+=(dpkg-dev file lintian desktop-file-utils appstream xvfb xauth x11-utils man-db) ;;
    --chroot) packages+=(debootstrap) ;;
    # Statically linked, so that the kernel can run it inside a chroot (on
    # Debian 13 the name brings qemu-user, static there, and its registration).
    --emulator) packages+=(qemu-user-static) ;;
    --arm64)
        # A foreign architecture changes what apt installs from then on: never
        # on the machine itself, only in the chroot (which marks itself so).
        [[ -e /etc/lcdtest-chroot ]] || { echo "$0: --arm64 belongs in scripts/chroot.sh's chroot" >&2; exit 2; }
        foreign=arm64
        packages+=(crossbuild-essential-arm64 qt6-base-dev-tools qt6-base-dev:arm64
            libgl-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64) ;;
    # gcc-12 and make build the check's kernel modules against the kernel's
    # headers (the compiler their .kernelvariables names); kbuild's tools need
    # libelf, whose runtime Debian 12 and 13 name apart, so it comes with libelf-dev.
    --kernel) packages+=(qemu-system-x86 busybox-static xz-utils python3 xvfb xauth xdotool gcc-12 make libelf-dev) ;;
    *) echo "usage: $0 [--tests] [--package] [--kernel] [--chroot] [--emulator] [--arm64]" >&2; exit 2 ;;
    esac
done

# NAME is this machine's architecture's package (or one for all), NAME:ARCH that
# architecture's; with arm64 added, dpkg lists both of a library's.
native=$(dpkg --print-architecture)
installed() {
    local arch=$native
    [[ $1 == *:* ]] && arch=${1#*:}
    dpkg-query -W -f='${Architecture} ${Status}\n' "${1%%:*}" 2>/dev/null |
        grep -qE "^($arch|all) install ok installed$"
}
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
if [[ -n $foreign ]] && ! dpkg --print-foreign-architectures | grep -qx "$foreign"; then
    "${sudo_cmd[@]}" dpkg --add-architecture "$foreign"
fi
# Another apt or dpkg run (an unattended upgrade, say) may hold the lock for a while.
apt_opts=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update -qq
# dpkg's line per package goes; apt's errors stay on standard error.
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
