#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the tree with AddressSanitizer + UndefinedBehaviorSanitizer (preset
# asan: -O1 -g1, the sanitizers' usual level) and runs its tests but the
# stress and bench labels, which are about load and timing:
#
#   scripts/test-sanitizers.sh [BUILD_DIR]        (default: build-asan/)
#
# Any report fails its test: UBSan stops at the first finding
# (-fno-sanitize-recover), LeakSanitizer checks every process at exit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
leave_ros
build_dir="${1:-$root/build-asan}"

"$root/scripts/install-deps.sh"
cmake -S "$root/standalone" --preset asan -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" --timeout 600 -LE 'stress|bench'
