#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the core, quorvale.exe, the dialog quorvale-bootloader.exe and the station
# quorvale-station.exe for Windows (mingw-w64, static) and tests them under wine: the core's
# unit tests, then downloads from quorvale.exe through COM5, which the wine prefix maps to the
# pseudo-terminal of a Linux simulator, and a download at 300 baud interrupted mid-block
# (COM8), then signed jobs, then a whole download through the dialog on a virtual X server
# (COM7), then the station with controllers plugged into COM7 and COM8 and unplugged, then the
# NSIS installer, installed and uninstalled silently. No COM name of the prefix is left
# pointing at a real serial port of the machine.
#   scripts/test-windows.sh                  the tests
#   scripts/test-windows.sh --screenshots    ... and the dialog's and station's pictures into docs/
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/build-target.sh"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
build_target quorvale   # the Linux tool: its simulator plays the controllers
linux_quorvale="$build/src/cli/quorvale"
windows_build="$root/build-windows"

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ ! -x /usr/lib/wine/wine64 ] ||
    ! command -v makensis >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix wine64 \
        nsis
fi

needed=()
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || needed+=(xvfb xdotool imagemagick)
done
if [ ${#needed[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends xvfb xdotool imagemagick
fi

work="$(mktemp -d)"
pictures="$work"
[ "${1:-}" = "--screenshots" ] && pictures="$root/docs"
simulators=()
xserver=""
export WINEPREFIX="$work/wine" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
cleanup() {
    for pid in "${simulators[@]}"; do
        kill -INT "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -z "$xserver" ] || kill "$xserver" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Starts `quorvale simulate ARGS...` and answers its terminal in the variable named first.
start_simulator() {
    local into="$1" log="$work/sim-$RANDOM.log"
    shift
    "$linux_quorvale" simulate "$@" >"$log" &
    simulators+=($!)
    for _ in $(seq 100); do
        [ -s "$log" ] && break
        sleep 0.05
    done
    printf -v "$into" '%s' "$(head -n 1 "$log")"
}

start_simulator good --hardware 7 --flash-out "$work/flash-windows.bin" --wire-out "$work/wire-windows.txt"
start_simulator wrong --hardware 9
# The dialog's controller listens at 19200 baud and runs at line speed, so that its download
# lasts long enough to be seen.
start_simulator dialog --hardware 7 --app-baud 19200 --paced --flash-out "$work/flash-dialog.bin"
# A bootloader at 300 baud on a line run at that speed: a block takes ten seconds to cross it.
start_simulator slow --hardware 7 --boot-baud 300 --paced

echo "== wine prefix"
"$wine" wineboot --init >/dev/null 2>&1
# Every COM name the probe tries is spoken for, so wine gives the machine's own serial ports
# names past COM9 that nothing here opens.
for n in 1 2 3 4 5 6 7 8 9; do
    case $n in
        5) target="$good" ;;
        6) target="$wrong" ;;
        7) target="$dialog" ;;
        8) target="$slow" ;;
        *) target="/nonexistent/com$n" ;;
    esac
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$target" /f >/dev/null 2>&1
done
# A persistent server keeps wine's mount manager from mapping the devices anew mid-run, so the
# links made here are the ones every program sees.
/usr/lib/wine/wineserver -k
# The server keeps the descriptors it was started with, and on its way out it lists every
# object it still holds there: thousands of lines of nothing to the log.
/usr/lib/wine/wineserver -p >/dev/null 2>&1
"$wine" cmd /c exit >/dev/null 2>&1 || true
# Wine also named the machine's own serial ports, from COM10 on; those links go with the rest.
rm -f "$WINEPREFIX"/dosdevices/com*
ln -s "$good" "$WINEPREFIX/dosdevices/com5"
ln -s "$wrong" "$WINEPREFIX/dosdevices/com6"
ln -s "$dialog" "$WINEPREFIX/dosdevices/com7"
ln -s "$slow" "$WINEPREFIX/dosdevices/com8"
no_real_ports() {
    if find "$WINEPREFIX/dosdevices" -maxdepth 1 -iname 'com*' -lname '/dev/tty*' | grep -q .; then
        echo "the wine prefix points at a serial port of this machine; stopping" >&2
        exit 1
    fi
}
no_real_ports

