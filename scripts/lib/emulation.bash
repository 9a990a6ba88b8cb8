# SPDX-License-Identifier: Apache-2.0
# shellcheck shell=bash
# Sourced by the scripts that run another architecture's programs under
# qemu-user without touching the host's binfmt_misc.

# emulating ARCH [UNSHARE_OPTION...] -- COMMAND...: starts COMMAND in the
# background in a user and mount namespace of its own (and those the options
# add) whose own binfmt_misc runs ARCH's programs (aarch64) under
# qemu-ARCH-static; ids are mapped one to one, so its root is root. Sets
# emulating_pid. Calls the calling script's fail.
emulating() {
  local arch="$1" binfmt _ options=()
  shift
  while [ "$1" != -- ]; do options+=("$1") && shift; done
  shift
  binfmt="$(sed -n "s|^:qemu-$arch:\(M:[^:]*:[^:]*:[^:]*\):.*|:$arch:\1:/usr/bin/qemu-$arch-static:F|p" \
    "/usr/lib/binfmt.d/qemu-$arch.conf" 2>/dev/null)"
  [ -n "$binfmt" ] || fail "no binfmt_misc entry for $arch in /usr/lib/binfmt.d"
  # It waits for its ids, written below from outside, before it mounts.
  # shellcheck disable=SC2016 # the namespace's own expansions
  unshare --user --mount --propagation private "${options[@]}" /bin/sh -c '
    i=0
    until [ "$(id -u)" = 0 ]; do i=$((i + 1)) && [ "$i" -lt 200 ] || exit 125; sleep 0.05; done
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
      printf "%s\n" "$0" >/proc/sys/fs/binfmt_misc/register && exec "$@"' "$binfmt" "$@" &
  emulating_pid=$!
  for _ in $(seq 100); do
    [ "$(readlink "/proc/$emulating_pid/ns/user")" = "$(readlink /proc/$$/ns/user)" ] || break
    sleep 0.05
  done
  echo "0 0 65536" >"/proc/$emulating_pid/uid_map" && echo "0 0 65536" >"/proc/$emulating_pid/gid_map"
}
