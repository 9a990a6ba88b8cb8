#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tests the robot packages under a real systemd, for each ROS 2 distribution
# installed (or those named), natively or under qemu-user (arm64 on x86-64):
#
#   scripts/test-systemd.sh [--arch ARCH] [DISTRO...]
#
# A Debian root of ARCH (mmdebstrap) boots in systemd-nspawn on a loopback
# of its own, ROS 2 of ARCH at /opt/ros/<distro> with its Fast DDS overlay
# merged in, a stand-in package providing the ros-<distro>-* names. Through
# the container's apt and systemctl, the packages of DEBS_DIR/<distro>[-ARCH]:
#   1. installed: the unit enabled and started as data_center; every command
#      answered to root's caller and to this machine's x86-64 client in the
#      container's network; no -dev package in Depends:; the unit's exposure
#      2.0 or lower; network-online.target waited for unless masked;
#   2. kill -9 of the node: systemd starts it again;
#   3. on Fast DDS through /etc/default/data_center, answered to the x86-64
#      client (an emulated Fast DDS caller hangs); natively, also the site
#      file with SROS2 of docs/deploying.md (lib/systemd_sros2.bash);
#   4. systemd-tmpfiles --clean removes logs older than 90 days only;
#   5. upgrade, remove, purge and reinstall keep the stations;
#   6. natively, Humble's packages replaced by Jazzy's, also from 0.1.0's.
# Packages with a break must fail: a purge that deletes the stations, and
# natively a unit whose program is missing. Under emulation the units that
# take credentials may fail at boot, and a drop-in turns PrivateUsers= off.
#
# The root is cached in DATA_CENTER_CACHE (default build/) under the hash of
# its inputs. TEST_DEBS_REUSE=1 tests the packages already in DEBS_DIR
# (default build/debs). Needs root. Exit status 77 when no distribution is
# installed, unless DATA_CENTER_REQUIRE_ROBOT=1.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
# shellcheck source=lib/emulation.bash
. "$root/scripts/lib/emulation.bash"
# shellcheck source=lib/systemd_sros2.bash
. "$root/scripts/lib/systemd_sros2.bash"
self="$root/scripts/test-systemd.sh"
debs_root="${DEBS_DIR:-$root/build/debs}"
# The bound of the log folder's tmpfiles.d entry, as step 4 checks it.
log_age_days=90

# In a scenario, each line says how long it took since the one before.
say() {
  echo "test-systemd: $*${t0:+ [$((SECONDS - t0)) s]}"
  [ -z "${t0:-}" ] || t0=$SECONDS
}
fail() {
  echo "test-systemd: FAIL: $*" >&2
  exit 1
}

host_arch="$(dpkg --print-architecture)"
arch="$host_arch"
if [ "${1:-}" = --arch ]; then
  arch="$2"
  shift 2
fi
work_root="${SYSTEMD_TEST_DIR:-$root/build/systemd-test}/$arch"
# Another architecture's qemu name and suffix (/opt/ros/<distro>-ARCH,
# DEBS_DIR/<distro>-ARCH). tolerated: the units that may fail at boot (a
# journal flush timed out on a loaded machine leaves the journal in /run).
emulated=""
suffix=""
ns_flags=(-a)
tolerated=systemd-journal-flush.service
if [ "$arch" != "$host_arch" ]; then
  case "$arch" in
    arm64) emulated=aarch64 ;;
    *) fail "no emulator known for $arch" ;;
  esac
  suffix="-$arch"
  # The user namespace's time namespace cannot be entered. Under qemu-user
  # the units that take credentials fail "at step CREDENTIALS"; what they do,
  # the packages' scripts do themselves.
  ns_flags=(-m -u -i -n -p)
  tolerated="$tolerated|systemd-sysusers.service|systemd-tmpfiles-setup.service|systemd-tmpfiles-setup-dev.service|systemd-sysctl.service"
fi

# ---- the container -----------------------------------------------------------

# in_ns COMMAND...: COMMAND in a mount namespace of its own; under emulation
# also in a user namespace whose binfmt_misc runs its programs.
in_ns() {
  if [ -z "$emulated" ]; then
    unshare -m --propagation private "$@"
  else
    emulating "$emulated" -- "$@" && wait "$emulating_pid"
  fi
}

# ct COMMAND...: runs COMMAND in the booted container, as its root, in a
# clean environment.
ct() {
  nsenter -t "$leader" "${ns_flags[@]}" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 "$@"
}

