# SPDX-License-Identifier: Apache-2.0
# The scenarios, run by the guest's busybox sh. Each leaves what the tool did under /rig/out
# (exit codes, events, records, traces, what the drivers showed); the host checks it all once
# the guest is off, against the simulators' flash. The host plugs and pulls the USB adapter
# when asked through /rig/requests.
. /rig/config
quorvale="$QUORVALE_BUILD/src/cli/quorvale"
station="$QUORVALE_BUILD/src/ui/quorvale-station"
udev="$QUORVALE_BUILD/real-drivers/root"
out=/rig/out
fw=/rig/fw.qvx
mkdir -p "$out"

# Polls COMMAND... every tenth of a second until it succeeds, at most LIMIT seconds.
wait_for() {
    what="$1" limit="$2"
    shift 2
    deadline=$(($(date +%s) + limit))
    until "$@"; do
        if [ "$(date +%s)" -ge "$deadline" ]; then
            echo "guest: gave up waiting for $what" | tee -a "$out/timeouts"
            return 1
        fi
        sleep 0.1
    done
}

# Asks the host to act (plug NAME SIMULATOR-OPTIONS..., pull) and waits until it has.
requests=0
ask_host() {
    requests=$((requests + 1))
    echo "$*" >"/rig/requests/$requests.tmp"
    mv "/rig/requests/$requests.tmp" "/rig/requests/$requests"
    wait_for "the host to $1" 60 test -f "/rig/requests/$requests.done"
}

# The time since boot in hundredths of a second.
now_cs() {
    read -r up _ </proc/uptime
    echo "${up%.*}${up#*.}"
}

lines_in() {
    [ -f "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ]
}

has_text() {
    grep -q "$2" "$1" 2>/dev/null
}

adapter_in() {
    [ -c /dev/ttyUSB0 ] && [ -n "$(ls /dev/serial/by-path 2>/dev/null)" ]
}

adapter_out() {
    [ ! -e /dev/ttyUSB0 ] && [ -z "$(ls /dev/serial/by-path 2>/dev/null)" ]
}

plug() {
    ask_host plug "$@" && wait_for "the adapter to appear" 30 adapter_in
}

pull() {
    ask_host pull && wait_for "the adapter to go" 30 adapter_out
}

# The 16550: the application at 9600 8N1, the bootloader at the file's 57600.
"$quorvale" download "$fw" --port /dev/ttyS1 --json >"$out/uart.json" 2>"$out/uart.err"
echo $? >"$out/uart.rc"

# Rates the 16550 can't make, before any byte at them: the application's above its top rate,
# and the bootloader's that its divisor would turn into another.
"$quorvale" download "$fw" --port /dev/ttyS1 --baud 250000 --json \
    --trace "$out/rate-application.trace" >"$out/rate-application.json" 2>"$out/rate-application.err"
echo $? >"$out/rate-application.rc"
"$quorvale" download /rig/fw-65535.qvx --port /dev/ttyS1 --json \
    --trace "$out/rate-bootloader.trace" >"$out/rate-bootloader.json" 2>"$out/rate-bootloader.err"
echo $? >"$out/rate-bootloader.rc"

# udev as a desktop runs it, with the rules of its package: the by-id and by-path links, and
# nodes for the group dialout.
mkdir -p /run/udev/rules.d
cp "$udev"/lib/udev/rules.d/* /run/udev/rules.d/
export LD_LIBRARY_PATH="$udev/usr/lib/x86_64-linux-gnu/systemd"
# The daemon is udevadm under another name (the package's link to it is absolute).
ln -s "$udev/bin/udevadm" /run/systemd-udevd
/run/systemd-udevd --daemon
"$udev/bin/udevadm" trigger --action=add
"$udev/bin/udevadm" settle --timeout=60
unset LD_LIBRARY_PATH

# The adapter, and the port list as a program reads it.
plug ftdi-1 --hardware 7 --boot-baud 57600 --delay-reply 2 --reply-delay 3000
"$quorvale" ports >"$out/ports.txt" 2>&1
"$quorvale" ports --json >"$out/ports.json" 2>&1
for link in /dev/serial/by-id/* /dev/serial/by-path/*; do
    echo "$link $(readlink -f "$link")"
done >"$out/links.txt"
cat /sys/class/tty/ttyUSB0/device/../../serial >"$out/usb-serial-number.txt"
ls -l /dev/ttyUSB0 /dev/ttyS1 >"$out/nodes.txt"

# A download through the adapter. Its first block's reply comes three seconds late, so that
# the latency timer can be read while the tool holds the bootloader's port (the application's
# is closed again in a tenth of a second).
latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
cat "$latency" >"$out/latency-before.txt"
"$quorvale" download "$fw" --port /dev/ttyUSB0 --json >"$out/ftdi.json" 2>"$out/ftdi.err" &
download=$!
wait_for "the bootloader's hardware code" 20 has_text "$out/ftdi.json" '"phase":"connected"'
cat "$latency" >"$out/latency-during.txt"
wait "$download"
echo $? >"$out/ftdi.rc"
cat "$latency" >"$out/latency-after.txt"

# The adapter pulled while the tool waits for a block's reply (the fifth block's, which comes
# twenty seconds late).
pull
plug ftdi-2 --hardware 7 --boot-baud 57600 --delay-reply 6 --reply-delay 20000
"$quorvale" download "$fw" --port /dev/ttyUSB0 --json --record "$out/pulled.jsonl" \
    >"$out/pulled.json" 2>"$out/pulled.err" &
download=$!
wait_for "the fifth block" 30 has_text "$out/pulled.json" '"done":1024'
pulled_at=$(now_cs)
pull
wait "$download"
echo $? >"$out/pulled.rc"
echo $(($(now_cs) - pulled_at)) >"$out/pulled.centiseconds"

# Flash on plug through the socket's by-path link: a controller, pulled, another, then Ctrl-C.
plug ftdi-3 --hardware 7 --boot-baud 57600
slot="$(ls -d /dev/serial/by-path/* | head -n 1)"
echo "$slot" >"$out/slot.txt"
"$quorvale" download "$fw" --repeat --record "$out/repeat.jsonl" --port "$slot" --json \
    >"$out/repeat.json" 2>"$out/repeat.err" &
download=$!
wait_for "the first record" 30 lines_in "$out/repeat.jsonl" 1
pull
plug ftdi-4 --hardware 7 --boot-baud 57600
wait_for "the second record" 30 lines_in "$out/repeat.jsonl" 2
kill -INT "$download"
wait "$download"
echo $? >"$out/repeat.rc"

# The station window's slot loop on the same link, headless.
pull
plug ftdi-5 --hardware 7 --boot-baud 57600
mkdir -p /tmp/home
HOME=/tmp/home QT_QPA_PLATFORM=offscreen "$station" "$fw" --slot "$slot" \
    --record "$out/station.jsonl" >"$out/station.out" 2>"$out/station.err" &
window=$!
wait_for "the station's record" 60 lines_in "$out/station.jsonl" 1
kill -TERM "$window"
wait "$window"
echo $? >"$out/station.rc"
pull
