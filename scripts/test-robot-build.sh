#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tests the robot build, the two packages as the robot builds them, with
# colcon, on each ROS 2 distribution installed (Humble, Jazzy), each in an
# environment of its own:
#   1. one colcon build of data_center and korvane_protocol, with tests;
#   2. colcon test on rmw_cyclonedds_cpp, then on rmw_fastrtps_cpp, each
#      followed by colcon test-result;
#   3. another team's package (test/robot/data_center_consumer, with the
#      examples of docs/calling.md) built in a workspace of its own against
#      the installed data_center, its test run on each middleware (the node
#      called from C++ and Python through the typed clients), and the Python
#      modules imported;
#   4. the standalone build's whole-system suite (ctest -L e2e) and its
#      stress suite (ctest -L stress) against the robot build's node, started
#      through its installed launcher;
#   5. where the distribution's arm64 build is (/opt/ros/<distro>-arm64):
#      the packages cross-built for the robot's 64-bit Arm; under
#      qemu-aarch64, the whole-system suite against that node on Cyclone
#      DDS, and on Fast DDS every command called across users, the node
#      started by its launcher (and, as a control that must fail, without).
#
#   scripts/test-robot-build.sh [STANDALONE_BUILD_DIR]     (default build/)
#   ROBOT_DISTROS=jazzy scripts/test-robot-build.sh         (one distribution)
#
# Which distributions: ROBOT_DISTROS (names, space-separated) when set; else
# the one sourced in the calling shell; else each of humble and jazzy whose
# /opt/ros/<distro>/setup.bash exists. Each runs from its setup.bash, with its
# Fast DDS overlay /opt/ros/<distro>_fastdds where that is installed. The
# standalone build (made first when missing) and its tests run with ROS 2 left
# out of their environment: they use Debian's packages.
#
# Exit status: 0 when every step passed on every distribution, 77 when no
# distribution is installed, otherwise non-zero; the steps after a failed one
# still run, but for a failed build. With DATA_CENTER_REQUIRE_ROBOT=1 a
# distribution that is named (or, unnamed, humble and jazzy) but missing
# fails instead of being left out, and so does a missing arm64 build.
# KEEP_WORKSPACE=1 keeps the colcon workspaces. If SECTION_NOTE names a file,
# the counts go there for scripts/test.sh's summary, per distribution.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${1:-$root/build}"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"

say() {
  echo "test-robot-build: $*"
}
fail() {
  say "$*" >&2
  [ -z "${SECTION_NOTE:-}" ] || echo "$*" >"$SECTION_NOTE"
  exit 2
}
step() {
  echo
  echo "== $*"
}
# Sources a ROS 2 setup file; they read unset variables.
source_setup() {
  set +u
  # shellcheck disable=SC1090
  . "$1"
  local status=$?
  set -u
  [ "$status" -eq 0 ] || fail "sourcing $1 failed"
}
# The examples of docs/calling.md: each ``` block after a line
# "<!-- example: NAME -->" is written to folder $2 as NAME.
extract_examples() {
  mkdir -p "$2" && awk -v dir="$2" '
    /^<!-- example: [^ ]+ -->$/ { name = $3; next }
    name != "" && !open && /^```/ { open = 1; file = dir "/" name; printf "" >file; next }
    open && /^```$/ { open = 0; close(file); name = ""; count++; next }
    open { print >file }
    END { exit count == 0 }' "$1"
}
# Whether the sourced ROS 2 has package $1.
has_package() {
  local prefix
  local IFS=:
  for prefix in ${AMENT_PREFIX_PATH:-}; do
    [ -e "$prefix/share/ament_index/resource_index/packages/$1" ] && return 0
  done
  return 1
}

require="${DATA_CENTER_REQUIRE_ROBOT:-0}"

