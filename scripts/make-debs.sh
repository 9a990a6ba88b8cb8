#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the robot packages ros-<distro>-korvane-protocol and
# ros-<distro>-data-center with bloom, versioned as their package.xml, for
# each ROS 2 distribution installed (or those named), for this machine's
# system (Debian 12 here, or the robot's Ubuntu):
#
#   scripts/make-debs.sh [--arch ARCH] [DISTRO...]
#
# For this machine's architecture, or with --arch arm64 on x86-64
# cross-built against /opt/ros/<distro>-arm64; either way they install to
# /opt/ros/<distro>. They go to DEBS_DIR/<distro>[-<arch>]/ (default
# build/debs), where bloom's debian/ is made in a copy of each package.
# DEB_INC=N makes Debian revision N (default 0). Offline: rosdep reads
# packaging/rosdep/, bloom the index packaging/rosdistro/.
# packaging/<package>/ holds what is added to bloom's debian/. data_center
# builds against the korvane_protocol package just made, unpacked beside it:
# installing it would change this machine's /opt/ros/<distro>.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
debs_dir="${DEBS_DIR:-$root/build/debs}"
deb_inc="${DEB_INC:-0}"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"

say() {
  echo "make-debs: $*"
}
fail() {
  echo "make-debs: $*" >&2
  exit 1
}
# logged LOG WHAT COMMAND...: COMMAND with its output appended to LOG, whose
# end is shown when it fails.
logged() {
  local log="$1" what="$2"
  shift 2
  "$@" >>"$log" 2>&1 || {
    tail -n 60 "$log" >&2
    fail "$what failed (log: $log)"
  }
}

build_arch="$(dpkg --print-architecture)"
arch="$build_arch"
if [ "${1:-}" = --arch ]; then
  [ $# -ge 2 ] || fail "--arch needs an architecture"
  arch="$2"
  shift 2
fi
# The ROS 2 a distribution's packages build against: the machine's own
# /opt/ros/<distro>, or for another architecture its build beside it, with a
# CMake toolchain file for the cross compiler.
toolchain=""
ros_suffix=""
if [ "$arch" != "$build_arch" ]; then
  case "$build_arch/$arch" in
    amd64/arm64) toolchain="$root/standalone/cmake/toolchain-arm64.cmake" ;;
    *) fail "cross-builds for arm64 on amd64 only, not for $arch on $build_arch" ;;
  esac
  ros_suffix="-$arch"
fi
select_robot_distros "$@"
for d in "${distros[@]}"; do
  [ -f "$root/packaging/rosdep/$d.yaml" ] || fail "no packaging/rosdep/$d.yaml: no rosdep rules for $d"
done
[[ "$deb_inc" =~ ^[0-9]+$ ]] || fail "DEB_INC must be a number, not '$deb_inc'"
# The packages are made for the system this runs on: Debian 12 (bookworm),
# or the robot's Ubuntu (jammy for Humble, noble for Jazzy).
os_name="$(. /etc/os-release && echo "$ID")"
os_version="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
case "$os_name" in
  debian | ubuntu) ;;
  *) fail "made on Debian or Ubuntu only, not on '$os_name'" ;;
esac

deps=(python3-bloom python3-rosdep2 debhelper dpkg-dev fakeroot libboost-system-dev)
[ -z "$toolchain" ] || deps+=(--arm64 "libboost-system-dev:$arch" "libpython3.11-dev:$arch")
"$root/scripts/install-deps.sh" "${deps[@]}"

# bloom and rosdep are Debian's, for Debian's python3; the distribution's
# setup.sh is sourced by debian/rules itself.
leave_ros
export PATH="/usr/bin:$PATH"
export DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=2"
unset DEB_BUILD_PROFILES

# retarget_rules DISTRO RULES: bloom's debian/rules builds against the
# prefix it installs to; here, against the ROS 2 of the architecture made
# (with the toolchain file when cross) and this machine's Fast DDS overlay
# (/opt/ros/<distro>_fastdds), so that korvane_protocol carries Fast DDS type
# support, as on a robot. Such prefixes are not made of packages:
# dpkg-shlibdeps finds no information on their libraries, which on a robot
# come from the packages package.xml names.
retarget_rules() {
  local distro="$1" rules="$2" ros="/opt/ros/$1$ros_suffix" ament="/opt/ros/$1$ros_suffix" edits=()
  [ ! -f "$overlay/setup.sh" ] || ament="$ament;$overlay"
  [ "$ament" != "/opt/ros/$distro" ] || return 0
  edits=(-e "s|\"/opt/ros/$distro/setup.sh\"|\"$ros/setup.sh\"|g"
    -e "s|^export PKG_CONFIG_PATH=/opt/ros/$distro/|export PKG_CONFIG_PATH=$ros/|"
    -e "s|-DAMENT_PREFIX_PATH=\"/opt/ros/$distro\"|-DAMENT_PREFIX_PATH=\"$ament\"|"
    -e "s|-DCMAKE_PREFIX_PATH=\"/opt/ros/$distro\"|-DCMAKE_PREFIX_PATH=\"$ros\"|"
    -e "s|^\(\s*dh_shlibdeps -l.*\)\$|\1 -- --ignore-missing-info|")
  [ -z "$toolchain" ] || edits+=(-e "s|dh_auto_configure -- |&-DCMAKE_TOOLCHAIN_FILE=\"$toolchain\" |")
  sed -i "${edits[@]}" "$rules"
  local want
  for want in "-DAMENT_PREFIX_PATH=\"$ament\"" "-DCMAKE_PREFIX_PATH=\"$ros\"" "--ignore-missing-info" \
    "PKG_CONFIG_PATH=$ros/" ${toolchain:+"-DCMAKE_TOOLCHAIN_FILE=\"$toolchain\""}; do
    grep -qF -- "$want" "$rules" || fail "bloom's debian/rules has changed: no place for $want"
  done
}

