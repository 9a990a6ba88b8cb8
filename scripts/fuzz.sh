#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets (Clang, ASan + UBSan) and runs each for a
# bounded time from its committed seeds (fuzz/corpus/, rclcpp_compat/fuzz/corpus/):
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 60 s, all)
#
# FUZZ_BUILD_DIR (default build-fuzz/), FUZZ_JOBS (targets at once, default
# the CPUs), FUZZ_WORK_DIR (default FUZZ_BUILD_DIR/runs): the new inputs of
# each target, its log, and the input that crashed, leaked, hung or ran out
# of memory (crash-*, leak-*, timeout-*, oom-*), which fails the run.
# Reproduce with <build>/bin/<target> <file>.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
leave_ros
seconds="${1:-60}"
shift || true
build_dir="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
work_dir="${FUZZ_WORK_DIR:-$build_dir/runs}"
jobs="${FUZZ_JOBS:-$(nproc)}"

"$root/scripts/install-deps.sh" clang libclang-rt-14-dev llvm

cmake -S "$root/standalone" --preset fuzz -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target fuzzers

if [ "$#" -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in "$root"/fuzz/corpus/*/ "$root"/rclcpp_compat/fuzz/corpus/*/; do
    targets+=("$(basename "$dir")")
  done
fi

# The station-file target fsyncs on every accepted list: keep its files in
# memory when the machine has a tmpfs for that.
fuzz_tmp=/dev/shm
[ -w "$fuzz_tmp" ] || fuzz_tmp="${TMPDIR:-/tmp}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

# The committed seeds of a target: the node's in fuzz/, the layer's in its folder.
corpus_of() {
  find "$root/fuzz/corpus/$1" "$root/rclcpp_compat/fuzz/corpus/$1" -maxdepth 0 -type d 2>/dev/null | head -n 1
}

run_one() {
  local target="$1" out="$work_dir/$1"
  rm -rf "$out" "$work_dir/$target.log" "$work_dir/$target"-{crash,leak,timeout,oom,slow-unit}-*
  mkdir -p "$out"
  local rc=0
  # -close_fd_mask=1: the node's code writes plain lines to standard output
  # (codec failures, "mapID = ..."); libFuzzer reports on standard error.
  TMPDIR="$fuzz_tmp" "$build_dir/bin/$target" "$out" "$(corpus_of "$target")" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
    -close_fd_mask=1 -artifact_prefix="$work_dir/$target-" >"$work_dir/$target.log" 2>&1 || rc=$?
  echo "$rc" >"$work_dir/$target.rc"
}

mkdir -p "$work_dir"
echo "fuzzing ${targets[*]} for ${seconds} s each, ${jobs} at a time"
running=0
for target in "${targets[@]}"; do
  if [ ! -x "$build_dir/bin/$target" ] || [ -z "$(corpus_of "$target")" ]; then
    echo "no such fuzz target: $target" >&2
    exit 2
  fi
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-20s %12s %8s %8s %8s %s\n' target executions cov ft exec/s result
for target in "${targets[@]}"; do
  log="$work_dir/$target.log"
  rc="$(cat "$work_dir/$target.rc")"
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  # The last status line carries the final coverage figures.
  status_line="$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status_line")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status_line")"
  rate="$(sed -n 's/.* exec\/s: \([0-9]*\).*/\1/p' <<<"$status_line")"
  artifacts="$(ls "$work_dir/$target"-{crash,leak,timeout,oom}-* 2>/dev/null || true)"
  result=ok
  if [ "$rc" != 0 ] || [ -n "$artifacts" ]; then
    result="FAILED (exit $rc)"
    failed=1
  fi
  printf '%-20s %12s %8s %8s %8s %s\n' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${rate:-?}" "$result"
done

if [ "$failed" -ne 0 ]; then
  for target in "${targets[@]}"; do
    if [ "$(cat "$work_dir/$target.rc")" != 0 ]; then
      echo "---- $target: end of $work_dir/$target.log" >&2
      grep -v -E '^#[0-9]+' "$work_dir/$target.log" | tail -n 60 >&2
    fi
  done
  ls "$work_dir"/*-{crash,leak,timeout,oom}-* 2>/dev/null >&2 || true
  exit 1
fi