# The distributions, each run by this script again in an environment of its
# own (ROBOT_DISTRO set): two ROS 2 installs must never meet in one shell.
if [ -z "${ROBOT_DISTRO:-}" ]; then
  if [ -n "${ROBOT_DISTROS:-}" ]; then
    read -r -a distros <<<"$ROBOT_DISTROS"
  elif [ -n "${ROS_DISTRO:-}" ]; then
    distros=("$ROS_DISTRO")
  else
    distros=("${robot_distros[@]}")
  fi
  status=0
  ran=0
  line=""
  for distro in "${distros[@]}"; do
    note_file="$(mktemp)"
    if [ "${ROS_DISTRO:-}" = "$distro" ]; then
      ROBOT_DISTRO="$distro" SECTION_NOTE="$note_file" "$0" "$build_dir"
    elif [ -f "/opt/ros/$distro/setup.bash" ]; then
      (
        leave_ros_install
        ROBOT_DISTRO="$distro" SECTION_NOTE="$note_file" exec "$0" "$build_dir"
      )
    else
      say "no ROS 2 $distro: not sourced, and no /opt/ros/$distro/setup.bash"
      if [ "$require" = 1 ]; then
        say "ROS 2 $distro is required here (DATA_CENTER_REQUIRE_ROBOT=1)" >&2
        echo "required, but not installed" >"$note_file"
        status=1
      else
        echo "not installed" >"$note_file"
      fi
      line="${line:+$line | }$distro: $(head -n 1 "$note_file")"
      rm -f "$note_file"
      continue
    fi
    distro_status=$?
    ran=$((ran + 1))
    [ "$distro_status" -eq 0 ] || status=1
    line="${line:+$line | }$distro: $(head -n 1 "$note_file")"
    [ "$distro_status" -eq 0 ] || line="$line (FAILED)"
    rm -f "$note_file"
  done
  [ -z "${SECTION_NOTE:-}" ] || echo "$line" >"$SECTION_NOTE"
  echo
  say "$line"
  if [ "$ran" -eq 0 ] && [ "$status" -eq 0 ]; then
    exit 77
  fi
  exit "$status"
fi

# One distribution from here on.
distro="$ROBOT_DISTRO"
if [ "${ROS_DISTRO:-}" != "$distro" ]; then
  source_setup "/opt/ros/$distro/setup.bash"
fi
if ! has_package rmw_fastrtps_cpp && [ -f "/opt/ros/${distro}_fastdds/setup.bash" ]; then
  source_setup "/opt/ros/${distro}_fastdds/setup.bash"
fi
[ "$ROS_DISTRO" = "$distro" ] || fail "sourcing ROS 2 $distro gave ROS_DISTRO=$ROS_DISTRO"
# The robot's tests stay on loopback whatever the shell says (Humble's
# setup.bash sets ROS_LOCALHOST_ONLY=0 when it was unset, Jazzy's
# ROS_AUTOMATIC_DISCOVERY_RANGE=SUBNET).
loopback_only "$distro"
command -v colcon >/dev/null || fail "colcon is missing"
unset RMW_IMPLEMENTATION ROS_DOMAIN_ID

# Outside the repository, which a colcon workspace around it would crawl, and
# readable to the other user some whole-system tests start the node as. The
# same path every run, so that the compiler cache knows its compile commands;
# a second run on the distribution waits for the first.
ws="/tmp/data_center_robot_ws_$distro"
exec 9>"$ws.lock"
flock 9
rm -rf "$ws"
mkdir -m 755 "$ws" || fail "cannot make a workspace"
if [ "${KEEP_WORKSPACE:-0}" = 1 ]; then
  say "workspace: $ws"
else
  trap 'rm -rf "$ws"' EXIT
fi
mkdir "$ws/src"
ln -s "$root" "$ws/src/data_center"

status=0
notes=()

step "ROS 2 $distro: colcon build (from ${AMENT_PREFIX_PATH})"
# --base-paths src: the workspace also holds the consumer's workspace (below).
(cd "$ws" && colcon build --base-paths src --event-handlers console_cohesion- --cmake-args -DBUILD_TESTING=ON) ||
  fail "colcon build failed"

# colcon_test WORKSPACE RMW LABEL [VAR=VALUE...]: colcon test of WORKSPACE
# on RMW with the variables given, then colcon test-result; the counts go to
# the notes under LABEL. A failed test, or none at all, fails the script.
colcon_test() {
  local dir="$1" rmw="$2" label="$3" result summary tests errors failures skipped
  shift 3
  (cd "$dir" && env RMW_IMPLEMENTATION="$rmw" "$@" colcon test --base-paths src \
    --event-handlers console_cohesion- --return-code-on-test-failure) || status=1
  result="$(cd "$dir" && colcon test-result --verbose)" || status=1
  echo "$result"
  summary="$(sed -n 's/^Summary: \([0-9]*\) tests, \([0-9]*\) errors, \([0-9]*\) failures, \([0-9]*\) skipped.*/\1 \2 \3 \4/p' <<<"$result")"
  read -r tests errors failures skipped <<<"${summary:-0 0 0 0}"
  # A skipped test is neither passed nor failed: "68 of 70, 2 skipped".
  local note="$label: $((tests - errors - failures - skipped)) of $tests"
  [ "$skipped" -eq 0 ] || note="$note, $skipped skipped"
  notes+=("$note")
  if [ "$tests" -eq 0 ]; then
    say "no test ran: $label" >&2
    status=1
  fi
}

