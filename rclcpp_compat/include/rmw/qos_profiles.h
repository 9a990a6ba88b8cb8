// SPDX-License-Identifier: Apache-2.0
#ifndef RMW__QOS_PROFILES_H_
#define RMW__QOS_PROFILES_H_

#include "rmw/types.h"

#ifdef __cplusplus
extern "C" {
#endif

// One field a line, in rmw_qos_profile_t order.
// clang-format off
static const rmw_qos_profile_t rmw_qos_profile_services_default = {
  RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  10,
  RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_DURABILITY_VOLATILE,
  {0, 0},
  {0, 0},
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT,
  {0, 0},
  false};

static const rmw_qos_profile_t rmw_qos_profile_parameters = {
  RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  1000,
  RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_DURABILITY_VOLATILE,
  {0, 0},
  {0, 0},
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT,
  {0, 0},
  false};

static const rmw_qos_profile_t rmw_qos_profile_parameter_events = {
  RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  1000,
  RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_DURABILITY_VOLATILE,
  {0, 0},
  {0, 0},
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT,
  {0, 0},
  false};
// clang-format on

#ifdef __cplusplus
}
#endif

#endif  // RMW__QOS_PROFILES_H_
