# SPDX-License-Identifier: Apache-2.0
# Appended by scripts/make-debs.sh to the debian/rules bloom writes for
# data_center, so that the package carries the node's system service. The
# unit, sysusers.d and tmpfiles.d files are those the CMake install made (the
# unit's ExecStart names the launcher under this distribution's prefix);
# debhelper's own tools install them in /lib/systemd/system, /usr/lib/sysusers.d
# and /usr/lib/tmpfiles.d (the unit's drop-in goes beside the unit), and write the maintainer scripts that make the user
# and the folders, enable and start the unit on install, restart it on
# upgrade and stop it on removal. The copies under share/ stay, as in a
# colcon install.
service_pkg := $(shell dh_listpackages)

execute_after_dh_auto_install:
	d="$$(echo debian/$(service_pkg)/opt/ros/*/share/data_center/systemd)" && \
	install -m 644 "$$d/data_center.service" debian/$(service_pkg).data_center.service && \
	install -m 644 "$$d/sysusers.d/data_center.conf" debian/$(service_pkg).data_center.sysusers && \
	install -m 644 "$$d/tmpfiles.d/data_center.conf" debian/$(service_pkg).data_center.tmpfiles

# Before dh_installtmpfiles, so that the postinst makes the user first.
execute_after_dh_install:
	dh_installsysusers --name=data_center

override_dh_installtmpfiles:
	dh_installtmpfiles --name=data_center

# The unit's drop-in beside the unit, wherever this debhelper put that.
override_dh_installsystemd:
	dh_installsystemd --name=data_center
	unit="$$(find debian/$(service_pkg) -path '*/systemd/system/data_center.service')" && [ -n "$$unit" ] && \
	install -D -m 644 "$$(echo debian/$(service_pkg)/opt/ros/*/share/data_center/systemd)/data_center.service.d/network-online.conf" \
		"$$unit.d/network-online.conf"