for rmw in rmw_cyclonedds_cpp rmw_fastrtps_cpp; do
  step "ROS 2 $distro: colcon test, RMW_IMPLEMENTATION=$rmw"
  if has_package "$rmw"; then
    colcon_test "$ws" "$rmw" "$rmw"
  else
    say "$rmw is not installed in this ROS 2" >&2
    notes+=("$rmw: not installed")
    status=1
  fi
done

step "ROS 2 $distro: another team's package against the installed data_center (test/robot/data_center_consumer)"
# The Python of ROS 2's own tools, whatever python3 comes first on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
consumer="$ws/consumer"
mkdir -p "$consumer/src"
cp -r "$root/test/robot/data_center_consumer" "$consumer/src/"
if ! extract_examples "$root/docs/calling.md" "$consumer/src/data_center_consumer/examples"; then
  say "no examples in docs/calling.md" >&2
  status=1
else
  # The other team's shell: the workspace with data_center installed.
  source_setup "$ws/install/setup.bash"
  if ! (cd "$consumer" && colcon build --event-handlers console_cohesion- --cmake-args -DBUILD_TESTING=ON); then
    say "the consumer package did not build against the installed data_center" >&2
    notes+=("consumer package: build failed")
    status=1
  else
    for rmw in rmw_cyclonedds_cpp rmw_fastrtps_cpp; do
      if has_package "$rmw"; then
        echo "-- RMW_IMPLEMENTATION=$rmw"
        colcon_test "$consumer" "$rmw" "consumer on $rmw" DATA_CENTER_HERMETIC="$root/test/support/data_center_hermetic"
      fi
    done
    if (source_setup "$consumer/install/setup.bash" &&
      "$python" -c "import data_center.client, data_center.payloads, data_center.protocol"); then
      notes+=("Python modules import")
    else
      notes+=("Python modules: import failed")
      status=1
    fi
  fi
fi

if [ ! -f "$build_dir/CTestTestfile.cmake" ]; then
  step "the standalone build, for its whole-system suite"
  without_ros env BUILD_DIR="$build_dir" "$root/scripts/build.sh" || fail "standalone build failed"
fi
# rcl needs a log folder that the suite's other user can write too.
mkdir -m 1777 "$ws/ros_log"

# robot_node_wrapper NAME INSTALL [EMULATOR...]: writes $ws/robot_node_NAME,
# which starts the node of the colcon install INSTALL on Cyclone DDS (the
# suite's client is Cyclone DDS), on loopback unless the test sets
# ROS_LOCALHOST_ONLY=0, as the standalone node is. The node starts as the
# service starts it: through its installed launcher, which sources the
# install's setup.bash and becomes the node. Under an EMULATOR the wrapper
# does the same itself, since qemu-user does not follow exec.
# shellcheck disable=SC2016 # the wrapper's own expansions, written as they are
robot_node_wrapper() {
  local name="$1" install="$2" wrapper="$ws/robot_node_$1" prefix
  shift 2
  prefix="$install/data_center" # colcon's default, an isolated install
  [ -d "$prefix" ] || prefix="$install"
  {
    echo "#!/bin/bash"
    echo 'if [ "${ROS_LOCALHOST_ONLY-}" != 0 ]; then'
    case "$distro" in
      humble) loopback_only_exports "$distro" ;;
      *)
        # Jazzy's localhost-only participants use the host's other interfaces
        # (only their discovery keeps to localhost), which the suite's peers,
        # kept to 127.0.0.1 as Humble's are, cannot reach. The node gets
        # Humble's loopback set-up instead: Cyclone on 127.0.0.1. colcon test
        # covers Jazzy's own.
        echo "unset ROS_LOCALHOST_ONLY; export ROS_AUTOMATIC_DISCOVERY_RANGE=SUBNET"
        echo 'export CYCLONEDDS_URI="<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/></Interfaces></General></Domain></CycloneDDS>${CYCLONEDDS_URI:+,$CYCLONEDDS_URI}"'
        ;;
    esac
    echo "fi"
    echo "export RMW_IMPLEMENTATION=rmw_cyclonedds_cpp ROS_LOG_DIR='$ws/ros_log'"
    if [ "$#" -eq 0 ]; then
      echo "exec '$prefix/lib/data_center/data_center_start' \"\$@\""
    else
      echo 'args=("$@"); set --'
      echo ". '$install/setup.bash' || exit 1"
      echo "exec $* '$prefix/lib/data_center/data_center' \"\${args[@]}\""
    fi
  } >"$wrapper"
  chmod 755 "$wrapper"
}

