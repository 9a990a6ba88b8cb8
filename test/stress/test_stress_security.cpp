// SPDX-License-Identifier: Apache-2.0
// The standalone build talks on loopback only unless told otherwise. In a
// network namespace of its own, with `lo` and an interface that leads off the
// host, everything on both is captured while the node starts and serves: its
// discovery announcements may advertise multicast where `lo` has it, but no
// unicast address other than 127.0.0.1, and nothing of it may leave through
// the other interface. Its UDP sockets are listed too. The same checks on a
// node told ROS_LOCALHOST_ONLY=0 must find it out.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.hpp"
#include "private_network.hpp"

namespace {

using namespace std::chrono_literals;

// The interface that leads off the host, and where what leaves through it
// arrives. 192.0.2.0/24 is for documentation: it reaches nobody.
const char kOutside[] = "dc-out";
const char kOutsideAddress[] = "192.0.2.10";
const char kOutsidePeer[] = "dc-peer";

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(e2e::EnterPrivateNetwork(), "");
    ASSERT_EQ(e2e::AddVethPair(kOutside, kOutsideAddress, kOutsidePeer), "");
  }
};
[[maybe_unused]] ::testing::Environment * const g_environment =
    ::testing::AddGlobalTestEnvironment(new Environment);

struct Locator {
  uint16_t pid;  // which list it came in
  int32_t kind;
  uint32_t port;
  uint8_t address[16];
  std::string Text() const {
    std::ostringstream s;
    s << "pid 0x" << std::hex << pid << std::dec << " kind " << kind << " ";
    if (kind == 1) {
      s << int(address[12]) << "." << int(address[13]) << "." << int(address[14]) << "." << int(address[15]);
    } else {
      s << "(not IPv4)";
    }
    s << ":" << port;
    return s.str();
  }
};

uint32_t Get32(const uint8_t * p, bool little) {
  return little ? (p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24)
                : (uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}
uint16_t Get16(const uint8_t * p, bool little) {
  return static_cast<uint16_t>(little ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]));
}

// The locators of the participant announcements (SPDP DATA) in one RTPS
// message; `spdp` counts the announcements seen.
std::vector<Locator> SpdpLocators(const std::vector<uint8_t> & m, int & spdp) {
  std::vector<Locator> locators;
  if (m.size() < 20 || std::memcmp(m.data(), "RTPS", 4) != 0) {
    return locators;
  }
  size_t pos = 20;
  while (pos + 4 <= m.size()) {
    const uint8_t id = m[pos];
    const uint8_t flags = m[pos + 1];
    const bool little = (flags & 1) != 0;
    const uint16_t length = Get16(&m[pos + 2], little);
    const size_t body = pos + 4;
    const size_t end = length == 0 ? m.size() : std::min(m.size(), body + length);
    const uint8_t spdp_writer[4] = {0x00, 0x01, 0x00, 0xc2};
    if (id == 0x15 && body + 20 <= end && std::memcmp(&m[body + 8], spdp_writer, 4) == 0) {
      ++spdp;
      size_t p = body + 4 + Get16(&m[body + 2], little);
      if ((flags & 0x02) != 0) {  // inline QoS: skip its parameter list
        while (p + 4 <= end && Get16(&m[p], little) != 1) {
          p += 4 + Get16(&m[p + 2], little);
        }
        p += 4;
      }
      if ((flags & 0x04) != 0 && p + 4 <= end) {
        const bool pl_little = m[p + 1] == 0x03;  // PL_CDR_LE; 0x02 is PL_CDR_BE
        p += 4;
        while (p + 4 <= end) {
          const uint16_t pid = Get16(&m[p], pl_little);
          const uint16_t len = Get16(&m[p + 2], pl_little);
          if (pid == 1) {
            break;
          }
          if ((pid == 0x31 || pid == 0x32 || pid == 0x33 || pid == 0x48) && len >= 24 && p + 4 + 24 <= end) {
            Locator l{};
            l.pid = pid;
            l.kind = static_cast<int32_t>(Get32(&m[p + 4], pl_little));
            l.port = Get32(&m[p + 8], pl_little);
            std::memcpy(l.address, &m[p + 12], 16);
            locators.push_back(l);
          }
          p += 4 + len;
        }
      }
    }
    if (length == 0) {
      break;
    }
    pos = body + length;
  }
  return locators;
}

