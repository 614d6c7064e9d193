#!/usr/bin/env bash
# Builds and runs the benchmark (a few minutes), which rewrites bench/RESULTS.md.
# Pass --quick for a short run on a small image that leaves RESULTS.md alone.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORVALE_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh" >/dev/null
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target quorvale_bench >/dev/null
exec "$build/bench/quorvale_bench" "$@"
