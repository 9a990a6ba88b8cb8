#include "service_caller.hpp"

#include <unistd.h>
#include <sstream>

namespace bench {
namespace {

// Several bench clients may run at once, and one process may hold two;
// distinct node names keep them apart in any graph tool.
std::string NodeName() {
  static int serial = 0;
  std::ostringstream name;
  name << "data_center_bench_client_" << ::getpid() << "_" << ++serial;
  return name.str();
}

}  // namespace

ServiceCaller::ServiceCaller(const std::string & service)
    : node_(rclcpp::Node::make_shared(NodeName())), client_(node_->create_client<Srv>(service)) {}

bool ServiceCaller::WaitForService(std::chrono::milliseconds limit) {
  return client_->wait_for_service(limit);
}

bool ServiceCaller::Call(const Srv::Request::SharedPtr & request, std::chrono::milliseconds limit,
                         Srv::Response::SharedPtr & response) {
  auto future = client_->async_send_request(request);
  if (rclcpp::spin_until_future_complete(node_, future, limit) != rclcpp::FutureReturnCode::SUCCESS) {
    client_->remove_pending_request(future.request_id);
    return false;
  }
  response = future.get();
  return response != nullptr;
}

}  // namespace bench
