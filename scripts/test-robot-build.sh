#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tests the robot build, the two packages as the robot builds them with
# colcon, on each ROS 2 distribution installed (Humble, Jazzy), each in an
# environment of its own:
#   1. colcon build of data_center and korvane_protocol, with tests;
#   2. colcon test on rmw_cyclonedds_cpp, then on rmw_fastrtps_cpp;
#   3. another team's package (test/robot/data_center_consumer, with the
#      examples of docs/calling.md) built against the installed data_center
#      and tested on each middleware; the Python modules imported;
#   4. the standalone build's whole-system (e2e) and stress suites against
#      the robot build's node, started through its installed launcher;
#   5. where /opt/ros/<distro>-arm64 is: the packages cross-built for arm64;
#      under qemu-aarch64 the e2e suite against that node on Cyclone DDS,
#      and on Fast DDS every command called across users, the node started
#      by its launcher (and, as a control that must fail, without).
#
#   scripts/test-robot-build.sh [STANDALONE_BUILD_DIR]     (default build/)
#
# The distributions: ROBOT_DISTROS (space-separated) when set, else the one
# sourced, else those installed; with DATA_CENTER_REQUIRE_ROBOT=1 a missing
# one fails, and so does a missing arm64 build. Each runs from its
# setup.bash and its Fast DDS overlay /opt/ros/<distro>_fastdds. The
# standalone build (made when missing) and its tests run without ROS 2.
# Exit status 0 when every step passed, 77 when no distribution is
# installed; a failed step does not stop the others but for the build.
# KEEP_WORKSPACE=1 keeps the colcon workspaces; SECTION_NOTE names a file
# for scripts/test.sh's summary line.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${1:-$root/build}"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
# shellcheck source=lib/emulation.bash
. "$root/scripts/lib/emulation.bash"

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
# broke NOTE: a step failed, as NOTE says in the log and the notes.
broke() {
  say "$*" >&2
  notes+=("$*")
  status=1
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

# The distributions, each run by this script again in an environment of its
# own (ROBOT_DISTRO set): two ROS 2 installs must never meet in one shell.
if [ -z "${ROBOT_DISTRO:-}" ]; then
  if [ -z "${ROBOT_DISTROS:-}" ] && [ -n "${ROS_DISTRO:-}" ]; then
    distros=("$ROS_DISTRO")
  else
    # shellcheck disable=SC2086 # names, space-separated
    select_robot_distros ${ROBOT_DISTROS:-}
  fi
  status=0
  line=""
  for distro in "${distros[@]}"; do
    note_file="$(mktemp)"
    distro_status=0
    if [ "${ROS_DISTRO:-}" = "$distro" ]; then
      ROBOT_DISTRO="$distro" SECTION_NOTE="$note_file" "$0" "$build_dir" || distro_status=$?
    else
      (
        leave_ros_install
        ROBOT_DISTRO="$distro" SECTION_NOTE="$note_file" exec "$0" "$build_dir"
      ) || distro_status=$?
    fi
    line="${line:+$line | }$distro: $(head -n 1 "$note_file")"
    [ "$distro_status" -eq 0 ] || { line="$line (FAILED)" && status=1; }
    rm -f "$note_file"
  done
  [ -z "${SECTION_NOTE:-}" ] || echo "$line" >"$SECTION_NOTE"
  echo
  say "$line"
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
  [ "$tests" -gt 0 ] || broke "no test ran: $label"
}

for rmw in rmw_cyclonedds_cpp rmw_fastrtps_cpp; do
  step "ROS 2 $distro: colcon test, RMW_IMPLEMENTATION=$rmw"
  if has_package "$rmw"; then colcon_test "$ws" "$rmw" "$rmw"; else broke "$rmw: not installed in this ROS 2"; fi
done

step "ROS 2 $distro: another team's package against the installed data_center (test/robot/data_center_consumer)"
# The Python of ROS 2's own tools, whatever python3 comes first on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
consumer="$ws/consumer"
mkdir -p "$consumer/src"
cp -r "$root/test/robot/data_center_consumer" "$consumer/src/"
if ! extract_examples "$root/docs/calling.md" "$consumer/src/data_center_consumer/examples"; then
  broke "no examples in docs/calling.md"
