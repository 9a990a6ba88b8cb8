#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The scripts' shared functions, where a fault would pass unnoticed:
# select_robot_distros picks, skips or fails distributions by what is in
# /opt/ros (a tmpfs over /opt in a namespace of the test's own), and
# emulating runs an aarch64 program that this machine cannot run, without
# registering anything in the machine's binfmt_misc.
#   script_lib_test.sh REPO_ROOT
set -u
repo="$1"
failures=0
check() { # WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] || {
    echo "FAIL: $1: expected '$2', got '$3'" >&2
    failures=$((failures + 1))
  }
}

unshare --user --map-root-user --mount true 2>/dev/null || {
  echo "no user namespaces here: skipped"
  exit 77
}
# picked INSTALLED SUFFIX REQUIRE ARGS...: what select_robot_distros ARGS
# does with /opt/ros/<each of INSTALLED> there: "0: DISTROS", 1 (failed) or
# 77 (skipped).
picked() {
  # shellcheck disable=SC2016 # expanded by the inner bash
  unshare --user --map-root-user --mount bash -c '
    mount -t tmpfs tmpfs /opt || exit 99
    for d in $1; do mkdir -p "/opt/ros/$d" && touch "/opt/ros/$d/setup.sh"; done
    ros_suffix="$2" DATA_CENTER_REQUIRE_ROBOT="$3"
    shift 3
    . "$REPO/scripts/lib/ros_environment.bash"
    say() { :; }
    fail() { echo 1 && exit 1; }
    trap '\''[ $? -ne 77 ] || echo 77'\'' EXIT
    select_robot_distros "$@"
    echo "0: ${distros[*]}"' sh "$@" 2>&1
}
export REPO="$repo"
check "both installed" "0: humble jazzy" "$(picked "humble jazzy" "" 0)"
check "one installed, the other skipped" "0: jazzy" "$(picked "jazzy" "" 0)"
check "one installed, both required" 1 "$(picked "jazzy" "" 1)"
check "none installed" 77 "$(picked "" "" 0)"
check "a named one missing" 1 "$(picked "humble" "" 0 jazzy)"
check "named and installed" "0: jazzy" "$(picked "humble jazzy" "" 0 jazzy)"
check "the arm64 prefix only" "0: humble" "$(picked "humble-arm64 jazzy" -arm64 0)"
check "the arm64 prefix missing" 77 "$(picked "humble jazzy" -arm64 0)"

aarch64=/usr/lib/aarch64-linux-gnu/libc.so.6
if [ "$(id -u)" -eq 0 ] && [ -x /usr/bin/qemu-aarch64-static ] && [ -f /usr/lib/binfmt.d/qemu-aarch64.conf ] &&
  [ -x "$aarch64" ] && ! "$aarch64" >/dev/null 2>&1; then
  host_entry="$(ls /proc/sys/fs/binfmt_misc/aarch64 2>&1)"
  # shellcheck source=/dev/null
  . "$repo/scripts/lib/emulation.bash"
  fail() { echo "emulating failed: $*" >"$out"; }
  out="$(mktemp)"
  # shellcheck disable=SC2016 # expanded by the inner shell
  emulating aarch64 -- /bin/sh -c 'id -u && exec "$0"' "$aarch64" >"$out" 2>&1
  # shellcheck disable=SC2154 # set by emulating
  wait "$emulating_pid"
  check "emulating: the aarch64 program's exit status" 0 "$?"
  check "emulating: root inside, then the program" "0 GNU C Library" "$(sed -n '1p; 2s/ (.*//p' "$out" | paste -sd ' ')"
  check "emulating: the machine's binfmt_misc" "$host_entry" "$(ls /proc/sys/fs/binfmt_misc/aarch64 2>&1)"
  rm -f "$out"
else
  echo "emulating not checked: needs root, qemu-aarch64-static and an aarch64 libc this machine cannot run"
fi
[ "$failures" -eq 0 ] || exit 1
echo ok