# boot DIR LOG: boots the root DIR; sets nspawn_pid and leader (the
# container's PID 1, as this machine sees it). One container boots at a time:
# on cgroup v1, containers booting at once had units fail "at step CGROUP".
boot() {
  local dir="$1" log="$2" _ c state
  exec 9>>"$work_root/boot.lock"
  flock 9
  systemd-nspawn -q -D "$dir" -M "dc-$(basename "$(dirname "$dir")")" --boot --register=no --keep-unit \
    --private-network --console=pipe </dev/null >"$log" 2>&1 9>&- &
  nspawn_pid=$!
  leader=""
  for _ in $(seq 1 100); do
    # shellcheck disable=SC2013 # pids, one word each
    for c in $(cat /proc/"$nspawn_pid"/task/*/children 2>/dev/null); do
      [ "$(cat "/proc/$c/comm" 2>/dev/null)" != systemd ] || leader="$c"
    done
    [ -n "$leader" ] || ! kill -0 "$nspawn_pid" 2>/dev/null || { sleep 0.2 && continue; }
    break
  done
  [ -n "$leader" ] || fail "no systemd in the container: $(cat "$log")"
  # Until its bus is up, systemctl cannot ask; then it waits for the boot.
  for _ in $(seq 1 600); do
    state="$(ct systemctl is-system-running --wait 2>&1)" || true
    case "$state" in
      initializing | starting | *"Failed to connect to bus"*) sleep 0.2 ;;
      degraded) ct systemctl --failed --plain --no-legend | awk '{print $1}' | grep -vxE "$tolerated" >/dev/null || state=running ;&
      *) break ;;
    esac
  done
  flock -u 9
  [ "$state" = running ] || {
    ct systemctl --failed --no-pager >&2 || true
    fail "the container's systemd is '$state', not running"
  }
  say "booted"
}

# shellcheck disable=SC2317 # run by the EXIT trap
shut_down() {
  [ -n "${nspawn_pid:-}" ] || return 0
  # nspawn powers the container off on SIGTERM.
  kill -TERM "$nspawn_pid" 2>/dev/null || true
  timeout 20 tail --pid="$nspawn_pid" -f /dev/null || kill -KILL "$nspawn_pid" 2>/dev/null || true
  wait "$nspawn_pid" 2>/dev/null || true
}

apt_ct() {
  ct DEBIAN_FRONTEND=noninteractive apt-get -y -q -o Dpkg::Use-Pty=0 "$@" >>"$T/apt.log" 2>&1 || {
    tail -n 30 "$T/apt.log" >&2
    fail "apt-get $* failed"
  }
}

prop() {
  ct systemctl show -p "$1" --value data_center
}

# wait_serving WHAT: the unit's current run printed its ready line; its
# main process is the node, as data_center.
wait_serving() {
  local _ id="" pid uid program
  for _ in $(seq 1 300); do
    if [ "$(ct systemctl is-active data_center || true)" = active ]; then
      id="$(prop InvocationID)"
      ct journalctl -b -q -o cat "_SYSTEMD_INVOCATION_ID=$id" 2>/dev/null |
        grep -q "after advertiseService robot_status_query" && break
    fi
    id=""
    sleep 0.1
  done
  [ -n "$id" ] || {
    ct systemctl status --no-pager -n 30 data_center >&2 || true
    fail "$1: data_center is not active and serving (is-active: $(ct systemctl is-active data_center || true))"
  }
  pid="$(prop MainPID)"
  uid="$(ct stat -c %U "/proc/$pid")"
  [ "$uid" = data_center ] || fail "$1: the node runs as '$uid', not data_center"
  # Under emulation the program is qemu's, the node its first argument.
  program="$(ct readlink "/proc/$pid/exe")"
  [ -z "$emulated" ] || program="$(ct cat "/proc/$pid/cmdline" | tr '\0' '\n' | sed -n 2p)"
  [ "$program" = "/opt/ros/$distro/lib/data_center/data_center" ] ||
    fail "$1: the unit's main process is $program, not the $distro node"
}

# cli ARGS...: the installed data_center_cli, as root, in the site's
# settings; its output in $T/cli.out. With caller=x86-64, the client of this
# machine's package and ROS 2 instead, in the container's network.
cli() {
  if [ "${caller:-}" = x86-64 ]; then
    # shellcheck disable=SC2016,SC2046 # expanded by bash -c; the site's lines, one word each
    nsenter -t "$leader" -n /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$T" \
      $(ct cat /etc/default/data_center) DISTRO="$distro" P="$work_root/client/$distro/opt/ros/$distro" bash -c '
      for s in "/opt/ros/$DISTRO/setup.bash" "/opt/ros/${DISTRO}_fastdds/setup.bash"; do [ ! -f "$s" ] || . "$s"; done
      export AMENT_PREFIX_PATH="$P:$AMENT_PREFIX_PATH" LD_LIBRARY_PATH="$P/lib:$LD_LIBRARY_PATH"
      exec "$P/lib/data_center/data_center_cli" --timeout 30 "$@"' sh "$@" </dev/null >"$T/cli.out" 2>&1
    return
  fi
  # shellcheck disable=SC2016 # expanded by the container's shell
  ct HOME=/root DISTRO="$distro" bash -c 'set -a && . /etc/default/data_center && set +a &&
    . "/opt/ros/$DISTRO/setup.bash" && exec "/opt/ros/$DISTRO/lib/data_center/data_center_cli" --timeout 30 "$@"' \
    sh "$@" </dev/null >"$T/cli.out" 2>&1
}

# answers WHAT PATTERN ARGS...: cli ARGS succeeds with PATTERN in its output.
answers() {
  local what="$1" pattern="$2"
  shift 2
  if ! cli "$@" || ! grep -q "$pattern" "$T/cli.out"; then fail "$what: '$*' answered: $(cat "$T/cli.out")"; fi
}

# Every command answered: 1002 the map, 10001 stored (and owned by the
# node's user), 10002 what was stored, 10003 a code 0.
check_every_command() {
  local what="$1" file=/opt/korvane/data/data_center/StationInfo.conf
  answers "$what" map_systemd_7 last-map
  answers "$what" "^code: 0" call 10001 "$(station_hex "$2")"
  [ "$(ct stat -c %U:%G "$file" 2>/dev/null)" = data_center:data_center ] ||
    fail "$what: 10001 left $file $(ct stat -c %U:%G "$file" 2>&1)"
  check_stations "$what" "m$2"
  answers "$what" "^code: 0" robot-info
  ct cat "$file" >"$T/stations.saved"
}

# check_stations WHAT MAP: 10002 answers the station of map MAP.
check_stations() {
  answers "$1" "map_id_str: \"$2\"" stations
}

# 10001's payload: one station on map N, "mN", as protobuf bytes in hex.
station_hex() {
  local name="m$1"
  # bs_pose (field 1) { map_id (1): N, map_id_str (4): "mN" }
  printf '0a%02x08%02x22%02x%s' $((4 + ${#name})) "$1" "${#name}" "$(printf %s "$name" | od -An -tx1 | tr -d ' \n')"
}

check_stations_kept() {
  ct cat /opt/korvane/data/data_center/StationInfo.conf 2>/dev/null | cmp -s "$T/stations.saved" - ||
    fail "$1 deleted or changed the stored stations"
}

# The unit scores 2.0 or lower ("OK") in systemd-analyze's exposure level.
check_exposure() {
  local line score
  line="$(ct systemd-analyze security --offline=yes /lib/systemd/system/data_center.service 2>&1 |
    grep 'Overall exposure level')" || fail "systemd-analyze security gave no score"
  score="$(echo "$line" | sed -n 's/.*: \([0-9.]*\) .*/\1/p')"
  awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 2.0) }' || fail "the unit scores $line"
  say "$distro: $line"
}

