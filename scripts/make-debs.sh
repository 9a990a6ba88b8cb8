#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the robot packages as Debian packages, with bloom, for each ROS 2
# distribution installed of robot_distros (/opt/ros/humble, /opt/ros/jazzy), for this
# machine's system (Debian 12 here, or the robot's Ubuntu):
# ros-<distro>-korvane-protocol and ros-<distro>-data-center, their versions
# those of the package.xml files.
#
#   scripts/make-debs.sh [--arch ARCH] [DISTRO...]   (default: every one installed)
#
# For this machine's architecture, or, with --arch arm64 on an x86-64
# machine, cross-built for the robot's processor against the distribution's
# arm64 build /opt/ros/<distro>-arm64 (standalone/cmake/toolchain-arm64.cmake);
# either way they install to /opt/ros/<distro>.
#
# The packages go to DEBS_DIR/<distro>/ (default build/debs), or
# DEBS_DIR/<distro>-<arch>/ for another architecture; what bloom
# generates (debian/) is made there too, in a copy of each package, never in
# the source tree. DEB_INC=N makes Debian revision N (default 0), as bloom's
# --debian-inc. Offline: rosdep reads only packaging/rosdep/, and bloom the
# rosdistro index packaging/rosdistro/. packaging/<package>/ holds what is
# added to bloom's debian/: lintian overrides that say why, and for
# data_center, whose package carries the system service, what installs it.
#
# data_center is built against the korvane_protocol package just made,
# unpacked into the build folder and named by CMAKE_PREFIX_PATH and
# AMENT_PREFIX_PATH: installing it would change the machine's
# /opt/ros/<distro>, which on a build machine like this one is shared and not
# made of packages.
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
distros=("$@")
if [ "${#distros[@]}" -eq 0 ]; then
  for d in "${robot_distros[@]}"; do
    [ ! -f "/opt/ros/$d$ros_suffix/setup.sh" ] || distros+=("$d")
  done
  [ "${#distros[@]}" -gt 0 ] || fail "no ROS 2 distribution installed (/opt/ros/humble$ros_suffix, /opt/ros/jazzy$ros_suffix)"
fi
for d in "${distros[@]}"; do
  [ -f "/opt/ros/$d$ros_suffix/setup.sh" ] || fail "no /opt/ros/$d$ros_suffix/setup.sh: ROS 2 ${d} is not installed for $arch"
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
# prefix the package installs to, /opt/ros/<distro>; here it builds against
# the ROS 2 of the architecture made (/opt/ros/<distro>-<arch> when cross,
# sourced instead, with the toolchain file), and where the distribution's
# Fast DDS is an overlay of its prefix (this machine's
# /opt/ros/<distro>_fastdds) sees that too, as one prefix has both on a
# robot: korvane_protocol then carries Fast DDS type support, without which
# a node on rmw_fastrtps_cpp cannot serve its type. Such prefixes are not
# made of packages: dpkg-shlibdeps finds no dependency information for
# their libraries (Fast-CDR, rclcpp, ...), which on a robot come from the
# distribution's packages that package.xml names.
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
  (cd "$src" && bloom-generate rosdebian --ros-distro "$distro" --os-name "$os_name" --os-version "$os_version" \
    --debian-inc "$deb_inc") >"$log" 2>&1 || {
    cat "$log" >&2
    fail "bloom-generate failed for $pkg on $distro"
  }
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
  (
    set +u
    # shellcheck disable=SC1091
    if [ -f "$overlay/setup.sh" ]; then . "$overlay/setup.sh"; fi
    # The prefix's rmw_implementation was built for its default middleware
    # alone, and refuses to configure when another one is the default.
    if [ -f "$overlay/setup.sh" ]; then export RMW_IMPLEMENTATION=rmw_cyclonedds_cpp; fi
    cd "$src" && dpkg-buildpackage -a "$arch" -b -d -us -uc
  ) >>"$log" 2>&1 || {
    tail -n 60 "$log" >&2
    fail "dpkg-buildpackage failed for $pkg on $distro (log: $log)"
  }
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
  rosdep update --rosdistro "$distro" >"$work/rosdep.log" 2>&1 || {
    cat "$work/rosdep.log" >&2
    fail "rosdep update failed for $distro"
  }

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
