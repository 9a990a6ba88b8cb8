// SPDX-License-Identifier: Apache-2.0
#include "command_line/parameter_overrides.hpp"

#include <yaml.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <rcl_interfaces/msg/parameter_type.hpp>

#include "rclcpp/exceptions.hpp"

namespace rclcpp_compat {
namespace {

using rcl_interfaces::msg::ParameterType;

// ---- values ----------------------------------------------------------------

std::string line_text(const yaml_event_t & event) {
  return std::to_string(event.start_mark.line + 1);
}

bool is_one_of(const char * value, std::initializer_list<const char *> spellings) {
  for (const char * s : spellings) {
    if (std::strcmp(value, s) == 0) {
      return true;
    }
  }
  return false;
}

// rcl's reading of a scalar: quoted is always a string; otherwise its YAML 1.1
// bool spellings, then whatever strtoll (base 0) and then strtod take whole,
// then a string. The C library calls are the ones rcl makes, so that "0x10",
// "010", "1e3", ".inf" and an out-of-range number come out as they do there.
ParameterValue scalar_value(const std::string & text, bool quoted) {
  ParameterValue value;
  // rcl copies the scalar as a C string.
  const std::string c_text = text.substr(0, text.find('\0'));
  const char * s = c_text.c_str();
  if (!quoted) {
    if (is_one_of(s, {"Y", "y", "yes", "Yes", "YES", "true", "True", "TRUE", "on", "On", "ON"})) {
      value.type = ParameterType::PARAMETER_BOOL;
      value.bool_value = true;
      return value;
    }
    if (is_one_of(s, {"N", "n", "no", "No", "NO", "false", "False", "FALSE", "off", "Off", "OFF"})) {
      value.type = ParameterType::PARAMETER_BOOL;
      value.bool_value = false;
      return value;
    }
    char * end = nullptr;
    errno = 0;
    const long long integer = std::strtoll(s, &end, 0);  // NOLINT(google-runtime-int)
    if (errno == 0 && end != s && *s != '\0' && *end == '\0') {
      value.type = ParameterType::PARAMETER_INTEGER;
      value.integer_value = static_cast<int64_t>(integer);
      return value;
    }
    errno = 0;
    end = nullptr;
    double real = 0.0;
    if (is_one_of(s, {".nan", ".NaN", ".NAN", ".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF", "-.inf",
                      "-.Inf", "-.INF"})) {
      const char * letters = s;
      while (std::isalpha(static_cast<unsigned char>(*letters)) == 0) {
        ++letters;
      }
      real = std::strtod(letters, &end);
      if (*s == '-') {
        real = -real;
      }
    } else {
      real = std::strtod(s, &end);
    }
    if (errno == 0 && end != s && *s != '\0' && *end == '\0') {
      value.type = ParameterType::PARAMETER_DOUBLE;
      value.double_value = real;
      return value;
    }
  }
  value.type = ParameterType::PARAMETER_STRING;
  value.string_value = c_text;
  return value;
}

const char * kind_name(uint8_t type) {
  switch (type) {
    case ParameterType::PARAMETER_BOOL:
      return "bool";
    case ParameterType::PARAMETER_INTEGER:
      return "integer";
    case ParameterType::PARAMETER_DOUBLE:
      return "double";
    default:
      return "string";
  }
}

// One parameter's value as its scalars arrive: a scalar replaces it; inside a
// sequence the first element starts an array of its type and the others
// must have the same type.
class ValueBuilder {
 public:
  explicit ValueBuilder(ParameterValue & target) : target_(target) {}

  void start_sequence() {
    in_sequence_ = true;
    element_type_ = ParameterType::PARAMETER_NOT_SET;
  }
  void end_sequence() { in_sequence_ = false; }
  bool in_sequence() const { return in_sequence_; }