# The unit waits for network-online.target through its drop-in, and no
# longer once the site masks that (docs/deploying.md).
check_online_drop_in() {
  local mask=/etc/systemd/system/data_center.service.d/network-online.conf want p got
  for want in yes no; do
    [ "$want" = yes ] || { ct mkdir -p "${mask%/*}" && ct ln -s /dev/null "$mask" && ct systemctl daemon-reload; }
    for p in Wants After; do
      case " $(prop "$p") " in *" network-online.target "*) got=yes ;; *) got=no ;; esac
      [ "$got" = "$want" ] || fail "network-online.target in $p= of the unit (wanted: $want; masked: $(ct test -e "$mask" && echo yes || echo no)): $got"
    done
  done
  ct rm "$mask" && ct systemctl daemon-reload
}

# The site's settings, written before the packages come: a domain of its
# own, loopback only in the form its distribution reads.
write_site_file() {
  local loopback=ROS_LOCALHOST_ONLY=1
  [ "$distro" = humble ] || loopback=ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST
  ct sh -c "printf 'ROS_DOMAIN_ID=%s\n%s\n' $domain $loopback >/etc/default/data_center"
  ct sh -c 'mkdir -p /opt/korvane/data/resource/map &&
    printf "map_systemd_7 older_entry\n" >/opt/korvane/data/resource/map/history.map'
}

