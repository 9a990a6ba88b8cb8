#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tests the robot packages as Debian packages, installed as a robot installs
# them, for each ROS 2 distribution installed (or those named):
#
#   scripts/test-debs.sh [DISTRO...]
#
#   1. scripts/make-debs.sh makes ros-<distro>-korvane-protocol and
#      ros-<distro>-data-center for this machine's architecture and, on
#      x86-64 where /opt/ros/<distro>-arm64 is (required with
#      DATA_CENTER_REQUIRE_ROBOT=1), cross-built for the robot's arm64. For
#      each architecture lintian must report no error, the packages must be
#      for it (Architecture, file name), and so must every ELF file inside
#      (readelf -h); the arm64 ones must hold the same files as the amd64
#      ones, the triplet in paths aside. The arm64 data_center repacked with
#      the amd64 node inside must fail that architecture check.
#   2. This machine's packages, in a private root (an overlay of / in a
#      mount and network namespace of its own: the machine's
#      /opt/ros/<distro> and dpkg database stay as they are):
#      `apt-get install ./ros-<distro>-*.deb`; the node started as
#      the installed unit says (ExecStart, User, Group, WorkingDirectory,
#      Environment, the site's EnvironmentFile) must answer 10003 and store a
#      10001 in its working folder; an upgrade, a remove, a purge and a
#      reinstall must keep the stored stations, and the unit must be enabled
#      and started on install, restarted on upgrade and stopped on removal.
#   3. Two broken packages, made from the real one, must fail step 2: one
#      whose unit names a program that is not there, one whose purge deletes
#      the working folder.
#
# Test harness only, never shipped: the machine's ROS 2 is not made of
# packages, so one package made with equivs, ros-<distro>-prefix-standin,
# provides ros-<distro>-<name> for every package of /opt/ros/<distro>; and
# as no systemd runs here, a stand-in systemctl in the private root records
# what the maintainer scripts ask of it. The upgrade is the package repacked
# with a higher Debian revision.
#
# TEST_DEBS_REUSE=1 tests the packages already made in DEBS_DIR (default
# build/debs: <distro>/, <distro>-arm64/) instead of making them. Needs root. Exit status 77 when no
# distribution is installed, unless DATA_CENTER_REQUIRE_ROBOT=1, which
# requires both Humble and Jazzy.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
self="$root/scripts/test-debs.sh"

say() {
  echo "test-debs: $*"
}
fail() {
  echo "test-debs: FAIL: $*" >&2
  exit 1
}

# ---- inside the private root ----------------------------------------------
# Run by the script itself under unshare(1): test-debs.sh --in-root SCENARIO
# DISTRO DEB_DIR. DEB_DIR holds standin.deb, korvane.deb, data_center.deb
# and, for the upgrade, upgrade.deb.

# The last value of KEY= in the installed unit.
unit_value() {
  sed -n "s/^$1=//p" "$R/lib/systemd/system/data_center.service" | tail -n 1
}

