#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# What the robot build's node pays on Fast DDS for UDP in place of shared
# memory: 10002 with 1,000 poses stored, asked by a root rclcpp client on
# rmw_fastrtps_cpp with ROS_LOCALHOST_ONLY=1, of two nodes of the same install
# at the same time, in alternating blocks:
#   udp  the node as its unit runs it: through data_center_start, as nobody,
#        with no HOME (the launcher gives it UDP on 127.0.0.1);
#   shm  the same node program as root, started directly: Fast DDS as it
#        comes, shared memory between the two processes.
#
#   bench/fastdds_udp_cost.sh [--install DIR] [--count N] [--cpu N]
#
# --install  a colcon install of this repository's robot build (default: one
#            built in a temporary workspace, a few minutes)
# --count    measured requests to each node (default 5000, after 200 unmeasured)
# --cpu      pins client and nodes to this CPU (default: not pinned)
#
# Root only (the second user). ROS 2 Humble with Fast DDS as
# scripts/test-robot-build.sh finds it. Runs in a network namespace of its own
# on ROS_DOMAIN_ID ${ROS_DOMAIN_ID:-120}; the nodes get a private /opt/korvane
# from test/support/data_center_hermetic.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
install="" count=5000 cpu="" args=("$@")
while [ "$#" -gt 0 ]; do
  case "$1" in
    --install) install="$(realpath "$2")" && shift ;;
    --count) count="$2" && shift ;;
    --cpu) cpu="$2" && shift ;;
    --in-namespace) in_namespace=1 ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2 && exit 2 ;;
  esac
  shift
done
[ "$(id -u)" -eq 0 ] || { echo "fastdds_udp_cost: needs root" >&2; exit 2; }
if [ -z "${in_namespace:-}" ]; then
  exec unshare --net -- "$0" --in-namespace "${args[@]}"
fi
ip link set lo up

set +u
if [ -z "${ROS_DISTRO:-}" ]; then
  export PATH="/usr/bin:$PATH"
  . /opt/ros/humble/setup.bash
fi
has_fastdds=""
IFS=: read -ra prefixes <<<"$AMENT_PREFIX_PATH"
for prefix in "${prefixes[@]}"; do
  [ -e "$prefix/share/ament_index/resource_index/packages/rmw_fastrtps_cpp" ] && has_fastdds=1
done
[ -n "$has_fastdds" ] || . /opt/ros/humble_fastdds/setup.bash
set -u
scratch="$(mktemp -d /tmp/data_center_fastdds_cost.XXXXXX)"
chmod 755 "$scratch"
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$scratch"' EXIT
if [ -z "$install" ]; then
  mkdir "$scratch/ws" "$scratch/ws/src" && ln -s "$root" "$scratch/ws/src/data_center"
  (cd "$scratch/ws" && colcon build --event-handlers console_cohesion- --cmake-args -DBUILD_TESTING=OFF >"$scratch/colcon.log" 2>&1) ||
    { tail -30 "$scratch/colcon.log"; exit 1; }
  install="$scratch/ws/install"
fi
set +u
. "$install/setup.bash"
set -u
lib="$install/data_center/lib/data_center"
[ -x "$lib/data_center" ] || lib="$install/lib/data_center"
cmake -S "$root/bench/fastdds_udp_cost" -B "$scratch/client" -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$scratch/client" >/dev/null

pin=()
[ -z "$cpu" ] || pin=(taskset -c "$cpu")
export ROS_DOMAIN_ID="${ROS_DOMAIN_ID:-120}" RMW_IMPLEMENTATION=rmw_fastrtps_cpp ROS_LOCALHOST_ONLY=1
unset FASTRTPS_DEFAULT_PROFILES_FILE FASTDDS_DEFAULT_PROFILES_FILE
export ROS_LOG_DIR="$scratch/ros_log"
for n in udp shm; do
  mkdir -p "$scratch/$n/korvane" "$scratch/$n/work" "$scratch/$n/ros_log"
done
chown -R nobody "$scratch/udp"
hermetic="$root/test/support/data_center_hermetic"
"${pin[@]}" "$hermetic" "$scratch/udp/korvane" "$scratch/udp/work" setpriv --reuid=nobody --regid=nogroup \
  --clear-groups env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  ROS_LOG_DIR="$scratch/udp/ros_log" ROS_DOMAIN_ID="$ROS_DOMAIN_ID" RMW_IMPLEMENTATION="$RMW_IMPLEMENTATION" \
  ROS_LOCALHOST_ONLY=1 "$lib/data_center_start" >"$scratch/udp/out" 2>&1 &
udp_pid=$!
ROS_LOG_DIR="$scratch/shm/ros_log" "${pin[@]}" "$hermetic" "$scratch/shm/korvane" "$scratch/shm/work" \
  "$lib/data_center" --ros-args -r robot_status_query:=robot_status_query_shm >"$scratch/shm/out" 2>&1 &
shm_pid=$!

# 1,000 distinct poses over 7 maps, as bench/run.sh stores them.
awk 'BEGIN { for (i = 0; i < 1000; i++) { m = 1 + i % 7
  printf "bs_pose { map_id: %d x: %.3f y: %.3f map_id_str: \"map_%d\" }\n", m, 0.5 * i + 0.125, -0.25 * i - 3, m } }' \
  >"$scratch/poses.txt"
for service in robot_status_query robot_status_query_shm; do
  "$lib/data_center_cli" --timeout 20 -q --service "$service" set-stations "$scratch/poses.txt" ||
    { cat "$scratch"/*/out; exit 1; }
done
"${pin[@]}" "$scratch/client/bench_rclcpp_client" --cmd 10002 --count "$count" \
  robot_status_query robot_status_query_shm >"$scratch/result"
# Which node had Fast DDS's shared-memory segments mapped: the shm one only, or
# the comparison is not what it says.
segments() {
  grep -c ' /dev/shm/fastrtps_' "/proc/$1/maps" || true
}
udp_segments="$(segments "$udp_pid")" shm_segments="$(segments "$shm_pid")"
read -r _ udp50 udp90 udp99 bytes < <(sed -n 1p "$scratch/result")
read -r _ shm50 shm90 shm99 _ < <(sed -n 2p "$scratch/result")
where="not pinned"
[ -z "$cpu" ] || where="on CPU $cpu"
echo "10002, 1,000 poses ($bytes bytes), $count requests each, $where, microseconds:"
echo "| node | p50 | p90 | p99 |"
echo "|---|--:|--:|--:|"
echo "| as the unit runs it (nobody, UDP on 127.0.0.1) | $udp50 | $udp90 | $udp99 |"
echo "| as root, Fast DDS as it comes (shared memory) | $shm50 | $shm90 | $shm99 |"
echo "Fast DDS shared-memory segments mapped: udp node $udp_segments, shm node $shm_segments"
awk -v u="$udp50" -v s="$shm50" 'BEGIN { printf "p50 UDP - shared memory: %+.1f us (x%.2f)\n", u - s, u / s }'