// Local addresses of the process's UDP sockets, from its socket inodes and
// the namespace's socket tables.
std::vector<std::string> UdpSockets(pid_t pid) {
  std::set<std::string> inodes;
  const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR * d = opendir(fd_dir.c_str())) {
    while (dirent * e = readdir(d)) {
      char target[128] = {0};
      const std::string link = fd_dir + "/" + e->d_name;
      if (readlink(link.c_str(), target, sizeof target - 1) > 0 && std::strncmp(target, "socket:[", 8) == 0) {
        inodes.insert(std::string(target + 8, std::strlen(target) - 9));
      }
    }
    closedir(d);
  }
  std::vector<std::string> sockets;
  for (const char * table : {"udp", "udp6"}) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/net/" + table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string sl, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> sl >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (inodes.count(inode) == 0) {
        continue;
      }
      const auto colon = local.find(':');
      const std::string hex_address = local.substr(0, colon);
      const unsigned port = std::stoul(local.substr(colon + 1), nullptr, 16);
      std::string text;
      if (hex_address.size() == 8) {  // IPv4, in host byte order
        in_addr address{};
        address.s_addr = static_cast<in_addr_t>(std::stoul(hex_address, nullptr, 16));
        char buf[INET_ADDRSTRLEN] = {0};
        inet_ntop(AF_INET, &address, buf, sizeof buf);
        text = buf;
      } else {
        text = "[" + hex_address + "]";
      }
      sockets.push_back(text + ":" + std::to_string(port));
    }
  }
  return sockets;
}

// Every packet on one interface, as it passes: a packet socket bound to it.
class Capture {
 public:
  explicit Capture(const char * interface) {
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(if_nametoindex(interface));
    if (fd_ < 0 || address.sll_ifindex == 0 ||
        bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
      error_ = std::string("packet socket on ") + interface + ": " + std::strerror(errno);
    }
  }
  ~Capture() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Capture(const Capture &) = delete;
  Capture & operator=(const Capture &) = delete;
  const std::string & error() const { return error_; }

  // The UDP payload of the next UDP packet, waiting up to `wait_ms`; false
  // when none came. On loopback every packet passes twice (out and in): only
  // the outgoing copy counts. `udp` counts UDP packets of either IP version.
  bool NextUdp(int wait_ms, std::vector<uint8_t> & payload, int & udp) {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, wait_ms) <= 0) {
        return false;
      }
      std::vector<uint8_t> frame(65536);
      sockaddr_ll from{};
      socklen_t from_size = sizeof from;
      const ssize_t n =
          recvfrom(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_size);
      if (n < 14) {
        continue;
      }
      if (from.sll_hatype == ARPHRD_LOOPBACK && from.sll_pkttype != PACKET_OUTGOING) {
        continue;
      }
      frame.resize(static_cast<size_t>(n));
      const uint16_t ethertype = static_cast<uint16_t>(frame[12] << 8 | frame[13]);
      if (ethertype == ETH_P_IPV6 && frame.size() >= 14 + 40 && frame[14 + 6] == IPPROTO_UDP) {
        ++udp;
        payload.assign(frame.begin() + 14 + 40 + 8, frame.end());
        return true;
      }
      if (ethertype != ETH_P_IP || frame.size() < 14 + 20 || frame[14 + 9] != IPPROTO_UDP) {
        continue;
      }
      const size_t udp_start = 14 + 4 * static_cast<size_t>(frame[14] & 0x0f);
      if (frame.size() < udp_start + 8) {
        continue;
      }
      ++udp;
      payload.assign(frame.begin() + static_cast<std::ptrdiff_t>(udp_start + 8), frame.end());
      return true;
    }
  }

 private:
  int fd_ = -1;
  std::string error_;
};

struct Observation {
  int announcements = 0;          // participant announcements
  std::vector<Locator> locators;  // the locators they carried
  int udp_outside = 0;            // UDP packets that left through the other interface
  std::vector<std::string> sockets;
  int cli_exit = -1;
};

