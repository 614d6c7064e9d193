#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Redraws docs/dialog-*.png: the download dialog in a real window on a virtual X server,
# before a download (file loaded), during one, and after it succeeded; and docs/station-*.png:
# the station with every slot waiting, with downloads under way, and with their results.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/build-target.sh"

if ! command -v xvfb-run >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends xvfb xauth fonts-dejavu-core
fi
build_target dialog_screenshots
build_target station_screenshots

mkdir -p "$root/docs"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/tests/ui/dialog_screenshots" "$root/docs"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
    "$build/tests/ui/station_screenshots" "$root/docs"
