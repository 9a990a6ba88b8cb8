// SPDX-License-Identifier: Apache-2.0
#include "cli_payload.hpp"

#include <google/protobuf/empty.pb.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/util/json_util.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

namespace data_center {
namespace cli {

namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHexSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':';
}

std::string ByteHex(uint8_t b) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[b >> 4], kDigits[b & 0x0f]};
}

// A character as it can be shown inside single quotes in a message.
std::string Printable(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b >= 0x20 && b < 0x7f) return std::string(1, c);
  return "\\x" + ByteHex(b);
}

// Length of the well-formed UTF-8 sequence at p (at most n bytes), or 0.
size_t Utf8SequenceLength(const unsigned char * p, size_t n) {
  const unsigned char b = p[0];
  if (b < 0x80) return 1;
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xbf;  // allowed range of the second byte
  if (b >= 0xc2 && b <= 0xdf) {
    len = 2;
  } else if (b >= 0xe0 && b <= 0xef) {
    len = 3;
    if (b == 0xe0) lo = 0xa0;  // overlong
    if (b == 0xed) hi = 0x9f;  // surrogates
  } else if (b >= 0xf0 && b <= 0xf4) {
    len = 4;
    if (b == 0xf0) lo = 0x90;  // overlong
    if (b == 0xf4) hi = 0x8f;  // above U+10FFFF
  } else {
    return 0;
  }
  if (n < len || p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < len; ++i) {
    if (p[i] < 0x80 || p[i] > 0xbf) return 0;
  }
  return len;
}

// Keeps the first error of the text-format parser with its position.
class FirstErrorCollector : public google::protobuf::io::ErrorCollector {
 public:
  void AddError(int line, google::protobuf::io::ColumnNumber column, const std::string & message) override {
    if (error_.empty()) {
      error_ = "line " + std::to_string(line + 1) + ", column " + std::to_string(column + 1) + ": " + message;
    }
  }
  const std::string & error() const { return error_; }

 private:
  std::string error_;
};

std::unique_ptr<Message> NewMessage(PayloadKind kind) {
  if (kind == PayloadKind::kMapInfo) return std::make_unique<MapInfo>();
  if (kind == PayloadKind::kBaseStationInfo) return std::make_unique<BaseStationInfo>();
  if (kind == PayloadKind::kRobotInfoResp) return std::make_unique<RobotInfoResp>();
  return nullptr;  // kHex
}

