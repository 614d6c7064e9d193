#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The main job: packs a small sample image, starts a simulated controller on a
# pseudo-terminal, downloads the image to it with `quorvale download`, and checks that the
# controller's flash now holds the image. Sets up and builds first when needed.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/build-target.sh"
build_target quorvale
quorvale="$build/src/cli/quorvale"

work="$(mktemp -d)"
simulator=""
cleanup() {
    if [ -n "$simulator" ] && kill -0 "$simulator" 2>/dev/null; then
        kill -INT "$simulator"
        wait "$simulator" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# 4 KiB of sample data with two erased (0xFF) pages in it, which the download passes over.
start=0x2000
{
    head -c 1024 /dev/urandom
    head -c 512 /dev/zero | tr '\0' '\377'
    head -c 2560 /dev/urandom
} >"$work/sample.bin"
"$quorvale" pack "$work/sample.bin" "$work/sample.qvx" \
    --baud 57600 --start "$start" --hardware 7 --version 1
echo "== Firmware file"
"$quorvale" info "$work/sample.qvx"

"$quorvale" simulate --hardware 7 --app-baud 9600 --boot-baud 57600 \
    --flash-out "$work/flash.bin" >"$work/simulator.log" &
simulator=$!
for _ in $(seq 100); do
    [ -s "$work/simulator.log" ] && break
    sleep 0.05
done
port="$(head -n 1 "$work/simulator.log")"
echo "== Simulated controller on $port"

echo "== quorvale download sample.qvx --port $port --baud 9600"
"$quorvale" download "$work/sample.qvx" --port "$port" --baud 9600

for _ in $(seq 100); do
    [ -s "$work/flash.bin" ] && break
    sleep 0.05
done
length=$(stat -c %s "$work/sample.bin")
if cmp -s -n "$length" -i "$((start)):0" "$work/flash.bin" "$work/sample.bin"; then
    echo "== Outcome: the controller's flash holds the image ($length bytes at $start)"
else
    echo "== Outcome: the controller's flash differs from the image" >&2
    exit 1
fi
