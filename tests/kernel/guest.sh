#!/bin/sh
# Runs inside the guest (busybox, outside the chroot of the host's root, which
# sits read-only at /host): loads the parport, GPIO or I2C modules, starts the
# tool from the host's tree under Xvfb, drives its dialog with xdotool, and
# leaves for compare.py, in /out: the case table as run (cases), each case's
# trace, standard error and exit status, and on the GPIO and I2C boots the
# kernel's trace events of the case (NAME.events) and what the module models
# hold after it (NAME.model). Usage: guest.sh BOOT MARK_BASE
boot=$1
markbase=$2
bin=$lcdtest_bin
out=/out
lpgid=$(sed -n 's/^lp:[^:]*:\([0-9]*\):.*/\1/p' /host/etc/group)
nobody=65534
tracing=/sys/kernel/tracing

# A case's start and end in qemu's log: a read of register 7 of the marker
# port, which neither the kernel nor the tool touches. Without one (the GPIO
# and I2C boots) the kernel's trace is cut per case instead.
mark() {
    [ "$markbase" = - ] && return
    dd if=/dev/port of=/dev/null bs=1 count=1 skip=$((markbase + 7)) 2>/dev/null
}

# Groups gpio and i2c, as a distribution's udev rules expect them: the host's
# when it has them, else made up here in a copy of its group file mounted over
# the read-only one (the host's root is shared read-only). Sets gpiogid, i2cgid.
group_id() {
    gid=$(sed -n "s/^$1:[^:]*:\([0-9]*\):.*/\1/p" /host/tmp/group)
    if [ -z "$gid" ]; then
        gid=900
        while cut -d: -f3 /host/tmp/group | grep -qx $gid; do gid=$((gid + 1)); done
        echo "$1:x:$gid:" >> /host/tmp/group
    fi
    echo "$gid"
}
add_groups() {
    cp /host/etc/group /host/tmp/group
    gpiogid=$(group_id gpio)
    i2cgid=$(group_id i2c)
    mount -o bind /host/tmp/group /host/etc/group
}

# The kernel's trace with CLOCK_MONOTONIC stamps and the given events on; each
# case then clears it first and copies it out last.
trace_events() {
    mount -t tracefs nodev $tracing
    echo mono > $tracing/trace_clock
    # A 40x4 run logs some 30,000 line events; the default buffer holds fewer.
    echo 8192 > $tracing/buffer_size_kb
    for e in "$@"; do echo 1 > "$tracing/events/$e/enable"; done
}

# This tree's GPIO chip, its node set as dist/60-gpio.rules sets it, with no
# module on it until `wire` puts one there. Leaves the chip's node and its first
# line's global number (the trace events name lines by it) in /out/gpiochip.
load_gpio() {
    insmod /lib/modules/lcdtest_gpiochip.ko
    find_gpiochip
    trace_events gpio/gpio_value gpio/gpio_direction
}
gpio_parameter=/sys/module/lcdtest_gpiochip/parameters
find_gpiochip() {
    for c in /sys/class/gpio/gpiochip*; do
        [ "$(cat "$c/label")" = lcdtest-sim ] || continue
        gpiochip=/dev/$(basename "$(readlink -f "$c/device")")
        echo "$gpiochip $(cat "$c/base")" > $out/gpiochip
    done
    chgrp "$gpiogid" /dev/gpiochip*
    chmod 660 /dev/gpiochip*
    echo "$(cat $out/gpiochip) of" /dev/gpiochip*
}
# The chip back after it was pulled out, under the node and base it now has
# (a chip removed under a request stays registered in this kernel).
replug_gpio() {
    echo 1 > $gpio_parameter/plugged
    find_gpiochip
}

# The module behind the chip: its lines' offsets in the tool's terms (nothing:
# no module, every input reads 1), and data lines held at a level there.
wire() { echo "$1" > $gpio_parameter/wiring; }
fault() { echo "${1:-none}" > $gpio_parameter/fault; }

