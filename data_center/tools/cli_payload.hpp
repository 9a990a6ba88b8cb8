// SPDX-License-Identifier: Apache-2.0
// Payload handling of data_center_cli: hex and text/JSON input, and the
// printed form of an answer. Free of any middleware so it can be unit-tested.
#ifndef DATA_CENTER__TOOLS__CLI_PAYLOAD_HPP_
#define DATA_CENTER__TOOLS__CLI_PAYLOAD_HPP_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "proto/data_center.pb.h"

namespace data_center {
namespace cli {

using Bytes = std::vector<uint8_t>;

// Largest input file or standard input we read; guards against pointing the
// client at a device or a huge file by mistake.
constexpr size_t kMaxInputBytes = size_t{64} * 1024 * 1024;

// Hex digits in pairs, either case; spaces, tabs, line breaks and colons
// separate groups. Every group must hold an even number of digits so that a
// dropped digit ("0A 9 08") is caught instead of shifting the bytes after it.
bool ParseHex(const std::string & text, Bytes * out, std::string * error);

// Upper-case hex, 16 bytes a line, bytes separated by one space, every line
// ending in '\n'; nothing at all for no bytes. ParseHex reads it back.
std::string FormatHex(const Bytes & bytes);

enum class InputFormat { kAuto, kText, kJson };

// kJson when the first non-blank character is '{', otherwise kText (protobuf
// text format cannot start with a brace, JSON of a message must).
InputFormat DetectInputFormat(const std::string & text);

// Reads a BaseStationInfo written in protobuf text format or JSON (either
// field-name spelling). Unknown field names are errors, not silently dropped.
bool ParseStationList(const std::string & text, InputFormat format, BaseStationInfo * out,
                      std::string * error);

bool SerializeMessage(const google::protobuf::Message & message, Bytes * out);

// Reads all of `in`, failing when it holds more than `limit` bytes or the
// read itself fails.
bool ReadStream(std::istream & in, size_t limit, std::string * data, std::string * error);

// Reads a file, or standard input for "-", up to kMaxInputBytes.
bool ReadInput(const std::string & path, std::string * data, std::string * error);

// How the answer payload of a command is shown.
enum class PayloadKind { kHex, kMapInfo, kBaseStationInfo, kRobotInfoResp };
enum class OutputFormat { kText, kJson };

struct Answer {
  int32_t code = 0;
  std::string msg;
  Bytes payload;
};

struct Rendered {
  std::string out;  // for standard output
  std::string err;  // notes for standard error (only in quiet mode)
};

// The printed answer:
//   code: N
//   msg: "TEXT"
//   payload: KIND (N bytes[; NOTE])
//   BODY
// With `quiet` only BODY goes to `out`; what the header would have said that
// matters (a non-zero code, a payload that did not decode) goes to `err`.
Rendered RenderAnswer(const Answer & answer, PayloadKind kind, OutputFormat format, bool quiet);

// `text` in double quotes with \" \\ \n \r \t escaped, other control bytes
// and bytes that are not part of valid UTF-8 as \xHH (always two digits).
std::string QuoteText(const std::string & text);

// True when the message or any message inside it holds fields that the
// schema does not define.
bool HasUnknownFields(const google::protobuf::Message & message);

}  // namespace cli
}  // namespace data_center

#endif  // DATA_CENTER__TOOLS__CLI_PAYLOAD_HPP_