# robot_node_suite LABEL NAME EMULATED [CTEST_ARG...]: the standalone build's
# tests of LABEL (e2e, stress) against the node robot_node_wrapper NAME
# starts (EMULATED 1 when under an emulator); the counts and the time go to
# the notes.
robot_node_suite() {
  local label="$1" name="$2" emulated="$3" log="$ws/$1_$2.log" start took
  shift 3
  start=$(date +%s)
  (cd "$build_dir" && without_ros env DATA_CENTER_TEST_NODE="$ws/robot_node_$name" DATA_CENTER_TEST_NODE_BUILD=robot \
    DATA_CENTER_TEST_NODE_DISTRO="$distro" \
    DATA_CENTER_TEST_NODE_EMULATED="$emulated" \
    ctest -L "^$label\$" "$@" --output-on-failure -j "$(nproc)" --timeout 600) | tee "$log" ||
    status=1
  took=$(($(date +%s) - start))
  local counts failed total skipped
  counts="$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' "$log")"
  read -r failed total <<<"${counts:-0 0}"
  skipped="$(grep -c '(Skipped)$' "$log")"
  local note="$label against its $name node: $((total - failed - skipped)) of $total"
  [ "$skipped" -eq 0 ] || note="$note, $skipped skipped"
  notes+=("$note, $took s")
  if [ "$total" -eq 0 ]; then
    say "no $label test ran against the $name node" >&2
    status=1
  fi
}

native="$(uname -m)"
robot_node_wrapper "$native" "$ws/install"
step "ROS 2 $distro: standalone whole-system suite against the robot build's node"
# test_running_node starts the standalone node; colcon test ran its robot twin.
robot_node_suite e2e "$native" 0 -E '^test_running_node$'
# The crash, load, hostile-surroundings and loopback cases, natively only: an
# emulator's timings mean nothing to them (the standalone build's rule too).
# The kill -9 trials get 45 s here, not 150: the standalone run has the long
# one, and this one is there to show the robot build's node stores alike.
step "ROS 2 $distro: standalone stress suite against the robot build's node"
DATA_CENTER_STRESS_CRASH_SECONDS="${DATA_CENTER_STRESS_CRASH_SECONDS:-45}" robot_node_suite stress "$native" 0

