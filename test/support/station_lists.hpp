// SPDX-License-Identifier: Apache-2.0
// Station lists that say which they are, so that a torn, mixed, older or
// foreign list is told apart from every list a test sent.
#ifndef DATA_CENTER_TEST__SUPPORT__STATION_LISTS_HPP_
#define DATA_CENTER_TEST__SUPPORT__STATION_LISTS_HPP_

#include <cstdint>
#include <optional>
#include <string>

namespace e2e {

// An encoded BaseStationInfo of `count` poses, pose i holding map_id = seq,
// x = i, y = seq + i / 4 and map_id_str = tag + ":" + seq. Any mix of two
// lists, a cut list or a foreign one fails ReadList.
std::string MakeList(const std::string & tag, int32_t seq, int count);
struct ListId {
  std::string tag;
  int32_t seq = 0;
  int count = 0;
};
// The identity of a MakeList list; nothing for anything else, the empty list
// included.
std::optional<ListId> ReadList(const std::string & bytes);

// Two poses with every field set, the second one's map named with a blank:
// the list tests compare byte for byte and by its decoded text.
std::string TwoPoses();

}  // namespace e2e

#endif  // DATA_CENTER_TEST__SUPPORT__STATION_LISTS_HPP_