echo "== windows build"
cmake -S "$root" -B "$windows_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUORVALE_WERROR=ON >/dev/null
cmake --build "$windows_build"
exe="$windows_build/src/cli/quorvale.exe"
bootloader="$windows_build/src/ui/quorvale-bootloader.exe"
for program in "$exe" "$bootloader" "$windows_build/src/ui/quorvale-station.exe"; do
    if x86_64-w64-mingw32-objdump -p "$program" | grep 'DLL Name' |
        grep -viE 'kernel32|msvcrt|setupapi|advapi32|user32|gdi32|comctl32|comdlg32|bcrypt|shell32|ole32'; then
        echo "$(basename "$program") needs DLLs beyond the system's" >&2
        exit 1
    fi
done

echo "== unit tests under wine"
(cd "$windows_build" && ctest -j2 --output-on-failure)


echo "== pack under wine"
# The same image as Intel HEX and as S-records (linked at 0x08001000, with gaps): quorvale.exe
# must make the very file the Linux build makes of each.
head -c 6000 /dev/urandom >"$work/image.bin"
head -c 300 /dev/zero | tr '\0' '\377' | dd of="$work/image.bin" bs=1 seek=2000 conv=notrunc 2>/dev/null
srec_cat "$work/image.bin" -Binary -offset 0x08001000 -Unfill 0xFF 16 -o "$work/image.hex" -Intel \
    -Line_Termination CRLF
srec_cat "$work/image.bin" -Binary -offset 0x08001000 -Unfill 0xFF 16 -o "$work/image.s37" \
    -Motorola -Address_Length=4
set +e
for input in image.hex image.s37; do
    "$linux_quorvale" pack "$work/$input" "$work/$input-linux.qvx" --base 0x08000000 \
        --baud 57600 --hardware 7 --version 4
    "$wine" "$exe" pack "Z:${work//\//\\}\\$input" "Z:${work//\//\\}\\$input-windows.qvx" \
        --base 0x08000000 --baud 57600 --hardware 7 --version 4 >/dev/null 2>"$work/err.txt"
    check "quorvale.exe packs $input" 0 $?
    cmp -s "$work/$input-linux.qvx" "$work/$input-windows.qvx"
    check "into the Linux build's bytes" 0 $?
done
set -e


echo "== downloads under wine"
head -c 3000 /dev/urandom >"$work/raw.bin"
"$linux_quorvale" pack "$work/raw.bin" "$work/fw.qvx" --baud 19200 --start 0x1000 --hardware 7 --version 3
windows_file="Z:${work//\//\\}\\fw.qvx"

set +e
"$wine" "$exe" download "$windows_file" --port COM5 >"$work/out.txt" 2>"$work/err.txt"
check "download through COM5 succeeds" 0 $?
for _ in $(seq 100); do [ -s "$work/flash-windows.bin" ] && break; sleep 0.05; done
cmp -s -n 3000 -i 4096:0 "$work/flash-windows.bin" "$work/raw.bin"
check "the controller's flash holds the image" 0 $?

start_simulator linux --hardware 7 --wire-out "$work/wire-linux.txt"
"$linux_quorvale" download "$work/fw.qvx" --port "$linux" >/dev/null 2>&1
for _ in $(seq 100); do [ -s "$work/wire-linux.txt" ] && break; sleep 0.05; done
cmp -s "$work/wire-linux.txt" "$work/wire-windows.txt"
check "the same bytes on the wire as from the Linux build" 0 $?

# The production line's outputs: events, a record line, the trace. The file's digest comes
# from the system's own library on Windows; it must be the one Linux computes.
"$wine" "$exe" download "$windows_file" --port COM5 --json --record "Z:${work//\//\\}\\record.jsonl" \
    --trace "Z:${work//\//\\}\\trace.txt" >"$work/events.txt" 2>"$work/err.txt"
check "a download with events, a record and a trace succeeds" 0 $?
check "its last event" '"outcome":"completed"' "$(tail -n 1 "$work/events.txt" | grep -o '"outcome":"completed"')"
check "its digest" "$(sha256sum "$work/fw.qvx" | cut -d' ' -f1)" \
    "$(head -n 1 "$work/events.txt" | grep -o '"file_sha256":"[0-9a-f]*"' | cut -d'"' -f4)"
check "its record" 1 "$(grep -c '"outcome":"completed"' "$work/record.jsonl")"
check "its trace starts with the application's settings" "COM5 9600 8N1" \
    "$(head -n 1 "$work/trace.txt" | cut -d' ' -f2- | tr -d '\r')"

