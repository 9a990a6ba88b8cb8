#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The standalone build never mixes a ROS 2 install into Debian's packages:
# configured from a shell with ROS 2 sourced it stops and says what to do,
# and a ROS 2 bin folder left on PATH alone (whose prefix CMake would search)
# is not searched. The stand-in install's rosidl_default_generators fails the
# configure if it is ever found.
#   no_ros_install_test.sh REPO_ROOT WORK_DIR
set -eu
repo="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work/ros/bin" "$work/ros/share/rosidl_default_generators/cmake"
touch "$work/ros/local_setup.sh"
echo 'message(FATAL_ERROR "found the ROS 2 install on PATH")' \
  >"$work/ros/share/rosidl_default_generators/cmake/rosidl_default_generatorsConfig.cmake"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
configure() { # NAME [ENV...]
  name="$1"
  shift
  env "$@" cmake -S "$repo/standalone" -B "$work/$name" -DBUILD_TESTING=OFF >"$work/$name.log" 2>&1
}

if configure sourced AMENT_PREFIX_PATH="$work/ros"; then
  fail "configured with ROS 2 sourced"
fi
grep -q "build with scripts/build.sh" "$work/sourced.log" ||
  fail "no word of what to do: $(tail -n 20 "$work/sourced.log")"

configure on_path PATH="$work/ros/bin:$PATH" || fail "ROS 2 bin folder on PATH: $(tail -n 20 "$work/on_path.log")"
grep -q "Not searched for packages (ROS 2 installs on PATH): $work/ros" "$work/on_path.log" ||
  fail "the ROS 2 prefix was not named as ignored"
echo ok