# Step 1, also all that a package with a break must fail.
install_and_serve() {
  write_site_file
  # qemu-user cannot start a unit with PrivateUsers= ("step USER: Invalid
  # argument"), while the robot's kernel and systemd can.
  [ -z "$emulated" ] || ct sh -c 'mkdir -p /etc/systemd/system/data_center.service.d &&
    printf "# test harness: under qemu-user PrivateUsers= fails at step USER\n[Service]\nPrivateUsers=no\n" \
      >/etc/systemd/system/data_center.service.d/emulation.conf'
  apt_ct install /debs/standin.deb
  apt_ct install /debs/korvane.deb /debs/data_center.deb
  ct getent passwd data_center >/dev/null || fail "installing made no user data_center"
  [ "$(ct systemctl is-enabled data_center || true)" = enabled ] || fail "installing did not enable data_center"
  wait_serving "installed"
  check_every_command "installed" 3
  caller=x86-64 check_stations "installed, to the x86-64 client" m3
}

scenario() {
  local name="$1" pid restarts depends
  # shellcheck disable=SC2016 # dpkg-query's format
  depends="$(ct dpkg-query -W -f '${Depends}' "ros-$distro-data-center")"
  ! echo "$depends" | tr ',' '\n' | grep -Eq '^ *lib(spdlog|boost[a-z0-9.-]*)-dev' ||
    fail "Depends: names a -dev package of spdlog or Boost: $depends"
  check_exposure
  check_online_drop_in
  say "$name: installed, started as data_center, every command answered, 10001 stored; waits for the network unless masked"

  pid="$(prop MainPID)"
  restarts="$(prop NRestarts)"
  ct kill -9 "$pid"
  local _
  for _ in $(seq 1 200); do
    [ "$(prop NRestarts)" = "$((restarts + 1))" ] && break
    sleep 0.1
  done
  [ "$(prop NRestarts)" = "$((restarts + 1))" ] || fail "systemd did not start the node again after kill -9"
  wait_serving "after kill -9"
  [ "$(prop MainPID)" != "$pid" ] || fail "after kill -9 the same process is the main process"
  check_stations "after kill -9" m3
  say "$name: kill -9, started again by systemd, the stations answered"

  ct sh -c 'echo RMW_IMPLEMENTATION=rmw_fastrtps_cpp >>/etc/default/data_center'
  ct systemctl restart data_center
  wait_serving "on Fast DDS"
  ct cat "/proc/$(prop MainPID)/environ" | tr '\0' '\n' | grep -qx RMW_IMPLEMENTATION=rmw_fastrtps_cpp ||
    fail "the restarted node is not on rmw_fastrtps_cpp"
  caller=x86-64 check_every_command "on Fast DDS, the x86-64 client" 5
  [ -n "$emulated" ] || check_stations "on Fast DDS" m5
  say "$name: on Fast DDS, every command answered to the x86-64 client$([ -n "$emulated" ] || echo ", 10002 to the container's")"
  # The site file with SROS2, as docs/deploying.md writes it: amd64 only.
  [ -n "$emulated" ] || sros2_scenario

  check_log_bound
  say "$name: systemd-tmpfiles --clean: logs older than $log_age_days days gone, newer ones and the stations kept"

  pid="$(prop MainPID)"
  apt_ct install /debs/upgrade.deb
  check_stations_kept "the upgrade"
  wait_serving "upgraded"
  [ "$(prop MainPID)" != "$pid" ] || fail "the upgrade did not restart the node"
  check_stations "upgraded" m5
  say "$name: upgraded, restarted, the stations kept and served"
  remove_purge_reinstall "$name" m5
  if [ -n "$move_to" ]; then
    move "$name" m5 purge
  fi
}

remove_purge_reinstall() { # NAME MAP: the stations of map MAP stored
  apt_ct remove "ros-$distro-data-center"
  [ "$(ct systemctl is-active data_center || true)" != active ] || fail "removing did not stop data_center"
  check_stations_kept "removing the package"
  apt_ct purge "ros-$distro-data-center"
  check_stations_kept "purging the package"
  apt_ct install /debs/data_center.deb
  wait_serving "reinstalled"
  check_stations "reinstalled" "$2"
  say "$1: removed (stopped), purged, reinstalled: the stations kept and served"
}