  void scalar(const yaml_event_t & event) {
    const std::string text(reinterpret_cast<const char *>(event.data.scalar.value), event.data.scalar.length);
    const bool quoted = event.data.scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                        event.data.scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    if (!quoted && text.empty()) {
      throw ParameterParseError("No value at line " + line_text(event));
    }
    const ParameterValue v = scalar_value(text, quoted);
    if (!in_sequence_) {
      target_ = v;
      return;
    }
    if (element_type_ == ParameterType::PARAMETER_NOT_SET) {
      element_type_ = v.type;
      target_ = ParameterValue();
      target_.type = static_cast<uint8_t>(
          v.type + (ParameterType::PARAMETER_BOOL_ARRAY - ParameterType::PARAMETER_BOOL));
    } else if (element_type_ != v.type) {
      throw ParameterParseError(std::string("Sequence should be of same type. Value type '") +
                                kind_name(v.type) + "' do not belong at line_num " + line_text(event));
    }
    switch (v.type) {
      case ParameterType::PARAMETER_BOOL:
        target_.bool_array_value.push_back(v.bool_value);
        break;
      case ParameterType::PARAMETER_INTEGER:
        target_.integer_array_value.push_back(v.integer_value);
        break;
      case ParameterType::PARAMETER_DOUBLE:
        target_.double_array_value.push_back(v.double_value);
        break;
      default:
        target_.string_array_value.push_back(v.string_value);
        break;
    }
  }

 private:
  ParameterValue & target_;
  bool in_sequence_ = false;
  uint8_t element_type_ = ParameterType::PARAMETER_NOT_SET;
};

// ---- libyaml ---------------------------------------------------------------

class YamlEvents {
 public:
  explicit YamlEvents(const std::string & text) {
    if (yaml_parser_initialize(&parser_) == 0) {
      throw ParameterParseError("Could not initialize the parser");
    }
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char *>(text.data()), text.size());
  }
  // Reads `file` as it goes, as rcl does: a file that never ends (/dev/zero)
  // fails at its first byte YAML refuses instead of being read into memory.
  explicit YamlEvents(std::FILE * file) {
    if (yaml_parser_initialize(&parser_) == 0) {
      throw ParameterParseError("Could not initialize the parser");
    }
    yaml_parser_set_input_file(&parser_, file);
  }
  ~YamlEvents() {
    release();
    yaml_parser_delete(&parser_);
  }
  YamlEvents(const YamlEvents &) = delete;
  YamlEvents & operator=(const YamlEvents &) = delete;

  // The next event, valid until the next call.
  const yaml_event_t & next() {
    release();
    if (yaml_parser_parse(&parser_, &event_) == 0) {
      std::string what = "Error parsing a event near line " + std::to_string(parser_.problem_mark.line + 1);
      if (parser_.problem != nullptr) {
        what += std::string(": ") + parser_.problem;
      }
      throw ParameterParseError(what);
    }
    held_ = true;
    return event_;
  }

 private:
  void release() {
    if (held_) {
      yaml_event_delete(&event_);
      held_ = false;
    }
  }
  yaml_parser_t parser_{};
  yaml_event_t event_{};
  bool held_ = false;
};

std::string scalar_text(const yaml_event_t & event) {
  return std::string(reinterpret_cast<const char *>(event.data.scalar.value), event.data.scalar.length);
}

// ---- node names in files ------------------------------------------------------

bool is_token(const std::string & s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0])) != 0) {
    return false;
  }
  for (const char c : s) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
      return false;
    }
  }
  return true;
}

// rcl's check of a node name key: "/**" and "/*" as they are; otherwise
// [namespace/]name where each namespace part and the name are ROS name
// tokens or the wildcards "*" and "**".
void validate_node_pattern(const std::string & pattern, const std::string & line) {
  if (pattern == "/**" || pattern == "/*") {
    return;
  }
  const auto wildcard_or_token = [](const std::string & part) {
    return part == "*" || part == "**" || is_token(part);
  };
  const size_t last = pattern.rfind('/');
  const std::string name = last == std::string::npos ? pattern : pattern.substr(last + 1);
  if (last != std::string::npos) {
    std::string ns = pattern.substr(0, last);
    if (!ns.empty() && ns[0] == '/') {
      ns.erase(0, 1);
    }
    if (!ns.empty()) {
      size_t start = 0;
      while (true) {
        const size_t slash = ns.find('/', start);
        const std::string part =
            ns.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty()) {
          std::string text = "/" + ns;
          text += "/ contains repeated forward slash (line ";
          text += line;
          throw ParameterParseError(text + ")");
        }
        if (!wildcard_or_token(part)) {
          std::string text = "namespace of '" + pattern;
          text += "' is not valid: parts must be alphanumerics or '_' and not start with a number (line ";
          text += line;
          throw ParameterParseError(text + ")");
        }
        if (slash == std::string::npos) {
          break;
        }
        start = slash + 1;
      }
    }
  }
  if (!wildcard_or_token(name)) {
    throw ParameterParseError("node name '" + name +
                              "' is not valid: it must be alphanumerics or '_' and not start with a number "
                              "(line " +
                              line + ")");
  }
}