bool IsUtf8(const std::string & text) {
  const auto * p = reinterpret_cast<const unsigned char *>(text.data());
  for (size_t i = 0; i < text.size();) {
    const size_t len = Utf8SequenceLength(p + i, text.size() - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

// QuoteText without the quotes: the text as it may stand inside a JSON string.
std::string EscapedText(const std::string & text) {
  const std::string quoted = QuoteText(text);
  return quoted.substr(1, quoted.size() - 2);
}

// Decodes `wire` as ParseFromString does, but keeps text that is not UTF-8
// as it is (a proto3 parser refuses it, and logs): the node answers a map
// identifier as it read it. A message without fields takes the wire apart, so
// the library checks it; text and message fields are filled in here, and the
// library decodes the rest. `depth`: the nesting the parser allows below.
bool ParseKeepingText(const std::string & wire, Message * message,
                      int depth = google::protobuf::io::CodedInputStream::GetDefaultRecursionLimit()) {
  google::protobuf::io::CodedInputStream input(reinterpret_cast<const uint8_t *>(wire.data()),
                                               static_cast<int>(wire.size()));
  input.SetRecursionLimit(depth);
  google::protobuf::Empty parts;
  if (!parts.ParseFromCodedStream(&input) || !input.ConsumedEntireMessage()) return false;
  const google::protobuf::UnknownFieldSet & fields = parts.GetReflection()->GetUnknownFields(parts);
  const Reflection * reflection = message->GetReflection();
  std::unique_ptr<Message> rest(message->New());
  for (int i = 0; i < fields.field_count(); ++i) {
    const google::protobuf::UnknownField & value = fields.field(i);
    const FieldDescriptor * field = message->GetDescriptor()->FindFieldByNumber(value.number());
    const bool delimited = value.type() == google::protobuf::UnknownField::TYPE_LENGTH_DELIMITED;
    if (field != nullptr && delimited && field->type() == FieldDescriptor::TYPE_STRING) {
      if (field->is_repeated()) {
        reflection->AddString(message, field, value.length_delimited());
      } else {
        reflection->SetString(message, field, value.length_delimited());
      }
    } else if (field != nullptr && delimited && field->type() == FieldDescriptor::TYPE_MESSAGE) {
      Message * inner = field->is_repeated() ? reflection->AddMessage(message, field)
                                             : reflection->MutableMessage(message, field);
      if (!ParseKeepingText(value.length_delimited(), inner, depth - 1)) return false;
    } else {
      reflection->MutableUnknownFields(rest.get())->AddField(value);
    }
  }
  return message->MergeFromString(rest->SerializeAsString());
}

// Text fields of `message` (and the messages inside it) that are not UTF-8,
// named by path ("bs_pose[1].map_id_str"); with `escape` their values are
// replaced by EscapedText.
void FindBadText(Message * message, bool escape, const std::string & prefix,
                 std::vector<std::string> * paths) {
  const Reflection * reflection = message->GetReflection();
  std::vector<const FieldDescriptor *> fields;
  reflection->ListFields(*message, &fields);
  for (const FieldDescriptor * field : fields) {
    const std::string name = prefix + field->name();
    const bool repeated = field->is_repeated();
    const int count = repeated ? reflection->FieldSize(*message, field) : 1;
    for (int i = 0; i < count; ++i) {
      const std::string path = repeated ? name + "[" + std::to_string(i) + "]" : name;
      if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
        FindBadText(repeated ? reflection->MutableRepeatedMessage(message, field, i)
                             : reflection->MutableMessage(message, field),
                    escape, path + ".", paths);
        continue;
      }
      if (field->type() != FieldDescriptor::TYPE_STRING) continue;
      const std::string value = repeated ? reflection->GetRepeatedString(*message, field, i)
                                         : reflection->GetString(*message, field);
      if (IsUtf8(value)) continue;
      paths->push_back(path);
      if (escape && repeated) reflection->SetRepeatedString(message, field, i, EscapedText(value));
      if (escape && !repeated) reflection->SetString(message, field, EscapedText(value));
    }
  }
}

// Prints every text field the way QuoteText quotes, which protobuf text
// format reads back byte for byte; the library's own escaping would turn
// bytes that are not UTF-8 into octal.
class QuotingPrinter : public google::protobuf::TextFormat::FastFieldValuePrinter {
 public:
  void PrintString(const std::string & value,
                   google::protobuf::TextFormat::BaseTextGenerator * generator) const override {
    generator->PrintString(QuoteText(value));
  }
};

// "a is not UTF-8", "a, b are not UTF-8".
std::string NotUtf8(const std::vector<std::string> & paths) {
  std::string joined;
  for (const std::string & path : paths) joined += (joined.empty() ? "" : ", ") + path;
  return joined + (paths.size() == 1 ? " is" : " are") + " not UTF-8";
}

// One line of JSON with proto field names and zero values included.
google::protobuf::util::Status PrintJson(const Message & message, std::string * body) {
  google::protobuf::util::JsonPrintOptions options;
  options.preserve_proto_field_names = true;
  options.always_print_primitive_fields = true;
  std::string json;
  const auto status = google::protobuf::util::MessageToJsonString(message, &json, options);
  if (status.ok()) *body = json + "\n";
  return status;
}

// An answer whose text fields are not all UTF-8, decoded into `message` and
// shown with those fields in \xHH escapes. False when it does not decode even
// so, or holds no such text: the ordinary path shows it then.
bool RenderBadText(const std::string & wire, Message * message, OutputFormat format, std::string * body,
                   std::string * note) {
  if (!ParseKeepingText(wire, message)) return false;
  std::vector<std::string> bad;
  FindBadText(message, format == OutputFormat::kJson, "", &bad);
  if (bad.empty()) return false;
  *note = NotUtf8(bad) + ", shown with \\xHH escapes";
  if (format == OutputFormat::kText) {
    google::protobuf::TextFormat::Printer printer;
    printer.SetDefaultFieldValuePrinter(new QuotingPrinter());  // takes ownership
    return printer.PrintToString(*message, body);
  }
  // JSON strings cannot hold such bytes; the escaped text is UTF-8.
  return !HasUnknownFields(*message) && PrintJson(*message, body).ok();
}

}  // namespace

bool ParseHex(const std::string & text, Bytes * out, std::string * error) {
  out->clear();
  size_t group = 0;  // where the current group of digits starts
  int high = 0;      // the first digit of a pair
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || IsHexSeparator(text[i])) {
      if ((i - group) % 2 != 0) {
        *error = "hex payload: odd number of digits in '" + text.substr(group, i - group) + "'";
        return false;
      }
      group = i + 1;
      continue;
    }
    const int digit = HexValue(text[i]);
    if (digit < 0) {
      *error = "hex payload: '" + Printable(text[i]) + "' at position " + std::to_string(i + 1) +
               " is not a hex digit";
      return false;
    }
    if ((i - group) % 2 == 0) {
      high = digit;
    } else {
      out->push_back(static_cast<uint8_t>(high << 4 | digit));
    }
  }
  return true;
}

