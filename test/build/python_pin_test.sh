#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Configures korvane_protocol alone, as colcon does on the robot, with a
# python3 first on PATH that fails (a pyenv shim naming a missing version):
# both Python variables must name the system interpreter, and a value the
# caller gives must be kept.
#   python_pin_test.sh SOURCE_DIR WORK_DIR
set -eu
source_dir="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work/bin"
printf '#!/bin/sh\necho "pyenv: python3.6: command not found" >&2\nexit 127\n' >"$work/bin/python3"
chmod +x "$work/bin/python3"

cached() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

PATH="$work/bin:$PATH" cmake -S "$source_dir" -B "$work/default" >"$work/default.log" 2>&1 ||
  fail "configure failed: $(tail -n 20 "$work/default.log")"
[ "$(cached "$work/default" Python3_EXECUTABLE)" = /usr/bin/python3 ] ||
  fail "Python3_EXECUTABLE is '$(cached "$work/default" Python3_EXECUTABLE)'"
[ "$(cached "$work/default" PYTHON_EXECUTABLE)" = /usr/bin/python3 ] ||
  fail "PYTHON_EXECUTABLE is '$(cached "$work/default" PYTHON_EXECUTABLE)'"

own="$(readlink -f /usr/bin/python3)"
PATH="$work/bin:$PATH" cmake -S "$source_dir" -B "$work/given" -DPYTHON_EXECUTABLE="$own" \
  >"$work/given.log" 2>&1 || fail "configure with PYTHON_EXECUTABLE failed: $(tail -n 20 "$work/given.log")"
[ "$(cached "$work/given" PYTHON_EXECUTABLE)" = "$own" ] ||
  fail "the caller's PYTHON_EXECUTABLE became '$(cached "$work/given" PYTHON_EXECUTABLE)'"
echo "ok"