// Starts the node with `localhost_only` (nullptr: unset), waits for its
// announcement on lo, calls it with the client, and collects what passed.
Observation Observe(const char * localhost_only) {
  Observation seen;
  Capture lo("lo");
  Capture outside(kOutsidePeer);
  EXPECT_EQ(lo.error(), "");
  EXPECT_EQ(outside.error(), "");
  e2e::TempDir dir;
  if (localhost_only == nullptr) {
    unsetenv("ROS_LOCALHOST_ONLY");
  } else {
    setenv("ROS_LOCALHOST_ONLY", localhost_only, 1);
  }
  unsetenv("CYCLONEDDS_URI");
  e2e::NodeProcess node(e2e::TestDomain(0), dir.path());
  EXPECT_TRUE(node.WaitReady()) << node.Stderr();

  // Announcements count wherever they pass: on lo, or (a node that reaches
  // further) through the other interface.
  std::vector<uint8_t> payload;
  int udp_on_lo = 0;
  const auto take = [&](Capture & capture, int wait_ms, int & udp) {
    if (!capture.NextUdp(wait_ms, payload, udp)) {
      return false;
    }
    const auto found = SpdpLocators(payload, seen.announcements);
    seen.locators.insert(seen.locators.end(), found.begin(), found.end());
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (seen.announcements == 0 && std::chrono::steady_clock::now() < deadline) {
    take(lo, 100, udp_on_lo);
    take(outside, 0, seen.udp_outside);
  }
  seen.sockets = UdpSockets(node.pid());
  seen.cli_exit = e2e::Cli(e2e::TestDomain(0), {"call", "10003"}).exit_status;
  EXPECT_EQ(node.Stop(SIGTERM), 0);
  // Whatever left through the other interface while the node ran is queued.
  while (take(outside, 0, seen.udp_outside)) {
  }
  unsetenv("ROS_LOCALHOST_ONLY");
  return seen;
}

// What would tell another host where to reach the node, or reach it.
std::vector<std::string> Leaks(const Observation & seen) {
  std::vector<std::string> leaks;
  const uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 127, 0, 0, 1};
  for (const Locator & l : seen.locators) {
    const bool multicast = l.pid == 0x33 || l.pid == 0x48;
    if (multicast ? (l.kind != 1 || (l.address[12] & 0xf0) != 0xe0)
                  : (l.kind != 1 || std::memcmp(l.address, loopback, 16) != 0)) {
      leaks.push_back("advertised " + l.Text());
    }
  }
  if (seen.udp_outside > 0) {
    leaks.push_back(std::to_string(seen.udp_outside) + " UDP packets left through " + kOutside);
  }
  // Cyclone DDS binds its receive sockets to the wildcard address (it has no
  // setting to do otherwise) and sends from a socket on the chosen interface.
  for (const auto & s : seen.sockets) {
    if (s.rfind("127.0.0.1:", 0) != 0 && s.rfind("0.0.0.0:", 0) != 0) {
      leaks.push_back("UDP socket bound to " + s);
    }
  }
  return leaks;
}

void Print(const Observation & seen) {
  for (const Locator & l : seen.locators) {
    std::cout << "advertised locator: " << l.Text() << std::endl;
  }
  for (const auto & s : seen.sockets) {
    std::cout << "node UDP socket: " << s << std::endl;
  }
  std::cout << "UDP packets through " << kOutside << ": " << seen.udp_outside << std::endl;
}

TEST(Security, NodeAdvertisesOnlyLoopbackLocators) {
  for (const bool multicast : {false, true}) {
    SCOPED_TRACE(multicast ? "lo with multicast" : "lo without multicast");
    ASSERT_EQ(e2e::SetLoopback(multicast), "");
    // The node inherits no setting that would widen its reach.
    const Observation seen = Observe(nullptr);
    Print(seen);
    ASSERT_GT(seen.announcements, 0) << "no participant announcement seen on lo";
    EXPECT_EQ(Leaks(seen), std::vector<std::string>{});
    int unicast = 0;
    for (const Locator & l : seen.locators) {
      unicast += l.pid == 0x31 || l.pid == 0x32;
    }
    EXPECT_GT(unicast, 0) << "the announcement carried no unicast locator";
    EXPECT_TRUE(std::any_of(seen.sockets.begin(), seen.sockets.end(), [](const std::string & s) {
      return s.rfind("127.0.0.1:", 0) == 0;
    })) << "no socket to send from on loopback";
    // And it serves the client on the same host.
    EXPECT_EQ(seen.cli_exit, 0);
  }
}

// The checks above are only worth something if they see a node that does
// reach further: told ROS_LOCALHOST_ONLY=0, it advertises the other
// interface's address and announces itself through it.
TEST(Security, LocatorCheckFindsANodeOnEveryInterface) {
  ASSERT_EQ(e2e::SetLoopback(true), "");
  const Observation seen = Observe("0");
  Print(seen);
  ASSERT_GT(seen.announcements, 0) << "no participant announcement seen";
  const auto leaks = Leaks(seen);
  EXPECT_TRUE(std::any_of(leaks.begin(), leaks.end(), [](const std::string & l) {
    return l.rfind("advertised ", 0) == 0 && l.find(kOutsideAddress) != std::string::npos;
  })) << "the node's own address was not caught";
  EXPECT_GT(seen.udp_outside, 0);
}

}  // namespace