else
  # The other team's shell: the workspace with data_center installed.
  source_setup "$ws/install/setup.bash"
  if ! (cd "$consumer" && colcon build --event-handlers console_cohesion- --cmake-args -DBUILD_TESTING=ON); then
    broke "the consumer package did not build against the installed data_center"
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
      broke "Python modules: import failed"
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
# which starts the node of colcon install INSTALL as the service does,
# through its launcher, on Cyclone DDS (the suite's client's), on loopback
# unless the test sets ROS_LOCALHOST_ONLY=0. Under an EMULATOR it does the
# launcher's work itself: qemu-user does not follow exec.
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
        # Jazzy's localhost-only participants use the host's other interfaces,
        # which the suite's peers, kept to 127.0.0.1, cannot reach: Cyclone on
        # 127.0.0.1 instead. colcon test covers Jazzy's own.
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
  [ "$total" -gt 0 ] || broke "no $label test ran against the $name node"
}

native="$(uname -m)"
robot_node_wrapper "$native" "$ws/install"
step "ROS 2 $distro: standalone whole-system suite against the robot build's node"
# test_running_node starts the standalone node; colcon test ran its robot twin.
robot_node_suite e2e "$native" 0 -E '^test_running_node$'
# Natively only: an emulator's timings mean nothing to them. The kill -9
# trials get 45 s, not 150: the standalone run has the long one.
step "ROS 2 $distro: standalone stress suite against the robot build's node"
DATA_CENTER_STRESS_CRASH_SECONDS="${DATA_CENTER_STRESS_CRASH_SECONDS:-45}" robot_node_suite stress "$native" 0

