// SPDX-License-Identifier: Apache-2.0
#include "hex.hpp"

namespace e2e {

std::string Hex(const std::string & bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : bytes) {
    if (!out.empty()) {
      out += ' ';
    }
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string HexDump(const std::string & text) {
  std::string out;
  size_t in_pair = 0;
  for (const char c : text) {
    if (c == ' ' || c == '\n') {
      continue;
    }
    if (in_pair == 2) {
      out += ' ';
      in_pair = 0;
    }
    out += c;
    ++in_pair;
  }
  return out;
}

std::string PayloadHex(const Result & r) {
  const auto line = r.out.find("\npayload: ");
  if (line == std::string::npos) {
    return "<no payload line>";
  }
  const auto body = r.out.find('\n', line + 1);
  return body == std::string::npos ? "" : HexDump(r.out.substr(body + 1));
}

}  // namespace e2e
