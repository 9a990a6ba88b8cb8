// SPDX-License-Identifier: Apache-2.0
// Request payloads the benchmark sends and the checks of the node's answers.
#ifndef DATA_CENTER_BENCH_PAYLOADS_HPP_
#define DATA_CENTER_BENCH_PAYLOADS_HPP_

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A serialized BaseStationInfo of `poses` distinct poses over a few maps.
std::vector<uint8_t> MakeStationList(int poses);

struct AnswerExpectation {
  int poses = -1;      // 10002: number of poses, -1 for any
  std::string map_id;  // 1002: the map identifier, empty for any
};

// "" when the answer to `cmd` (code already checked) decodes as the node's
// message for that command and meets `expect`; otherwise what is wrong.
std::string CheckAnswer(int32_t cmd, const std::vector<uint8_t> & payload, const AnswerExpectation & expect);

}  // namespace bench

#endif  // DATA_CENTER_BENCH_PAYLOADS_HPP_