# make_one DISTRO PACKAGE WORK: bloom's debian/ in a copy of the package,
# then the binary package, in WORK.
make_one() {
  local distro="$1" pkg="$2" work="$3" src="$3/$2" start log
  start=$(date +%s)
  cp -a "$root/$pkg" "$src"
  rm -rf "$src/debian"
  log="$work/$pkg.log"
  logged "$log" "bloom-generate for $pkg on $distro" env -C "$src" bloom-generate rosdebian --ros-distro "$distro" \
    --os-name "$os_name" --os-version "$os_version" --debian-inc "$deb_inc"
  install -m 644 "$root/packaging/$pkg/lintian-overrides" "$src/debian/lintian-overrides"
  local overlay=""
  [ -n "$ros_suffix" ] || overlay="/opt/ros/${distro}_fastdds"
  if [ "$pkg" = data_center ]; then
    # Debhelper's compat level 13 for dh_installsystemd and
    # dh_installtmpfiles in its sequence (bloom writes 9).
    echo 13 >"$src/debian/compat"
    sed -i 's/debhelper (>= [0-9.]*)/debhelper (>= 13.1)/' "$src/debian/control"
    cat "$root/packaging/data_center/rules.mk" >>"$src/debian/rules"
    # The fields of packaging/data_center/control.fields, in the binary
    # package's stanza, right after its Package: line; @OTHER_DISTROS@
    # names the package of every other distribution of robot_distros.
    local others="" d
    for d in "${robot_distros[@]}"; do
      [ "$d" = "$distro" ] || others+=", ros-$d-data-center"
    done
    grep -v '^#' "$root/packaging/data_center/control.fields" | sed "s/@OTHER_DISTROS@/$others/" >"$work/control.fields"
    sed -i "/^Package: ros-$distro-data-center\$/r $work/control.fields" "$src/debian/control"
    grep -q '^Provides: ' "$src/debian/control" || fail "no binary package stanza in bloom's debian/control"
    ! grep -q '@' "$work/control.fields" || fail "packaging/data_center/control.fields: a placeholder left unknown"
    install -m 755 "$root/packaging/data_center/postrm" "$src/debian/postrm"
  fi
  retarget_rules "$distro" "$src/debian/rules"
  # With the overlay: the prefix's rmw_implementation was built for its
  # default middleware alone, and refuses to configure with another one.
  # shellcheck disable=SC2016 # expanded by bash -c
  logged "$log" "dpkg-buildpackage for $pkg on $distro" bash -c 'o="$1" src="$2" arch="$3" && set -- &&
    if [ -f "$o/setup.sh" ]; then . "$o/setup.sh" && export RMW_IMPLEMENTATION=rmw_cyclonedds_cpp; fi &&
    cd "$src" && exec dpkg-buildpackage -a "$arch" -b -d -us -uc' sh "$overlay" "$src" "$arch"
  say "$distro: $pkg built in $(($(date +%s) - start)) s"
}

for distro in "${distros[@]}"; do
  out="$debs_dir/$distro$ros_suffix"
  work="$out/work"
  rm -rf "$out"
  mkdir -p "$work/rosdep/sources.list.d" "$work/ros_home" "$work/stage"
  cat >"$work/rosdep/sources.list.d/50-data-center.list" <<EOF
yaml file://$root/packaging/rosdep/system.yaml
yaml file://$root/packaging/rosdep/$distro.yaml
EOF
  export ROSDEP_SOURCE_PATH="$work/rosdep/sources.list.d" ROS_HOME="$work/ros_home"
  export ROSDISTRO_INDEX_URL="file://$root/packaging/rosdistro/index-v4.yaml"
  logged "$work/rosdep.log" "rosdep update for $distro" rosdep update --rosdistro "$distro"

  make_one "$distro" korvane_protocol "$work"
  kp_deb="$(echo "$work"/ros-"$distro"-korvane-protocol_*.deb)"
  [ -f "$kp_deb" ] || fail "no ros-$distro-korvane-protocol package in $work"
  dpkg-deb -x "$kp_deb" "$work/stage"
  (
    export CMAKE_PREFIX_PATH="$work/stage/opt/ros/$distro"
    export AMENT_PREFIX_PATH="$work/stage/opt/ros/$distro"
    export LD_LIBRARY_PATH="$work/stage/opt/ros/$distro/lib"
    make_one "$distro" data_center "$work"
  )
  mv "$work"/ros-"$distro"-*.deb "$out/"
  rm -rf "$work/korvane_protocol" "$work/data_center" "$work/stage"
  say "$distro: $(cd "$out" && echo ./*.deb)"
done
