#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds, and runs every check, or the sections
# named:
#
#   scripts/test.sh [SECTION...]
#
#   tests     the build's CTest labels (unit, e2e, stress, bench) in build/
#   lint      clang-format and clang-tidy on the project's own sources
#   asan      the suite but stress and bench under ASan + UBSan in build-asan/
#   fuzz      each libFuzzer target for FUZZ_SECONDS (default 60) in build-fuzz/
#   valgrind  the node under valgrind memcheck with a short client load
#   arm64     the cross build for the robot's 64-bit Arm in build-arm64/: unit
#             and e2e tests under qemu-aarch64, mixed-architecture tests, and
#             the inputs the fuzz section found replayed (scripts/test-arm64.sh)
#   robot     the robot build with colcon on each ROS 2 installed, its tests on
#             both middlewares, natively and for arm64 under qemu
#             (scripts/test-robot-build.sh)
#   debs      the robot's Debian packages, amd64 and arm64, made and checked
#             (scripts/test-debs.sh)
#   systemd   those packages under a real systemd in a container, amd64 and,
#             under qemu, arm64 (scripts/test-systemd.sh)
#
# robot, debs and systemd are skipped where no ROS 2 is installed, unless
# DATA_CENTER_REQUIRE_ROBOT=1. The dependencies and the standalone build in
# build/ come first. Every section runs even when an earlier one failed; the
# summary at the end lists them, and the exit status is non-zero when any
# failed. The standalone sections run with a sourced ROS 2 left out of their
# environment. What the next run can reuse is kept in DATA_CENTER_CACHE
# (default ~/.cache/data-center; docs/testing.md).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
fuzz_seconds="${FUZZ_SECONDS:-60}"
# What is kept between runs: compiler output, the containers' roots.
cache_dir="${DATA_CENTER_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/data-center}"
export DATA_CENTER_CACHE="$cache_dir"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"

all_sections=(tests lint asan fuzz valgrind arm64 robot debs systemd)
usage() {
  awk 'NR > 2 && !/^#/ { exit } NR > 2 { sub(/^# ?/, ""); print }' "$0" >&2
  exit 2
}
wanted=()
for arg in "$@"; do
  case " ${all_sections[*]} " in
    *" $arg "*) wanted+=("$arg") ;;
    *)
      echo "test.sh: no section '$arg'; the sections: ${all_sections[*]}" >&2
      usage
      ;;
  esac
done
[ "${#wanted[@]}" -gt 0 ] || wanted=("${all_sections[@]}")
wants() {
  case " ${wanted[*]} " in *" $1 "*) return 0 ;; esac
  return 1
}
# section NAME TITLE COMMAND...: runs the section when it is wanted.
section() {
  ! wants "$1" || run "$@"
}

results=()
failed=0
banner() {
  echo
  echo "=================================================================="
  echo "== $1"
  echo "=================================================================="
}
# run NAME TITLE COMMAND...: runs one section and records how it went. A
# section may write a short note (such as a count) to the file named by
# SECTION_NOTE; it goes on its summary line. Exit status 77 is a skip.
run() {
  local name="$1" title="$2" start status=0 note_file note="" word=ok
  shift 2
  banner "$name: $title"
  note_file="$(mktemp)"
  start=$(date +%s)
  SECTION_NOTE="$note_file" "$@" || status=$?
  local took=$(($(date +%s) - start))
  [ ! -s "$note_file" ] || note="  ($(head -n 1 "$note_file"))"
  rm -f "$note_file"
  case "$status" in
    0) ;;
    77) word=skipped && status=0 ;;
    *) word=FAILED && failed=1 && note=" (exit $status)$note" ;;
  esac
  results+=("$(printf '%-9s %-44s %-7s %5d s%s' "$name" "$title" "$word" "$took" "$note")")
  return "$status"
}
summary() {
  banner "summary"
  printf '%s\n' "${results[@]}"
  local nfailed
  nfailed="$(printf '%s\n' "${results[@]}" | grep -c FAILED)"
  echo "sections: $((${#results[@]} - nfailed)) passed, $nfailed failed"
}