"$wine" "$exe" download "$windows_file" --port COM6 >/dev/null 2>"$work/err.txt"
check "a wrong hardware code fails" 1 $?
check "its text" "Incorrect hardware code '9' from port 'COM6'" "$(head -n 1 "$work/err.txt" | tr -d '\r')"

# No name from COM10 on is left in the prefix: COM11 is missing (and is opened through the
# \\.\ prefix, as every port from COM10 on).
"$wine" "$exe" download "$windows_file" --port COM11 >/dev/null 2>"$work/err.txt"
check "a missing port fails" 1 $?
check "its text" "Failed to open application port 'COM11'" "$(head -n 1 "$work/err.txt" | tr -d '\r')"
# Wine names COM1 to COM9 whether or not anything is behind them: COM9 is waited for, not
# opened at once.
"$wine" "$exe" download "$windows_file" --port COM9 --wait-timeout 1.5 >/dev/null 2>"$work/err.txt"
check "--wait on COM9 with nothing behind it gives up when the time is out" \
    "1 Port 'COM9' did not appear within 1.5 seconds" "$? $(tail -n 1 "$work/err.txt" | tr -d '\r')"

# Ctrl-C while a block is on its way: the console's handler stops the download, and the wait
# for the block's reply ends at once instead of when the line has carried it.
head -c 1024 /dev/urandom >"$work/slow.bin"
"$linux_quorvale" pack "$work/slow.bin" "$work/slow.qvx" --baud 300 --start 0x1000 --hardware 7 \
    --version 3
"$wine" "$exe" download "Z:${work//\//\\}\\slow.qvx" --port COM8 \
    --trace "Z:${work//\//\\}\\slow-trace.txt" >/dev/null 2>&1 &
slow_download=$!
# A block is 262 bytes; the trace shows it once the port has taken it.
for _ in $(seq 600); do
    grep -qE -- '-> ([0-9a-f]{2} ){200}' "$work/slow-trace.txt" 2>/dev/null && break
    sleep 0.05
done
grep -qE -- '-> ([0-9a-f]{2} ){200}' "$work/slow-trace.txt"
check "a download at 300 baud sends its first block" 0 $?
interrupted=$(date +%s%N)
kill -INT "$slow_download"
for _ in $(seq 250); do kill -0 "$slow_download" 2>/dev/null || break; sleep 0.02; done
ended_after_ms=$((($(date +%s%N) - interrupted) / 1000000))
wait "$slow_download"
check "Ctrl-C mid-block ends the download as interrupted" 130 $?
# What it takes is the stop and wine's own exit, far under the ten seconds of the block.
[ "$ended_after_ms" -lt 1000 ]
check "and within a second (took ${ended_after_ms} ms)" 0 $?

"$wine" "$exe" ports >"$work/ports.txt" 2>&1
check "ports succeeds" 0 $?
grep -q "^COM5"$'\t'"COM5"$'\r'"\?$" "$work/ports.txt"
check "ports lists COM5" 0 $?

echo "== signed jobs under wine"
# Signed on Linux, taken by quorvale.exe; signed by quorvale.exe, checked on Linux.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
"$linux_quorvale" key new "$work/linux.key" >/dev/null
"$linux_quorvale" job make "$work/fw.qvx" "$work/linux.job" --key "$work/linux.key" --name "Board 7" \
    >/dev/null
"$wine" "$exe" download --job "$(windows_path "$work/linux.job")" \
    --trust "$(windows_path "$work/linux.key.pub")" --port COM5 \
    --record "$(windows_path "$work/job-record.jsonl")" >/dev/null 2>"$work/err.txt"
