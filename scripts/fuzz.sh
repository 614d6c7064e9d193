#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets with clang (address and undefined-behaviour checks on) and runs
# each for a while on its corpus in fuzz/corpus/.
#   scripts/fuzz.sh [SECONDS_EACH] [TARGET ...]     (default: 600 s, every target)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-600}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_firmware fuzz_records fuzz_frame fuzz_port_name fuzz_number)

"$root/scripts/setup.sh" >/dev/null
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends clang libclang-rt-dev
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVALE_WERROR=ON -DQUORVALE_FUZZ=ON -DQUORVALE_TESTS=OFF -DQUORVALE_UI=OFF -DQUORVALE_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" >/dev/null
cmake --build "$build" --target "${targets[@]}"

for target in "${targets[@]}"; do
    corpus="$root/fuzz/corpus/${target#fuzz_}"
    scratch="$(mktemp -d)"
    echo "== $target for ${seconds}s"
    # New inputs go to a scratch folder; the committed corpus stays small.
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=5 -print_final_stats=1 \
        "$scratch" "$corpus" 2>&1 | grep -E '^(#[0-9]+.*DONE|stat::|==|SUMMARY|Done)' || true
    rm -rf "$scratch"
done