# Step 4. The node's own file of today stays; so do logs younger than the
# bound; files older go; the station list, dated older still, stays.
check_log_bound() {
  local logs=/opt/korvane/logs/data_center old=$((log_age_days + 10)) young=$((log_age_days - 10)) today
  today="$logs/data_center_log_file_$(ct date +%F)"
  ct test -s "$today" || fail "the node wrote no $today"
  ct setpriv --reuid=data_center --regid=data_center --init-groups sh -c "
    for f in $logs/data_center_log_file_old $logs/ros/old.log; do echo old >\$f && touch -d '$old days ago' \$f; done
    for f in $logs/data_center_log_file_young $logs/ros/young.log; do echo young >\$f && touch -d '$young days ago' \$f; done"
  ct touch -d "$((old * 10)) days ago" /opt/korvane/data/data_center/StationInfo.conf /opt/korvane/data/data_center
  ct systemd-tmpfiles --clean
  local f
  for f in "$logs/data_center_log_file_old" "$logs/ros/old.log"; do
    ! ct test -e "$f" || fail "systemd-tmpfiles --clean left $f, written $old days ago"
  done
  for f in "$today" "$logs/data_center_log_file_young" "$logs/ros/young.log" "$logs/ros"; do
    ct test -e "$f" || fail "systemd-tmpfiles --clean removed $f"
  done
  check_stations_kept "systemd-tmpfiles --clean"
  check_stations "after systemd-tmpfiles --clean" m5
}

# Step 6: the site moves the robot from this distribution to the next, the
# stations of map MAP stored; with "purge", then purges the package left.
move() { # NAME MAP [purge]
  local from="$distro" site_before
  site_before="$(ct cat /etc/default/data_center)"
  apt_ct install /debs/move/standin.deb
  apt_ct install /debs/move/korvane.deb /debs/move/data_center.deb
  distro="$move_to"
  # shellcheck disable=SC2016 # dpkg-query's format
  [ "$(ct dpkg-query -W -f '${db:Status-Status}' "ros-$from-data-center" 2>/dev/null)" != installed ] ||
    fail "installing ros-$distro-data-center left ros-$from-data-center installed"
  [ "$(ct cat /etc/default/data_center)" = "$site_before" ] || fail "the move changed /etc/default/data_center"
  check_stations_kept "the move to $distro"
  wait_serving "moved to $distro"
  check_stations "moved to $distro" "$2"
  if [ "${3:-}" = purge ]; then
    apt_ct purge "ros-$from-data-center"
    [ "$(ct systemctl is-enabled data_center || true)" = enabled ] ||
      fail "purging the removed ros-$from-data-center disabled ros-$distro-data-center's unit"
    [ "$(ct systemctl is-active data_center || true)" = active ] ||
      fail "purging the removed ros-$from-data-center stopped data_center"
    check_stations "moved to $distro, $from's package purged" "$2"
  fi
  say "$1: moved to $distro: $from's package removed, the stations and the site's file kept and served by the $distro node"
  distro="$from"
}

# ---- inside one scenario's process ---------------------------------------------

# test-systemd.sh [--arch ARCH] --scenario NAME DISTRO DIR BASE DEBS
# [MOVE_TO], in a mount namespace of its own: boots an overlay of BASE in
# DIR with DEBS in /debs (NAME.deb as data_center.deb; MOVE_TO's in
# /debs/move) and runs the scenario.
if [ "${1:-}" = --scenario ]; then
  name="$2" distro="$3" dir="$4" move_to="${7:-}"
  case "$distro" in humble) domain=63 ;; *) domain=64 ;; esac
  T="$dir"
  t0=$SECONDS
  if [ -z "${DC_IN_USERNS:-}" ]; then
    mkdir -p "$dir/upper" "$dir/work" "$dir/root"
    mount -t overlay overlay -o "lowerdir=$5,upperdir=$dir/upper,workdir=$dir/work" "$dir/root"
    cp -r "$6" "$dir/root/debs"
    [ "$name" = packages ] || cp "$6/$name.deb" "$dir/root/debs/data_center.deb"
    [ -z "$move_to" ] || cp -r "$work_root/debs/$move_to" "$dir/root/debs/move"
    # The rest in the user namespace; the overlay is mounted outside it, as
    # dpkg fails to rename folders (EXDEV) on one mounted inside.
    if [ -n "$emulated" ]; then
      export DC_IN_USERNS=1
      in_ns "$self" --arch "$arch" "$@"
      exit
    fi
  fi
  # What nspawn moves must be a mount of the namespace's own.
  [ -z "${DC_IN_USERNS:-}" ] || mount --bind "$dir/root" "$dir/root"
  nspawn_pid=""
  trap shut_down EXIT
  boot "$dir/root" "$dir/console.log"
  install_and_serve
  case "$name" in
    packages) scenario "$name" ;;
    from-0.1.0) move "$name" m3 ;;
    purge-deletes-stations) remove_purge_reinstall "$name" m3 ;;
  esac
  exit 0