check "a job signed on Linux is flashed by quorvale.exe" "0 \"job_name\":\"Board 7\"" \
    "$? $(grep -o '"job_name":"[^"]*"' "$work/job-record.jsonl")"
"$wine" "$exe" key new "$(windows_path "$work/windows.key")" >/dev/null 2>&1
"$wine" "$exe" job make "$windows_file" "$(windows_path "$work/windows.job")" \
    --key "$(windows_path "$work/windows.key")" >/dev/null 2>&1
"$linux_quorvale" job show "$work/windows.job" --trust "$work/windows.key.pub" >"$work/show.txt"
check "a job signed by quorvale.exe verifies on Linux" "0 Signature: verified, by a trusted key" \
    "$? $(tail -n 1 "$work/show.txt")"
sed 's/"name": "fw"/"name": "fw2"/' "$work/windows.job" >"$work/altered.job"
"$wine" "$exe" download --job "$(windows_path "$work/altered.job")" \
    --trust "$(windows_path "$work/windows.key.pub")" --port COM5 >/dev/null 2>"$work/err.txt"
check "a job changed after signing is refused by quorvale.exe" "2 signature" \
    "$? $(grep -o 'refused by its [a-z]* check' "$work/err.txt" | cut -d' ' -f4)"

echo "== the dialog under wine"
# A virtual X server, and wine's own desktop in it, which draws the dialog's frame as Windows
# would. The port and the rate are stored beforehand, as a technician's last run left them.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
xserver=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"
settings='HKCU\Software\Quorvale\Bootloader\SerialPort'
"$wine" reg add "$settings" /v Name /t REG_SZ /d COM7 /f >/dev/null 2>&1
# "1920" selects the first rate that begins with it, 19200, which OK then stores in full.
"$wine" reg add "$settings" /v Baud /t REG_SZ /d 1920 /f >/dev/null 2>&1
head -c 8192 /dev/urandom >"$work/dialog.bin"
"$linux_quorvale" pack "$work/dialog.bin" "$work/controller-v3.qvx" --baud 57600 --start 0x1000 \
    --hardware 7 --version 3
"$wine" explorer /desktop=Quorvale,640x250 "$bootloader" "Z:${work//\//\\}\\controller-v3.qvx" \
    >/dev/null 2>&1 &
dialog_pid=$!
desktop="$(timeout 30 xdotool search --sync --name 'Wine desktop' | head -n 1)"
[ -n "$desktop" ]
check "the dialog opens" 0 $?
# Cuts the desktop's background off, leaving the dialog with its frame.
picture() { import -window "$desktop" -trim +repage "$pictures/$1"; }
# The dialog has been drawn once the desktop is no longer a plain background.
dialog_drawn() { [ "$(import -window "$desktop" -trim info:- 2>/dev/null | cut -d' ' -f3)" != "1x1" ]; }
for _ in $(seq 150); do dialog_drawn && break; sleep 0.2; done
sleep 0.5
picture windows-dialog-ready.png
# A click on the caption makes the dialog the active window; then Enter presses OK. Enter
# is pressed again until the download has finished, should the first press have come too
# early on a slow machine: once a download runs, the dialog ignores it.
press_enter() {
    xdotool mousemove --window "$desktop" 300 12 click 1
    sleep 0.3
    xdotool key Return
}
press_enter
sleep 1.2
picture windows-dialog-downloading.png
for attempt in $(seq 400); do
    [ -s "$work/flash-dialog.bin" ] && break
    [ $((attempt % 60)) -eq 0 ] && press_enter
    sleep 0.05
done
cmp -s -n 8192 -i 4096:0 "$work/flash-dialog.bin" "$work/dialog.bin"
check "Enter downloads the file through the dialog" 0 $?
sleep 1
picture windows-dialog-completed.png
for value in "Name COM7" "Baud 19200" "DataBits 8" "parity None" "StopBits 1"; do
    set -- $value
    "$wine" reg query "$settings" /v "$1" 2>/dev/null | tr -d '\r' |
        grep -qE "^ +$1 +REG_SZ +$2\$"
    check "the registry holds $1 = $2" 0 $?
done
xdotool key Escape
for _ in $(seq 200); do kill -0 "$dialog_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$dialog_pid" 2>/dev/null
check "Escape closes the dialog" 1 $?

echo "== the station under wine"
# Two slots, COM7 and COM8, plugged by making the prefix's links to simulators' terminals and
# unplugged by removing them, as a USB adapter's name comes and goes.
start_simulator station_first --hardware 7 --flash-out "$work/flash-station-first.bin"
start_simulator station_second --hardware 7
start_simulator station_again --hardware 7 --flash-out "$work/flash-station-again.bin"
rm -f "$WINEPREFIX/dosdevices/com7" "$WINEPREFIX/dosdevices/com8"
station_record="$work/station.jsonl"
record_lines() { [ -f "$station_record" ] && wc -l <"$station_record" || echo 0; }
await_record_lines() {
    for _ in $(seq 300); do [ "$(record_lines)" -ge "$1" ] && return 0; sleep 0.05; done
    return 1
}
"$wine" explorer /desktop=Station,860x560 "$windows_build/src/ui/quorvale-station.exe" \
    "Z:${work//\//\\}\\controller-v3.qvx" --slot COM7 --slot COM8 \
    --record "Z:${work//\//\\}\\station.jsonl" >/dev/null 2>&1 &
station_pid=$!
desktop="$(timeout 30 xdotool search --sync --name 'Wine desktop' | tail -n 1)"
[ -n "$desktop" ]
check "the station opens" 0 $?
for _ in $(seq 150); do dialog_drawn && break; sleep 0.2; done
picture windows-station-waiting.png
ln -s "$station_first" "$WINEPREFIX/dosdevices/com7"
ln -s "$station_second" "$WINEPREFIX/dosdevices/com8"
await_record_lines 2
check "a controller plugged into each slot is flashed" 0 $?
sleep 0.5
picture windows-station-passed.png
# The hand that unplugs one controller and plugs the next takes a moment.
rm "$WINEPREFIX/dosdevices/com7"
sleep 2
ln -s "$station_again" "$WINEPREFIX/dosdevices/com7"
await_record_lines 3
check "the next controller plugged into COM7 is flashed too" 0 $?
# The simulator writes its flash after the finish frame, on a thread of its own.
for _ in $(seq 100); do [ -s "$work/flash-station-again.bin" ] && break; sleep 0.05; done
cmp -s -n 8192 -i 4096:0 "$work/flash-station-again.bin" "$work/dialog.bin"
check "with the file's image" 0 $?
xdotool mousemove --window "$desktop" 300 12 click 1
sleep 0.3
xdotool key ctrl+q
for _ in $(seq 200); do kill -0 "$station_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$station_pid" 2>/dev/null
check "Ctrl+Q closes the station" 1 $?
wait "$station_pid"
check "and it ends with exit code 0" 0 $?
completed="$(grep -c '"outcome":"completed"' "$station_record")"
slots="$(grep -o '"port":"COM[0-9]*"' "$station_record" | cut -d'"' -f4 | sort -u | tr '\n' ' ')"
check "the record holds three completed downloads from both slots" "3 COM7 COM8 " "$completed $slots"
station_settings='HKCU\Software\Quorvale\Station'
"$wine" reg query "$station_settings" /v slots 2>/dev/null | tr -d '\r' |
    grep -qE '^ +slots +REG_MULTI_SZ +COM7\\0COM8'
check "the registry remembers the slots" 0 $?
"$wine" reg query "$station_settings\\SerialPort" /v Baud 2>/dev/null | tr -d '\r' |
    grep -qE '^ +Baud +REG_SZ +9600$'
check "and the line as the dialog keeps it" 0 $?

echo "== the installer under wine"
cmake --build "$windows_build" --target package >/dev/null
version="$(sed -n 's/^project(quorvale VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
"$wine" "$windows_build/quorvale-$version-setup.exe" /S '/D=C:\Quorvale' >/dev/null 2>&1
check "the silent installer puts quorvale.exe where /D= says" "quorvale $version" \
    "$("$wine" 'C:\Quorvale\bin\quorvale.exe' --version 2>/dev/null | tr -d '\r')"
[ -f "$WINEPREFIX/drive_c/Quorvale/bin/quorvale-bootloader.exe" ]
check "and the dialog beside it" 0 $?
check "with a Start-menu shortcut to the dialog" 1 \
    "$(find "$WINEPREFIX/drive_c" -name 'Quorvale Bootloader.lnk' | wc -l)"
[ -f "$WINEPREFIX/drive_c/Quorvale/bin/quorvale-station.exe" ]
check "and the station" 0 $?
check "with a Start-menu shortcut to the station" 1 \
    "$(find "$WINEPREFIX/drive_c" -name 'Quorvale Station.lnk' | wc -l)"
cmp -s "$WINEPREFIX/drive_c/Quorvale/LICENSE.txt" "$root/LICENSE"
check "and the licence, which the installer shows on a page of its own" "0 1" \
    "$? $(grep -c 'MUI_PAGE_LICENSE' "$windows_build"/_CPack_Packages/*/NSIS/project.nsi)"
"$wine" 'C:\Quorvale\Uninstall.exe' /S >/dev/null 2>&1
# The uninstaller copies itself away and goes on from there, after this call has returned.
for _ in $(seq 100); do [ -e "$WINEPREFIX/drive_c/Quorvale" ] || break; sleep 0.1; done
check "the silent uninstaller leaves nothing" "0 0" \
    "$(find "$WINEPREFIX/drive_c/Quorvale" 2>/dev/null | wc -l) $(find "$WINEPREFIX/drive_c" -name 'Quorvale*.lnk' | wc -l)"
set -e

no_real_ports
checks_summary "windows"
