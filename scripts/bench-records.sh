#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds and runs the records' benchmark (a few minutes; a PostgreSQL server of its own, as
# the tests start one), which rewrites the records' part of bench/RESULTS.md.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/build-target.sh"
build_target quorvale_records_bench
exec "$build/bench/quorvale_records_bench" "$@"
