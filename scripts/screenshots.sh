#!/usr/bin/env bash
# Redraws docs/dialog-*.png: the download dialog in a real window on a virtual X server,
# before a download (file loaded), during one, and after it succeeded.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORVALE_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh" >/dev/null
if ! command -v xvfb-run >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends xvfb xauth fonts-dejavu-core
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target dialog_screenshots >/dev/null

mkdir -p "$root/docs"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/tests/ui/dialog_screenshots" "$root/docs"
