#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Configures each ROS 2 package alone, as colcon does on the robot, with a
# python3 first on PATH that runs but lacks the system's modules (as a pyenv
# or venv interpreter does): both Python variables must name the system
# interpreter, ament_package() must get through, and a value the caller gives
# must be kept. data_center finds stand-ins of the ROS 2 packages it uses, so
# that its configure runs up to ament_package() without ROS 2.
#   python_pin_test.sh REPO_ROOT WORK_DIR
set -eu
repo="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work/bin"
printf '#!/bin/sh\nexec /usr/bin/python3 -S "$@"\n' >"$work/bin/python3"
chmod +x "$work/bin/python3"
for pkg in rclcpp rmw rmw_implementation korvane_protocol; do
  mkdir -p "$work/prefix/share/$pkg/cmake"
  echo "set(${pkg}_FOUND TRUE)" >"$work/prefix/share/$pkg/cmake/${pkg}Config.cmake"
done

cached() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
configure() { # NAME PACKAGE [CMAKE_ARG...]
  name="$1"
  pkg="$2"
  shift 2
  PATH="$work/bin:$PATH" cmake -S "$repo/$pkg" -B "$work/$name" -DBUILD_TESTING=OFF \
    -DCMAKE_PREFIX_PATH="$work/prefix" "$@" >"$work/$name.log" 2>&1 ||
    fail "$name: configure failed: $(tail -n 20 "$work/$name.log")"
}

own="$(readlink -f /usr/bin/python3)"
for pkg in korvane_protocol data_center; do
  configure "$pkg" "$pkg"
  for var in Python3_EXECUTABLE PYTHON_EXECUTABLE; do
    [ "$(cached "$work/$pkg" $var)" = /usr/bin/python3 ] || fail "$pkg: $var is '$(cached "$work/$pkg" $var)'"
  done
  configure "$pkg-given" "$pkg" -DPYTHON_EXECUTABLE="$own"
  [ "$(cached "$work/$pkg-given" PYTHON_EXECUTABLE)" = "$own" ] ||
    fail "$pkg: the caller's PYTHON_EXECUTABLE became '$(cached "$work/$pkg-given" PYTHON_EXECUTABLE)'"
done
echo "ok"