# This tree's I2C adapter with the given expanders (see modules/i2c_bus.c), the
# q35 machine's own SMBus adapter (i801) and i2c-dev, the nodes set as
# dist/60-i2c.rules sets them; bus numbers follow load order, so they are
# looked up (i2cbus, i801bus, the adapter's also in /out/i2cbus). Plain I2C
# messages are traced too, so a case can tell that none went out.
load_i2c() {
    insmod /lib/modules/lcdtest_i2c.ko devices="$1"
    insmod /lib/modules/i2c-smbus.ko
    insmod /lib/modules/i2c-i801.ko
    insmod /lib/modules/i2c-dev.ko
    for d in /sys/bus/i2c/devices/i2c-*; do
        case $(cat "$d/name") in
            "lcdtest I2C bus") i2cbus=/dev/${d##*/} ;;
            "SMBus I801 adapter"*) i801bus=/dev/${d##*/} ;;
        esac
    done
    chgrp "$i2cgid" /dev/i2c-*
    chmod 660 /dev/i2c-*
    echo "lcdtest: $i2cbus, i801: $i801bus"
    echo "$i2cbus" > $out/i2cbus
    trace_events smbus i2c
}
i2c_parameter=/sys/module/lcdtest_i2c/parameters
# Other expanders on the adapter, every one freshly powered; or the same ones
# powered up afresh, their pins all high or inputs again.
i2c_devices() { echo "$1" > $i2c_parameter/devices; }
power_on_expanders() { i2c_devices "$(cat $i2c_parameter/devices)"; }
# Devices pulled off the bus (addresses), and data lines held at a level at a
# device's module (ADDRESS:LINE=LEVEL).
unplug() { echo "$1" > $i2c_parameter/unplugged; }
i2c_fault() { echo "$1" > $i2c_parameter/fault; }

# Each case starts on freshly powered modules (the chip and the expanders as
# the last case left them), and leaves what they hold in /out/NAME.model.
power_on_models() {
    if [ -e $gpio_parameter/wiring ]; then
        v=$(cat $gpio_parameter/wiring)
        echo "$v" > $gpio_parameter/wiring
    fi
    [ -e $i2c_parameter/power_on_modules ] && echo 1 > $i2c_parameter/power_on_modules
}
save_models() {
    for f in /sys/kernel/debug/lcdtest_gpiochip/module /sys/kernel/debug/lcdtest_i2c/devices; do
        [ -e $f ] && cat $f > "$out/$1.model"
    done
}