# fastdds_node_answers ARCH EMULATOR INSTALL START: whether the node of
# colcon install INSTALL, built for ARCH, answers the robot build's client on
# Fast DDS across users. The node runs as nobody with its unit's environment
# (no HOME) and the site's loopback only, started by START: "launcher", its
# installed launcher as the unit starts it, or "node", the node itself with
# setup.bash sourced and Fast DDS as it comes. It runs in a user, mount and
# network namespace of its own (only lo), where a binfmt_misc of the
# namespace's own runs ARCH programs under EMULATOR, so that the launcher's
# exec of the node is emulated (qemu-user does not follow exec) and nothing on
# the host changes. Root then calls it from the x86-64 install, on Fast DDS
# as it comes, each call of the transcript below in turn; the first not
# answered ends the check. Status 0 when the transcript is as expected, 1
# when not, 2 when the node did not start to serve; fastdds_calls says how
# many calls the transcript has.
# shellcheck disable=SC2016 # the namespace's own expansions, written as they are
fastdds_node_answers() {
  local arch="$1" emulator="$2" install="$3" start="$4" dir binfmt pid node="" i status=0 actual expected=""
  local domain=65 site=ROS_LOCALHOST_ONLY=1 program
  [ "$distro" = humble ] || { domain=66 && site=ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST; }
  case "$start" in
    launcher) program=("$install/data_center/lib/data_center/data_center_start") ;;
    *) program=(bash -c 'i="$1"; set --; . "$i/setup.bash" && exec "$i/data_center/lib/data_center/data_center"' node "$install") ;;
  esac
  dir="$(mktemp -d "$ws/fastdds_$start.XXXXXX")" && chmod 755 "$dir" &&
    mkdir "$dir/korvane" "$dir/work" "$dir/ros_log" && chown nobody: "$dir/korvane" "$dir/work" "$dir/ros_log" ||
    return 2
  binfmt="$(sed -n "s|^:qemu-$arch:\(M:[^:]*:[^:]*:[^:]*\):.*|:$arch:\1:$emulator:F|p" "/usr/lib/binfmt.d/qemu-$arch.conf")"
  [ -n "$binfmt" ] || { say "no binfmt_misc entry for $arch in /usr/lib/binfmt.d" >&2; return 2; }
  # Waits for its user ids (written below, from outside) before it mounts.
  unshare --user --mount --net --propagation private --fork -- /bin/sh -c '
    i=0
    until [ "$(id -u)" = 0 ]; do i=$((i + 1)); [ "$i" -lt 200 ] || exit 125; sleep 0.05; done
    ip link set lo up && mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
      printf "%s\n" "$0" >/proc/sys/fs/binfmt_misc/register && exec "$@"' "$binfmt" \
    "$root/test/support/data_center_hermetic" "$dir/korvane" "$dir/work" \
    setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin ROS_DOMAIN_ID="$domain" RMW_IMPLEMENTATION=rmw_fastrtps_cpp \
    ROS_LOG_DIR="$dir/ros_log" "$site" "${program[@]}" >"$dir/output" 2>&1 &
  pid=$!
  for i in $(seq 100); do
    [ "$(readlink "/proc/$pid/ns/user")" = "$(readlink /proc/$$/ns/user)" ] || break
    sleep 0.05
  done
  # Every id as it is, nobody's included: the namespace's root is root.
  echo "0 0 65536" >"/proc/$pid/uid_map" && echo "0 0 65536" >"/proc/$pid/gid_map" || status=2
  for i in $(seq 600); do
    grep -qx "after advertiseService robot_status_query" "$dir/output" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  read -r node _ <"/proc/$pid/task/$pid/children" 2>/dev/null
  if [ "$status" -ne 0 ] || ! grep -qx "after advertiseService robot_status_query" "$dir/output"; then
    say "the $arch node ($start) did not start to serve" >&2
    status=2
  else
    # What the node runs as, for the log: the user, the program (the
    # emulator) and the profile the node's Fast DDS reads.
    say "the $arch node ($start): $(stat -c %U "/proc/$node") $(readlink "/proc/$node/exe")" \
      "$(tr '\0' '\n' <"/proc/$node/environ" | grep '^FASTRTPS_DEFAULT_PROFILES_FILE=' || echo 'no Fast DDS profile')"
    expected="$(
      cat <<'EOF'
$ call 1002
code: 0
msg: ""
payload: hex (0 bytes)
exit 0
$ call 10001 0A 02 08 09
code: 0
msg: ""
payload: hex (0 bytes)
exit 0
$ call 10002
code: 0
msg: ""
payload: hex (4 bytes)
0A 02 08 09
exit 0
$ call 10003
code: 0
msg: ""
payload: hex (11 bytes)
0A 09 08 B8 17 10 28 18 80 F1 04
exit 0
$ call -42
code: 10002
msg: ""
payload: hex (0 bytes)
exit 1
EOF
    )"
    # The bounds are generous for an emulated node; the client's own covers
    # discovery, timeout a client that hangs (a native Fast DDS participant
    # beside an emulated one on shared memory does).
    actual="$(
      source_setup "$ws/install/setup.bash"
      sed -n 's/^\$ //p' <<<"$expected" | while read -r call; do
        # shellcheck disable=SC2086 # the call's words
        out="$(nsenter -t "$pid" -n -- env -u FASTRTPS_DEFAULT_PROFILES_FILE RMW_IMPLEMENTATION=rmw_fastrtps_cpp \
          ROS_DOMAIN_ID="$domain" ROS_LOG_DIR="$dir/ros_log" timeout -k 1 15 \
          "$ws/install/data_center/lib/data_center/data_center_cli" --timeout 10 $call </dev/null 2>>"$dir/client_stderr")"
        i=$?
        printf '$ %s\n%s\nexit %s\n' "$call" "$out" "$i"
        [ "$i" -le 1 ] || break # not answered: the next calls would wait as long
      done
    )"
    if ! diff -u <(echo "$expected") <(echo "$actual") >"$dir/diff"; then
      say "the $arch node ($start) did not answer as expected on Fast DDS:" >&2
      cat "$dir/diff" "$dir/client_stderr" >&2
      status=1
    fi
  fi
  fastdds_calls="$(grep -c '^\$ ' <<<"$expected")"
  [ -z "$node" ] || kill -TERM "$node" 2>/dev/null
  for i in $(seq 150); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -z "$node" ] || kill -KILL "$node" 2>/dev/null
  wait "$pid"
  [ "$status" -eq 0 ] || sed 's/^/  node: /' "$dir/output" >&2
  return "$status"
}

