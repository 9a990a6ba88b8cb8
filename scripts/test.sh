#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds, and runs every check:
#   1. the build and all CTest labels (unit, e2e, stress, bench) in build/
#   2. lint: clang-format and clang-tidy on the project's own sources
#   3. the suite again under AddressSanitizer + UBSan in build-asan/
#      (without stress and bench)
#   4. each libFuzzer target for FUZZ_SECONDS (default 60) in build-fuzz/
#   5. the node under valgrind memcheck with a short client load
#   6. the cross build for the robot's 64-bit Arm in build-arm64/, its unit
#      and e2e tests under qemu-aarch64, the mixed-architecture tests
#      against build/, and the inputs of section 4 replayed on arm64
# Every section runs even when an earlier one failed (except when the build
# fails); the summary at the end lists them, and the exit status is non-zero
# when any failed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
fuzz_seconds="${FUZZ_SECONDS:-60}"

results=()
failed=0
section() {
  echo
  echo "=================================================================="
  echo "== $1"
  echo "=================================================================="
}
# run NAME COMMAND...: runs one section and records how it went. A section
# may write a short note (such as a count) to the file named by SECTION_NOTE;
# it goes on its summary line.
run() {
  local name="$1" start status=0 note_file note=""
  shift
  section "$name"
  note_file="$(mktemp)"
  start=$(date +%s)
  SECTION_NOTE="$note_file" "$@" || status=$?
  local took=$(($(date +%s) - start))
  if [ -s "$note_file" ]; then
    note="  ($(head -n 1 "$note_file"))"
  fi
  rm -f "$note_file"
  if [ "$status" -eq 0 ]; then
    results+=("$(printf '%-40s ok      %5d s%s' "$name" "$took" "$note")")
  else
    results+=("$(printf '%-40s FAILED  %5d s (exit %d)%s' "$name" "$took" "$status" "$note")")
    failed=1
  fi
  return "$status"
}
summary() {
  section "summary"
  printf '%s\n' "${results[@]}"
  local total="${#results[@]}" nfailed=0 r
  for r in "${results[@]}"; do
    case "$r" in *FAILED*) nfailed=$((nfailed + 1)) ;; esac
  done
  echo "sections: $((total - nfailed)) passed, $nfailed failed"
}

# Everything the sections need, in one apt run.
run "dependencies" "$root/scripts/install-deps.sh" --arm64 clang libclang-rt-14-dev llvm valgrind clang-format clang-tidy || {
  summary
  exit 1
}
run "build ($build_dir)" env BUILD_DIR="$build_dir" "$root/scripts/build.sh" || {
  summary
  exit 1
}
run "tests: unit, e2e, stress, bench" \
  sh -c 'cd "$1" && ctest --output-on-failure -j "$(nproc)" --timeout 600' sh "$build_dir"
run "lint: clang-format, clang-tidy" "$root/scripts/lint.sh" "$build_dir"
run "tests under ASan + UBSan (build-asan)" "$root/scripts/test-sanitizers.sh" "$root/build-asan"
run "fuzzing, ${fuzz_seconds} s a target (build-fuzz)" \
  env FUZZ_BUILD_DIR="$root/build-fuzz" "$root/scripts/fuzz.sh" "$fuzz_seconds"
run "node under valgrind memcheck" "$root/scripts/valgrind-node.sh" "$build_dir"
run "arm64 build, unit + e2e under qemu" \
  env NATIVE_BIN_DIR="$build_dir/bin" FUZZ_RUNS_DIR="$root/build-fuzz/runs" \
  "$root/scripts/test-arm64.sh" "$root/build-arm64"

summary
exit "$failed"
