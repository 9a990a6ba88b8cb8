#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs the node under valgrind memcheck, hermetically, drives a short load
# through data_center_cli and stops it with SIGINT. Fails on any memcheck
# error, any definite leak, a wrong answer or a non-zero exit of the node.
#
#   scripts/valgrind-node.sh [BUILD_DIR]        (default: build/)
#
# VALGRIND_ROUNDS     rounds of the request mix below (default 50, 7 each)
# VALGRIND_DOMAIN_ID  ROS_DOMAIN_ID (default: BUILD_DIR/test_domains.txt's)
# KEEP_VALGRIND_DIR=1 keeps the run's folder
#
# The node gets its own domain, working folder and /opt/korvane through
# test/support/data_center_hermetic, as in the end-to-end tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
leave_ros
build_dir="$(cd "${1:-$root/build}" && pwd)"
rounds="${VALGRIND_ROUNDS:-50}"
domain="${VALGRIND_DOMAIN_ID:-$(awk '$1 == "valgrind" { print $2 }' "$build_dir/test_domains.txt" 2>/dev/null || true)}"
if [ -z "$domain" ]; then
  echo "no ROS_DOMAIN_ID: set VALGRIND_DOMAIN_ID or configure $build_dir again" >&2
  exit 2
fi
node="$build_dir/bin/data_center"
cli="$build_dir/bin/data_center_cli"

"$root/scripts/install-deps.sh" valgrind
[ -x "$node" ] && [ -x "$cli" ] || {
  echo "no $node or $cli: build first (scripts/build.sh)" >&2
  exit 2
}

tmp="$(mktemp -d "${TMPDIR:-/tmp}/data_center_valgrind_XXXXXX")"
node_pid=""
cleanup() {
  if [ -n "$node_pid" ] && kill -0 "$node_pid" 2>/dev/null; then
    kill -KILL "$node_pid" 2>/dev/null || true
    wait "$node_pid" 2>/dev/null || true
  fi
  [ -z "${KEEP_VALGRIND_DIR:-}" ] || { echo "kept $tmp" && return; }
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir -p "$tmp/korvane/data/resource/map" "$tmp/korvane/logs" "$tmp/work"
printf 'map_valgrind_7 older_entry\n' >"$tmp/korvane/data/resource/map/history.map"

export ROS_DOMAIN_ID="$domain"
# Leak kinds other than definite are Cyclone's and protobuf's process-long
# state and are not errors; they are still listed in the log.
"$root/test/support/data_center_hermetic" "$tmp/korvane" "$tmp/work" \
  valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
  --show-leak-kinds=${VALGRIND_SHOW_LEAK_KINDS:-definite,possible} --error-exitcode=99 --num-callers=30 \
  --log-file="$tmp/valgrind.log" "$node" >"$tmp/stdout" 2>"$tmp/stderr" &
node_pid=$!

ready='^after advertiseService robot_status_query$'
for _ in $(seq 1 600); do
  ! grep -q "$ready" "$tmp/stdout" 2>/dev/null && kill -0 "$node_pid" 2>/dev/null || break
  sleep 0.2
done
grep -q "$ready" "$tmp/stdout" 2>/dev/null || {
  echo "the node did not come up under valgrind" >&2
  cat "$tmp/stdout" "$tmp/stderr" "$tmp/valgrind.log" >&2 || true
  exit 1
}

requests=0
failures=0
# Runs the client; expects exit status $1 and a line $2 in its output.
expect() {
  local want_status="$1" want_line="$2" status=0 out
  shift 2
  out="$("$cli" --timeout 30 "$@" 2>&1)" || status=$?
  requests=$((requests + 1))
  if [ "$status" -ne "$want_status" ] || ! grep -qF -- "$want_line" <<<"$out"; then
    failures=$((failures + 1))
    echo "request '$*': exit $status (expected $want_status), output:" >&2
    echo "$out" >&2
  fi
}

start=$(date +%s)
for i in $(seq 1 "$rounds"); do
  expect 0 'work_hours: 3000' robot-info
  expect 0 'map_id_str: "map_valgrind_7"' last-map
  expect 0 'code: 0' set-stations - <<<"bs_pose { map_id: $i x: 1.5 y: -2 map_id_str: \"m$i\" } bs_pose { map_id: 2 }"
  expect 0 "map_id: $i" stations
  expect 1 'code: 10002' call 4242 0102
  expect 1 'code: 10006' call 10001 0aff
  expect 0 'code: 0' call 10003
done
elapsed=$(($(date +%s) - start))

kill -INT "$node_pid"
node_status=0
wait "$node_pid" || node_status=$?
node_pid=""

errors="$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$tmp/valgrind.log" | tail -n 1)"
definite="$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$tmp/valgrind.log" | tail -n 1 | tr -d ,)"
echo "valgrind: $requests requests in ${elapsed} s, $failures wrong answers, node exit $node_status," \
  "memcheck errors ${errors:-?}, definitely lost ${definite:-0} bytes"
grep -E 'in use at exit|definitely lost|indirectly lost|possibly lost|still reachable' "$tmp/valgrind.log" |
  sed 's/^==[0-9]*== */  /' || true

if [ "$failures" -ne 0 ] || [ "$node_status" -ne 0 ] || [ "${errors:-1}" != 0 ] || [ "${definite:-0}" != 0 ]; then
  echo "---- valgrind log" >&2
  cat "$tmp/valgrind.log" >&2
  echo "---- node stderr" >&2
  tail -n 50 "$tmp/stderr" >&2
  exit 1
fi
