#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# scripts/run-node.sh, copied into a scratch repository with cmake and the
# package installer replaced by recorders: it must configure with the
# standalone preset, build the node and the client and nothing else, keep
# cmake's output off the terminal, print a line per step, and start the node
# in its working folder with the arguments given. A sourced ROS 2 install,
# whose own cmake comes first on PATH, must be left out.
#   run_node_script_test.sh SCRIPT WORK_DIR
set -eu
script="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work/repo/scripts/lib" "$work/bin" "$work/ros/bin"
cp "$script" "$work/repo/scripts/run-node.sh"
cp "$(dirname "$script")/lib/ros_environment.bash" "$work/repo/scripts/lib/"
touch "$work/ros/local_setup.sh"
printf '#!/bin/sh\necho "ROS 2 cmake $*" >>"%s/calls"\n' "$work" >"$work/ros/bin/cmake"
chmod +x "$work/ros/bin/cmake"
printf '#!/bin/sh\necho deps >>"%s/calls"\n' "$work" >"$work/repo/scripts/install-deps.sh"
cat >"$work/bin/cmake" <<EOS
#!/bin/sh
echo "cmake \$*" >>"$work/calls"
echo "-- compiler chatter"
if [ "\$1" = --build ]; then
  mkdir -p "\$2/bin"
  printf '#!/bin/sh\necho "node in \$(pwd) with \$*"\n' >"\$2/bin/data_center"
  chmod +x "\$2/bin/data_center"
fi
EOS
chmod +x "$work/bin/cmake" "$work/repo/scripts/install-deps.sh" "$work/repo/scripts/run-node.sh"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

PATH="$work/ros/bin:$work/bin:$PATH" AMENT_PREFIX_PATH="$work/ros" DATA_CENTER_WORKDIR="$work/data" "$work/repo/scripts/run-node.sh" \
  --ros-args -r __ns:=/robot1 >"$work/out" 2>"$work/err" || fail "exit $?: $(cat "$work/err")"
repo="$work/repo"
expected_calls="deps
cmake -S $repo/standalone --preset default -B $repo/build
cmake --build $repo/build -j $(nproc) --target data_center data_center_cli"
[ "$(cat "$work/calls")" = "$expected_calls" ] || fail "calls were:
$(cat "$work/calls")"
expected_out="run-node: [1/3] Debian packages (scripts/install-deps.sh)
run-node: [2/3] configuring $repo/build
run-node: [3/3] building data_center and data_center_cli
run-node: starting $repo/build/bin/data_center in $work/data (Ctrl-C stops it)
node in $work/data with --ros-args -r __ns:=/robot1"
[ "$(cat "$work/out")" = "$expected_out" ] || fail "standard output was:
$(cat "$work/out")"
[ ! -s "$work/err" ] || fail "standard error was: $(cat "$work/err")"

echo ok
