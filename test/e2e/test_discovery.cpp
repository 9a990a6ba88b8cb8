// SPDX-License-Identifier: Apache-2.0
// Discovery between the node and ROS 2 nodes on the same host. A ROS 2
// Humble node over Cyclone DDS creates its domain from a configuration string
// of its own; a bare Cyclone participant created with exactly that string,
// with raw request and reply samples on the service's topics, stands in for
// it here. Both ways round, with `lo` multicast-capable and not, each process
// of this test in a network namespace of its own.
#include <dds/dds.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"
#include "private_network.hpp"
#include "raw_cdr_topic.hpp"

namespace {

using namespace std::chrono_literals;

// Every case runs in a network namespace of its own, so one domain does.
const int kDomain = e2e::TestDomain(0);
constexpr auto kBound = 20s;  // discovery takes milliseconds; this bounds a broken run

// What rmw_cyclonedds_cpp (Humble) passes to dds_create_domain: the
// localhost-only part when ROS_LOCALHOST_ONLY=1, then CYCLONEDDS_URI.
const char kRos2LocalhostOnly[] =
    "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
    "</Interfaces></General></Domain></CycloneDDS>,";
// Another discovery port base: found only by a peer that applies it too.
const char kOtherPorts[] =
    "<CycloneDDS><Domain><Discovery><Ports><Base>7600</Base></Ports></Discovery></Domain></CycloneDDS>";

const char kRequestType[] = "korvane_protocol::srv::dds_::DataCenterSrv_Request_";
const char kResponseType[] = "korvane_protocol::srv::dds_::DataCenterSrv_Response_";
const char kPeerMessage[] = "answered by the ROS 2 peer";

class Environment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(e2e::EnterPrivateNetwork(), ""); }
};
[[maybe_unused]] ::testing::Environment * const g_environment =
    ::testing::AddGlobalTestEnvironment(new Environment);

// Little-endian XCDR1 with the encapsulation header.
class Cdr {
 public:
  Cdr() : bytes_{0x00, 0x01, 0x00, 0x00} {}
  Cdr & u32(uint32_t v) { return put(v, 4); }
  Cdr & u64(uint64_t v) { return put(v, 8); }
  Cdr & str(const std::string & s) {
    u32(static_cast<uint32_t>(s.size() + 1));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
    return *this;
  }
  const std::vector<uint8_t> & bytes() const { return bytes_; }

 private:
  Cdr & put(uint64_t v, size_t size) {
    while ((bytes_.size() - 4) % size != 0) {
      bytes_.push_back(0);
    }
    for (size_t i = 0; i < size; ++i) {
      bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    return *this;
  }
  std::vector<uint8_t> bytes_;
};

uint64_t Get(const std::vector<uint8_t> & b, size_t offset, size_t size) {
  uint64_t v = 0;
  for (size_t i = 0; i < size && offset + i < b.size(); ++i) {
    v |= uint64_t{b[offset + i]} << (8 * i);
  }
  return v;
}

template <class F>
bool WaitFor(F && done) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// A participant set up as a ROS 2 node sets up Cyclone, with a request and a
// reply endpoint of the service as a client (or a server) of it has them.
class Ros2Peer {
 public:
  Ros2Peer(const std::string & config, bool server) {
    domain_ = dds_create_domain(kDomain, config.c_str());
    dds_qos_t * qos = dds_create_qos();
    dds_qset_userdata(qos, "enclave=/;", 10);
    participant_ = dds_create_participant(kDomain, qos, nullptr);
    dds_delete_qos(qos);
    const dds_entity_t request =
        compat_test::create_raw_cdr_topic(participant_, "rq/robot_status_queryRequest", kRequestType);
    const dds_entity_t reply =
        compat_test::create_raw_cdr_topic(participant_, "rr/robot_status_queryReply", kResponseType);
    qos = dds_create_qos();  // rmw_qos_profile_services_default, as rmw_cyclonedds_cpp maps it
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
    dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
    dds_qset_writer_data_lifecycle(qos, false);
    if (!server) {
      // As rmw_cyclonedds_cpp's clients do: the same id on both endpoints
      // tells a server which reply reader to wait for. Without it a reply can
      // go out before the server has discovered this reader, and is lost.
      static const char kClientId[] = "clientid=ros2peer.1;";
      dds_qset_userdata(qos, kClientId, sizeof kClientId - 1);
    }
    writer_ = dds_create_writer(participant_, server ? reply : request, qos, nullptr);
    reader_ = dds_create_reader(participant_, server ? request : reply, qos, nullptr);
    dds_delete_qos(qos);
  }
  ~Ros2Peer() { dds_delete(domain_); }
  Ros2Peer(const Ros2Peer &) = delete;
  Ros2Peer & operator=(const Ros2Peer &) = delete;

  std::string Error() const {
    if (domain_ < 0 || participant_ < 0 || writer_ < 0 || reader_ < 0) {
      return std::string("cannot create the peer: ") +
             dds_strretcode(std::min({domain_, participant_, writer_, reader_}));
    }
    return "";
  }

  bool Matched() const {
    dds_publication_matched_status_t pub{};
    dds_subscription_matched_status_t sub{};
    return dds_get_publication_matched_status(writer_, &pub) == DDS_RETCODE_OK &&
           dds_get_subscription_matched_status(reader_, &sub) == DDS_RETCODE_OK && pub.current_count > 0 &&
           sub.current_count > 0;
  }

