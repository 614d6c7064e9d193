#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds and runs the benchmark (a few minutes), which rewrites bench/RESULTS.md.
# Pass --quick for a short run on a small image that leaves RESULTS.md alone, or
# --turnaround [RUNS] for the block turnaround alone.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/build-target.sh"
build_target quorvale_bench
exec "$build/bench/quorvale_bench" "$@"