// ---- params files -------------------------------------------------------------

constexpr const char * kParamsKey = "ros__parameters";
// The parser below recurses per nested map; libyaml itself does not, so a
// file of deeply nested maps is refused here before the stack runs out.
constexpr size_t kMaxNesting = 512;

class FileParser {
 public:
  template <class Source>
  FileParser(Source source, ParameterOverrides & out) : events_(source), out_(out) {}

  void run() {
    while (true) {
      const yaml_event_t & e = events_.next();
      switch (e.type) {
        case YAML_STREAM_END_EVENT:
          return;
        case YAML_MAPPING_START_EVENT:
          node_level("", 0);
          break;
        case YAML_SEQUENCE_START_EVENT:
          throw ParameterParseError("Sequences cannot be key at line " + line_text(e));
        case YAML_ALIAS_EVENT:
          throw ParameterParseError("Will not support aliasing at line " + line_text(e));
        default:  // stream and document start and end; a lone scalar names nothing
          break;
      }
    }
  }

 private:
  // Inside a map of node names; `ns` is the name so far ("" at the top).
  void node_level(const std::string & ns, size_t depth) {
    check_nesting(depth);
    while (true) {
      const yaml_event_t & key = events_.next();
      if (key.type == YAML_MAPPING_END_EVENT) {
        return;
      }
      const std::string key_text = expect_key(key);
      const std::string line = line_text(key);
      if (key_text.rfind(kParamsKey, 0) == 0) {
        if (depth == 0) {
          throw ParameterParseError(std::string("There are no node names before ") + kParamsKey +
                                    " at line " + line);
        }
        validate_node_pattern(ns, line);
        expect_map_value(line);
        params_level(ns, "", depth + 1);
        continue;
      }
      std::string inner = ns;
      if (!inner.empty() && inner.back() != '/') {
        inner += '/';
      }
      inner += key_text;
      expect_map_value(line);
      node_level(inner, depth + 1);
    }
  }

  // Inside `ros__parameters` of node pattern `node`, or a map nested in it
  // whose keys take `prefix` and a dot.
  void params_level(const std::string & node, const std::string & prefix, size_t depth) {
    check_nesting(depth);
    while (true) {
      const yaml_event_t & key = events_.next();
      if (key.type == YAML_MAPPING_END_EVENT) {
        return;
      }
      const std::string name = prefix.empty() ? expect_key(key) : prefix + "." + expect_key(key);
      const yaml_event_t & value = events_.next();
      switch (value.type) {
        case YAML_MAPPING_START_EVENT:
          params_level(node, name, depth + 1);
          break;
        case YAML_SCALAR_EVENT:
          ValueBuilder(out_.slot(node, name)).scalar(value);
          break;
        case YAML_SEQUENCE_START_EVENT:
          sequence(ValueBuilder(out_.slot(node, name)));
          break;
        case YAML_ALIAS_EVENT:
          throw ParameterParseError("Will not support aliasing at line " + line_text(value));
        default:
          throw ParameterParseError("Unknown YAML event at line " + line_text(value));
      }
    }
  }

  void sequence(ValueBuilder builder) {
    builder.start_sequence();
    while (true) {
      const yaml_event_t & e = events_.next();
      switch (e.type) {
        case YAML_SEQUENCE_END_EVENT:
          return;
        case YAML_SCALAR_EVENT:
          builder.scalar(e);
          break;
        case YAML_ALIAS_EVENT:
          throw ParameterParseError("Will not support aliasing at line " + line_text(e));
        default:
          // rcl has no meaning for these either (its parser loses track of keys and values).
          throw ParameterParseError("Sequences can only hold scalars, error at line " + line_text(e));
      }
    }
  }

  static void check_nesting(size_t depth) {
    if (depth > kMaxNesting) {
      throw ParameterParseError("maps nested deeper than " + std::to_string(kMaxNesting) + " levels");
    }
  }

