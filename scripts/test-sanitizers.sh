#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the whole tree with AddressSanitizer + UndefinedBehaviorSanitizer and
# runs the test suite (unit, e2e and the rest) without the stress and bench
# labels, which are about load and timing, not memory safety.
#
#   scripts/test-sanitizers.sh [BUILD_DIR]        (default: build-asan/)
#
# Any sanitizer report fails the test it happens in: UBSan stops at the first
# finding (the build uses -fno-sanitize-recover), ASan always does, and
# LeakSanitizer checks every process at exit. The end-to-end tests start the
# node through test/support/data_center_hermetic, which passes these
# variables on to it.
#
# The preset compiles at -O1 with line tables only (-g1), the sanitizers'
# usual level: reports keep their files and lines, and the instrumented build,
# the longest compile of CI, takes far less time than at -O2 -g.
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
