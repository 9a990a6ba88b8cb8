# SPDX-License-Identifier: Apache-2.0
# Cross build for the robot's processor (64-bit Arm) on a Debian machine with
# the arm64 architecture added (scripts/install-deps.sh --arm64): Debian's
# cross compiler, the arm64 libraries from the multiarch folders
# (/usr/lib/aarch64-linux-gnu), and the host's code generators (protoc and
# the rosidl generators), which are plain programs and emit the same code for
# any target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Multiarch, not a sysroot: the arm64 packages live beside the host's under
# /usr, so find_* looks in the aarch64-linux-gnu folders of the host's root.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Tests and try_run() run the arm64 programs under user-mode QEMU. -L / makes
# it load the multiarch libc6:arm64 with its own loader; the cross
# toolchain's folder (/usr/aarch64-linux-gnu) would mix two glibc builds and
# hang at the first thread.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(DATA_CENTER_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
  if(DATA_CENTER_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${DATA_CENTER_QEMU_AARCH64} -L /)
  elseif(NOT CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    # Test discovery runs the test programs at build time.
    message(WARNING "no qemu-aarch64-static: the tests can only run where binfmt_misc starts arm64 "
                    "programs (scripts/install-deps.sh --arm64 installs qemu)")
  endif()
endif()
