#!/usr/bin/env bash
# Checks the back-ends against Linux's own drivers: boots Debian's 6.1 kernel in
# qemu (one boot per layout below), runs this tree's build of the tool inside
# it, and compares the tool's --trace with qemu's log of the parallel port's
# registers, or with the kernel's own trace of GPIO line changes and SMBus
# transfers (on this tree's GPIO chip and I2C adapter, modules/, with a module
# model behind them that answers reads and records what it was sent). One line
# per case, then a summary; the exit status is non-zero when any case fails.
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
# the base whose unused register 7 the guest reads to mark where a case starts
# and ends in qemu's log ("-" for none: the GPIO and I2C boots cut the kernel's
# trace per case instead), and the machine (q35 has an SMBus adapter, i801,
# whose empty addresses answer as a real bus's do). guest.sh holds what each
# boot runs.
boots=(
    "irq   0x378:7 0x378 pc"
    "noirq 0x378:7 0x378 pc"
    "alt   0x278:5 0x278 pc"
    "map   0xe800:5 0xe800 pc"
    "gpio  - - pc"
    "i2c   - - q35"
)

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

# Debian's headers for that kernel (the flavour's, the -common ones it includes,
# kbuild's scripts) unpacked under $kdir/headers, never installed. Sets kbuild.
fetch_headers() {
    local dir=$kdir/headers package deb
    kbuild=$dir/usr/src/linux-headers-$kver
    [[ -f "$dir/.complete" ]] && return
    rm -rf "$dir" && mkdir -p "$dir/debs"
    # The flavour's package and what it depends on of the kernel's own (the
    # compiler package is empty: it only depends on gcc-12).
    local packages=("linux-headers-$kver")
    while read -r package; do packages+=("$package"); done < <(apt-cache depends "linux-headers-$kver" |
        sed -n 's/.*Depends: \(linux-\(headers\|kbuild\)-[^ ]*\)$/\1/p')
    (cd "$dir/debs" && apt-get download "${packages[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir"; done
    rm -rf "$dir/debs"
    [[ -f "$kbuild/Makefile" ]] || { echo "no kernel headers unpacked for $kver"; exit 1; }
    # The flavour's Makefile includes the -common one by its installed path.
    sed -i "s|^include /usr/src/|include $dir/usr/src/|" "$kbuild/Makefile"
    touch "$dir/.complete"
}

# The check's own kernel modules (modules/: the GPIO chip and the I2C adapter,
# each with the module model behind it), built in a copy (kbuild writes next to
# the sources) and again only when a source changed. Sets own_modules.
build_own_modules() {
    local dir=$work/modules f stale=
    own_modules=("$dir/lcdtest_gpiochip.ko" "$dir/lcdtest_i2c.ko")
    for f in "${own_modules[@]}"; do [[ -f "$f" ]] || stale=1; done
    [[ "$(cat "$dir/.kernel" 2>/dev/null)" == "$kver" ]] || stale=1
    for f in "$here"/modules/*; do cmp -s "$f" "$dir/${f##*/}" || stale=1; done
    [[ -n "$stale" ]] || return 0
    rm -rf "$dir" && mkdir -p "$dir" && cp "$here"/modules/* "$dir/"
    make -C "$dir" KDIR="$kbuild" > "$dir/build.log" 2>&1 || { cat "$dir/build.log"; exit 1; }
    echo "$kver" > "$dir/.kernel"
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
    for m in parport_pc ppdev lp i2c-dev i2c-i801; do
        while read -r f; do cp -n "$f" "$dir/lib/modules/"; done < <(module_closure "$m")
    done
    cp "${own_modules[@]}" "$dir/lib/modules/"
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
    local name=$1 ports=$2 mark=$3 machine=$4 out=$work/out/$1 devices=() i=0 p
    rm -rf "$out" && mkdir -p "$out"
    [[ "$ports" == - ]] && ports=
    for p in $ports; do
        devices+=(-chardev "null,id=lpt$i" -device "isa-parallel,chardev=lpt$i,iobase=${p%%:*},irq=${p##*:},index=$i")
        i=$((i + 1))
    done
    timeout 900 qemu-system-x86_64 "${accel[@]}" -machine "$machine" -smp 2 -m 1024 -nodefaults -display none \
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
    "$root/scripts/deps.sh" --kernel
    if [[ -z "${LCDTEST_BIN:-}" ]]; then
        "$root/scripts/build.sh" ci >/dev/null
        LCDTEST_BIN=$root/build/lcdtest
    fi
    export LCDTEST_BIN
    fetch_kernel
    fetch_headers
    build_own_modules
    build_initramfs
    local selected=("$@") ran=() line name ports mark machine
    mkdir -p "$work/out"
    for line in "${boots[@]}"; do
        read -r name ports mark machine <<< "$line"
        [[ ${#selected[@]} -eq 0 || " ${selected[*]} " == *" $name "* ]] || continue
        local began=$SECONDS
        boot "$name" "$ports" "$mark" "$machine"
        echo "boot $name took $((SECONDS - began)) s"
        ran+=("$name")
    done
    local status=0
    python3 "$here/compare.py" "$work/out" "${ran[@]}" || status=$?
    echo "kernel check took $((SECONDS - started)) s"
    return $status
}

main "$@"
