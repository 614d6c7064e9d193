#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package from a Release build in build-package/ and prints its path.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-package"
"$root/scripts/setup.sh" >/dev/null
# dpkg-shlibdeps computes the package's dependencies.
if ! command -v dpkg-shlibdeps >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends dpkg-dev >/dev/null
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVALE_TESTS=OFF \
    -DQUORVALE_BENCH=OFF >/dev/null
cmake --build "$build" --target package >/dev/null
ls "$build"/quorvale_*.deb
