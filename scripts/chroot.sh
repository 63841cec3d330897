#!/usr/bin/env bash
# Runs a command as root in a Debian 13 (trixie) amd64 chroot kept in
# build-chroot/trixie/: made with debootstrap from Debian's archive the first
# time (about 3 minutes), reused afterwards. The checkout is mounted at /lcdtest
# and the command runs there; with --clone it runs in a fresh clone of the
# checkout's HEAD instead (/root/clone, made anew each time). With --arm64 the
# chroot also runs arm64 programs: qemu-user on this machine, registered with
# the kernel's binfmt_misc, which stays registered afterwards. The chroot's
# mounts live in a mount namespace of this run alone, so none outlives it.
#
#   scripts/chroot.sh --clone ./test.sh     # every test on Debian 13, from a clean clone
#   scripts/chroot.sh bash                  # a shell in the chroot
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=$root/build-chroot/trixie
mirror=${LCDTEST_MIRROR:-http://deb.debian.org/debian}
security=${LCDTEST_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
usage() { echo "usage: $0 [--clone] [--arm64] COMMAND [ARGUMENT...]" >&2; exit 2; }

if [[ "${1:-}" == --in-namespace ]]; then
    shift
    workdir=$1; shift
    mount -t proc proc "$dir/proc"
    mount -t sysfs sysfs "$dir/sys"
    mount --rbind /dev "$dir/dev"
    mount -t tmpfs tmpfs "$dir/tmp"
    mkdir -p "$dir/lcdtest"
    mount --bind "$root" "$dir/lcdtest"
    cp -L /etc/resolv.conf "$dir/etc/resolv.conf"
    exec chroot "$dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c 'cd "$1" && shift && exec "$@"' _ "$workdir" "$@"
fi

arguments=("$@")
clone=0 arm64=0
while [[ $# -gt 0 ]]; do
    case $1 in
    --clone) clone=1 ;;
    --arm64) arm64=1 ;;
    -*) usage ;;
    *) break ;;
    esac
    shift
done
[[ $# -gt 0 ]] || usage
# debootstrap, mount and chroot need root.
[[ $(id -u) -eq 0 ]] || exec sudo -- "$0" "${arguments[@]}"

groups=(--chroot)
[[ $arm64 -eq 1 ]] && groups+=(--emulator)
scripts/deps.sh "${groups[@]}"

if [[ ! -e "$dir/etc/lcdtest-chroot" ]]; then
    echo "== making a Debian 13 chroot in $dir"
    started=$SECONDS
    # Made aside and renamed when whole, so a broken try is never taken for one.
    rm -rf --one-file-system "$dir" "$dir.part"
    mkdir -p "$(dirname "$dir")"
    debootstrap --variant=minbase trixie "$dir.part" "$mirror" >"$dir.log" 2>&1 ||
        { tail -n 20 "$dir.log" >&2; echo "$0: debootstrap failed (all of it in $dir.log)" >&2; exit 1; }
    cat >"$dir.part/etc/apt/sources.list" <<SOURCES
deb $mirror trixie main
deb $mirror trixie-updates main
deb $security trixie-security main
SOURCES
    echo "made by lcdtest's scripts/chroot.sh" >"$dir.part/etc/lcdtest-chroot"
    mv "$dir.part" "$dir"
    echo "== the chroot took $((SECONDS - started)) s"
fi

if [[ $arm64 -eq 1 ]]; then
    # The F flag has the kernel open the emulator now, so it runs inside the
    # chroot, which has none of its own.
    binfmt=/proc/sys/fs/binfmt_misc
    mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt"
    [[ -e "$binfmt/qemu-aarch64" ]] || cat /usr/lib/binfmt.d/qemu-aarch64.conf >"$binfmt/register"
    grep -q '^flags: .*F' "$binfmt/qemu-aarch64" || {
        echo "$0: arm64 programs are registered with binfmt_misc without its F flag, so" \
            "a chroot cannot reach the emulator; echo -1 >$binfmt/qemu-aarch64 drops that entry" >&2
        exit 1
    }
    [[ $(cat "$binfmt/qemu-aarch64") == enabled* ]] || echo 1 >"$binfmt/qemu-aarch64"
fi

workdir=/lcdtest
if [[ $clone -eq 1 ]]; then
    rm -rf --one-file-system "$dir/root/clone"
    git -c safe.directory='*' clone --quiet --no-hardlinks "$root" "$dir/root/clone"
    workdir=/root/clone
fi
exec unshare --mount --propagation private -- "$0" --in-namespace "$workdir" "$@"
