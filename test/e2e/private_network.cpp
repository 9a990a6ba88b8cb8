// SPDX-License-Identifier: Apache-2.0
#include "private_network.hpp"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "e2e_support.hpp"

namespace e2e {

namespace {

std::string WriteProcFile(const char * path, const std::string & text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::string(path) + ": " + std::strerror(errno);
  }
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int write_errno = errno;
  close(fd);
  return ok ? "" : std::string(path) + ": " + std::strerror(write_errno);
}

}  // namespace

std::string EnterPrivateNetwork() {
  if (geteuid() == 0) {
    if (unshare(CLONE_NEWNET) != 0) {
      return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    }
    return "";
  }
  // An ordinary user may own a network namespace inside a user namespace of
  // its own, where it is root (Debian 12 allows this by default); the node
  // launcher then sees root and mounts as it does for root.
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    return std::string("unshare(CLONE_NEWUSER | CLONE_NEWNET): ") + std::strerror(errno) +
           " (needs root or unprivileged user namespaces)";
  }
  std::string error = WriteProcFile("/proc/self/setgroups", "deny");
  if (error.empty()) {
    error = WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
  }
  if (error.empty()) {
    error = WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  return error;
}

std::string SetLoopback(bool multicast) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return std::string("socket: ") + std::strerror(errno);
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  std::string error;
  if (ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
    error = std::string("SIOCGIFFLAGS lo: ") + std::strerror(errno);
  } else {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    request.ifr_flags = static_cast<short>(multicast ? (request.ifr_flags | IFF_MULTICAST)
                                                     : (request.ifr_flags & ~IFF_MULTICAST));
    if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
      error = std::string("SIOCSIFFLAGS lo: ") + std::strerror(errno);
    }
  }
  close(fd);
  return error;
}

std::string AddVethPair(const std::string & outside, const std::string & address, const std::string & peer) {
  const std::vector<std::vector<std::string>> commands = {
      {"ip", "link", "add", outside, "type", "veth", "peer", "name", peer},
      {"ip", "addr", "add", address + "/24", "dev", outside},
      {"ip", "link", "set", outside, "up", "multicast", "on"},
      {"ip", "link", "set", peer, "up"},
  };
  for (const auto & argv : commands) {
    const Result r = Run(argv, {});
    if (r.exit_status != 0) {
      std::string line;
      for (const auto & a : argv) {
        line += a + " ";
      }
      return line + "failed: " + r.err;
    }
  }
  return "";
}

}  // namespace e2e