std::string FormatHex(const Bytes & bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    text += ByteHex(bytes[i]);
    text += (i % 16 == 15 || i + 1 == bytes.size()) ? '\n' : ' ';
  }
  return text;
}

InputFormat DetectInputFormat(const std::string & text) {
  const size_t first = text.find_first_not_of(" \t\r\n\f\v");
  return (first != std::string::npos && text[first] == '{') ? InputFormat::kJson : InputFormat::kText;
}

bool ParseStationList(const std::string & text, InputFormat format, BaseStationInfo * out,
                      std::string * error) {
  out->Clear();
  if (format == InputFormat::kAuto) format = DetectInputFormat(text);
  if (format == InputFormat::kJson) {
    google::protobuf::util::JsonParseOptions options;
    options.ignore_unknown_fields = false;
    const auto status = google::protobuf::util::JsonStringToMessage(text, out, options);
    if (!status.ok()) *error = "not a BaseStationInfo in JSON: " + status.message().ToString();
    return status.ok();
  }
  google::protobuf::TextFormat::Parser parser;
  FirstErrorCollector collector;
  parser.RecordErrorsTo(&collector);
  if (!parser.ParseFromString(text, out)) {
    *error = "not a BaseStationInfo in protobuf text format: " +
             (collector.error().empty() ? std::string("parse error") : collector.error());
    return false;
  }
  // Text format takes any bytes in a string; the service would refuse the
  // list (code 10006), so it is refused here, naming the field.
  std::vector<std::string> bad;
  FindBadText(out, false, "", &bad);
  if (!bad.empty()) {
    *error = NotUtf8(bad) + ", which the service refuses (code 10006); nothing was sent";
    return false;
  }
  return true;
}

bool SerializeMessage(const google::protobuf::Message & message, Bytes * out) {
  std::string wire;
  if (!message.SerializeToString(&wire)) return false;
  out->assign(wire.begin(), wire.end());
  return true;
}

bool ReadStream(std::istream & in, size_t limit, std::string * data, std::string * error) {
  data->clear();
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    const auto got = static_cast<size_t>(in.gcount());
    if (data->size() + got > limit) {
      *error = "input is larger than " + std::to_string(limit) + " bytes";
      return false;
    }
    data->append(buffer, got);
  }
  if (in.bad()) *error = "read failed";
  return !in.bad();
}

