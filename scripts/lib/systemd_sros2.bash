# SPDX-License-Identifier: Apache-2.0
# shellcheck shell=bash disable=SC2154 # root, distro: test-systemd.sh's
# The site file of docs/deploying.md with SROS2 under Enforce, as written
# there, under the booted container's systemd: on Cyclone DDS and on Fast
# DDS, a caller with an enclave of its own is answered and one without
# security is not; with its enclave gone the node does not start, and the
# journal says why. The keystore is made with the distribution's own
# `ros2 security` and put in place as the page says. The site file is the
# one before afterwards, and the node serves again. Sourced by
# test-systemd.sh (ct, prop, wait_serving, say, fail; root, T, distro).

sros2_keystore=/opt/korvane/keystore

# sros2_call ENCLAVE ARGS...: data_center_cli as root in the site's settings
# but its own enclave, or without security when ENCLAVE is "-".
sros2_call() {
  # shellcheck disable=SC2016 # expanded by the container's shell
  ct HOME=/root DISTRO="$distro" ENCLAVE="$1" bash -c 'set -a && . /etc/default/data_center && set +a &&
    if [ "$ENCLAVE" = - ]; then unset ROS_SECURITY_ENABLE ROS_SECURITY_STRATEGY ROS_SECURITY_KEYSTORE ROS_SECURITY_ENCLAVE_OVERRIDE
    else export ROS_SECURITY_ENCLAVE_OVERRIDE="$ENCLAVE"; fi &&
    . "/opt/ros/$DISTRO/setup.bash" && exec "/opt/ros/$DISTRO/lib/data_center/data_center_cli" "$@"' \
    sh "${@:2}" </dev/null >"$T/cli.out" 2>&1
}

sros2_scenario() {
  local start=$SECONDS site rmw ks="$T/keystore" since
  ct cat /etc/default/data_center >"$T/site.before"
  site="$(sed -n '/^# \/etc\/default\/data_center$/,/^```$/p' "$root/docs/deploying.md" | grep '^[A-Z_]*=')"
  echo "$site" | grep -qx "ROS_SECURITY_KEYSTORE=$sros2_keystore" || fail "SROS2: no site file with $sros2_keystore in docs/deploying.md"
  rm -rf "$ks"
  env -i PATH=/usr/bin:/bin HOME="$T" PYTHONDONTWRITEBYTECODE=1 "$(echo "$site" | grep ^ROS_DOMAIN_ID=)" bash -c ". /opt/ros/$distro/setup.bash &&
    ros2 security create_keystore $ks && ros2 security create_enclave $ks /data_center &&
    ros2 security create_enclave $ks /caller" >"$T/keystore.log" 2>&1 || fail "SROS2: ros2 security: $(tail -n 5 "$T/keystore.log")"
  # In place as docs/deploying.md says: without the CA's keys, root's, the
  # private keys root's only but the node's, which its group may read.
  tar -C "$ks" --exclude ./private -cf - . | ct sh -c "rm -rf $sros2_keystore && mkdir -p $sros2_keystore &&
    tar -C $sros2_keystore -xf - && cd $sros2_keystore && chown -R root:root . && chmod -R go-w,a+rX . &&
    chmod 0600 enclaves/*/key.pem && chgrp data_center enclaves/data_center/key.pem &&
    chmod 0640 enclaves/data_center/key.pem"
  for rmw in rmw_cyclonedds_cpp rmw_fastrtps_cpp; do
    echo "$site" | sed "s/^RMW_IMPLEMENTATION=.*/RMW_IMPLEMENTATION=$rmw/" | ct sh -c 'cat >/etc/default/data_center'
    ct systemctl restart data_center
    wait_serving "SROS2 on $rmw"
    if ! sros2_call /caller --timeout 30 robot-info || ! grep -q "^code: 0" "$T/cli.out"; then
      fail "SROS2 on $rmw: a caller with its enclave is not answered: $(cat "$T/cli.out")"
    fi
    ! sros2_call - --timeout 2 robot-info || fail "SROS2 on $rmw: a caller without security is answered: $(cat "$T/cli.out")"
    grep -q "not available within" "$T/cli.out" || fail "SROS2 on $rmw: a caller without security: $(cat "$T/cli.out")"
    say "$distro: SROS2 Enforce on $rmw: a caller with its enclave answered, one without security not"
  done
  ct mv "$sros2_keystore/enclaves/data_center" "$sros2_keystore/enclaves/data_center.away"
  since="$(ct date +%s)"
  ct systemctl restart data_center
  local _ line="SECURITY ERROR: directory '$sros2_keystore/enclaves/data_center' does not exist"
  for _ in $(seq 1 100); do
    ct journalctl -u data_center -q -o cat --since "@$since" | grep -qF "$line" && break
    sleep 0.1
  done
  ct journalctl -u data_center -q -o cat --since "@$since" | grep -qF "$line" ||
    fail "SROS2: no '$line' in the journal with the enclave gone: $(ct journalctl -u data_center -q -o cat --since "@$since" | tail -n 5)"
  if [ "$(ct systemctl is-active data_center || true)" = active ] || [ "$(prop Result)" = success ]; then
    fail "SROS2: with its enclave gone, data_center is $(ct systemctl is-active data_center) ($(prop Result))"
  fi
  say "$distro: SROS2 Enforce, the enclave gone: the unit fails ($(prop Result)), the journal says: $line"
  ct mv "$sros2_keystore/enclaves/data_center.away" "$sros2_keystore/enclaves/data_center"
  ct sh -c 'cat >/etc/default/data_center' <"$T/site.before"
  ct systemctl reset-failed data_center
  ct systemctl restart data_center
  wait_serving "after SROS2"
  say "$distro: SROS2 checks in $((SECONDS - start)) s; the site file as before, the node serving"
}
