#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The cross build for the robot's 64-bit Arm (preset arm64, -g1) and its
# unit and e2e tests, each under qemu-aarch64; the mixed-architecture tests
# pair its node and client with the native ones in NATIVE_BIN_DIR (default
# build/bin). Stress tests and benchmarks stay native. With FUZZ_RUNS_DIR,
# the fuzz section's working folder, the arm64 fuzz targets replay the inputs
# found there. Needs `scripts/install-deps.sh --arm64`.
#
#   scripts/test-arm64.sh [BUILD_DIR]        (default build-arm64)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
leave_ros
dir="${1:-$root/build-arm64}"
native_bin="${NATIVE_BIN_DIR:-$root/build/bin}"
labels='^(unit|e2e)$'

cmake -S "$root/standalone" --preset arm64 -B "$dir" -DDATA_CENTER_NATIVE_BIN_DIR="$native_bin" >/dev/null
cmake --build "$dir" -j "$(nproc)"
cd "$dir"

# Every selected test must start under the emulator; count them from CTest's
# own list so that the figure is what runs, not what was meant to.
counts="$(ctest --show-only=json-v1 -L "$labels" | /usr/bin/python3 -c '
import json, os, sys
tests = json.load(sys.stdin)["tests"]
emulated = [t for t in tests if "qemu-aarch64" in os.path.basename((t.get("command") or [""])[0])]
print(len(tests), len(emulated))
for t in tests:
    if t not in emulated:
        print("not under emulation:", t["name"], file=sys.stderr)
')"
read -r total emulated <<<"$counts"
echo "arm64: $total tests labelled unit or e2e, $emulated of them under qemu-aarch64"
if [ "$total" -eq 0 ] || [ "$total" -ne "$emulated" ]; then
  echo "arm64: every test of this build must run under the emulator" >&2
  exit 1
fi

status=0
ctest -L "$labels" --output-on-failure -j "$(nproc)" --timeout 600 || status=$?
note="$emulated tests under qemu-aarch64"

if [ -n "${FUZZ_RUNS_DIR:-}" ] && [ -d "$FUZZ_RUNS_DIR" ]; then
  inputs=0
  for corpus in "$FUZZ_RUNS_DIR"/*/; do
    target="$(basename "$corpus")"
    if [ ! -x "bin/$target" ] || [ -z "$(ls -A "$corpus")" ]; then
      continue
    fi
    log="$dir/fuzz-replay-$target.log"
    # Absolute paths: a target may change its working folder.
    if qemu-aarch64-static -L / "$dir/bin/$target" "$(cd "$corpus" && pwd)" >"$log" 2>&1; then
      n="$(sed -n 's/^\([0-9][0-9]*\) inputs replayed$/\1/p' "$log")"
      echo "arm64: $target replayed ${n:-0} inputs of $corpus"
      inputs=$((inputs + ${n:-0}))
    else
      echo "arm64: $target failed on an input of $corpus; end of $log:" >&2
      tail -n 20 "$log" >&2
      status=1
    fi
  done
  note="$note, and $inputs fuzzing inputs"
fi

if [ -n "${SECTION_NOTE:-}" ]; then
  echo "$note" >"$SECTION_NOTE"
fi
exit "$status"