bool ReadInput(const std::string & path, std::string * data, std::string * error) {
  std::ifstream file;
  if (path != "-") file.open(path, std::ios::in | std::ios::binary);
  if (path != "-" && !file.is_open()) {
    *error = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::string why;
  errno = 0;
  if (ReadStream(path == "-" ? std::cin : file, kMaxInputBytes, data, &why)) return true;
  if (path == "-") {
    *error = "cannot read standard input: " + why;
  } else {  // a directory opens fine and only fails on reading
    *error = "cannot read '" + path + "': " + (errno != 0 ? std::strerror(errno) : why);
  }
  return false;
}

bool HasUnknownFields(const Message & message) {
  // The library drops them at every depth; the encoding shrinks exactly when
  // there were some.
  std::unique_ptr<Message> known(message.New());
  known->CopyFrom(message);
  known->DiscardUnknownFields();
  return known->ByteSizeLong() != message.ByteSizeLong();
}

std::string QuoteText(const std::string & text) {
  static const char kNamed[] = "\"\\\n\r\t";  // written as \" \\ \n \r \t
  std::string quoted = "\"";
  const auto * p = reinterpret_cast<const unsigned char *>(text.data());
  for (size_t i = 0; i < text.size();) {
    const char * named = text[i] == '\0' ? nullptr : std::strchr(kNamed, text[i]);
    const size_t len = p[i] < 0x20 || p[i] == 0x7f ? 0 : Utf8SequenceLength(p + i, text.size() - i);
    if (named != nullptr) {
      quoted += {'\\', "\"\\nrt"[named - kNamed]};
    } else if (len == 0) {
      quoted += "\\x" + ByteHex(p[i]);
    } else {
      quoted.append(text, i, len);
    }
    i += len == 0 ? 1 : len;
  }
  quoted += '"';
  return quoted;
}

Rendered RenderAnswer(const Answer & answer, PayloadKind kind, OutputFormat format, bool quiet) {
  const Bytes & payload = answer.payload;
  const std::string wire(payload.begin(), payload.end());
  std::string shown_as;   // what the payload line names: a message type or "hex"
  std::string note;       // why a decodable kind is shown in hex
  std::string text_note;  // text shown with escapes
  std::string body;
  std::unique_ptr<Message> message = NewMessage(kind);
  const bool fits = payload.size() <= static_cast<size_t>(INT_MAX);
  if (message && fits && RenderBadText(wire, message.get(), format, &body, &text_note)) {
    shown_as = message->GetDescriptor()->name();
  } else if (message) {
    text_note.clear();
    const std::string type = message->GetDescriptor()->name();
    if (!fits || !message->ParseFromString(wire)) {
      note = "not a valid " + type;
    } else if (format == OutputFormat::kJson && HasUnknownFields(*message)) {
      // JSON has no way to show them; hex keeps every byte.
      note = type + " with fields outside the schema, which JSON cannot show";
    } else if (format == OutputFormat::kJson) {
      const auto status = PrintJson(*message, &body);
      if (status.ok()) {
        shown_as = type;
      } else {
        note = type + " that cannot be shown as JSON: " + status.message().ToString();
      }
    } else {
      // Fields outside the schema are printed by number, so nothing is hidden.
      google::protobuf::TextFormat::Printer printer;
      printer.SetUseUtf8StringEscaping(true);
      if (printer.PrintToString(*message, &body)) {
        shown_as = type;
      } else {
        note = type + " that cannot be shown as text";
      }
    }
  }
  if (shown_as.empty()) {
    shown_as = "hex";
    body = FormatHex(payload);
  }

  Rendered rendered;
  if (quiet) {
    rendered.out = body;
    if (answer.code != 0) {
      rendered.err +=
          "service answered code " + std::to_string(answer.code) + ", msg " + QuoteText(answer.msg) + "\n";
    }
    if (!note.empty()) rendered.err += "payload shown in hex: " + note + "\n";
    if (!text_note.empty()) rendered.err += "payload: " + text_note + "\n";
    return rendered;
  }
  if (!text_note.empty()) note = text_note;
  rendered.out = "code: " + std::to_string(answer.code) + "\n";
  rendered.out += "msg: " + QuoteText(answer.msg) + "\n";
  rendered.out += "payload: " + shown_as + " (" + std::to_string(payload.size()) +
                  (payload.size() == 1 ? " byte" : " bytes") + (note.empty() ? "" : "; " + note) + ")\n";
  rendered.out += body;
  return rendered;
}

}  // namespace cli
}  // namespace data_center