  // As a client: one request, and the code of the reply that carries its id.
  bool Call(uint32_t cmd_id, int32_t & code) {
    const uint64_t guid = 0x0123456789abcdefull;
    const int64_t seq = 1;
    const auto request = Cdr().u64(guid).u64(seq).u32(cmd_id).u32(0).bytes();
    if (compat_test::write_raw_cdr(writer_, request) != DDS_RETCODE_OK) {
      return false;
    }
    return WaitFor([&] {
      std::vector<uint8_t> reply;
      while (compat_test::take_raw_cdr(reader_, reply)) {
        if (reply.size() >= 24 && Get(reply, 4, 8) == guid &&
            static_cast<int64_t>(Get(reply, 12, 8)) == seq) {
          code = static_cast<int32_t>(Get(reply, 20, 4));
          return true;
        }
      }
      return false;
    });
  }

  // As a server: answers every request with code 0 and kPeerMessage until
  // `stop`; returns how many it answered.
  int Serve(const std::atomic<bool> & stop) {
    int answered = 0;
    while (!stop) {
      std::vector<uint8_t> request;
      if (!compat_test::take_raw_cdr(reader_, request)) {
        std::this_thread::sleep_for(1ms);
        continue;
      }
      if (request.size() < 24) {
        continue;
      }
      const auto reply =
          Cdr().u64(Get(request, 4, 8)).u64(Get(request, 12, 8)).u32(0).str(kPeerMessage).u32(0).bytes();
      answered += compat_test::write_raw_cdr(writer_, reply) == DDS_RETCODE_OK;
    }
    return answered;
  }

 private:
  dds_entity_t domain_ = 0;
  dds_entity_t participant_ = 0;
  dds_entity_t writer_ = 0;
  dds_entity_t reader_ = 0;
};

// The parameter: whether `lo` has multicast. Cyclone uses multicast discovery
// on it when it has, unicast to this host when not.
class Discovery : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && e2e::UnderEmulation()) {
      // qemu-user answers IP_MULTICAST_IF with "Unsupported", so Cyclone
      // cannot create a multicast domain there; real arm64 has no such gap.
      GTEST_SKIP() << "multicast sockets are not emulated by qemu-user";
    }
    ASSERT_EQ(e2e::SetLoopback(GetParam()), "");
    unsetenv("ROS_LOCALHOST_ONLY");
    unsetenv("CYCLONEDDS_URI");
  }
  void TearDown() override {
    unsetenv("ROS_LOCALHOST_ONLY");
    unsetenv("CYCLONEDDS_URI");
  }

  // The node is found by the peer, which gets an answer from it, and by this
  // build's client.
  void ExpectNodeFound(const std::string & peer_config) {
    e2e::TempDir dir;
    e2e::NodeProcess node(kDomain, dir.path());
    ASSERT_TRUE(node.WaitReady()) << node.Stderr();

    Ros2Peer peer(peer_config, false);
    ASSERT_EQ(peer.Error(), "");
    ASSERT_TRUE(WaitFor([&] { return peer.Matched(); })) << "the ROS 2 peer never matched the node's service";
    int32_t code = -1;
    ASSERT_TRUE(peer.Call(10003, code)) << "no reply to the ROS 2 peer";
    EXPECT_EQ(code, 0);

    const auto r = e2e::Cli(kDomain, {"call", "10003"});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    // Only the client's own lines: Cyclone's notices are for --verbose.
    EXPECT_EQ(r.err, "");
    if (!GetParam()) {
      const auto verbose = e2e::Cli(kDomain, {"call", "10003", "--verbose"});
      EXPECT_NE(verbose.err.find("is not multicast-capable"), std::string::npos) << verbose.err;
    }
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }
};

TEST_P(Discovery, Ros2PeerAndClientFindTheNodeOnLoopback) {
  ExpectNodeFound(kRos2LocalhostOnly);
}

TEST_P(Discovery, ClientFindsARos2ServerOnLoopback) {
  Ros2Peer peer(kRos2LocalhostOnly, true);
  ASSERT_EQ(peer.Error(), "");
  std::atomic<bool> stop{false};
  int answered = 0;
  std::thread server([&] { answered = peer.Serve(stop); });
  const auto r = e2e::Cli(kDomain, {"call", "10003"});
  stop = true;
  server.join();
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(kPeerMessage), std::string::npos) << r.out;
  EXPECT_EQ(answered, 1);
}

// CYCLONEDDS_URI comes after the layer's own configuration, as a ROS 2 node
// appends it, whether loopback-only or not.
TEST_P(Discovery, CycloneddsUriIsAppendedToTheLoopbackConfiguration) {
  setenv("CYCLONEDDS_URI", kOtherPorts, 1);
  ExpectNodeFound(std::string(kRos2LocalhostOnly) + kOtherPorts);
}

TEST_P(Discovery, CycloneddsUriAloneWhenLocalhostOnlyIsOff) {
  setenv("ROS_LOCALHOST_ONLY", "0", 1);
  setenv("CYCLONEDDS_URI", kOtherPorts, 1);
  ExpectNodeFound(kOtherPorts);
}

INSTANTIATE_TEST_SUITE_P(Lo, Discovery, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> & info) {
                           return info.param ? "Multicast" : "NoMulticast";
                         });

}  // namespace
