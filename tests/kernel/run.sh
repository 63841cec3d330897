#!/usr/bin/env bash
# Checks the ppdev and raw back-ends against Linux's own parallel-port drivers:
# boots Debian's 6.1 kernel in qemu (one boot per port layout below), runs this
# tree's build of the tool inside it, and compares the tool's --trace with
# qemu's log of the port's registers. One line per case, then a summary; the
# exit status is non-zero when any case fails.
#
#   tests/kernel/run.sh            # installs what is missing, builds into build/
#   LCDTEST_BIN=path tests/kernel/run.sh   # checks that binary instead
#   tests/kernel/run.sh irq map    # only these boots
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${LCDTEST_KERNEL_WORK:-$root/build-kernel}
started=$SECONDS

# Each boot: its name, the parallel ports qemu gives the machine (iobase:irq),
# and the base whose unused register 7 the guest reads to mark where a case
# starts and ends in qemu's log. guest.sh holds what each boot runs.
boots=(
    "irq   0x378:7 0x378"
    "noirq 0x378:7 0x378"
    "alt   0x278:5 0x278"
    "map   0xe800:5 0xe800"
)

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

install_packages() {
    local packages=(qemu-system-x86 busybox-static xz-utils python3 xvfb xauth xdotool)
    local missing=() p status
    for p in "${packages[@]}"; do
        status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
        [[ "$status" == "install ok installed" ]] || missing+=("$p")
    done
    [[ ${#missing[@]} -eq 0 ]] && return
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 \
        install -y -qq --no-install-recommends "${missing[@]}"
}

# Debian's current 6.1 kernel package, downloaded once and unpacked here
# (never into /boot). Sets kver and kdir.
fetch_kernel() {
    local package deb
    package=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-6\.1\.0-[0-9]*-amd64\)$/\1/p' | head -n1)
    [[ -n "$package" ]] || { echo "no linux-image-6.1.0-*-amd64 package in apt's lists (apt-get update?)"; exit 1; }
    kver=${package#linux-image-}
    kdir=$work/$kver
    [[ -f "$kdir/vmlinux" ]] && return
    mkdir -p "$kdir"
    (cd "$kdir" && apt-get download "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    deb=$(ls "$kdir"/"$package"_*.deb)
    dpkg-deb -x "$deb" "$kdir/pkg"
    # The kernel image without its decompressor: qemu starts it through its PVH
    # entry, and it comes up about twice as fast under emulation.
    local offset
    offset=$(grep -abo $'\xfd7zXZ' "$kdir/pkg/boot/vmlinuz-$kver" | head -n1 | cut -d: -f1)
    tail -c +$((offset + 1)) "$kdir/pkg/boot/vmlinuz-$kver" | xz -dc 2>/dev/null > "$kdir/vmlinux.part" || true
    mv "$kdir/vmlinux.part" "$kdir/vmlinux"
    rm -f "$deb"
}

# A module and what it depends on, dependencies first, as file names.
module_closure() {
    local name=$1 file deps d
    file=$(find "$kdir/pkg/lib/modules/$kver" -name "$name.ko" | head -n1)
    [[ -n "$file" ]] || { echo "module $name missing from the kernel package" >&2; exit 1; }
    deps=$(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | tr ',' ' ')
    for d in $deps; do module_closure "$d"; done
    echo "$file"
}

# busybox, the modules, and an init that mounts the host's root read-only over
# 9p and hands over to guest.sh in it.
build_initramfs() {
    local dir=$work/initramfs m f
    rm -rf "$dir" && mkdir -p "$dir"/{bin,lib/modules,proc,sys,dev,host,out}
    cp /bin/busybox "$dir/bin/busybox"
    ln -s busybox "$dir/bin/sh"
    local order=()
    for m in virtio_pci 9pnet_virtio 9p; do
        while read -r f; do
            [[ " ${order[*]} " == *" $(basename "$f" .ko) "* ]] || order+=("$(basename "$f" .ko)")
            cp -n "$f" "$dir/lib/modules/"
        done < <(module_closure "$m")
    done
    for m in parport_pc ppdev lp; do
        while read -r f; do cp -n "$f" "$dir/lib/modules/"; done < <(module_closure "$m")
    done
    cat > "$dir/init" <<EOF
#!/bin/sh
export PATH=/bin
/bin/busybox --install -s /bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
for m in ${order[*]}; do insmod /lib/modules/\$m.ko; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host
mount -t 9p -o trans=virtio,version=9p2000.L out /out
mount -t tmpfs tmp /host/tmp
# The checkout on a share of its own, so a clone under /tmp is not hidden by the tmpfs.
mkdir -p /host\$lcdtest_root
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 repo /host\$lcdtest_root
mount -t proc proc /host/proc; mount -t sysfs sys /host/sys; mount -t devtmpfs dev /host/dev
sh /host\$lcdtest_root/tests/kernel/guest.sh \$lcdtest_boot \$lcdtest_mark > /out/guest.log 2>&1
echo "guest done: \$?"
poweroff -f
EOF
    chmod +x "$dir/init"
    (cd "$dir" && find . | busybox cpio -o -H newc 2>/dev/null) > "$work/initramfs.cpio"
}

pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM

# Boots one layout; the guest's outputs and qemu's log land in $work/out/NAME.
boot() {
    local name=$1 ports=$2 mark=$3 out=$work/out/$1 devices=() i=0 p
    rm -rf "$out" && mkdir -p "$out"
    for p in $ports; do
        devices+=(-chardev "null,id=lpt$i" -device "isa-parallel,chardev=lpt$i,iobase=${p%%:*},irq=${p##*:},index=$i")
        i=$((i + 1))
    done
    timeout 900 qemu-system-x86_64 "${accel[@]}" -machine pc -smp 2 -m 1024 -nodefaults -display none \
        -no-reboot -kernel "$work/$kver/vmlinux" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 quiet panic=-1 lcdtest_root=$root lcdtest_bin=$LCDTEST_BIN lcdtest_boot=$name lcdtest_mark=$mark" \
        -serial "file:$out/console.log" "${devices[@]}" \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        -virtfs "local,path=$root,mount_tag=repo,security_model=none,readonly=on,multidevs=remap" \
        -virtfs "local,path=$out,mount_tag=out,security_model=none" \
        -trace 'enable=parallel_ioport_*' -D "$out/qemu.log" -msg timestamp=on &
    pids+=($!)
    wait $! || echo "qemu for boot $name ended with status $?" >> "$out/guest.log"
}

# Emulation (TCG) everywhere; KVM first only where the CPU offers it, and qemu
# falls back to TCG when KVM cannot start.
accel=(-accel tcg)
if [[ -w /dev/kvm ]] && grep -qwE 'vmx|svm' /proc/cpuinfo; then accel=(-accel kvm -accel tcg); fi

main() {
    install_packages
    if [[ -z "${LCDTEST_BIN:-}" ]]; then
        "$root/scripts/build.sh" ci >/dev/null
        LCDTEST_BIN=$root/build/lcdtest
    fi
    export LCDTEST_BIN
    fetch_kernel
    build_initramfs
    local selected=("$@") line name ports mark
    mkdir -p "$work/out"
    for line in "${boots[@]}"; do
        read -r name ports mark <<< "$line"
        [[ ${#selected[@]} -eq 0 || " ${selected[*]} " == *" $name "* ]] || continue
        boot "$name" "$ports" "$mark"
    done
    local status=0
    python3 "$here/compare.py" "$work/out" "${selected[@]}" || status=$?
    echo "kernel check took $((SECONDS - started)) s"
    return $status
}

main "$@"
