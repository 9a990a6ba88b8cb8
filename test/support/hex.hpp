// SPDX-License-Identifier: Apache-2.0
// Bytes as the client prints them, and the client's printed payload read back
// in the same form, so that what was sent and what came back compare as text.
#ifndef DATA_CENTER_TEST__SUPPORT__HEX_HPP_
#define DATA_CENTER_TEST__SUPPORT__HEX_HPP_

#include <string>

#include "process.hpp"

namespace e2e {

// "0A 1B ...": upper-case pairs, one space apart.
std::string Hex(const std::string & bytes);
// A hex dump of the client (its --quiet output, or the body of its text
// output) in Hex's form: line breaks and spaces go, anything else stays, so
// that stray text shows in a comparison.
std::string HexDump(const std::string & text);
// The body after the "payload:" line of the client's text output, in Hex's
// form; "<no payload line>" when there is none.
std::string PayloadHex(const Result & r);

}  // namespace e2e

#endif  // DATA_CENTER_TEST__SUPPORT__HEX_HPP_
