// The standalone build talks on loopback only unless told otherwise. The
// node's discovery announcement is caught on the wire: every locator it
// advertises must be 127.0.0.1, with no multicast, so that no peer elsewhere
// is ever told where to reach it. Its UDP sockets are listed too.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

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

namespace {

using namespace std::chrono_literals;

// A participant index no process on this domain takes: the node sends its
// announcement to the ports of every index on the loopback peer list.
constexpr int kListenIndex = 25;

// RTPS well-known unicast discovery port (PB 7400, DG 250, PG 2, d1 10).
int DiscoveryPort(int domain, int index) {
  return 7400 + 250 * domain + 10 + 2 * index;
}

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

TEST(Security, NodeAdvertisesOnlyLoopbackLocators) {
  const int domain = e2e::TestDomain(0);
  // Listen where the node's announcements go, before it starts.
  const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(DiscoveryPort(domain, kListenIndex)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0) << std::strerror(errno);

  e2e::TempDir dir;
  // The node inherits no setting that would widen its reach.
  unsetenv("ROS_LOCALHOST_ONLY");
  unsetenv("CYCLONEDDS_URI");
  e2e::NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();

  std::vector<Locator> locators;
  int announcements = 0;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (announcements == 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{sock, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) {
      continue;
    }
    std::vector<uint8_t> message(65536);
    const ssize_t n = recv(sock, message.data(), message.size(), 0);
    if (n > 0) {
      message.resize(static_cast<size_t>(n));
      const auto found = SpdpLocators(message, announcements);
      locators.insert(locators.end(), found.begin(), found.end());
    }
  }
  close(sock);
  ASSERT_GT(announcements, 0) << "no participant announcement reached the loopback peer port";

  int unicast = 0;
  for (const Locator & l : locators) {
    std::cout << "advertised locator: " << l.Text() << std::endl;
    EXPECT_TRUE(l.pid == 0x31 || l.pid == 0x32) << "a multicast locator: " << l.Text();
    EXPECT_EQ(l.kind, 1) << l.Text();
    const uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 127, 0, 0, 1};
    EXPECT_EQ(std::memcmp(l.address, loopback, 16), 0) << l.Text();
    unicast += l.pid == 0x31 || l.pid == 0x32;
  }
  EXPECT_GT(unicast, 0) << "the announcement carried no unicast locator";

  // Cyclone DDS binds its receive sockets to the wildcard address (it has no
  // setting to do otherwise) and sends from a socket on the chosen interface:
  // none may be bound to an address other than loopback or the wildcard.
  const auto sockets = UdpSockets(node.pid());
  ASSERT_FALSE(sockets.empty());
  bool sends_from_loopback = false;
  for (const auto & s : sockets) {
    std::cout << "node UDP socket: " << s << std::endl;
    EXPECT_TRUE(s.rfind("127.0.0.1:", 0) == 0 || s.rfind("0.0.0.0:", 0) == 0) << s;
    sends_from_loopback = sends_from_loopback || s.rfind("127.0.0.1:", 0) == 0;
  }
  EXPECT_TRUE(sends_from_loopback);

  // And it serves the client on the same host.
  const auto r = e2e::Cli(domain, {"call", "10003"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

}  // namespace
