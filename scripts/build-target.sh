#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Sourced by the other scripts: sets up when something is missing and builds what they run.
#   build_target TARGET...   configures the build folder once, then builds the targets
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORVALE_BUILD_DIR:-$root/build}"

build_target() {
    "$root/scripts/setup.sh" >/dev/null
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DQUORVALE_WERROR=ON >/dev/null
    fi
    cmake --build "$build" --target "$@" >/dev/null
}