in_root() {
  chroot "$R" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

apt_in_root() {
  in_root DEBIAN_FRONTEND=noninteractive apt-get -y -q -o Dpkg::Use-Pty=0 "$@" \
    >>"$T/apt.log" 2>&1 || {
    tail -n 30 "$T/apt.log" >&2
    fail "apt-get $* failed"
  }
}

# The settings a site puts in the unit's EnvironmentFile: a domain of its
# own, and loopback only in the form this distribution reads.
write_site_settings() {
  local file
  file="$(unit_value EnvironmentFile)"
  file="${file#-}"
  [ -n "$file" ] || fail "the unit has no EnvironmentFile"
  mkdir -p "$R$(dirname "$file")"
  {
    echo "ROS_DOMAIN_ID=$domain"
    if [ "$distro" = humble ]; then
      echo ROS_LOCALHOST_ONLY=1
    else
      echo ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST
    fi
  } >"$R$file"
  site_file="$file"
}

# Starts the node as the installed unit says; sets node_pid.
start_node() {
  local exec_start user group wd env_args=() line
  exec_start="$(unit_value ExecStart)"
  user="$(unit_value User)"
  group="$(unit_value Group)"
  wd="$(unit_value WorkingDirectory)"
  case "$exec_start" in
    /opt/ros/"$distro"/*) ;;
    *) fail "the unit's ExecStart '$exec_start' is not under /opt/ros/$distro" ;;
  esac
  [ -f "$R$exec_start" ] && [ -x "$R$exec_start" ] ||
    fail "the unit's ExecStart $exec_start is not an installed program"
  [ -d "$R$wd" ] || fail "the unit's WorkingDirectory $wd was not made"
  while IFS= read -r line; do
    env_args+=("$line")
  done < <(sed -n 's/^Environment=//p' "$R/lib/systemd/system/data_center.service")
  while IFS= read -r line; do
    case "$line" in [A-Z]*=*) env_args+=("$line") ;; esac
  done <"$R$site_file"
  : >"$T/node.log"
  # chroot itself in the background, not a function: $! is then the node.
  chroot "$R" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    "${env_args[@]}" setpriv --reuid="$user" --regid="$group" --init-groups -- \
    /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$wd" "$exec_start" >"$T/node.log" 2>&1 &
  node_pid=$!
  local _
  for _ in $(seq 1 300); do
    grep -q "after advertiseService robot_status_query" "$T/node.log" && return 0
    if ! kill -0 "$node_pid" 2>/dev/null; then
      local status=0
      wait "$node_pid" || status=$?
      node_pid=""
      cat "$T/node.log" >&2
      fail "the node started as the unit says exited (status $status) before serving"
    fi
    sleep 0.1
  done
  cat "$T/node.log" >&2
  fail "the node started as the unit says did not serve within 30 s"
}

stop_node() {
  local pid="$node_pid"
  node_pid=""
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || fail "the node exited with status $? on SIGTERM"
}

# cli ARGS...: the packaged data_center_cli, as root, in the site's settings;
# its output in $T/cli.out.
cli() {
  local env_args=() line
  while IFS= read -r line; do
    case "$line" in [A-Z]*=*) env_args+=("$line") ;; esac
  done <"$R$site_file"
  in_root HOME=/root "${env_args[@]}" bash -c '. "/opt/ros/$1/setup.bash" && shift && exec "/opt/ros/$0/lib/data_center/data_center_cli" "$@"' \
    "$distro" "$distro" --timeout 20 "$@" <"${cli_input:-/dev/null}" >"$T/cli.out" 2>&1
}

stations_file() {
  echo "$R$(unit_value WorkingDirectory)/StationInfo.conf"
}

# The stored stations are the ones saved, byte for byte.
check_stations_kept() {
  cmp -s "$T/stations.saved" "$R/opt/korvane/data/data_center/StationInfo.conf" ||
    fail "$1 deleted or changed the stored stations (/opt/korvane/data/data_center/StationInfo.conf)"
}

systemctl_saw() {
  grep -qx -- "$1" "$R/var/log/systemctl-standin.log" ||
    fail "$2 (the maintainer scripts asked systemctl: $(tr '\n' ';' <"$R/var/log/systemctl-standin.log"))"
}

set_up_root() {
  T="$(mktemp -d)"
  mount -t tmpfs tmpfs "$T"
  mkdir "$T/upper" "$T/work" "$T/root"
  mount -t overlay overlay -o "lowerdir=/,upperdir=$T/upper,workdir=$T/work" "$T/root"
  R="$T/root"
  mount -t proc proc "$R/proc"
  mount --rbind /dev "$R/dev"
  mount -t tmpfs tmpfs "$R/run"
  mount -t tmpfs tmpfs "$R/tmp"
  ip link set lo up
  # As if systemd ran: the maintainer scripts then call systemctl, whose
  # stand-in records what they ask; unit file work (preset, enable, disable)
  # goes to the real one, which does it without a running systemd.
  mkdir -p "$R/run/systemd/system"
  rm -f "$R/usr/sbin/policy-rc.d"
  mv "$R/usr/bin/systemctl" "$R/usr/bin/systemctl.real"
  cat >"$R/usr/bin/systemctl" <<'EOF'
#!/bin/sh
# test harness: stands in for systemctl in the private root
args=""
for a in "$@"; do
  case "$a" in --*) ;; *) args="${args:+$args }$a" ;; esac
done
echo "$args" >>/var/log/systemctl-standin.log
case "$args" in
  "is-enabled "*)
    [ -e "/etc/systemd/system/multi-user.target.wants/${args##* }" ] && echo enabled && exit 0
    echo disabled
    exit 1
    ;;
  "is-active "*) exit 3 ;;
  start* | stop* | restart* | try-restart* | reload* | daemon-reload* | reset-failed*) exit 0 ;;
esac
exec systemctl.real "$@"
EOF
  chmod 755 "$R/usr/bin/systemctl"
  : >"$R/var/log/systemctl-standin.log"
  mkdir "$R/tmp/debs"
  cp "$deb_dir"/*.deb "$R/tmp/debs/"
  # apt takes the working folder for the root's /.
  cd "$R"
}

scenario() {
  local name="$1"
  set_up_root
  apt_in_root install /tmp/debs/standin.deb
  apt_in_root install /tmp/debs/korvane.deb /tmp/debs/data_center.deb
  say "$name: installed"
  [ "$(unit_value ExecStart)" = "/opt/ros/$distro/lib/data_center/data_center_start" ] ||
    fail "the installed unit's ExecStart is '$(unit_value ExecStart)'"
  in_root getent passwd data_center >/dev/null || fail "installing made no user data_center"
  [ -L "$R/etc/systemd/system/multi-user.target.wants/data_center.service" ] ||
    fail "installing did not enable data_center.service"
  systemctl_saw "start data_center.service" "installing did not start data_center.service"
  write_site_settings

  start_node
  cli robot-info || fail "robot-info (10003) failed: $(cat "$T/cli.out")"
  grep -q "^code: 0" "$T/cli.out" || fail "robot-info (10003) answered: $(cat "$T/cli.out")"
  echo 'bs_pose { map_id: 3 x: 1.5 y: -2 map_id_str: "m3" }' >"$R/tmp/stations.txt"
  cli_input="$R/tmp/stations.txt" cli set-stations - || fail "set-stations (10001) failed: $(cat "$T/cli.out")"
  stop_node
  [ -f "$(stations_file)" ] || fail "10001 stored no StationInfo.conf in the unit's working folder"
  grep -aq m3 "$(stations_file)" || fail "StationInfo.conf does not hold the stations sent"
  cp "$(stations_file)" "$T/stations.saved"
  say "$name: the node started as the unit says answered 10003 and stored 10001"

  if [ -f "$deb_dir/upgrade.deb" ]; then
    : >"$R/var/log/systemctl-standin.log"
    apt_in_root install /tmp/debs/upgrade.deb
    check_stations_kept "the upgrade"
    systemctl_saw "restart data_center.service" "the upgrade did not restart data_center.service"
    start_node
    cli stations || fail "stations (10002) after the upgrade failed: $(cat "$T/cli.out")"
    grep -q m3 "$T/cli.out" || fail "after the upgrade the node answered 10002 with: $(cat "$T/cli.out")"
    stop_node
    say "$name: upgraded, the stations kept and served"
  fi

  : >"$R/var/log/systemctl-standin.log"
  apt_in_root remove "ros-$distro-data-center"
  systemctl_saw "stop data_center.service" "removing did not stop data_center.service"
  [ ! -e "$R/lib/systemd/system/data_center.service" ] || fail "removing left the unit"
  check_stations_kept "removing the package"
  apt_in_root purge "ros-$distro-data-center"
  check_stations_kept "purging the package"
  local left
  for left in /usr/lib/sysusers.d/data_center.conf /usr/lib/tmpfiles.d/data_center.conf \
    /etc/systemd/system/multi-user.target.wants/data_center.service "/opt/ros/$distro/lib/data_center"; do
    [ ! -e "$R$left" ] && [ ! -L "$R$left" ] || fail "purging left $left"
  done
  say "$name: removed and purged, the stations kept"

  apt_in_root install /tmp/debs/data_center.deb
  check_stations_kept "reinstalling the package"
  start_node
  cli stations || fail "stations (10002) after a reinstall failed: $(cat "$T/cli.out")"
  grep -q m3 "$T/cli.out" || fail "after a reinstall the node answered 10002 with: $(cat "$T/cli.out")"
  echo 'bs_pose { map_id: 4 x: 0 y: 1 map_id_str: "m4" }' >"$R/tmp/stations.txt"
  cli_input="$R/tmp/stations.txt" cli set-stations - ||
    fail "set-stations (10001) after a reinstall failed: $(cat "$T/cli.out")"
  stop_node
  say "$name: reinstalled, the stations served and replaced"
}

if [ "${1:-}" = --in-root ]; then
  distro="$3"
  deb_dir="$4"
  case "$distro" in humble) domain=61 ;; *) domain=62 ;; esac
  node_pid=""
  # A failed check leaves no node behind.
  trap '[ -z "$node_pid" ] || kill -KILL "$node_pid" 2>/dev/null || true' EXIT
  scenario "$2"
  exit 0
fi

# ---- outside: make, check, and run the scenarios ---------------------------

[ "$(id -u)" -eq 0 ] || {
  say "needs root (mount and network namespaces, chroot)"
  exit 77
}

distros=()
select_robot_distros "$@"

"$root/scripts/install-deps.sh" lintian equivs iproute2 util-linux

debs_root="${DEBS_DIR:-$root/build/debs}"
build_arch="$(dpkg --print-architecture)"
# The robot's processor, for which the packages are cross-built here.
cross_arch=""
[ "$build_arch" != amd64 ] || cross_arch=arm64

# check_arch ARCH DEB...: each package is for ARCH, by its Architecture
# field and its file name, and so is every ELF file in it, each program and
# library.
check_arch() {
  local arch="$1" machine deb tree f m elves
  shift
  case "$arch" in
    amd64) machine="Advanced Micro Devices X86-64" ;;
    arm64) machine=AArch64 ;;
    *) fail "no processor known for $arch" ;;
  esac
  for deb in "$@"; do
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] && [ "${deb%_"$arch".deb}" != "$deb" ] ||
      fail "$(basename "$deb") is not an $arch package (Architecture: $(dpkg-deb -f "$deb" Architecture))"
    tree="$(mktemp -d)"
    dpkg-deb -x "$deb" "$tree"
    elves=0
    while IFS= read -r -d '' f; do
      m="$(readelf -h "$f" 2>/dev/null | sed -n 's/^ *Machine: *//p')" || true
      [ -n "$m" ] || continue
      [ "$m" = "$machine" ] || {
        rm -rf "$tree"
        fail "$(basename "$deb"): ${f#"$tree"/} is for $m, not $machine"
      }
      elves=$((elves + 1))
    done < <(find "$tree" -type f -print0)
    rm -rf "$tree"
    [ "$elves" -gt 0 ] || fail "$(basename "$deb") holds no program or library"
  done
}

# The files a package installs, the architecture's triplet in their paths
# (x86_64-linux-gnu, aarch64-linux-gnu) written <triplet>.
contents() {
  dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's/[a-z0-9_]*-linux-gnu/<triplet>/g' | sort
}

# check_packages ARCH DIR: the distribution's packages for ARCH in DIR.
# lintian reports no error on them, check_arch passes them, and for another
# architecture than this machine's they hold the same files as this
# machine's, in $out.
check_packages() {
  local arch="$1" dir="$2" kp dc pkg
  kp="$(echo "$dir"/ros-"$distro"-korvane-protocol_*.deb)"
  dc="$(echo "$dir"/ros-"$distro"-data-center_*.deb)"
  [ -f "$kp" ] && [ -f "$dc" ] || fail "no $arch packages for $distro in $dir"
  check_arch "$arch" "$kp" "$dc"
  if [ "$arch" != "$build_arch" ]; then
    for pkg in korvane-protocol data-center; do
      diff <(contents "$out"/ros-"$distro"-"$pkg"_*.deb) <(contents "$dir"/ros-"$distro"-"$pkg"_*.deb) ||
        fail "ros-$distro-$pkg for $arch holds other files than for $build_arch (above: < $build_arch, > $arch)"
    done
  fi
  lintian --no-cfg "$kp" "$dc" >"$dir/lintian.txt" 2>&1 || true
  if grep -q '^E: ' "$dir/lintian.txt"; then
    cat "$dir/lintian.txt" >&2
    fail "lintian reports errors on the $distro $arch packages"
  fi
  say "$distro $arch: every program and library for $arch$([ "$arch" = "$build_arch" ] || echo ", the files of the $build_arch packages");" \
    "lintian: no error, $(grep -c '^W: ' "$dir/lintian.txt") warnings:"
  sed -n 's/^W: /  /p' "$dir/lintian.txt"
  say "$distro $arch: packages: $(du -k "$kp" | cut -f1) kB, $(du -k "$dc" | cut -f1) kB"
}

notes=()
broken_pids=()
for distro in "${distros[@]}"; do
  start=$(date +%s)
  if [ "${TEST_DEBS_REUSE:-0}" != 1 ]; then
    DEBS_DIR="$debs_root" "$root/scripts/make-debs.sh" "$distro"
  fi
  out="$debs_root/$distro"
  kp="$(echo "$out"/ros-"$distro"-korvane-protocol_*.deb)"
  dc="$(echo "$out"/ros-"$distro"-data-center_*.deb)"
  [ -f "$kp" ] && [ -f "$dc" ] || fail "make-debs.sh made no packages for $distro"

  # The robot's packages are made, and these checked, while the packages of
  # this machine are installed below (which mostly waits), as are the two
  # packages with a break.
  cross_out=""
  cross_pid=""
  if [ -n "$cross_arch" ] && [ -f "/opt/ros/$distro-$cross_arch/setup.sh" ]; then
    cross_out="$debs_root/$distro-$cross_arch"
    if [ "${TEST_DEBS_REUSE:-0}" != 1 ]; then
      (
        cross_start=$(date +%s)
        DEBS_DIR="$debs_root" "$root/scripts/make-debs.sh" --arch "$cross_arch" "$distro"
        echo "made in $(($(date +%s) - cross_start)) s"
      ) >"$debs_root/make-$distro-$cross_arch.log" 2>&1 &
      cross_pid=$!
    fi
  elif [ -n "$cross_arch" ] && [ "${DATA_CENTER_REQUIRE_ROBOT:-0}" = 1 ]; then
    fail "ROS 2 $distro for $cross_arch is required here (DATA_CENTER_REQUIRE_ROBOT=1) and /opt/ros/$distro-$cross_arch is not installed"
  elif [ -n "$cross_arch" ]; then
    say "no /opt/ros/$distro-$cross_arch: no $cross_arch packages for $distro"
  fi
  check_packages "$build_arch" "$out" >"$out/check.log" 2>&1 &
  check_pid=$!

  t="$out/test"
  rm -rf "$t"
  mkdir -p "$t/standin" "$t/good" "$t/broken-unit" "$t/broken-purge"
  # The stand-in for the machine's ROS 2: every package of the prefix.
  names="$(find "/opt/ros/$distro/share/ament_index/resource_index/packages" -mindepth 1 -maxdepth 1 \
    -printf '%f\n' | grep -vx 'korvane_protocol\|data_center' | sort | tr _ - | sed "s/^/ros-$distro-/" |
    paste -sd, | sed 's/,/, /g')"
  cat >"$t/standin/control" <<EOF