  std::string expect_key(const yaml_event_t & key) {
    switch (key.type) {
      case YAML_SCALAR_EVENT:
        if (key.data.scalar.length == 0) {
          throw ParameterParseError("No key at line " + line_text(key));
        }
        return scalar_text(key);
      case YAML_ALIAS_EVENT:
        throw ParameterParseError("Will not support aliasing at line " + line_text(key));
      default:
        throw ParameterParseError("Sequences cannot be key at line " + line_text(key));
    }
  }

  // Above the parameters only maps may follow a key.
  void expect_map_value(const std::string & key_line) {
    const yaml_event_t & value = events_.next();
    switch (value.type) {
      case YAML_MAPPING_START_EVENT:
        return;
      case YAML_SEQUENCE_START_EVENT:
        throw ParameterParseError("Sequences can only be values and not keys in params. Error at line " +
                                  line_text(value));
      case YAML_ALIAS_EVENT:
        throw ParameterParseError("Will not support aliasing at line " + line_text(value));
      default:
        throw ParameterParseError(std::string("Cannot have a value before ") + kParamsKey + " at line " +
                                  key_line);
    }
  }

  YamlEvents events_;
  ParameterOverrides & out_;
};

// ---- -p rules -------------------------------------------------------------

enum class Lexeme { kToken, kSlash, kDot, kColon, kSeparator, kWildOne, kWildMulti, kEnd, kOther };

// The lexemes of rcl's rule lexer that a parameter rule can meet; `*length`
// gets the lexeme's length.
Lexeme lex(const std::string & s, size_t pos, size_t * length) {
  *length = 1;
  if (pos >= s.size()) {
    *length = 0;
    return Lexeme::kEnd;
  }
  const char c = s[pos];
  if (std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_') {
    size_t end = pos + 1;
    while (end < s.size() && (std::isalnum(static_cast<unsigned char>(s[end])) != 0 || s[end] == '_')) {
      ++end;
    }
    *length = end - pos;
    return Lexeme::kToken;
  }
  switch (c) {
    case '/':
      return Lexeme::kSlash;
    case '.':
      return Lexeme::kDot;
    case ':':
      if (pos + 1 < s.size() && s[pos + 1] == '=') {
        *length = 2;
        return Lexeme::kSeparator;
      }
      return Lexeme::kColon;
    case '*':
      if (pos + 1 < s.size() && s[pos + 1] == '*') {
        *length = 2;
        return Lexeme::kWildMulti;
      }
      return Lexeme::kWildOne;
    default:
      return Lexeme::kOther;
  }
}

// One dot-separated part of a parameter name: tokens and slashes.
size_t parse_name_part(const std::string & rule, size_t pos) {
  size_t length = 0;
  Lexeme l = lex(rule, pos, &length);
  if (l == Lexeme::kWildOne) {
    throw ParameterParseError("Wildcard '*' is not implemented");
  }
  if (l == Lexeme::kWildMulti) {
    throw ParameterParseError("Wildcard '**' is not implemented");
  }
  if (l != Lexeme::kToken && l != Lexeme::kSlash) {
    throw ParameterParseError("Expecting token or wildcard");
  }
  while (l == Lexeme::kToken || l == Lexeme::kSlash) {
    pos += length;
    l = lex(rule, pos, &length);
  }
  return pos;
}

}  // namespace

ParameterValue & ParameterOverrides::slot(const std::string & pattern, const std::string & parameter) {
  Node * node = nullptr;
  for (auto & n : nodes_) {
    if (n.pattern == pattern) {
      node = &n;
      break;
    }
  }
  if (node == nullptr) {
    nodes_.push_back(Node{pattern, {}});
    node = &nodes_.back();
  }
  for (auto & p : node->parameters) {
    if (p.first == parameter) {
      return p.second;
    }
  }
  node->parameters.emplace_back(parameter, ParameterValue());
  return node->parameters.back().second;
}

const ParameterValue * ParameterOverrides::find(const std::string & pattern,
                                                const std::string & parameter) const {
  for (const auto & n : nodes_) {
    if (n.pattern != pattern) {
      continue;
    }
    for (const auto & p : n.parameters) {
      if (p.first == parameter) {
        return &p.second;
      }
    }
  }
  return nullptr;
}

