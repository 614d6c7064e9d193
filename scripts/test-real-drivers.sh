#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The tool on real kernel serial drivers: a Linux guest under QEMU (software CPU), whose 8250
# driver runs a 16550 UART (/dev/ttyS1) and whose ftdi_sio driver runs a USB adapter
# (/dev/ttyUSB0) that the host plugs and pulls, with udev making the links a desktop has. Each
# line leads to a `quorvale simulate` on the host. The tool built here runs in the guest
# unchanged: the host's /usr and the build folder are shared with it read-only.
#
# The guest (Debian's kernel and udev, unpacked, never installed, and an initramfs of busybox)
# is built once into the build folder. One boot runs every scenario of
# scripts/real-drivers/scenarios.sh; the host serves the guest's requests to plug and pull the
# adapter, and checks what the guest recorded once it has powered off.
#
# QEMU does not pace the line at its rate: this tests drivers, not timing.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/build-target.sh"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
build_target quorvale quorvale-station
quorvale="$build/src/cli/quorvale"
station="$build/src/ui/quorvale-station"
guest="$build/real-drivers"
rig="$root/scripts/real-drivers"
# How long one guest may live, boot to power-off.
guest_limit=300

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
installed() {
    [ "$(dpkg-query -W -f '${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}
# Installs each package named that isn't yet.
install_missing() {
    local needed=() package
    for package in "$@"; do
        installed "$package" || needed+=("$package")
    done
    [ ${#needed[@]} -gt 0 ] || return 0
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" apt-get install -y --no-install-recommends "${needed[@]}" >/dev/null
}
# The static busybox, which runs in a guest without the host's libraries; the dynamic one
# would not.
install_missing qemu-system-x86 busybox-static socat jq cpio

# Fetches Debian packages into the current folder; apt's download sandbox can't write here as
# its own user, which it says (the files are the same).
download_packages() {
    apt-get download "$@" 2>&1 | { grep -v 'unsandboxed' || true; }
}
# With fresh package lists when the ones here name versions the mirror no longer has.
fetch_packages() {
    download_packages "$@" && return 0
    "${as_root[@]}" apt-get update -qq
    download_packages "$@" && return 0
    echo "cannot fetch the guest's packages ($*) from the package mirror" >&2
    return 1
}

# udevd runs in the guest on the host's libraries (its /usr is the host's): the ones the
# unpacked packages need.
install_udev_libraries() {
    local libraries
    libraries="$(apt-cache depends udev libsystemd-shared 2>/dev/null |
        sed -n 's/^ *|\{0,1\}Depends: \(lib[^ <]*\)$/\1/p' | grep -v '^libsystemd-shared$' |
        sort -u)"
    # shellcheck disable=SC2086 # one package name per word
    install_missing $libraries
}

# The kernel and udev packages, unpacked into the build folder; the initramfs with busybox,
# the modules the rig needs (and theirs), and the guest's /init.
build_guest() {
    local kernel_package
    kernel_package="$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)"
    if [ -z "$kernel_package" ]; then
        "${as_root[@]}" apt-get update -qq
        kernel_package="$(apt-cache depends linux-image-amd64 |
            sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)"
    fi
    local stamp
    stamp="$kernel_package $(cat "$rig/init" "${BASH_SOURCE[0]}" | sha256sum | cut -c1-16)"
    if [ -f "$guest/stamp" ] && [ "$(cat "$guest/stamp")" = "$stamp" ]; then
        return
    fi
    echo "== building the guest ($kernel_package)"
    rm -rf "$guest"
    mkdir -p "$guest/debs" "$guest/root" "$guest/initramfs"
    (cd "$guest/debs" && fetch_packages "$kernel_package" udev libsystemd-shared)
    for deb in "$guest"/debs/*.deb; do
        dpkg-deb -x "$deb" "$guest/root"
    done
    rm -rf "$guest/debs"
    install_udev_libraries
    local version="${kernel_package#linux-image-}"
    local modules="$guest/root/lib/modules/$version"
    busybox depmod -b "$guest/root" "$version"

    local initramfs="$guest/initramfs"
    mkdir -p "$initramfs/bin" "$initramfs/etc" "$initramfs/lib/modules/$version"
    cp "$(dpkg-query -L busybox-static | grep -m 1 '/bin/busybox$')" "$initramfs/bin/busybox"
    ln -s busybox "$initramfs/bin/sh"
    cp "$rig/init" "$initramfs/init"
    # Each module the rig needs, with every module it needs in turn, from modules.dep.
    local wanted="kernel/drivers/virtio/virtio_pci.ko kernel/net/9p/9pnet_virtio.ko
        kernel/fs/9p/9p.ko kernel/drivers/usb/host/xhci-pci.ko
        kernel/drivers/usb/serial/ftdi_sio.ko"
    local module
    for module in $wanted $(for m in $wanted; do
        sed -n "s|^$m: ||p" "$modules/modules.dep"
    done); do
        mkdir -p "$initramfs/lib/modules/$version/$(dirname "$module")"
        cp "$modules/$module" "$initramfs/lib/modules/$version/$module"
    done
    busybox depmod -b "$initramfs" "$version"
    printf 'root:x:0:0:root:/root:/bin/sh\n' >"$initramfs/etc/passwd"
    printf 'root:x:0:\ndialout:x:20:\n' >"$initramfs/etc/group"
    (cd "$initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$guest/initramfs.gz"
    cp "$guest/root/boot/vmlinuz-$version" "$guest/vmlinuz"
    echo "$stamp" >"$guest/stamp"
}
build_guest

work="$(mktemp -d)"
share="$work/share"
mkdir -p "$share/requests" "$share/out"
declare -A simulator_pids=()
qemu_pid=""
cleanup() {
    [ -z "$qemu_pid" ] || kill "$qemu_pid" 2>/dev/null || true
    [ -z "$qemu_pid" ] || wait "$qemu_pid" 2>/dev/null || true
    local pid
    for pid in "${simulator_pids[@]}"; do
        end_simulator "$pid"
    done
    if [ -n "${QUORVALE_KEEP_RIG:-}" ]; then
        echo "the rig's files are in $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

# Runs COMMAND... every tenth of a second until it succeeds, for at most SECONDS; answers
# whether it did.
wait_until() {
    local tenths=$(($1 * 10))
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

# Starts `quorvale simulate` as NAME with its flash written to the share, and answers its
# terminal in the variable `terminal`.
start_simulator() {
    local name="$1" log="$work/simulator-$1.log"
    shift
    "$quorvale" simulate "$@" --flash-out "$share/flash-$name.bin" \
        --wire-out "$share/wire-$name.txt" >"$log" 2>&1 &
    simulator_pids[$name]=$!
    wait_until 5 test -s "$log" || true
    terminal="$(head -n 1 "$log")"
    [ -c "$terminal" ]
}

ended() {
    ! kill -0 "$1" 2>/dev/null
}

# Ctrl-C to a simulator, and the end of it when it hasn't ended in five seconds.
end_simulator() {
    local pid="$1"
    kill -INT "$pid" 2>/dev/null || true
    wait_until 5 ended "$pid" || kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

stop_simulator() {
    end_simulator "${simulator_pids[$1]}"
    unset "simulator_pids[$1]"
}

# One command to QEMU's monitor; answers what it printed.
monitor() {
    printf '%s\n' "$*" | socat -t 2 - "UNIX-CONNECT:$work/monitor.sock" | tr -d '\r'
}

# The adapter in the guest's USB socket 1, its serial line leading to a new simulator. The
# same socket keeps the by-path link the same from plug to plug.
plugged=""
plug() {
    local name="$1"
    shift
    start_simulator "$name" "$@" || return 1
    monitor "chardev-add serial,id=line-$name,path=$terminal" >/dev/null
    monitor "device_add usb-serial,chardev=line-$name,id=adapter,bus=xhci.0,port=1,serial=QV$name" \
        >/dev/null
    plugged="$name"
}

# Removes the adapter's line; answers whether it is gone.
line_removed() {
    monitor "chardev-remove line-$1" >/dev/null
    local chardevs
    chardevs="$(monitor "info chardev")"
    [[ "$chardevs" != *"line-$1:"* ]]
}

pull() {
    [ -n "$plugged" ] || return 1
    monitor "device_del adapter" >/dev/null
    # The adapter goes when the guest has let go of it, and its line only after that.
    wait_until 10 line_removed "$plugged" || true
    stop_simulator "$plugged"
    plugged=""
}

# Serves the guest's requests, in order, for as long as the guest runs.
serve_guest() {
    local next=1 request status
    while kill -0 "$qemu_pid" 2>/dev/null; do
        if [ ! -f "$share/requests/$next" ]; then
            sleep 0.1
            continue
        fi
        read -r -a request <"$share/requests/$next"
        # Called where a failure is an answer to the guest, not the end of this script.
        status=0
        case "${request[0]}" in
            plug) plug "${request[@]:1}" || status=$? ;;
            pull) pull || status=$? ;;
            *) status=2 ;;
        esac
        echo "$status" >"$share/requests/$next.done"
        next=$((next + 1))
    done
}

echo "== the tool in a guest on real serial drivers"
head -c 4096 /dev/urandom >"$work/image.bin"
"$quorvale" pack "$work/image.bin" "$share/fw.qvx" --baud 57600 --start 0x2000 --hardware 7 \
    --version 1
"$quorvale" pack "$work/image.bin" "$share/fw-65535.qvx" --baud 65535 --start 0x2000 \
    --hardware 7 --version 1
cp "$rig/scenarios.sh" "$share/scenarios.sh"
printf 'QUORVALE_BUILD=%q\n' "$build" >"$share/config"
start_simulator uart --hardware 7 --boot-baud 57600
started=$SECONDS
timeout -k 10 "$guest_limit" qemu-system-x86_64 -accel tcg -cpu max -m 512 -smp 1 -nodefaults \
    -display none -no-reboot \
    -kernel "$guest/vmlinuz" -initrd "$guest/initramfs.gz" -append "console=ttyS0 panic=-1 quiet" \
    -chardev "file,id=console,path=$work/console.log" -device isa-serial,chardev=console,index=0 \
    -chardev "serial,id=uart,path=$terminal" -device isa-serial,chardev=uart,index=1 \
    -device qemu-xhci,id=xhci \
    -fsdev local,id=usr,path=/usr,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=usr,mount_tag=usr \
    -fsdev "local,id=build,path=$build,security_model=none,readonly=on,multidevs=remap" \
    -device virtio-9p-pci,fsdev=build,mount_tag=build \
    -fsdev "local,id=rig,path=$share,security_model=none,multidevs=remap" \
    -device virtio-9p-pci,fsdev=rig,mount_tag=rig \
    -monitor "unix:$work/monitor.sock,server=on,wait=off" &
qemu_pid=$!
serve_guest
wait "$qemu_pid" || true
qemu_pid=""
echo "guest ran $((SECONDS - started)) s"


out="$share/out"
# What a file in the guest's results says, or nothing when the guest never wrote it.
result() {
    cat "$out/$1" 2>/dev/null || true
}
# One field of the last event of that kind in an events file.
event_field() {
    jq -rs --arg event "$2" "map(select(.event == \$event)) | last | $3" "$out/$1" 2>/dev/null ||
        true
}
holds_image() {
    cmp -s -i $((0x2000)):0 -n 4096 "$share/flash-$1.bin" "$work/image.bin" && echo yes || echo no
}

echo "-- the 16550 (8250 driver)"
check "a download through /dev/ttyS1 completes" 0 "$(result uart.rc)"
check "and the controller's flash holds the image" yes "$(holds_image uart)"
check "the hand-over at the application's 9600 8N1, then the bootloader's 57600 8N2" \
    "9600 1 5a5a5a043cc3|57600 2" "$(head -n 2 "$share/wire-uart.txt" 2>/dev/null |
        sed -n '1s/^\(9600 1 5a5a5a043cc3\).*/\1/p; 2s/^\(57600 2\) .*/\1/p' | paste -sd '|')"
check "250000 baud, beyond the UART, fails the application's open" \
    "1 open_application_port The port cannot run at 250000 baud (nearest 115200)" \
    "$(result rate-application.rc) $(event_field rate-application.json failure \
        '.kind + " " + .system_error')"
check "before any byte goes out" 0 "$(grep -c -- ' -> ' "$out/rate-application.trace" || true)"
check "65535 baud, which its divisor makes 57600, fails the bootloader's open" \
    "1 open_bootloader_port The port cannot run at 65535 baud (nearest 57600)" \
    "$(result rate-bootloader.rc) $(event_field rate-bootloader.json failure \
        '.kind + " " + .system_error')"
check "after the hand-over at 9600 and before any byte at 65535" "9600 8N1|-> 5a 5a 5a 04 3c c3" \
    "$(cut -d' ' -f3- "$out/rate-bootloader.trace" 2>/dev/null | paste -sd '|')"

echo "-- the USB adapter (ftdi_sio) with udev"
usb_port='.[] | select(.port == "/dev/ttyUSB0")'
check "ports --json gives its by-id link, as udev made it" \
    "$(sed -n 's|^\(/dev/serial/by-id/[^ ]*\) /dev/ttyUSB0$|\1|p' "$out/links.txt" | head -n 1)" \
    "$(jq -r "$usb_port | .by_id" "$out/ports.json" 2>/dev/null)"
check "and its by-path link" \
    "$(sed -n 's|^\(/dev/serial/by-path/[^ ]*\) /dev/ttyUSB0$|\1|p' "$out/links.txt" |
        head -n 1)" \
    "$(jq -r "$usb_port | .by_path" "$out/ports.json" 2>/dev/null)"
check "its vendor, product and serial number" "0403 6001 $(result usb-serial-number.txt)" \
    "$(jq -r "$usb_port | \"\\(.usb_vid) \\(.usb_pid) \\(.serial_number)\"" "$out/ports.json" \
        2>/dev/null)"
check "ports lists the UART and the adapter, not the UARTs that aren't there" \
    "/dev/ttyS1 /dev/ttyUSB0" \
    "$(jq -r '[.[].port | select(test("ttyS[1-3]|ttyUSB"))] | join(" ")' "$out/ports.json" \
        2>/dev/null)"
check "and so does ports, one port per line" "/dev/ttyS1|/dev/ttyUSB0" \
    "$(cut -f1 "$out/ports.txt" 2>/dev/null | grep -E 'ttyS[1-3]|ttyUSB' | paste -sd '|')"
check "the nodes belong to the group dialout" "crw-rw---- root dialout|crw-rw---- root dialout" \
    "$(awk '{print $1, $3, $4}' "$out/nodes.txt" | paste -sd '|')"
check "a download through /dev/ttyUSB0 completes" "0 yes" "$(result ftdi.rc) $(holds_image ftdi-1)"
check "with low latency while the tool holds the port, put back after" \
    "1 $(result latency-before.txt)" "$(result latency-during.txt) $(result latency-after.txt)"

echo "-- the adapter pulled mid-download"
check "exit 1" 1 "$(result pulled.rc)"
check "within 10 s" yes "$([ "$(result pulled.centiseconds)" -lt 1000 ] 2>/dev/null && echo yes)"
check "a lost port, with the step's text" "port_lost Failed to send data block at address 9216" \
    "$(event_field pulled.json failure '.kind + " " + .message')"
check "and the reason" "The port went away" \
    "$(event_field pulled.json failure '.system_error' | cut -c1-18)"
check "in the record too" port_lost "$(jq -r .failure_kind "$out/pulled.jsonl" 2>/dev/null)"

echo "-- flash on plug through the by-path link"
slot="$(result slot.txt)"
check "two controllers, two completed records, then Ctrl-C ends it with exit 0" \
    "0 completed $slot|completed $slot" \
    "$(result repeat.rc) $(jq -r '.outcome + " " + .port' "$out/repeat.jsonl" 2>/dev/null |
        paste -sd '|')"
check "each controller holds the image" "yes yes" "$(holds_image ftdi-3) $(holds_image ftdi-4)"
check "the station's slot loop flashes the controller in the slot, headless" \
    "0 completed $slot yes" "$(result station.rc) $(jq -r '.outcome + " " + .port' \
        "$out/station.jsonl" 2>/dev/null) $(holds_image ftdi-5)"
check "no wait of the guest's gave up" "" "$(result timeouts)"

if [ "$failures" -gt 0 ]; then
    echo "-- what the guest said" >&2
    cat "$share/guest.log" >&2 2>/dev/null || true
    tail -n 20 "$work/console.log" >&2 2>/dev/null || true
fi
checks_summary real-drivers