fi

# ---- outside: packages, the root, and the scenarios ------------------------------

[ "$(id -u)" -eq 0 ] || {
  say "needs root (mmdebstrap, systemd-nspawn)"
  exit 77
}

distros=()
ros_suffix="$suffix" select_robot_distros "$@"

"$root/scripts/install-deps.sh" mmdebstrap systemd-container util-linux ${emulated:+qemu-user-static arch-test}
start_all=$(date +%s)

# The packages, and from them those of the test: the stand-in, the upgrade
# (the next Debian revision) and the two with a break.
repack() { # DEB OUT VERSION [EDIT]: DEB with VERSION, EDIT run in its tree
  local tree="$1.tree"
  rm -rf "$tree"
  dpkg-deb -R "$1" "$tree"
  sed -i "s/^Version: .*/Version: $3/" "$tree/DEBIAN/control"
  [ -z "${4:-}" ] || (cd "$tree" && eval "$4")
  dpkg-deb --root-owner-group -b "$tree" "$2" >/dev/null
  rm -rf "$tree"
}
for distro in "${distros[@]}"; do
  if [ "${TEST_DEBS_REUSE:-0}" != 1 ]; then
    DEBS_DIR="$debs_root" "$root/scripts/make-debs.sh" ${emulated:+--arch "$arch"} "$distro"
  fi
  out="$debs_root/$distro$suffix"
  kp="$(echo "$out"/ros-"$distro"-korvane-protocol_*.deb)"
  dc="$(echo "$out"/ros-"$distro"-data-center_*.deb)"
  if [ ! -f "$kp" ] || [ ! -f "$dc" ]; then fail "no packages for $distro in $out"; fi
  p="$work_root/debs/$distro"
  rm -rf "$p" && mkdir -p "$p/standin/DEBIAN"
  cp "$kp" "$p/korvane.deb"
  cp "$dc" "$p/data_center.deb"
  # The x86-64 client: this machine's package, unpacked.
  rm -rf "$work_root/client/$distro" && mkdir -p "$work_root/client/$distro"
  for deb in "$debs_root/$distro/ros-$distro"-*.deb; do dpkg-deb -x "$deb" "$work_root/client/$distro"; done
  # The stand-in for the ROS 2 copied in, its Fast DDS overlay included.
  names="$(for d in "/opt/ros/$distro$suffix" "/opt/ros/${distro}_fastdds$suffix"; do
    [ ! -d "$d" ] || find "$d/share/ament_index/resource_index/packages" -mindepth 1 -maxdepth 1 -printf '%f\n'
  done | grep -vx 'korvane_protocol\|data_center' | sort -u | tr _ - |
    sed "s/^/ros-$distro-/" | paste -sd, | sed 's/,/, /g')"
  # The robot's ROS 2 built here for another architecture has no Python
  # (rclpy, launch_ros), which the unit's node does not use.
  if [ -n "$emulated" ]; then
    missing="$(dpkg-deb -f "$dc" Depends | tr ',' '\n' | sed -n 's/^ *\(ros-[a-z0-9-]*\).*/\1/p' |
      grep -vx "ros-$distro-korvane-protocol" | while read -r n; do
        case ", $names, " in *", $n, "*) ;; *) echo "$n" ;; esac
      done | paste -sd, | sed 's/,/, /g')"
    [ -z "$missing" ] || say "$distro: not in /opt/ros/$distro$suffix, so provided by the stand-in: $missing"
    names="$names${missing:+, $missing}"
  fi
  printf '%s\n' "Package: ros-$distro-prefix-standin" "Version: 1.0" "Architecture: all" "Provides: $names" \
    "Maintainer: data_center developers <dev@example.com>" \
    "Description: test harness, never shipped: provides the ROS 2 of /opt/ros/$distro" >"$p/standin/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$p/standin" "$p/standin.deb" >/dev/null
  version="$(dpkg-deb -f "$dc" Version)"
  revision="${version#*-}"
  inc="${revision%%[!0-9]*}"
  repack "$dc" "$p/upgrade.deb" "${version%%-*}-$((inc + 1))${revision#"$inc"}"
  # What robots have from before the package named the others: 0.1.0,
  # without Provides:, Conflicts: and Replaces:, and with the postrm of then,
  # whose purge disabled the unit whoever's it was.
  repack "$dc" "$p/from-0.1.0.deb" "0.1.0-$revision" \
    "sed -i '/^\(Provides\|Conflicts\|Replaces\): /d' DEBIAN/control &&
     grep -q '^if \[ \"\$1\" = purge \] && {' DEBIAN/postrm &&
     sed -i '/^if \[ \"\$1\" = purge \] && {/,/^fi\$/d' DEBIAN/postrm"
  # A unit whose program is not there.
  repack "$dc" "$p/unit-no-program.deb" "$version" \
    "rm opt/ros/$distro/lib/data_center/data_center_start && sed -i '/data_center_start\$/d' DEBIAN/md5sums"
  # A purge that deletes the stations.
  repack "$dc" "$p/purge-deletes-stations.deb" "$version" \
    "grep -q '^if \[ \"\\\$1\" = purge \]; then' DEBIAN/postrm &&
     sed -i 's|^if \[ \"\\\$1\" = purge \]; then|&\n\trm -rf /opt/korvane/data/data_center|' DEBIAN/postrm"