bool node_pattern_matches(const std::string & pattern, const std::string & node_fqn) {
  const auto split = [](const std::string & name) {
    std::vector<std::string> parts;
    size_t start = name.empty() || name[0] != '/' ? 0 : 1;
    while (start <= name.size()) {
      const size_t slash = name.find('/', start);
      parts.push_back(name.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
      if (slash == std::string::npos) {
        break;
      }
      start = slash + 1;
    }
    return parts;
  };
  const std::vector<std::string> want = split(pattern);
  const std::vector<std::string> have = split(node_fqn);
  // "**" takes any number of parts, "*" exactly one: glob matching over
  // parts, without recursion (a pattern may have as many parts as a file
  // line has slashes).
  size_t i = 0;
  size_t j = 0;
  size_t star = std::string::npos;
  size_t star_j = 0;
  while (j < have.size()) {
    if (i < want.size() && want[i] == "**") {
      star = i++;
      star_j = j;
    } else if (i < want.size() && (want[i] == "*" || want[i] == have[j])) {
      ++i;
      ++j;
    } else if (star != std::string::npos) {
      i = star + 1;
      j = ++star_j;
    } else {
      return false;
    }
  }
  while (i < want.size() && want[i] == "**") {
    ++i;
  }
  return i == want.size();
}

std::map<std::string, ParameterValue> ParameterOverrides::for_node(const std::string & node_fqn) const {
  std::map<std::string, ParameterValue> values;
  for (const auto & node : nodes_) {
    if (!node_pattern_matches(node.pattern, node_fqn)) {
      continue;
    }
    for (const auto & p : node.parameters) {
      if (p.second.type == ParameterType::PARAMETER_NOT_SET) {
        throw rclcpp::exceptions::InvalidParameterValueException("No parameter value set");
      }
      values[p.first] = p.second;
    }
  }
  return values;
}

void parse_param_rule(const std::string & rule, ParameterOverrides & out) {
  size_t pos = 0;
  size_t first = 0;
  size_t second = 0;
  std::string node = "/**";
  if (lex(rule, 0, &first) == Lexeme::kToken && lex(rule, first, &second) == Lexeme::kColon) {
    node = rule.substr(0, first);
    pos = first + second;
  }
  const size_t name_start = pos;
  pos = parse_name_part(rule, pos);
  size_t length = 0;
  Lexeme l = lex(rule, pos, &length);
  while (l != Lexeme::kSeparator) {
    if (l != Lexeme::kDot) {
      throw ParameterParseError("Expected lexeme type (separator) not found, search ended at index " +
                                std::to_string(pos));
    }
    pos = parse_name_part(rule, pos + length);
    l = lex(rule, pos, &length);
  }
  const std::string name = rule.substr(name_start, pos - name_start);
  const std::string yaml = rule.substr(pos + length);
  if (yaml.empty()) {
    throw ParameterParseError("no value after ':='");
  }

  // Read the value before touching `out`, which a refused rule leaves as it
  // was. An empty sequence keeps the value an earlier rule gave, as in rcl.
  const ParameterValue * earlier = out.find(node, name);
  ParameterValue value = earlier != nullptr ? *earlier : ParameterValue();
  ValueBuilder builder(value);
  YamlEvents events(yaml);
  while (true) {
    const yaml_event_t & e = events.next();
    switch (e.type) {
      case YAML_STREAM_END_EVENT:
        out.slot(node, name) = value;
        return;
      case YAML_SCALAR_EVENT:
        builder.scalar(e);
        break;
      case YAML_SEQUENCE_START_EVENT:
        builder.start_sequence();
        break;
      case YAML_SEQUENCE_END_EVENT:
        builder.end_sequence();
        break;
      case YAML_STREAM_START_EVENT:
      case YAML_DOCUMENT_START_EVENT:
      case YAML_DOCUMENT_END_EVENT:
        break;
      default:
        throw ParameterParseError("Unknown YAML event");
    }
  }
}

void parse_params_yaml(const std::string & text, ParameterOverrides & out) {
  FileParser(text, out).run();
}

void parse_params_file(const std::string & path, ParameterOverrides & out) {
  std::FILE * file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    throw ParameterParseError("Error opening YAML file");
  }
  try {
    FileParser(file, out).run();
  } catch (...) {
    std::fclose(file);
    throw;
  }
  std::fclose(file);
}

}  // namespace rclcpp_compat