# The robot section, or why it cannot run here (a distribution that is
# required but missing fails inside it).
robot() {
  "$root/scripts/test-robot-build.sh" "$build_dir"
  local status=$?
  [ "$status" -ne 77 ] || echo "no ROS 2 installed" >"$SECTION_NOTE"
  return "$status"
}

# Everything the sections need, in one apt run.
run "deps" "Debian packages" \
  "$root/scripts/install-deps.sh" --arm64 clang libclang-rt-14-dev llvm valgrind clang-format clang-tidy ccache || {
  summary
  exit 1
}
# Every compiler call (CMake, colcon, bloom's debian/rules) goes through
# ccache, kept outside the clone. No base_dir: with relative paths __FILE__
# in the log lines would no longer match -fmacro-prefix-map.
export CCACHE_DIR="$cache_dir/ccache" CCACHE_MAXSIZE=8G
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
ccache --zero-stats >/dev/null
run "build" "standalone build ($build_dir)" without_ros env BUILD_DIR="$build_dir" "$root/scripts/build.sh" || {
  summary
  exit 1
}
section tests "unit, e2e, stress, bench" \
  without_ros sh -c 'cd "$1" && ctest --output-on-failure -j "$(nproc)" --timeout 600' sh "$build_dir"
section lint "clang-format, clang-tidy" without_ros "$root/scripts/lint.sh" "$build_dir"
section asan "tests under ASan + UBSan (build-asan)" without_ros "$root/scripts/test-sanitizers.sh" "$root/build-asan"
section fuzz "fuzzing, ${fuzz_seconds} s a target (build-fuzz)" \
  without_ros env FUZZ_BUILD_DIR="$root/build-fuzz" "$root/scripts/fuzz.sh" "$fuzz_seconds"
section valgrind "node under valgrind memcheck" without_ros "$root/scripts/valgrind-node.sh" "$build_dir"
section arm64 "arm64 build, unit + e2e under qemu" \
  without_ros env NATIVE_BIN_DIR="$build_dir/bin" FUZZ_RUNS_DIR="$root/build-fuzz/runs" \
  "$root/scripts/test-arm64.sh" "$root/build-arm64"
section robot "robot build on ROS 2 Humble, Jazzy (colcon)" robot
debs_made=0
wants debs && run debs "Debian packages (bloom, lintian, contents)" "$root/scripts/test-debs.sh" && debs_made=1
# This machine's architecture, then on x86-64 the robot's arm64; skipped
# when both are.
systemd_section() {
  local arches=("$(dpkg --print-architecture)") a s status=0 skipped=0 notes=""
  [ "${arches[0]}" != amd64 ] || arches+=(arm64)
  for a in "${arches[@]}"; do
    s=0
    TEST_DEBS_REUSE="$debs_made" SECTION_NOTE="$SECTION_NOTE.$a" "$root/scripts/test-systemd.sh" --arch "$a" || s=$?
    notes="$notes${notes:+; }$a: $(cat "$SECTION_NOTE.$a" 2>/dev/null || echo "exit $s")" && rm -f "$SECTION_NOTE.$a"
    [ "$s" -ne 77 ] || skipped=$((skipped + 1))
    [ "$s" -eq 0 ] || [ "$s" -eq 77 ] || status=$s
  done
  echo "$notes" >"$SECTION_NOTE"
  [ "$status" -ne 0 ] || [ "$skipped" -lt "${#arches[@]}" ] || status=77
  return "$status"
}
section systemd "the packages under systemd, amd64 and arm64" systemd_section

summary
echo "compiler cache ($CCACHE_DIR): $(ccache --print-stats 2>/dev/null | awk -F'\t' '/^direct_cache_hit|^preprocessed_cache_hit/ { hit += $2 } /^cache_miss/ { miss = $2 } END { printf "%d hits, %d misses", hit, miss }')"
exit "$failed"
