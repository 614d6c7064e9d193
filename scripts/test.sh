#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Sets up when something is missing, builds, and runs the whole test suite.
#   scripts/test.sh                              the ordinary build
#   scripts/test.sh --sanitize address,undefined the same suite under those sanitizers
#   scripts/test.sh --sanitize thread            ... or under the thread sanitizer
#   scripts/test.sh --release                    the suite on a plain Release build (-O3)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORVALE_BUILD_DIR:-$root/build}"
flags=()
sanitize=""
build_type=RelWithDebInfo
if [ "${1:-}" = "--release" ]; then
    build="$root/build-release"
    build_type=Release
elif [ "${1:-}" = "--sanitize" ]; then
    sanitize="${2:?--sanitize takes address,undefined or thread}"
    build="$root/build-${sanitize//,/-}"
    flags=(-DCMAKE_CXX_FLAGS="-fsanitize=$sanitize -fno-sanitize-recover=all -fno-omit-frame-pointer"
           -DQUORVALE_BENCH=OFF)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
fi

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DQUORVALE_WERROR=ON \
    "${flags[@]}"
cmake --build "$build"
cd "$build"
echo "== tests (${build_type}${sanitize:+, under the $sanitize sanitizer})"
ctest -j2 --output-on-failure