Section: misc
Priority: optional
Standards-Version: 4.6.2
Package: ros-$distro-prefix-standin
Version: 1.0
Maintainer: data_center developers <dev@example.com>
Architecture: all
Provides: $names
Description: test harness, never shipped: ROS 2 $distro of /opt/ros/$distro
 The ROS 2 of this machine is not made of packages; this one provides the
 names of its packages, so that apt installs the robot packages on it.
EOF
  (cd "$t/standin" && equivs-build control >build.log 2>&1) || {
    cat "$t/standin/build.log" >&2
    fail "equivs-build failed"
  }

  # repack DEB OUT VERSION [EDIT]: DEB with VERSION, EDIT run in its tree.
  repack() {
    local tree="$t/tree"
    rm -rf "$tree"
    dpkg-deb -R "$1" "$tree"
    sed -i "s/^Version: .*/Version: $3/" "$tree/DEBIAN/control"
    [ -z "${4:-}" ] || (cd "$tree" && eval "$4")
    dpkg-deb --root-owner-group -b "$tree" "$2" >/dev/null
    rm -rf "$tree"
  }
  version="$(dpkg-deb -f "$dc" Version)"
  for dir in good broken-unit broken-purge; do
    cp "$t/standin"/*.deb "$t/$dir/standin.deb"
    cp "$kp" "$t/$dir/korvane.deb"
  done
  cp "$dc" "$t/good/data_center.deb"
  # The next Debian revision: 0.1.0-0bookworm, then 0.1.0-1bookworm.
  revision="${version#*-}"
  inc="${revision%%[!0-9]*}"
  repack "$dc" "$t/good/upgrade.deb" "${version%%-*}-$((inc + 1))${revision#"$inc"}"
  repack "$dc" "$t/broken-unit/data_center.deb" "$version" \
    "rm opt/ros/$distro/lib/data_center/data_center_start && sed -i '/data_center_start\$/d' DEBIAN/md5sums"
  repack "$dc" "$t/broken-purge/data_center.deb" "$version" \
    "sed -i 's|^if \\[ \"\\\$1\" = purge \\]; then|&\\n\\trm -rf /opt/korvane/data/data_center|' DEBIAN/postrm"

  for broken in broken-unit broken-purge; do
    unshare -m -n --propagation private "$self" --in-root "$broken" "$distro" "$t/$broken" \
      >"$t/$broken.log" 2>&1 &
    broken_pids+=("$!")
  done
  good=0
  unshare -m -n --propagation private "$self" --in-root packages "$distro" "$t/good" || good=$?

  # Each break must fail the same test, for the reason it was made.
  for broken in broken-unit broken-purge; do
    case "$broken" in
      broken-unit) expected="ExecStart /opt/ros/$distro/lib/data_center/data_center_start is not an installed program" ;;
      broken-purge) expected="purging the package deleted or changed the stored stations" ;;
    esac
    if wait "${broken_pids[0]}"; then
      cat "$t/$broken.log" >&2
      fail "$distro: the test passed a package with a break ($broken)"
    fi
    broken_pids=("${broken_pids[@]:1}")
    grep -qF "$expected" "$t/$broken.log" || {
      cat "$t/$broken.log" >&2
      fail "$distro: the package with a break ($broken) failed, but not for that reason"
    }
    say "$distro: $broken fails it: $(grep -F 'FAIL' "$t/$broken.log" | head -n 1)"
  done
  [ "$good" -eq 0 ] || fail "$distro: the packages failed the test"

  wait "$check_pid" || {
    cat "$out/check.log" >&2
    fail "$distro: the $build_arch packages failed their checks"
  }
  cat "$out/check.log"
  note="$distro $(($(date +%s) - start)) s"

  if [ -n "$cross_out" ]; then
    if [ -n "$cross_pid" ]; then
      wait "$cross_pid" || {
        cat "$debs_root/make-$distro-$cross_arch.log" >&2
        fail "make-debs.sh --arch $cross_arch failed for $distro"
      }
      cat "$debs_root/make-$distro-$cross_arch.log"
      note="$note, $cross_arch $(sed -n 's/^made in //p' "$debs_root/make-$distro-$cross_arch.log")"
    fi
    check_packages "$cross_arch" "$cross_out"
    # The check must catch a program for the wrong processor: the robot's
    # data_center with this machine's node in place of its own.
    cross_dc="$(echo "$cross_out"/ros-"$distro"-data-center_*.deb)"
    node="opt/ros/$distro/lib/data_center/data_center"
    mkdir -p "$t/wrong-arch"
    repack "$cross_dc" "$t/wrong-arch/$(basename "$cross_dc")" "$(dpkg-deb -f "$cross_dc" Version)" \
      "dpkg-deb --fsys-tarfile '$dc' | tar -xO './$node' >'$node' && sed -i '\\|$node\$|d' DEBIAN/md5sums"
    if (check_arch "$cross_arch" "$t/wrong-arch/$(basename "$cross_dc")") >"$t/wrong-arch.log" 2>&1; then
      fail "$distro: the check passed a $cross_arch package with the $build_arch node inside"
    fi
    grep -qF "$node is for Advanced Micro Devices X86-64, not AArch64" "$t/wrong-arch.log" || {
      cat "$t/wrong-arch.log" >&2
      fail "$distro: the $cross_arch package with the $build_arch node failed the check, but not for that reason"
    }
    say "$distro: wrong-arch fails it: $(grep -F 'FAIL' "$t/wrong-arch.log" | head -n 1)"
  fi
  say "$distro: passed in $(($(date +%s) - start)) s"
  notes+=("$note")
done
# For scripts/test.sh's summary line.
[ -z "${SECTION_NOTE:-}" ] || echo "${notes[*]}" >"$SECTION_NOTE"
