#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds, and runs every check, or the sections
# named:
#
#   scripts/test.sh [SECTION...]
#
#   tests     the build's CTest labels (unit, e2e, stress, bench) in build/
#   lint      clang-format and clang-tidy on the project's own sources
#   asan      the suite again under AddressSanitizer + UBSan in build-asan/
#             (without stress and bench)
#   fuzz      each libFuzzer target for FUZZ_SECONDS (default 60) in build-fuzz/
#   valgrind  the node under valgrind memcheck with a short client load
#   arm64     the cross build for the robot's 64-bit Arm in build-arm64/, its
#             unit and e2e tests under qemu-aarch64, the mixed-architecture
#             tests against build/, and the inputs fuzz found replayed on
#             arm64 (when fuzz ran before it)
#   robot     the robot build on each ROS 2 installed (Humble, Jazzy;
#             ROBOT_DISTROS=jazzy for one): colcon build and colcon test
#             with both middlewares, the whole-system suite against its
#             node, native and arm64, and the stress suite against the
#             native one (scripts/test-robot-build.sh); skipped
#             where none is installed, unless DATA_CENTER_REQUIRE_ROBOT=1
#   debs      the robot packages as Debian packages, for each ROS 2 installed:
#             made with bloom for amd64 and cross-built for arm64, each
#             checked (lintian, their files, the processor of every program
#             and library) (scripts/test-debs.sh); skipped where no ROS 2 is
#             installed, unless DATA_CENTER_REQUIRE_ROBOT=1
#   systemd   the same packages under a real systemd, in a container
#             (systemd-nspawn) for each ROS 2 installed, amd64 and, under
#             qemu, arm64 where /opt/ros/<distro>-arm64 is: installed,
#             started, called from x86-64, killed, restarted on Fast DDS,
#             logs aged out, upgraded, removed, purged, moved from Humble to
#             Jazzy (amd64), broken packages caught (scripts/test-systemd.sh;
#             the packages of the debs section when it passed in this run);
#             skipped as debs is
#
# The dependencies and the standalone build in build/ come first whatever is
# named. Every section runs even when an earlier one failed (except when the
# build fails); the summary at the end lists them, and the exit status is
# non-zero when any failed. The standalone sections run with a sourced ROS 2
# left out of their environment; the robot section uses it. What can be
# reused by the next run is kept in DATA_CENTER_CACHE (default
# ~/.cache/data-center; docs/testing.md).
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
  local name="$1" title="$2" start status=0 note_file note="" line
  shift 2
  banner "$name: $title"
  note_file="$(mktemp)"
  start=$(date +%s)
  SECTION_NOTE="$note_file" "$@" || status=$?
  local took=$(($(date +%s) - start))
  if [ -s "$note_file" ]; then
    note="  ($(head -n 1 "$note_file"))"
  fi
  rm -f "$note_file"
  line="$(printf '%-9s %-44s' "$name" "$title")"
  if [ "$status" -eq 0 ]; then
    results+=("$(printf '%s ok      %5d s%s' "$line" "$took" "$note")")
  elif [ "$status" -eq 77 ]; then
    results+=("$(printf '%s skipped %5d s%s' "$line" "$took" "$note")")
    status=0
  else
    results+=("$(printf '%s FAILED  %5d s (exit %d)%s' "$line" "$took" "$status" "$note")")
    failed=1
  fi
  return "$status"
}
summary() {
  banner "summary"
  printf '%s\n' "${results[@]}"
  local total="${#results[@]}" nfailed=0 r
  for r in "${results[@]}"; do
    case "$r" in *FAILED*) nfailed=$((nfailed + 1)) ;; esac
  done
  echo "sections: $((total - nfailed)) passed, $nfailed failed"
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
# Every compiler call of every section (CMake, colcon, bloom's debian/rules)
# goes through ccache, whose store lives outside the clone: a run on a machine
# that ran before, from a clone at the same path, compiles only what changed.
# No base_dir: it would hand the compiler relative paths, and __FILE__ in the
# log lines would no longer match -fmacro-prefix-map.
export CCACHE_DIR="$cache_dir/ccache" CCACHE_MAXSIZE=8G
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
ccache --zero-stats >/dev/null
run "build" "standalone build ($build_dir)" without_ros env BUILD_DIR="$build_dir" "$root/scripts/build.sh" || {
  summary
  exit 1
}
if wants tests; then
  run "tests" "unit, e2e, stress, bench" \
    without_ros sh -c 'cd "$1" && ctest --output-on-failure -j "$(nproc)" --timeout 600' sh "$build_dir"
fi
if wants lint; then
  run "lint" "clang-format, clang-tidy" without_ros "$root/scripts/lint.sh" "$build_dir"
fi
if wants asan; then
  run "asan" "tests under ASan + UBSan (build-asan)" without_ros "$root/scripts/test-sanitizers.sh" "$root/build-asan"
fi
if wants fuzz; then
  run "fuzz" "fuzzing, ${fuzz_seconds} s a target (build-fuzz)" \
    without_ros env FUZZ_BUILD_DIR="$root/build-fuzz" "$root/scripts/fuzz.sh" "$fuzz_seconds"
fi
if wants valgrind; then
  run "valgrind" "node under valgrind memcheck" without_ros "$root/scripts/valgrind-node.sh" "$build_dir"
fi
if wants arm64; then
  run "arm64" "arm64 build, unit + e2e under qemu" \
    without_ros env NATIVE_BIN_DIR="$build_dir/bin" FUZZ_RUNS_DIR="$root/build-fuzz/runs" \
    "$root/scripts/test-arm64.sh" "$root/build-arm64"
fi
if wants robot; then
  run "robot" "robot build on ROS 2 Humble, Jazzy (colcon)" robot
fi
debs_made=0
if wants debs; then
  run "debs" "Debian packages (bloom, lintian, contents)" "$root/scripts/test-debs.sh" && debs_made=1
fi
# This machine's architecture, then on x86-64 the robot's arm64.
systemd_section() {
  local arches=("$(dpkg --print-architecture)") a s status=77 notes=""
  [ "${arches[0]}" != amd64 ] || arches+=(arm64)
  for a in "${arches[@]}"; do
    s=0
    TEST_DEBS_REUSE="$debs_made" SECTION_NOTE="$SECTION_NOTE.$a" "$root/scripts/test-systemd.sh" --arch "$a" || s=$?
    notes="$notes${notes:+; }$a: $(cat "$SECTION_NOTE.$a" 2>/dev/null || echo "exit $s")" && rm -f "$SECTION_NOTE.$a"
    if [ "$s" -ne 0 ] && [ "$s" -ne 77 ]; then status=$s; elif [ "$s" -eq 0 ] && [ "$status" -eq 77 ]; then status=0; fi
  done
  echo "$notes" >"$SECTION_NOTE"
  return "$status"
}
if wants systemd; then
  run "systemd" "the packages under systemd, amd64 and arm64" systemd_section
fi

summary
echo "compiler cache ($CCACHE_DIR): $(ccache --print-stats 2>/dev/null | awk -F'\t' '/^direct_cache_hit|^preprocessed_cache_hit/ { hit += $2 } /^cache_miss/ { miss = $2 } END { printf "%d hits, %d misses", hit, miss }')"
exit "$failed"