done

# The root: Debian's minimal system with systemd, and what ROS 2 and the
# packages need from Debian (the libraries the prefixes link, the packages'
# dependencies but ROS's), as the container's apt has no network. Read from
# this machine's prefixes: the other architecture's are built alike.
base_packages=(systemd systemd-sysv dbus apt python3 procps)
prefixes=()
for d in "${robot_distros[@]}"; do
  for prefix in "/opt/ros/$d" "/opt/ros/${d}_fastdds"; do
    [ ! -d "$prefix" ] || prefixes+=("$prefix")
  done
done
deb_deps=()
for distro in "${distros[@]}"; do
  for deb in "$work_root/debs/$distro/korvane.deb" "$work_root/debs/$distro/data_center.deb"; do
    while IFS= read -r dep; do
      case "$dep" in "" | ros-*) ;; *) deb_deps+=("$dep") ;; esac
    done < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*//; s/:any//; s/[[:space:]]//g')
  done
done
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources="http://deb.debian.org/debian"
# Named by its inputs: the prefixes' files (names, sizes, times; no Python
# bytecode), the packages' dependencies and the archive.
key="$( (
  printf '%s\n' "${base_packages[@]}" "$sources"
  printf '%s\n' "${deb_deps[@]}" | sort -u
  find "${prefixes[@]}" -type f ! -name '*.pyc' -printf '%p %s %T@\n' | sort
) | sha256sum | cut -c1-12)"
cache="${DATA_CENTER_CACHE:-$root/build}"
root_tar="$cache/systemd-root-$arch-$key.tar"
if [ ! -f "$root_tar" ]; then
  start=$(date +%s)
  packages=("${base_packages[@]}" "${deb_deps[@]}")
  while IFS= read -r lib; do
    pkg="$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null)" || continue
    packages+=("${pkg%%:*}")
  done < <(find "${prefixes[@]}" -type f \( -name '*.so*' -o -perm -u+x \) -exec file -N -F ' ' {} + |
    awk '$2 == "ELF" { print $1 }' | xargs -r -n 64 ldd 2>/dev/null |
    awk '$2 == "=>" && $3 ~ /^\// && $3 !~ /^\/opt\/ros/ { print $3 }' | sort -u)
  include="$(printf '%s\n' "${packages[@]}" | sort -u | paste -sd,)"
  rm -f "$cache"/systemd-root-"$arch"-*.tar
  mkdir -p "$cache" "$root/build"
  in_ns mmdebstrap --mode=root --architectures="$arch" --variant=minbase --format=tar --include="$include" \
    bookworm "$root_tar.part" "$sources" >"$root/build/systemd-root-$arch.log" 2>&1 || {
    tail -n 30 "$root/build/systemd-root-$arch.log" >&2
    fail "mmdebstrap failed"
  }
  mv "$root_tar.part" "$root_tar"
  say "the root made in $(($(date +%s) - start)) s: $root_tar"