# fastdds_node_answers INSTALL START: whether the arm64 node of colcon
# install INSTALL, run as nobody with the unit's environment and the site's
# loopback only, answers root's x86-64 client on Fast DDS. START: "launcher"
# as the unit starts it, or "node", with setup.bash sourced and Fast DDS as it
# comes. Emulated (lib/emulation.bash, so that the launcher's exec is too),
# in a network namespace with only lo. Status 0 when every call below is
# answered as expected, 1 when not, 2 when the node did not start to serve.
# shellcheck disable=SC2016 # the namespace's own expansions, written as they are
fastdds_node_answers() {
  local install="$1" start="$2" dir pid node="" i status=0 out call code payload bytes want expected="" actual=""
  local domain=65 site=ROS_LOCALHOST_ONLY=1 program
  [ "$distro" = humble ] || { domain=66 && site=ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST; }
  case "$start" in
    launcher) program=("$install/data_center/lib/data_center/data_center_start") ;;
    *) program=(bash -c 'i="$1"; set --; . "$i/setup.bash" && exec "$i/data_center/lib/data_center/data_center"' node "$install") ;;
  esac
  dir="$(mktemp -d "$ws/fastdds_$start.XXXXXX")" && chmod 755 "$dir" &&
    mkdir "$dir/korvane" "$dir/work" "$dir/ros_log" && chown nobody: "$dir/korvane" "$dir/work" "$dir/ros_log" ||
    return 2
  emulating aarch64 --net --fork -- /bin/sh -c 'ip link set lo up && exec "$@"' sh \
    "$root/test/support/data_center_hermetic" "$dir/korvane" "$dir/work" \
    setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin ROS_DOMAIN_ID="$domain" RMW_IMPLEMENTATION=rmw_fastrtps_cpp \
    ROS_LOG_DIR="$dir/ros_log" "$site" "${program[@]}" >"$dir/output" 2>&1 || status=2
  pid=$emulating_pid
  for i in $(seq 600); do
    grep -qx "after advertiseService robot_status_query" "$dir/output" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  read -r node _ <"/proc/$pid/task/$pid/children" 2>/dev/null
  if [ "$status" -ne 0 ] || ! grep -qx "after advertiseService robot_status_query" "$dir/output"; then
    say "the arm64 node ($start) did not start to serve" >&2
    status=2
  else
    # What the node runs as, for the log: the user, the program (the
    # emulator) and the profile the node's Fast DDS reads.
    say "the arm64 node ($start): $(stat -c %U "/proc/$node") $(readlink "/proc/$node/exe")" \
      "$(tr '\0' '\n' <"/proc/$node/environ" | grep '^FASTRTPS_DEFAULT_PROFILES_FILE=' || echo 'no Fast DDS profile')"
    source_setup "$ws/install/setup.bash"
    # Each call, then its answer's code and payload (hex) and the exit
    # status. The bounds are generous for an emulated node; the client's
    # own covers discovery, timeout a client that hangs (a native Fast DDS
    # participant beside an emulated one on shared memory does).
    for call in "1002|0||0" "10001 0A 02 08 09|0||0" "10002|0|0A 02 08 09|0" \
      "10003|0|0A 09 08 B8 17 10 28 18 80 F1 04|0" "-42|10002||1"; do
      IFS='|' read -r call code payload want <<<"$call"
      bytes="$(echo "$payload" | wc -w)"
      expected+="$(printf '$ call %s\ncode: %s\nmsg: ""\npayload: hex (%s bytes)\n%sexit %s' \
        "$call" "$code" "$bytes" "${payload:+$payload$'\n'}" "$want")"$'\n'
      # shellcheck disable=SC2086 # the call's words
      out="$(nsenter -t "$pid" -n -- env -u FASTRTPS_DEFAULT_PROFILES_FILE RMW_IMPLEMENTATION=rmw_fastrtps_cpp \
        ROS_DOMAIN_ID="$domain" ROS_LOG_DIR="$dir/ros_log" timeout -k 1 15 \
        "$ws/install/data_center/lib/data_center/data_center_cli" --timeout 10 call $call </dev/null 2>>"$dir/client_stderr")"
      i=$?
      actual+="$(printf '$ call %s\n%s\nexit %s' "$call" "$out" "$i")"$'\n'
      [ "$i" -le 1 ] || break # not answered: the next calls would wait as long
    done
    if ! diff -u <(echo "$expected") <(echo "$actual") >"$dir/diff"; then
      say "the arm64 node ($start) did not answer as expected on Fast DDS:" >&2
      cat "$dir/diff" "$dir/client_stderr" >&2
      status=1
    fi
    fastdds_calls="$(grep -c '^\$ ' <<<"$expected")"
  fi
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
      if fastdds_node_answers "$ws/install-arm64" launcher; then
        notes+=("arm64 on rmw_fastrtps_cpp through its launcher, as nobody: every call answered ($fastdds_calls), $(($(date +%s) - start)) s")
      else
        broke "arm64 on rmw_fastrtps_cpp through its launcher: FAILED"
      fi
      # The control: the same check must fail against a node without the
      # launcher's profile (Fast DDS's shared memory, across users, emulated).
      step "ROS 2 $distro: the same check against the arm64 node without its launcher's profile, which must fail"
      start=$(date +%s)
      fastdds_node_answers "$ws/install-arm64" node
      control=$?
      if [ "$control" -eq 1 ]; then
        say "not answered, as expected"
        notes+=("its control without the launcher's profile: not answered, as expected, $(($(date +%s) - start)) s")
      else
        broke "its control without the launcher's profile: the check did not fail (status $control)"
      fi
    else
      broke "arm64 on rmw_fastrtps_cpp: not installed in this ROS 2"
    fi
  else
    broke "arm64: build failed"
  fi
elif [ "${DATA_CENTER_REQUIRE_ROBOT:-0}" = 1 ]; then
  broke "arm64: no ROS 2 $distro for arm64 at $arm64_prefix, and it is required here"
else
  say "no ROS 2 $distro for arm64 at $arm64_prefix: the arm64 node is not tested"
  notes+=("arm64: no ROS 2 for arm64")
fi

[ -z "${SECTION_NOTE:-}" ] || printf '%s; ' "${notes[@]}" | sed 's/; $/\n/' >"$SECTION_NOTE"
exit "$status"
