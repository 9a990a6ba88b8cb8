// SPDX-License-Identifier: Apache-2.0
// Foreign peers on a layer service's topics: samples built byte by byte
// (malformed ones, big-endian ones, ones padded the way rmw_cyclonedds_cpp
// pads them) and writers of another type under the same topic name. The
// service must answer every valid request, never see an invalid one, and keep
// running; once in this process and once across the network.
#include <dds/dds.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <memory>
#include <mutex>
#include <random>
#include <rclcpp/rclcpp.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "compat_test_support.hpp"
#include "raw_cdr_topic.hpp"
#include "rclcpp_compat/wire_types.hpp"

extern char ** environ;

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;
using compat_test::CdrLe;
using namespace std::chrono_literals;

const char kRequestTypeName[] = "korvane_protocol::srv::dds_::DataCenterSrv_Request_";
constexpr auto kBound = std::chrono::milliseconds(10000);

std::vector<uint8_t> request_le(uint64_t guid, int64_t seq, int32_t cmd_id,
                                const std::vector<uint8_t> & payload) {
  return CdrLe().u64(guid).i64(seq).i32(cmd_id).octets(payload).bytes();
}

std::vector<uint8_t> request_be(uint64_t guid, int64_t seq, int32_t cmd_id,
                                const std::vector<uint8_t> & payload) {
  std::vector<uint8_t> out = {0x00, 0x00, 0x00, 0x00};  // CDR, big-endian
  auto put = [&out](uint64_t v, int size) {
    for (int i = size - 1; i >= 0; --i) {
      out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
  };
  put(guid, 8);
  put(static_cast<uint64_t>(seq), 8);
  put(static_cast<uint32_t>(cmd_id), 4);
  put(payload.size(), 4);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// rmw_cyclonedds_cpp pads the serialized size to a multiple of 4 with zeros
// and leaves the options at 00 00.
std::vector<uint8_t> request_le_padded_like_rmw(uint64_t guid, int64_t seq, int32_t cmd_id,
                                                const std::vector<uint8_t> & payload) {
  auto bytes = request_le(guid, seq, cmd_id, payload);
  while (bytes.size() % 4 != 0) {
    bytes.push_back(0);
  }
  return bytes;
}

constexpr uint64_t kBadGuid = 0xbadbadbadbadull;
constexpr int32_t kBadCommand = 666;

// Samples with a proper encapsulation whose CDR body no request has. Each
// names the foreign guid and command where it has room for them, so a leak
// would be recognisable.
std::vector<std::vector<uint8_t>> malformed_bodies() {
  std::vector<std::vector<uint8_t>> samples;
  samples.push_back({0x00, 0x01, 0x00, 0x00});  // no body
  auto truncated = request_le(kBadGuid, 1, kBadCommand, {});
  truncated.resize(4 + 8 + 4);  // ends inside seq
  samples.push_back(truncated);
  auto too_long = CdrLe().u64(kBadGuid).i64(2).i32(kBadCommand).u32(1000).bytes();
  too_long.insert(too_long.end(), {1, 2, 3, 4});  // 1000 bytes announced, 4 present
  samples.push_back(too_long);
  samples.push_back(CdrLe().u64(kBadGuid).i64(3).i32(kBadCommand).u32(0xffffffffu).bytes());
  samples.push_back(CdrLe().u64(kBadGuid).i64(4).i32(kBadCommand).bytes());  // no sequence length
  std::mt19937 random(7);
  for (int i = 0; i < 8; ++i) {
    std::vector<uint8_t> garbage = {0x00, 0x01, 0x00, 0x00};
    for (int j = 0; j < 17 + 13 * i; ++j) {
      garbage.push_back(static_cast<uint8_t>(random()));
    }
    samples.push_back(garbage);
  }
  return samples;
}

// Samples without a usable encapsulation: nothing at all, or an unknown
// representation id. A receiver over the network rejects the whole message,
// so the writer's later samples stall behind it (DDSI reliability); across
// the network they are sent from a writer of their own.
std::vector<std::vector<uint8_t>> malformed_encapsulations() {
  auto unknown = request_le(kBadGuid, 5, kBadCommand, {1, 2, 3, 4});
  unknown[0] = 0x12;
  unknown[1] = 0x34;
  return {{}, unknown};
}

struct Reply {
  uint64_t guid;
  int64_t seq;
  int32_t code;
  std::vector<uint8_t> payload;
};

// Takes the next reply from a reader of the reply topic.
bool take_reply(dds_entity_t reader, Reply & out, std::chrono::milliseconds timeout = kBound) {
  return compat_test::wait_until(
      [&] {
        Srv::Response response;
        rclcpp_compat::WireSample sample;
        sample.message = &response;
        void * samples[1] = {&sample};
        dds_sample_info_t info;
        while (dds_take(reader, samples, &info, 1, 1) == 1) {
          if (info.valid_data) {
            out.guid = sample.header.guid;
            out.seq = sample.header.seq;
            out.code = response.code;
            out.payload = response.biz_data;
            return true;
          }
        }
        return false;
      },
      timeout);
}

class ForeignPeerTest : public compat_test::LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    node_ = std::make_shared<rclcpp::Node>("foreign_target");
    participant_ = compat_test::make_participant();
    ASSERT_GT(participant_.get(), 0);
  }

  void TearDown() override {
    node_.reset();
    LayerTest::TearDown();
  }

  // A foreign writer of raw bytes on the request topic of `service`, and a
  // reader of its replies.
  void open_foreign_endpoints(const std::string & service) {
    raw_topic_ = compat_test::Handle(
        compat_test::create_raw_cdr_topic(participant_.get(), "rq/" + service + "Request", kRequestTypeName));
    ASSERT_GT(raw_topic_.get(), 0);
    raw_writer_ = compat_test::make_writer(participant_.get(), raw_topic_.get());
    ASSERT_GT(raw_writer_.get(), 0);
    reply_topic_ =
        compat_test::make_service_topic<Srv::Response>(participant_.get(), "rr/" + service + "Reply");
    reply_reader_ = compat_test::make_reader(participant_.get(), reply_topic_.get());
    ASSERT_GT(reply_reader_.get(), 0);
    ASSERT_TRUE(compat_test::wait_publication_matched(raw_writer_.get()));
    ASSERT_TRUE(compat_test::wait_subscription_matched(reply_reader_.get()));
  }

  void expect_answer(uint64_t guid, int64_t seq, int32_t code, const std::vector<uint8_t> & payload) {
    Reply reply;
    ASSERT_TRUE(take_reply(reply_reader_.get(), reply)) << "no reply to seq " << seq;
    EXPECT_EQ(reply.guid, guid);
    EXPECT_EQ(reply.seq, seq);
    EXPECT_EQ(reply.code, code);
    EXPECT_EQ(reply.payload, payload);
  }

  // Valid requests in three spellings, each answered in turn: plain,
  // big-endian, and zero-padded without options.
  void send_valid_requests(uint64_t guid, int64_t first_seq) {
    ASSERT_EQ(compat_test::write_raw_cdr(raw_writer_.get(), request_le(guid, first_seq, 10, {1, 2, 3, 4})),
              DDS_RETCODE_OK);
    expect_answer(guid, first_seq, 10, {1, 2, 3, 4});
    ASSERT_EQ(compat_test::write_raw_cdr(raw_writer_.get(), request_be(guid, first_seq + 1, 11, {9, 8, 7})),
              DDS_RETCODE_OK);
    expect_answer(guid, first_seq + 1, 11, {9, 8, 7});
    ASSERT_EQ(compat_test::write_raw_cdr(raw_writer_.get(),
                                         request_le_padded_like_rmw(guid, first_seq + 2, 12, {5, 6, 7})),
              DDS_RETCODE_OK);
    expect_answer(guid, first_seq + 2, 12, {5, 6, 7});
  }

  static void send_all(dds_entity_t writer, const std::vector<std::vector<uint8_t>> & samples) {
    for (const auto & sample : samples) {
      // Whether the writer hears of a rejection is Cyclone's business; what
      // matters is what reaches the service.
      (void)compat_test::write_raw_cdr(writer, sample);
    }
  }

  rclcpp::Node::SharedPtr node_;
  compat_test::Handle participant_;
  compat_test::Handle raw_topic_;
  compat_test::Handle raw_writer_;
  compat_test::Handle reply_topic_;
  compat_test::Handle reply_reader_;
};

