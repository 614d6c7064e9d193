#!/usr/bin/env bash
# Builds and runs the fault soak: downloads against controllers that misbehave at random.
#   scripts/soak.sh [--runs N] [--seed S] [--jobs J]     (default: 300 runs, a random seed)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORVALE_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh" >/dev/null
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target quorvale_soak >/dev/null
exec "$build/bench/quorvale_soak" "$@"
