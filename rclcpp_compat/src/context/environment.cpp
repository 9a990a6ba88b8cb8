// SPDX-License-Identifier: Apache-2.0
#include "context/environment.hpp"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "rclcpp/exceptions.hpp"

namespace rclcpp_compat {
namespace {

// What rmw_cyclonedds_cpp (Humble) hands Cyclone for a localhost-only domain:
// the interface and nothing else, so Cyclone uses multicast where loopback
// supports it and unicast to this host otherwise. A real ROS 2 node on this
// host finds ours only if both leave the rest to Cyclone.
const char * const kLocalhostConfig =
    "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
    "</Interfaces></General></Domain></CycloneDDS>,";

// RMW_DEFAULT_DOMAIN_ID: what rcl leaves when ROS_DOMAIN_ID is unset or
// empty; rmw_cyclonedds_cpp turns it into 0.
constexpr size_t kDefaultDomainId = SIZE_MAX;

}  // namespace

// Read as rcl_get_default_domain_id does (strtoul with base 0, so "0x10" and
// "010" mean what they mean to a real node), then checked as
// rmw_cyclonedds_cpp does; Cyclone refuses ids its port mapping cannot hold.
uint32_t domain_id_from_env() {
  size_t domain_id = kDefaultDomainId;
  const char * text = std::getenv("ROS_DOMAIN_ID");
  if (text != nullptr && *text != '\0') {
    char * end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(text, &end, 0);
    if (number == 0UL && *end != '\0') {
      throw rclcpp::exceptions::RCLError(std::string("ROS_DOMAIN_ID is not an integral number: '") + text +
                                         "'");
    }
    if ((number == ULONG_MAX && errno == ERANGE) || number > SIZE_MAX) {
      throw rclcpp::exceptions::RCLError(std::string("ROS_DOMAIN_ID is out of range: '") + text + "'");
    }
    domain_id = static_cast<size_t>(number);
  }
  if (domain_id == kDefaultDomainId) {
    return 0;
  }
  if (domain_id >= UINT32_MAX) {
    throw rclcpp::exceptions::RCLError(std::string("ROS_DOMAIN_ID is out of range: '") + text + "'");
  }
  return static_cast<uint32_t>(domain_id);
}

// Deliberately unlike ROS 2 (localhost-only only for "1"): this build stays on
// loopback unless told "0".
bool localhost_only_from_env() {
  const char * text = std::getenv("ROS_LOCALHOST_ONLY");
  return text == nullptr || std::strcmp(text, "0") != 0;
}

std::string domain_config(bool localhost_only) {
  // Cyclone reads CYCLONEDDS_URI only for domains it creates itself, so it
  // comes after ours, as rmw_cyclonedds_cpp appends it; empty fragments are
  // ignored.
  const char * uri = std::getenv("CYCLONEDDS_URI");
  return std::string(localhost_only ? kLocalhostConfig : "") + (uri != nullptr ? uri : "");
}

}  // namespace rclcpp_compat