TEST_F(ForeignPeerTest, MalformedRequestsNeverReachTheCallback) {
  std::mutex mutex;
  std::vector<int32_t> served;
  auto service = node_->create_service<Srv>(
      "fp_local", [&](std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
        std::lock_guard<std::mutex> lock(mutex);
        served.push_back(request->cmd_id);
        response->code = request->cmd_id;
        response->biz_data = request->biz_data;
      });
  open_foreign_endpoints("fp_local");
  compat_test::Spinner spinner(node_);

  ASSERT_NO_FATAL_FAILURE(send_valid_requests(0xa1, 1));  // the foreign writer does reach the service
  send_all(raw_writer_.get(), malformed_bodies());
  send_all(raw_writer_.get(), malformed_encapsulations());
  ASSERT_NO_FATAL_FAILURE(send_valid_requests(0xa1, 10));

  Reply extra;
  EXPECT_FALSE(take_reply(reply_reader_.get(), extra, 0ms)) << "reply to seq " << extra.seq;
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(served, (std::vector<int32_t>{10, 11, 12, 10, 11, 12}));
}

// Matching is by topic and type name: a writer of another type on the same
// topic never reaches the service, even with a sample the service could read.
TEST_F(ForeignPeerTest, WriterOfAnotherTypeIsNotMatched) {
  std::mutex mutex;
  std::vector<int32_t> served;
  auto service = node_->create_service<Srv>(
      "fp_typed", [&](std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
        std::lock_guard<std::mutex> lock(mutex);
        served.push_back(request->cmd_id);
        response->code = request->cmd_id;
      });
  compat_test::Spinner spinner(node_);

  // Same layout, same topic, different type name; created before the proper
  // writer so that matching, which is immediate within a process, had its chance.
  auto other_participant = compat_test::make_participant();
  compat_test::Handle other_topic(compat_test::create_raw_cdr_topic(
      other_participant.get(), "rq/fp_typedRequest", "korvane_protocol::srv::dds_::OtherSrv_Request_"));
  auto other_writer = compat_test::make_writer(other_participant.get(), other_topic.get());
  ASSERT_GT(other_writer.get(), 0);
  open_foreign_endpoints("fp_typed");

  dds_publication_matched_status_t status;
  ASSERT_EQ(dds_get_publication_matched_status(other_writer.get(), &status), DDS_RETCODE_OK);
  EXPECT_EQ(status.total_count, 0u);

  ASSERT_EQ(compat_test::write_raw_cdr(other_writer.get(), request_le(kBadGuid, 1, 777, {})), DDS_RETCODE_OK);
  ASSERT_EQ(compat_test::write_raw_cdr(raw_writer_.get(), request_le(0xa2, 2, 1, {})), DDS_RETCODE_OK);
  expect_answer(0xa2, 2, 1, {});
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(served, std::vector<int32_t>{1});
}