# parport_pc with the given options, then ppdev, and the device nodes set as
# the udev rule in the README sets them (devtmpfs alone leaves them root-only).
load_parport() {
    insmod /lib/modules/parport.ko
    insmod /lib/modules/parport_pc.ko "$@"
    insmod /lib/modules/ppdev.ko
    chgrp "$lpgid" /dev/parport*
    chmod 660 /dev/parport*
    for f in /proc/sys/dev/parport/parport*/base-addr; do echo "$f: $(cat "$f") irq $(cat "${f%/*}/irq")"; done
}

# With $exec set to "exec" (in a subshell started with &), the subshell becomes
# the program, so that $! is the tool's own pid: kill reaches it, and its
# window is found by it. busybox's sh would otherwise leave the program a child
# of the subshell, untouched when the subshell is killed.
exec=
in_host() { $exec chroot /host /usr/bin/env PATH=/usr/bin:/bin DISPLAY=:1 HOME=/tmp/home "$@" < /dev/null; }
# As root; as a user in group lp, gpio or i2c; as a user in none of them.
as_user() {
    case $1 in
        root) shift; in_host "$@" ;;
        lp) shift; in_host setpriv --reuid=$nobody --regid=$nobody --groups="$lpgid" "$@" ;;
        gpio) shift; in_host setpriv --reuid=$nobody --regid=$nobody --groups="$gpiogid" "$@" ;;
        i2c) shift; in_host setpriv --reuid=$nobody --regid=$nobody --groups="$i2cgid" "$@" ;;
        nolp | nogroup) shift; in_host setpriv --reuid=$nobody --regid=$nobody --clear-groups "$@" ;;
    esac
}
x() { in_host xdotool "$@"; }

# The dialog's window of a process (the module view's title starts with "S"),
# and a click at a point given in the dialog's own units (it is 239 x 151).
find_dialog() {
    win=$(timeout 120 chroot /host /usr/bin/env DISPLAY=:1 /usr/bin/xdotool search --sync --onlyvisible --pid "$1" --name '^[^S]' | head -n1)
    eval "$(x getwindowgeometry --shell "$win")"
}
click() { x mousemove $((X + $1 * WIDTH / 239)) $((Y + $2 * HEIGHT / 151)) click 1; }
# Opens a list, picks its entry N (from 0) with the keys, closes it up.
pick() {
    click "$1" "$2"
    sleep 0.5
    x key Home
    i=0
    while [ $i -lt "$3" ]; do x key Down; i=$((i + 1)); done
    x key Return
}
size_index() {
    i=0
    for s in 8x2 12x2 16x1 16x2 20x2 24x2 16x4 20x4 40x2 40x4; do
        [ "$s" = "$1" ] && echo $i && return
        i=$((i + 1))
    done
}
port_index() { case $1 in 0x378) echo 0 ;; 0x278) echo 1 ;; 0x3BC) echo 2 ;; esac; }

# Picks the size and port (the dialog starts on 16x2 and 0x378), presses Init;
# done_and_wait then presses Done, which the dialog takes once the run is over.
drive() {
    find_dialog "$1"
    [ "$2" = 16x2 ] || pick 60 16 "$(size_index "$2")"
    [ "$3" = 0x378 ] || pick 112 16 "$(port_index "$3")"
    if [ "$4" = 8 ]; then click 151 17; else click 188 17; fi
}
done_and_wait() {
    click 219 17
    t=0
    while kill -0 "$1" 2>/dev/null && [ $t -lt 300 ]; do
        sleep 1
        t=$((t + 1))
        # Once more now and then, in case a click fell between windows.
        [ $((t % 15)) -eq 0 ] && click 219 17
    done
    if kill -0 "$1" 2>/dev/null; then
        kill -9 "$1"
        echo "still running after Done" > "$out/$2.status"
    fi
    wait "$1"
    status=$?
    [ -s "$out/$2.status" ] || echo $status > "$out/$2.status"
}

start_tool() {  # NAME USER ARGS...
    name=$1 user=$2
    shift 2
    (exec=exec; as_user "$user" "$bin" --trace "/tmp/$name.trace" "$@") > "$out/$name.err" 2>&1 &
    pid=$!
}

# One row of the case table: NAME|USER|ARGS|SIZE|PORT|INIT|REACHES[:STATUS]|MESSAGE,
# where STATUS is the exit status expected when it is not 0. MESSAGE is looked
# for in the tool's standard output and error. USER "script" runs ARGS, a
# guest-side check in tests/kernel and its words, instead of the tool.
# @gpiochip@, @i2c@ and @i801@ in a row stand for the nodes found when the
# modules were loaded (the chip's, again after it was plugged back in);
# @found:ADDRESS@ for the --port-map value the last --detect printed for the
# module at that address ("none" where it printed none).
run_case() {
    row=$(echo "$1" | sed "s|@gpiochip@|$gpiochip|g; s|@i2c@|$i2cbus|g; s|@i801@|$i801bus|g")
    for found in $(echo "$row" | grep -o '@found:0x[0-9A-Fa-f]*@'); do
        address=${found#@found:}
        mapping=$(cut -d' ' -f1 "$out/detected" 2>/dev/null | grep -E "@${address%@}(:|\$)" | head -n1)
        row=$(echo "$row" | sed "s|$found|${mapping:-none}|g")
    done
    IFS='|' read -r name user args size port init reaches message <<EOF
$row
EOF
    echo "$row" >> "$out/cases"
    [ -e $out/gpiochip ] && cp $out/gpiochip "$out/$name.chip"
    echo "$(date +%T) $name"
    mark
    power_on_models
    [ -d $tracing/events ] && echo > $tracing/trace
    case $user in
        script)
            # A check of the guest's own (ARGS: a script in tests/kernel and its words).
            # shellcheck disable=SC2086 # ARGS are words
            in_host python3 "$lcdtest_root/tests/kernel/"$args > "$out/$name.err" 2>&1
            echo $? > "$out/$name.status"
            [ -d $tracing/events ] && cp $tracing/trace "$out/$name.events"
            save_models "$name"
            return
            ;;
    esac
    case $args in
        --detect*)
            # Detection: its lines on standard output, kept apart from its notes,
            # and its own start and end on the guest's clock; it takes no --trace.
            # shellcheck disable=SC2086 # ARGS are words
            as_user "$user" "$bin" $args > "$out/$name.out" 2> "$out/$name.err"
            echo $? > "$out/$name.status"
            cp "$out/$name.out" "$out/detected"
            cp $tracing/trace "$out/$name.events"
            save_models "$name"
            return
            ;;
    esac
    # shellcheck disable=SC2086 # ARGS are words
    start_tool "$name" "$user" $args
    case $name,$args in
        unplug_verify*) unplug_in_verify ;;
        *--run*) wait "$pid"; echo $? > "$out/$name.status" ;;  # a scripted run ends by itself
        *) drive_case ;;
    esac
    mark
    [ -d $tracing/events ] && cp $tracing/trace "$out/$name.events"
    save_models "$name"
    cp "/host/tmp/$name.trace" "$out/" 2>/dev/null
}

# The device goes away in the middle of a scripted Verify (once the module has
# answered 40 reads), and comes back for the cases after.
unplug_in_verify() {
    t=0
    while [ "$(grep -c 'gpio_value: [0-9]* get\|smbus_read' $tracing/trace)" -lt 40 ] && [ $t -lt 600 ]; do
        sleep 0.2
        t=$((t + 1))
    done
    case $args in
        *gpiochip*) echo 0 > $gpio_parameter/plugged ;;
        *) unplug "${args##*@}" ;;
    esac
    wait "$pid"
    echo $? > "$out/$name.status"
    case $args in
        *gpiochip*) replug_gpio ;;
        *) unplug "" ;;
    esac
}

drive_case() {
    drive "$pid" "$size" "$port" "$init"
    case $name in
        unplug*)
            # The chip goes away under the run, as a USB bridge pulled out does,
            # and comes back (with a node set up again) for the cases after.
            t=0
            while [ "$(grep -c gpio_value $tracing/trace)" -lt 1000 ] && [ $t -lt 600 ]; do
                sleep 0.2
                t=$((t + 1))
            done
            echo 0 > $gpio_parameter/plugged
            sleep 2
            find_dialog "$pid"
            done_and_wait "$pid" "$name"
            replug_gpio
            return
            ;;
        second_instance*)
            # A second tool while the first holds the port (or the lines) and runs.
            (exec=exec; as_user "$user" "$bin" $args) 2> "$out/$name.second.err" &
            second=$!
            t=0
            while ! grep -qF "$message" "$out/$name.second.err" 2>/dev/null && [ $t -lt 120 ]; do sleep 1; t=$((t + 1)); done
            kill -0 $second 2>/dev/null && echo running > "$out/$name.second.status"
            kill $second
            wait $second
            sleep 1
            find_dialog "$pid"
            ;;
    esac
    done_and_wait "$pid" "$name"
}

cases() {
    case $boot in
        irq) cat <<'EOF'
no_modules|lp|--port-io=ppdev|16x2|0x378|8|none|lcdtest: no parallel port device: load the kernel modules parport_pc and ppdev (sudo modprobe parport_pc ppdev)
scripted_no_modules|lp|--run 16x2:8 --verify --port-io=ppdev --no-window|16x2|0x378|8|none:3|ERROR: no parallel port device
! load_parport
! insmod /lib/modules/lp.ko
lp_holds_port|lp|--port-io=ppdev|16x2|0x378|8|none|lcdtest: cannot claim /dev/parport0: No such device or address — another driver holds the port, usually the printer driver: unload it (sudo modprobe -r lp)
! rmmod lp
not_in_group_lp|nolp|--port-io=ppdev|16x2|0x378|8|none|lcdtest: cannot open /dev/parport0: Permission denied — add your user to group lp (sudo usermod -aG lp $USER) and log in again
raw_without_root|lp|--port-io=raw|16x2|0x378|8|none|lcdtest: cannot open /dev/port: Permission denied — raw port I/O needs root
ppdev_16x2_8bit|lp|--port-io=ppdev|16x2|0x378|8|port|lcdtest: using the parallel port through ppdev (0x378 on /dev/parport0)
ppdev_40x4_4bit|lp|--port-io=ppdev|40x4|0x378|4|port|-
raw_16x2_8bit|root|--port-io=raw|16x2|0x378|8|port|lcdtest: using raw port I/O through /dev/port
raw_40x4_4bit|root|--port-io=raw|40x4|0x378|4|port|-
verify_ppdev_16x2_8bit|lp|--run 16x2:8 --verify --port-io=ppdev --no-window|16x2|0x378|8|port:1|likely cause: every read gave 0xFF: no module
verify_raw_16x2_8bit|root|--run 16x2:8 --verify --port-io=raw --no-window|16x2|0x378|8|port:1|likely cause: every read gave 0xFF: no module
auto_16x2_8bit|lp||16x2|0x378|8|port|lcdtest: using the parallel port through ppdev (0x378 on /dev/parport0)
auto_40x4_4bit|lp||40x4|0x378|4|port|-
second_instance|lp|--port-io=ppdev|16x2|0x378|8|port|lcdtest: cannot claim /dev/parport0: 
EOF
            ;;
        noirq) cat <<'EOF'
! load_parport io=0x378 irq=none
ppdev_16x2_8bit|lp|--port-io=ppdev|16x2|0x378|8|port|-
ppdev_40x4_4bit|lp|--port-io=ppdev|40x4|0x378|4|port|-
raw_16x2_8bit|root|--port-io=raw|16x2|0x378|8|port|-
raw_40x4_4bit|root|--port-io=raw|40x4|0x378|4|port|-
verify_ppdev_40x4_4bit|lp|--run 40x4:4 --verify --port-io=ppdev --no-window|40x4|0x378|4|port:1|likely cause: every read gave 0xFF: no module
verify_inverter_40x4_8bit|lp|--run 40x4:8 --verify --port-io=ppdev --e1-wiring=inverter --no-window|40x4|0x378|8|port:1|likely cause: every read gave 0xFF: no module
auto_16x2_8bit|lp||16x2|0x378|8|port|-
auto_40x4_4bit|lp||40x4|0x378|4|port|-
EOF
            ;;
        alt) cat <<'EOF'
! load_parport
port_0x278_picked|lp|--port-io=ppdev|16x2|0x278|8|port|lcdtest: no parallel port at 0x378: its writes are dropped (ports found: 0x278 on /dev/parport0)
EOF
            ;;
        map) cat <<'EOF'
! load_parport
unmapped|lp|--port-io=ppdev|16x2|0x378|8|none|lcdtest: no parallel port at 0x378: its writes are dropped (ports found: 0xE800 on /dev/parport0) — to drive it from the Port list, map it: --port-map 0x378=/dev/parport0
mapped_16x2_8bit|lp|--port-io=ppdev --port-map 0x378=/dev/parport0|16x2|0x378|8|port|lcdtest: using the parallel port through ppdev (0x378 on /dev/parport0 at 0xE800 by --port-map)
mapped_40x4_4bit|lp|--port-io=ppdev --port-map=0x378=/dev/parport0|40x4|0x378|4|port|-
raw_ignores_map|root|--port-io=raw --port-map 0x378=/dev/parport0|16x2|0x378|8|none|lcdtest: --port-map is ignored with --port-io=raw (it writes only the registers at the Port list's own addresses)
EOF
            ;;
        gpio) cat <<'EOF'
! load_gpio
! wire RS=7,E0=8,D4=2,D5=3,D6=4,D7=5
gpio_16x2_4bit|gpio|--port-map 0x378=@gpiochip@:RS=7,E0=8,D4=2,D5=3,D6=4,D7=5|16x2|0x378|4|port|lcdtest: using 0x378 on the GPIO chip @gpiochip@ (RS=7, E0=8, D4=2, D5=3, D6=4, D7=5; 4-bit only, no E1, no RW: no Verify)
gpio_refuses_8bit|gpio|--run 16x2:8 --no-window --port-map 0x378=@gpiochip@:RS=7,E0=8,D4=2,D5=3,D6=4,D7=5|16x2|0x378|8|none:2|REFUSED: Init 8-bit needs D0..D3, which the wiring of 0x378 (RS=7, E0=8, D4=2, D5=3, D6=4, D7=5) lacks: use Init 4-bit
gpio_no_chip|gpio|--port-map 0x378=/dev/gpiochip7:RS=7,E0=8,D4=2,D5=3,D6=4,D7=5|16x2|0x378|4|none|lcdtest: cannot open /dev/gpiochip7: No such file or directory — no such GPIO chip (found under /dev: @gpiochip@; gpiodetect names them)
gpio_pi_header|gpio|--run 16x2:4 --no-window --port-map 0x378=gpio:pi-header:RS=7,E0=8,D4=2,D5=3,D6=4,D7=5|16x2|0x378|4|none:3|ERROR: no Raspberry Pi header here: no GPIO chip is labelled pinctrl-bcm2835, pinctrl-bcm2711 or pinctrl-rp1 (the chips: @gpiochip@ (lcdtest-sim)) — fix the mapping (gpiodetect lists the chips with their labels)
gpio_no_offset|gpio|--port-map 0x378=@gpiochip@:RS=7,E0=8,D4=2,D5=3,D6=4,D7=20|16x2|0x378|4|none|lcdtest: a line offset the chip lacks: D7=20 (@gpiochip@, lcdtest-sim, has 16 lines, offsets 0 to 15) — fix the mapping (gpioinfo @gpiochip@ lists the lines)
not_in_group_gpio|nogroup|--port-map 0x378=@gpiochip@:RS=7,E0=8,D4=2,D5=3,D6=4,D7=5|16x2|0x378|4|none|lcdtest: cannot open @gpiochip@: Permission denied — add your user to group gpio (sudo usermod -aG gpio $USER) and log in again; if the chip's node is not in group gpio, install the udev rule 60-gpio.rules from the tool's documents in /etc/udev/rules.d/
second_instance_gpio|gpio|--port-map 0x378=@gpiochip@:RS=7,E0=8,D4=2,D5=3,D6=4,D7=5|16x2|0x378|4|port|lcdtest: cannot take the lines of @gpiochip@: Device or resource busy — another program or driver holds RS=7 ("lcdtest"), E0=8 ("lcdtest"), D4=2 ("lcdtest"), D5=3 ("lcdtest"), D6=4 ("lcdtest"), D7=5 ("lcdtest"): close it, or free the line (gpioinfo shows who holds each line)
! wire RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5
gpio_verify_16x2_4bit|gpio|--run 16x2:4 --verify --no-window --port-map 0x378=@gpiochip@:RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5,reads=safe|16x2|0x378|4|port|PASS: 16x2 4-bit, 97 bytes read back as sent
gpio_refuses_unsafe_verify|gpio|--run 20x4:4 --verify --no-window --port-map 0x378=@gpiochip@:RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5|20x4|0x378|4|none:2|REFUSED: Verify cannot read through the wiring of 0x378 (RS=7, RW=6, E0=8, D4=2, D5=3, D6=4, D7=5): 5 V from the module's data lines can damage 3.3 V GPIO pins; add reads=safe to the mapping once a level shifter or a 3.3 V module makes reads safe
! fault D5=0
gpio_verify_stuck_d5|gpio|--run 16x2:4 --verify --no-window --port-map 0x378=@gpiochip@:RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5,reads=safe|16x2|0x378|4|port:1|likely cause: D5 always reads 0: that line is stuck or open
! fault none
unplug_verify_gpio|gpio|--run 16x2:4 --verify --no-window --port-map 0x378=@gpiochip@:RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5,reads=safe|16x2|0x378|4|port:3|ERROR: the GPIO chip @gpiochip@ went away (No such device): the run stopped; plug it back in and start lcdtest again
! wire RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5,invert=E0+RS+D6
gpio_verify_20x4_inverted|gpio|--run 20x4:4 --verify --no-window --port-map 0x378=@gpiochip@:RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5,invert=E0+RS+D6,reads=safe|20x4|0x378|4|port|PASS: 20x4 4-bit, 145 bytes read back as sent
gpio_label_verify_20x4|gpio|--run 20x4:4 --verify --no-window --port-map 0x378=gpio:lcdtest-sim:RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5,invert=E0+RS+D6,reads=safe|20x4|0x378|4|port|PASS: 20x4 4-bit, 145 bytes read back as sent
! wire ""
gpio_verify_20x4_no_module|gpio|--run 20x4:4 --verify --no-window --port-map 0x378=@gpiochip@:RS=7,RW=6,E0=8,D4=2,D5=3,D6=4,D7=5,reads=safe|20x4|0x378|4|port:1|likely cause: every read gave 0xFF: no module
! wire D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,E0=8,RW=9,RS=10,E1=11,invert=E1
gpio_40x4_8bit|gpio|--port-map 0x378=@gpiochip@:D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,E0=8,RW=9,RS=10,E1=11,invert=E1|40x4|0x378|8|port|lcdtest: using 0x378 on the GPIO chip @gpiochip@ (RS=10, RW=9, E0=8, E1=11 inverted, D0=0, D1=1, D2=2, D3=3, D4=4, D5=5, D6=6, D7=7; no Verify without reads=safe)
unplug_gpio|gpio|--port-map 0x378=@gpiochip@:D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,E0=8,RW=9,RS=10,E1=11,invert=E1|40x4|0x378|4|port|lcdtest: the GPIO chip @gpiochip@ went away (No such device): the run stopped; plug it back in and start lcdtest again
! wire D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,E0=8,RW=9,RS=10,E1=11
gpio_verify_40x4_4bit|gpio|--run 40x4:4 --verify --no-window --port-map 0x378=@gpiochip@:D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,E0=8,RW=9,RS=10,E1=11,reads=safe|40x4|0x378|4|port|PASS: 40x4 4-bit, 290 bytes read back as sent
gpio_verify_16x2_8bit|gpio|--run 16x2:8 --verify --no-window --port-map 0x378=@gpiochip@:D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,E0=8,RW=9,RS=10,E1=11,reads=safe|16x2|0x378|8|port|PASS: 16x2 8-bit, 97 bytes read back as sent
EOF
            ;;
        i2c) cat <<'EOF'
! load_i2c "pcf8574@0x27;pcf8574@0x3f:D7=P0,D6=P1,D5=P2,D4=P3,BL=P4,E0=P5,RW=P6,RS=P7;pcf8574@0x26;mcp23008@0x20;mcp23017@0x24;mcp23017@0x25:RS=GPB7,RW=GPB6,E0=GPB5,D4=GPB4,D5=GPB3,D6=GPB2,D7=GPB1,BL=GPA6,BL=GPA7,BL=GPB0,invert=BL"
i2c_16x2_4bit|i2c|--port-map 0x378=@i2c@@0x27|16x2|0x378|4|port|lcdtest: using 0x378 on the PCF8574 at 0x27 on @i2c@ (RS=P0, RW=P1, E0=P2, backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1)
i2c_verify_16x2_4bit|i2c|--run 16x2:4 --verify --no-window --port-map 0x378=@i2c@@0x27|16x2|0x378|4|port|PASS: 16x2 4-bit, 97 bytes read back as sent
i2c_verify_20x4_4bit|i2c|--run 20x4:4 --verify --no-window --port-map 0x378=@i2c@@0x27|20x4|0x378|4|port|PASS: 20x4 4-bit, 145 bytes read back as sent
i2c_other_verify_20x4_4bit|i2c|--run 20x4:4 --verify --no-window --port-map 0x378=@i2c@@0x3f:D7=P0,D6=P1,D5=P2,D4=P3,BL=P4,E0=P5,RW=P6,RS=P7|20x4|0x378|4|port|PASS: 20x4 4-bit, 145 bytes read back as sent
! i2c_fault 0x27:D6=1
i2c_verify_stuck_d6|i2c|--run 16x2:4 --verify --no-window --port-map 0x378=@i2c@@0x27|16x2|0x378|4|port:1|likely cause: D6 always reads 1: that line is stuck or open
! i2c_fault ""
unplug_verify_i2c|i2c|--run 16x2:4 --verify --no-window --port-map 0x378=@i2c@@0x27|16x2|0x378|4|port:3|ERROR: the PCF8574 at 0x27 on @i2c@ is gone (No such device): the run stopped — plug the USB bridge back in or check the backpack's wiring and power, then start lcdtest again
i2c_refuses_8bit|i2c|--run 16x2:8 --no-window --port-map 0x378=@i2c@@0x27|16x2|0x378|8|none:2|REFUSED: Init 8-bit needs D0..D3, which the wiring of 0x378 (RS=P0, RW=P1, E0=P2, backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1) lacks: use Init 4-bit
i2c_refuses_40x4|i2c|--run 40x4:4 --no-window --port-map 0x378=@i2c@@0x27|40x4|0x378|4|none:2|REFUSED: 40x4 needs E1 for its second controller, which the wiring of 0x378 (RS=P0, RW=P1, E0=P2, backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1) lacks: wire E1, or test a size with one controller
i2c_refuses_verify|i2c|--run 16x2:4 --verify --no-window --port-map 0x378=@i2c@@0x27:RS=P0,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7|16x2|0x378|4|none:2|REFUSED: Verify needs RW to read the module, which the wiring of 0x378 (RS=P0, E0=P2, backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1, no RW: no Verify) lacks: wire the module's RW to the port instead of to ground
i2c_no_bus|i2c|--port-map 0x378=/dev/i2c-9@0x27|16x2|0x378|4|none|lcdtest: cannot open /dev/i2c-9: No such file or directory — the I2C buses here are @i2c@ (lcdtest I2C bus), @i801@ (SMBus I801 adapter at 0700): map the one the backpack hangs on
i2c_no_device|i2c|--port-map 0x378=@i2c@@0x3e|16x2|0x378|4|none|lcdtest: no device answers at 0x3E on @i2c@: check the address with i2cdetect -y 0 (a PCF8574 is at 0x20..0x27, a PCF8574A at 0x38..0x3F; the solder jumpers A0..A2 set the low bits), and the wiring and power of SDA, SCL, VCC and GND
i2c_no_device_i801|i2c|--port-map 0x378=@i801@@0x27|16x2|0x378|4|none|lcdtest: no device answers at 0x27 on @i801@: check the address with i2cdetect -y 1 (a PCF8574 is at 0x20..0x27, a PCF8574A at 0x38..0x3F; the solder jumpers A0..A2 set the low bits), and the wiring and power of SDA, SCL, VCC and GND
! unplug 0x26
i2c_unplugged|i2c|--port-map 0x378=@i2c@@0x26|16x2|0x378|4|none|lcdtest: cannot read the PCF8574 at 0x26 on @i2c@: No such device — check the bus (dmesg | grep i2c)
! unplug ""
not_in_group_i2c|nogroup|--port-map 0x378=@i2c@@0x27|16x2|0x378|4|none|lcdtest: cannot open @i2c@: Permission denied — add your user to group i2c (sudo groupadd -f i2c; sudo usermod -aG i2c $USER) and log in again; if the node is not in group i2c, a udev rule puts it there (the example 60-i2c.rules: KERNEL=="i2c-[0-9]*", SUBSYSTEM=="i2c-dev", GROUP="i2c", MODE="0660")
expanders_mcp23008|script|expanders.py @i2c@ mcp23008 0x20|-|-|4|script|-
expanders_mcp23017|script|expanders.py @i2c@ mcp23017 0x24|-|-|8|script|-
mcp23017_verify_16x2_4bit|i2c|--run 16x2:4 --verify --no-window --port-map 0x378=mcp23017:@i2c@@0x25|16x2|0x378|4|port|PASS: 16x2 4-bit, 97 bytes read back as sent
! i2c_devices "mcp23008@0x20:RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7;pcf8574@0x24:no-module;pcf8574@0x27;pcf8574@0x3f:D4=P0,D5=P1,D6=P2,D7=P3,RS=P4,RW=P5,E0=P6,BL=P7,invert=BL"
detect|i2c|--detect|-|-|-|detect|-
detected_mcp23008_16x2_4bit|i2c|--run 16x2:4 --verify --no-window --port 0x378 --port-map @found:0x20@|16x2|0x378|4|port|PASS: 16x2 4-bit, 97 bytes read back as sent
detected_pcf8574_16x2_4bit|i2c|--run 16x2:4 --verify --no-window --port 0x278 --port-map @found:0x27@|16x2|0x278|4|port|PASS: 16x2 4-bit, 97 bytes read back as sent
detected_pcf8574a_16x2_4bit|i2c|--run 16x2:4 --verify --no-window --port 0x3BC --port-map @found:0x3F@|16x2|0x3BC|4|port|PASS: 16x2 4-bit, 97 bytes read back as sent
! power_on_expanders
detect_known_wiring_rules|i2c|--detect|-|-|-|detect-rules|-
EOF
            ;;
    esac
}

mount -t debugfs none /sys/kernel/debug
mkdir -p /host/tmp/home
chmod 1777 /host/tmp/home
add_groups
: > "$out/cases"
in_host Xvfb :1 -screen 0 1024x768x24 -nolisten tcp > "$out/xvfb.log" 2>&1 &
t=0
while [ ! -S /host/tmp/.X11-unix/X1 ] && [ $t -lt 60 ]; do sleep 1; t=$((t + 1)); done

cases | while IFS= read -r row; do
    case $row in
        '! '*) eval "${row#! }" ;;
        *) run_case "$row" ;;
    esac
done