fi

# copy_ros DIR DISTRO: the distribution's ROS 2 in the root DIR, its Fast
# DDS overlay merged in (one prefix, as the robot's packages make it).
copy_ros() {
  cp -a "/opt/ros/$2$suffix" "$1/opt/ros/$2"
  [ -d "/opt/ros/${2}_fastdds$suffix" ] || return 0
  find "/opt/ros/${2}_fastdds$suffix" -mindepth 1 -maxdepth 1 ! -name 'setup.*' ! -name 'local_setup.*' \
    ! -name '_local_setup_util*' ! -name COLCON_IGNORE -exec cp -a {} "$1/opt/ros/$2/" \;
}

# One root for every scenario, each writing to an overlay of its own: the
# archive unpacked, with every tested distribution's ROS 2.
start=$(date +%s)
base="$work_root/base"
rm -rf "$base"
mkdir -p "$base/opt/ros"
tar -C "$base" -xf "$root_tar"
# What an installed system has and mmdebstrap leaves out: Jazzy's Cyclone
# DDS on loopback only looks for its peers at "localhost".
[ -s "$base/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$base/etc/hosts"
for distro in "${distros[@]}"; do
  copy_ros "$base" "$distro"
done
say "the root unpacked with ROS 2 ${distros[*]} in $(($(date +%s) - start)) s"

# scenario_in NAME DISTRO DEBS [MOVE_TO]: runs one scenario in a fresh
# overlay of the root, in a mount namespace of its own.
scenario_in() {
  local dir="$work_root/$2-$1"
  rm -rf "$dir"
  mkdir -p "$dir"
  unshare -m --propagation private "$self" --arch "$arch" --scenario "$1" "$2" "$dir" "$base" "$3" "${4:-}"
}

notes=()
status=0
for i in "${!distros[@]}"; do
  distro="${distros[$i]}"
  start=$(date +%s)
  p="$work_root/debs/$distro"
  # Natively, the move goes from this distribution to the next one tested,
  # and a unit without its program is caught too; under emulation, which is
  # slow, only the package with a break that needs the purge step runs.
  move_to=""
  broken=(purge-deletes-stations)
  [ -n "$emulated" ] || { move_to="${distros[$((i + 1))]:-}" && broken+=(unit-no-program); }
  # The packages with a break, one after the other beside the real ones.
  rm -f "$work_root/$distro-passed"
  for name in "${broken[@]}"; do
    ! scenario_in "$name" "$distro" "$p" >"$work_root/$distro-$name.log" 2>&1 || echo "$name" >>"$work_root/$distro-passed"
  done &
  broken_pid=$!
  good=0
  scenario_in packages "$distro" "$p" "$move_to" || good=$?
  # from-0.1.0: the move again, from the package of 0.1.0.
  [ -z "$move_to" ] || scenario_in from-0.1.0 "$distro" "$p" "$move_to" || good=$?
  wait "$broken_pid" || true
  for name in "${broken[@]}"; do
    case "$name" in
      purge-deletes-stations) expected=("FAIL: purging the package deleted or changed the stored stations") ;;
      unit-no-program) expected=("FAIL: installed: data_center is not active and serving" "status=203/EXEC") ;;
    esac
    log="$work_root/$distro-$name.log"
    ! grep -qx "$name" "$work_root/$distro-passed" 2>/dev/null || {
      cat "$log" >&2
      fail "$distro: the test passed a package with a break ($name)"
    }
    for line in "${expected[@]}"; do
      grep -qF "$line" "$log" || {
        cat "$log" >&2
        fail "$distro: the package with a break ($name) failed, but not for that reason"
      }
    done
    say "$distro: $name fails it: $(grep -F FAIL "$log" | head -n 1 | cut -c1-200)"
  done
  [ "$good" -eq 0 ] || status=1
  took=$(($(date +%s) - start))
  say "$distro: $([ "$good" -eq 0 ] && echo passed || echo FAILED) in $took s"
  notes+=("$distro $took s")
  # What the containers wrote goes when they passed; the logs stay.
  [ "$good" -ne 0 ] || rm -rf "$work_root/$distro"-*/upper "$work_root/$distro"-*/work
done
[ "$status" -ne 0 ] || rm -rf "$base"
say "all in $(($(date +%s) - start_all)) s"
[ -z "${SECTION_NOTE:-}" ] || echo "${notes[*]}" >"$SECTION_NOTE"
exit "$status"