// ---- across the network ------------------------------------------------------

// The echo server as a child process with its stdout on a pipe.
class EchoServerProcess {
 public:
  explicit EchoServerProcess(const std::string & service) {
    int fds[2];
    if (pipe(fds) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    // In a cross build the server runs behind the emulator, as this test does.
    std::vector<std::string> words;
    std::istringstream emulator(COMPAT_TEST_EMULATOR);
    for (std::string word; emulator >> word;) {
      words.push_back(word);
    }
    words.push_back(COMPAT_ECHO_SERVER);
    words.push_back(service);
    std::vector<char *> argv;
    for (auto & word : words) {
      argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }

  ~EchoServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
      close(out_);
    }
  }

  bool started() const { return pid_ > 0; }

  // The next line of its output, "" when none comes within `timeout`.
  std::string read_line(std::chrono::milliseconds timeout = kBound) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
        return "";
      }
      char chunk[256];
      const ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) {
        return "";
      }
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  // Sends SIGTERM and returns the exit status, or -1 if it does not end in time.
  int terminate(std::chrono::milliseconds timeout = kBound) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(5ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

TEST_F(ForeignPeerTest, RemoteServiceSurvivesMalformedRequestsAndServesLargePayloads) {
  EchoServerProcess server("fp_remote");
  ASSERT_TRUE(server.started());
  ASSERT_EQ(server.read_line(), "ready");
  open_foreign_endpoints("fp_remote");

  // Our endpoints may be known to the server a moment after we see the
  // matches; ask until the first answer comes.
  bool answered = false;
  Reply reply;
  for (int64_t seq = 1; !answered && seq <= 50; ++seq) {
    ASSERT_EQ(compat_test::write_raw_cdr(raw_writer_.get(), request_le(0xb1, seq, 1, {})), DDS_RETCODE_OK);
    answered = take_reply(reply_reader_.get(), reply, 200ms);
  }
  ASSERT_TRUE(answered);
  while (take_reply(reply_reader_.get(), reply, 200ms)) {
    // late answers to earlier attempts
  }

  ASSERT_NO_FATAL_FAILURE(send_valid_requests(0xb1, 100));
  send_all(raw_writer_.get(), malformed_bodies());
  {
    auto stalled = compat_test::make_writer(participant_.get(), raw_topic_.get());
    ASSERT_TRUE(compat_test::wait_publication_matched(stalled.get()));
    send_all(stalled.get(), malformed_encapsulations());
  }
  ASSERT_NO_FATAL_FAILURE(send_valid_requests(0xb1, 200));

  // A layer client across the network, with a payload that needs many fragments.
  auto client = node_->create_client<Srv>("fp_remote");
  ASSERT_TRUE(client->wait_for_service(kBound));
  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = 42;
  request->biz_data.resize(1 << 20);
  std::mt19937 random(1);
  for (auto & byte : request->biz_data) {
    byte = static_cast<uint8_t>(random());
  }
  for (int i = 0; i < 2; ++i) {
    auto pending = client->async_send_request(request);
    ASSERT_EQ(rclcpp::spin_until_future_complete(node_, pending.future, kBound),
              rclcpp::FutureReturnCode::SUCCESS);
    const auto response = pending.future.get();
    EXPECT_EQ(response->code, 42);
    EXPECT_TRUE(response->biz_data == request->biz_data);
    request->biz_data.resize(3);
  }

  // What the server's callback saw: some first attempts, then exactly the
  // valid requests, and it ends cleanly on SIGTERM.
  EXPECT_EQ(server.terminate(), 0);
  std::vector<std::string> seen;
  std::string served_line;
  for (std::string line = server.read_line(); !line.empty(); line = server.read_line()) {
    if (line.rfind("served ", 0) == 0) {
      served_line = line;
      break;
    }
    seen.push_back(line);
  }
  EXPECT_EQ(served_line, "served " + std::to_string(seen.size()));
  size_t first_attempts = 0;
  while (first_attempts < seen.size() && seen[first_attempts] == "request 1") {
    ++first_attempts;
  }
  EXPECT_GE(first_attempts, 1u);
  EXPECT_EQ(std::vector<std::string>(seen.begin() + static_cast<std::ptrdiff_t>(first_attempts), seen.end()),
            (std::vector<std::string>{"request 10", "request 11", "request 12", "request 10", "request 11",
                                      "request 12", "request 42", "request 42"}));
}

}  // namespace