# The robot's own processor: the same packages cross-built against the
# distribution's arm64 build, and the same suite against that node under qemu.
arm64_prefix="/opt/ros/$distro-arm64"
if [ -f "$arm64_prefix/setup.bash" ]; then
  step "ROS 2 $distro: colcon build for arm64 (ROS 2 from $arm64_prefix)"
  if "$root/scripts/install-deps.sh" --arm64 &&
    (
      leave_ros_install
      source_setup "$arm64_prefix/setup.bash"
      cd "$ws" && colcon build --base-paths src --build-base build-arm64 --install-base install-arm64 \
        --event-handlers console_cohesion- --cmake-args \
        -DCMAKE_TOOLCHAIN_FILE="$root/standalone/cmake/toolchain-arm64.cmake" -DBUILD_TESTING=OFF
    ); then
    step "ROS 2 $distro: standalone whole-system suite against the arm64 robot node, under qemu-aarch64"
    robot_node_wrapper aarch64 "$ws/install-arm64" qemu-aarch64-static -L /
    robot_node_suite e2e aarch64 1 -E '^test_running_node$'
    step "ROS 2 $distro: the arm64 node on Fast DDS under qemu-aarch64, through its launcher, as nobody; root calls"
    if [ "$(id -u)" -ne 0 ]; then
      say "the arm64 node on rmw_fastrtps_cpp is left out: it runs as another user, which needs root"
      notes+=("arm64 on rmw_fastrtps_cpp: skipped, needs root")
    elif has_package rmw_fastrtps_cpp; then
      start=$(date +%s)
      if fastdds_node_answers aarch64 "$(command -v qemu-aarch64-static)" "$ws/install-arm64" launcher; then
        notes+=("arm64 on rmw_fastrtps_cpp through its launcher, as nobody: every call answered ($fastdds_calls), $(($(date +%s) - start)) s")
      else
        notes+=("arm64 on rmw_fastrtps_cpp through its launcher: FAILED")
        status=1
      fi
      # The control: the same check must fail against a node without the
      # launcher's profile (Fast DDS's shared memory, across users, emulated).
      step "ROS 2 $distro: the same check against the arm64 node without its launcher's profile, which must fail"
      start=$(date +%s)
      fastdds_node_answers aarch64 "$(command -v qemu-aarch64-static)" "$ws/install-arm64" node
      control=$?
      if [ "$control" -eq 1 ]; then
        say "not answered, as expected"
        notes+=("its control without the launcher's profile: not answered, as expected, $(($(date +%s) - start)) s")
      else
        say "the check did not fail against a node without the launcher's profile (status $control)" >&2
        notes+=("its control without the launcher's profile: FAILED (status $control)")
        status=1
      fi
    else
      say "rmw_fastrtps_cpp is not installed in this ROS 2: the arm64 node is not tested on it" >&2
      notes+=("arm64 on rmw_fastrtps_cpp: not installed")
      status=1
    fi
  else
    say "the arm64 build failed" >&2
    notes+=("arm64: build failed")
    status=1
  fi
elif [ "$require" = 1 ]; then
  say "no ROS 2 $distro for arm64 at $arm64_prefix, and the robot section is required here" >&2
  notes+=("arm64: no ROS 2 $distro for arm64")
  status=1
else
  say "no ROS 2 $distro for arm64 at $arm64_prefix: the arm64 node is not tested"
  notes+=("arm64: no ROS 2 for arm64")
fi

if [ -n "${SECTION_NOTE:-}" ]; then
  line=""
  for note in "${notes[@]}"; do
    line="${line:+$line; }$note"
  done
  echo "$line" >"$SECTION_NOTE"
fi
exit "$status"
