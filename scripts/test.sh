#!/usr/bin/env bash
# Sets up when something is missing, builds, and runs the whole test suite.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORVALE_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
cd "$build"
ctest -j2 --output-on-failure
