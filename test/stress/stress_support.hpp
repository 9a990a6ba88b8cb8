// Pieces shared by the stress tests and their load client: an in-process
// client of robot_status_query, station lists that name themselves, the
// node's memory, and knobs read from the environment.
#ifndef DATA_CENTER_TEST_STRESS_SUPPORT_HPP_
#define DATA_CENTER_TEST_STRESS_SUPPORT_HPP_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <map>
#include <memory>
#include <optional>
#include <rclcpp/rclcpp.hpp>
#include <string>
#include <vector>

namespace stress {

using Srv = korvane_protocol::srv::DataCenterSrv;

// The answer of the robot-info command, whatever the request holds.
inline const std::string kRobotInfoBytes("\x0a\x09\x08\xb8\x17\x10\x28\x18\x80\xf1\x04", 11);

inline constexpr char kDomainBusy[] =
    "a node already answers on this test's ROS_DOMAIN_ID: is another run of these tests going on?";

// An integer from the environment, or `fallback` when unset or not a number.
long EnvLong(const char * name, long fallback);

// The DDS domain of this process. The first call fixes it (the layer creates
// one participant per process and keeps it); later calls in the same process
// get the same domain back, so tests run one after another in one process
// share it, while ctest runs each test in a process of its own.
int ProcessDomain(int wanted);

// An in-process client of robot_status_query on ProcessDomain().
class Caller {
 public:
  struct Reply {
    int32_t code = 0;
    std::string msg;
    std::string payload;
  };

  explicit Caller(int domain_id);
  ~Caller();
  Caller(const Caller &) = delete;
  Caller & operator=(const Caller &) = delete;

  int domain() const { return domain_; }

  // Sends one request and waits up to `limit` for its reply; nothing when no
  // reply came (the request is then forgotten).
  std::optional<Reply> Call(int32_t cmd_id, const std::string & payload, std::chrono::milliseconds limit);
  // For a node that is just starting: repeats the call (each attempt waiting
  // `attempt`) until one is answered or `limit` has passed.
  std::optional<Reply> CallUntilAnswered(int32_t cmd_id, const std::string & payload,
                                         std::chrono::milliseconds limit,
                                         std::chrono::milliseconds attempt = std::chrono::milliseconds(300));

  // True when some node already answers on this domain: another run of these
  // tests at the same time, whose nodes would answer this test's requests too.
  // Checked before a test starts its own node.
  bool DomainBusy() { return CallUntilAnswered(10003, "", std::chrono::milliseconds(1500)).has_value(); }

  // The pieces of Call, for callers that wait on their own terms.
  rclcpp::Client<Srv>::FutureAndRequestId Send(int32_t cmd_id, const std::string & payload);
  // Runs the client's callbacks for up to `slice`; true once `future` is ready.
  bool Poll(const rclcpp::Client<Srv>::FutureAndRequestId & future, std::chrono::milliseconds slice);
  static Reply Take(rclcpp::Client<Srv>::FutureAndRequestId & future);
  void Forget(int64_t request_id) { client_->remove_pending_request(request_id); }

 private:
  int domain_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<Srv>::SharedPtr client_;
};

// A station list that says which it is: `count` poses, pose i holding
// map_id = seq, x = i, y = seq + i / 4 and map_id_str = tag + ":" + seq. Any
// mix of two lists, a cut list or a foreign one fails ReadList.
std::string MakeList(const std::string & tag, int32_t seq, int count);
struct ListId {
  std::string tag;
  int32_t seq = 0;
  int count = 0;
};
// The identity of a MakeList list; nothing for anything else, the empty list
// included.
std::optional<ListId> ReadList(const std::string & bytes);

// VmRSS / VmHWM of a process in KiB, -1 when it cannot be read.
long RssKiB(pid_t pid);
long PeakRssKiB(pid_t pid);

// A program running beside the test, its standard output and error in files.
class Program {
 public:
  Program(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
          const std::string & out_path, const std::string & err_path);
  // Kills the program if it still runs.
  ~Program();
  Program(const Program &) = delete;
  Program & operator=(const Program &) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // Waits up to `limit` for the exit, then kills; the exit status, or 128 +
  // the signal that ended it.
  int Wait(std::chrono::seconds limit);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace stress

#endif  // DATA_CENTER_TEST_STRESS_SUPPORT_HPP_
