#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds and runs the fault soak: downloads against controllers that misbehave at random.
#   scripts/soak.sh [--runs N] [--seed S] [--jobs J]     (default: 300 runs, a random seed)
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/build-target.sh"
build_target quorvale_soak
exec "$build/bench/quorvale_soak" "$@"
