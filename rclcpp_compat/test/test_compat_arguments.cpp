// SPDX-License-Identifier: Apache-2.0
// The process command line as rclcpp reads it: --ros-args blocks, remapping
// rules, parameter rules and files, the flags that are accepted and dropped,
// and the errors for anything else inside a block.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rclcpp/rclcpp.hpp>
#include <string>
#include <vector>

#include "command_line/arguments.hpp"
#include "command_line/parameter_overrides.hpp"
#include "params_file.hpp"

namespace {

using rclcpp_compat::parse_ros_arguments;
using rclcpp_compat::RosArguments;
using Args = std::vector<std::string>;

// Pointers into `args`, which must outlive them.
std::vector<const char *> argv_of(const Args & args) {
  std::vector<const char *> argv;
  for (const auto & a : args) {
    argv.push_back(a.c_str());
  }
  return argv;
}
std::vector<const char *> argv_of(const Args && args) = delete;

RosArguments parse(const Args & args) {
  const auto argv = argv_of(args);
  return parse_ros_arguments(static_cast<int>(argv.size()), argv.data());
}

std::string describe(const std::vector<rclcpp_compat::RemapRule> & rules) {
  std::string text;
  for (const auto & r : rules) {
    text += "[" + r.node + "|" + r.from + "|" + r.to + "]";
  }
  return text;
}

// The message of the exception `args` raise, or "" when they parse.
template <class ErrorT>
std::string error_of(const Args & args) {
  try {
    parse(args);
  } catch (const ErrorT & e) {
    return e.what();
  }
  return "";
}

TEST(RosArguments, ArgumentsOutsideBlocksAreKeptInOrder) {
  const auto parsed = parse({"prog", "query", "-c", "3", "--", "--ros", "-r", "x"});
  EXPECT_EQ(parsed.non_ros, (Args{"prog", "query", "-c", "3", "--", "--ros", "-r", "x"}));
  EXPECT_TRUE(parsed.remaps.empty());

  // The program name is never a block opener, whatever it is called.
  const auto named = parse({"--ros-args", "-r", "a:=b"});
  EXPECT_EQ(named.non_ros, (Args{"--ros-args", "-r", "a:=b"}));
  EXPECT_TRUE(named.remaps.empty());
}

TEST(RosArguments, BlocksEndAtDoubleDashOrAtTheEndAndMayRepeat) {
  const auto parsed = parse({"prog", "first", "--ros-args", "-r", "a:=b", "--", "second", "--ros-args",
                             "--remap", "c:=d", "--ros-args", "-r", "e:=f"});
  EXPECT_EQ(parsed.non_ros, (Args{"prog", "first", "second"}));
  EXPECT_EQ(describe(parsed.remaps), "[|a|b][|c|d][|e|f]");

  // A "--" that closes a block is consumed; a second one is an ordinary argument.
  const auto twice = parse({"prog", "--ros-args", "--", "--", "tail"});
  EXPECT_EQ(twice.non_ros, (Args{"prog", "--", "tail"}));

  // An empty block is fine.
  EXPECT_EQ(parse({"prog", "--ros-args"}).non_ros, (Args{"prog"}));
}

TEST(RosArguments, RemapRulesWithAndWithoutNodePrefix) {
  const auto parsed = parse({"prog", "--ros-args", "-r", "robot_status_query:=/other/query", "-r",
                             "data_center:robot_status_query:=mine", "-r", "__node:=renamed", "-r",
                             "__name:=alias", "-r", "data_center:__ns:=/ns", "--remap", "~/private:=/p"});
  EXPECT_EQ(describe(parsed.remaps),
            "[|robot_status_query|/other/query]"
            "[data_center|robot_status_query|mine]"
            "[|__node|renamed]"
            "[|__node|alias]"  // __name is another spelling of __node
            "[data_center|__ns|/ns]"
            "[|~/private|/p]");
  EXPECT_EQ(parsed.non_ros, (Args{"prog"}));
}

TEST(RosArguments, AcceptedFlagsAreDroppedWithTheirValues) {
  const auto parsed =
      parse({"prog", "--ros-args",
             // parameter values look like remap rules but are not ones
             "-p", "use_sim_time:=true", "--param", "x:=1", "--log-level", "debug", "--log-config-file",
             "log.cfg", "-e", "/enc", "--enclave", "/other", "--enable-rosout-logs", "--disable-rosout-logs",
             "--enable-stdout-logs", "--disable-stdout-logs", "--enable-external-lib-logs",
             "--disable-external-lib-logs", "-r", "kept:=yes", "--", "after"});
  EXPECT_EQ(describe(parsed.remaps), "[|kept|yes]");
  EXPECT_EQ(parsed.non_ros, (Args{"prog", "after"}));
}

TEST(RosArguments, UnknownArgumentsInsideABlockAreNamedInTheError) {
  EXPECT_EQ(error_of<rclcpp::exceptions::UnknownROSArgsError>({"prog", "--ros-args", "--foo"}),
            "found unknown ROS arguments: '--foo'");
  EXPECT_EQ(error_of<rclcpp::exceptions::UnknownROSArgsError>(
                {"prog", "--ros-args", "--foo", "-r", "a:=b", "bar", "--", "--baz", "--ros-args", "-x"}),
            "found unknown ROS arguments: '--foo', 'bar', '-x'");

  const Args args = {"prog", "--ros-args", "--foo", "bar"};
  const auto argv = argv_of(args);
  try {
    parse_ros_arguments(static_cast<int>(argv.size()), argv.data());
    FAIL() << "unknown ROS arguments were accepted";
  } catch (const rclcpp::exceptions::UnknownROSArgsError & e) {
    EXPECT_EQ(e.unknown_ros_args, (Args{"--foo", "bar"}));
  }
}

TEST(RosArguments, FlagWithoutItsValueIsInvalid) {
  for (const char * flag :
       {"-r", "--remap", "-p", "--param", "--params-file", "--log-level", "-e", "--enclave"}) {
    SCOPED_TRACE(flag);
    EXPECT_NE(error_of<rclcpp::exceptions::RCLInvalidROSArgsError>({"prog", "--ros-args", flag}), "");
  }
}

TEST(RosArguments, MalformedRemapRulesAreInvalid) {
  for (const char * rule : {"no_separator", "from=to", ":=to", "from:=", "node:from:=", ":from:=to"}) {
    SCOPED_TRACE(rule);
    const std::string message =
        error_of<rclcpp::exceptions::RCLInvalidROSArgsError>({"prog", "--ros-args", "-r", rule});
    EXPECT_NE(message.find(rule), std::string::npos) << message;
  }
}

TEST(RosArguments, RemoveRosArgumentsKeepsOnlyTheApplicationsArguments) {
  const Args args = {"prog", "-v",     "--ros-args", "-r",         "__node:=x",   "-p",  "a:=1",
                     "--",   "--json", "file",       "--ros-args", "--log-level", "info"};
  const auto argv = argv_of(args);
  EXPECT_EQ(rclcpp::remove_ros_arguments(static_cast<int>(argv.size()), argv.data()),
            (Args{"prog", "-v", "--json", "file"}));
}

// rclcpp::init reads the same blocks and refuses a bad command line before
// starting anything, so a corrected one can follow.
TEST(RosArguments, InitRejectsABadCommandLineAndStaysUninitialised) {
  const Args bad_args = {"prog", "--ros-args", "--unknown-flag"};
  const auto bad = argv_of(bad_args);
  EXPECT_THROW(rclcpp::init(static_cast<int>(bad.size()), bad.data()),
               rclcpp::exceptions::UnknownROSArgsError);
  EXPECT_FALSE(rclcpp::ok());
  const Args trailing_args = {"prog", "--ros-args", "-r"};
  const auto trailing = argv_of(trailing_args);
  EXPECT_THROW(rclcpp::init(static_cast<int>(trailing.size()), trailing.data()),
               rclcpp::exceptions::RCLInvalidROSArgsError);
  EXPECT_FALSE(rclcpp::ok());

  const Args good_args = {"prog", "--ros-args", "-r", "__node:=x"};
  const auto good = argv_of(good_args);
  rclcpp::init(static_cast<int>(good.size()), good.data());
  EXPECT_TRUE(rclcpp::ok());
  EXPECT_TRUE(rclcpp::shutdown());
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_FALSE(rclcpp::shutdown());  // already down: harmless
}

// ---- parameters -------------------------------------------------------------

using rcl_interfaces::msg::ParameterType;
using rclcpp_compat::ParameterValue;

using compat_test::ParamsFile;

// The value of `name` for node `fqn` after the command line `args`.
ParameterValue value_for(const Args & args, const std::string & name,
                         const std::string & fqn = "/data_center") {
  const auto values = parse(args).parameters.for_node(fqn);
  const auto it = values.find(name);
  return it == values.end() ? ParameterValue() : it->second;
}

ParameterValue value_of_rule(const std::string & value) {
  return value_for({"prog", "--ros-args", "-p", "x:=" + value}, "x");
}

TEST(RosArguments, ParameterValuesAreTypedAsRclReadsYaml) {
  for (const char * spelling : {"true", "True", "TRUE", "yes", "Y", "on", "On"}) {
    SCOPED_TRACE(spelling);
    const auto v = value_of_rule(spelling);
    EXPECT_EQ(v.type, ParameterType::PARAMETER_BOOL);
    EXPECT_TRUE(v.bool_value);
  }
  for (const char * spelling : {"false", "False", "no", "n", "off", "OFF"}) {
    SCOPED_TRACE(spelling);
    const auto v = value_of_rule(spelling);
    EXPECT_EQ(v.type, ParameterType::PARAMETER_BOOL);
    EXPECT_FALSE(v.bool_value);
  }
  // strtoll with base 0, as rcl reads integers.
  for (const auto & [text, expected] : std::vector<std::pair<std::string, int64_t>>{
           {"42", 42}, {"-7", -7}, {"0x10", 16}, {"010", 8}, {"+3", 3}}) {
    SCOPED_TRACE(text);
    const auto v = value_of_rule(text);
    EXPECT_EQ(v.type, ParameterType::PARAMETER_INTEGER);
    EXPECT_EQ(v.integer_value, expected);
  }
  for (const auto & [text, expected] :
       std::vector<std::pair<std::string, double>>{{"1.5", 1.5}, {"1e3", 1000.0}, {"-.inf", -INFINITY}}) {
    SCOPED_TRACE(text);
    const auto v = value_of_rule(text);
    EXPECT_EQ(v.type, ParameterType::PARAMETER_DOUBLE);
    EXPECT_EQ(v.double_value, expected);
  }
  EXPECT_TRUE(std::isnan(value_of_rule(".nan").double_value));
  // Out of int64 range: strtoll fails, strtod takes it.
  EXPECT_EQ(value_of_rule("99999999999999999999").type, ParameterType::PARAMETER_DOUBLE);
  // Quoted scalars are strings whatever they spell; so is anything else.
  for (const auto & [text, expected] : std::vector<std::pair<std::string, std::string>>{
           {"'true'", "true"}, {"\"12\"", "12"}, {"abc", "abc"}, {"~", "~"}, {"''", ""}}) {
    SCOPED_TRACE(text);
    const auto v = value_of_rule(text);
    EXPECT_EQ(v.type, ParameterType::PARAMETER_STRING);
    EXPECT_EQ(v.string_value, expected);
  }
  EXPECT_EQ(value_of_rule("[true, no]").bool_array_value, (std::vector<bool>{true, false}));
  EXPECT_EQ(value_of_rule("[1, 0x2]").integer_array_value, (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(value_of_rule("[1.5, 2.]").double_array_value, (std::vector<double>{1.5, 2.0}));
  EXPECT_EQ(value_of_rule("[a, 'b']").string_array_value, (Args{"a", "b"}));
}

TEST(RosArguments, MalformedParameterRulesAreInvalid) {
  for (const char * rule :
       {"use_sim_time", "use_sim_time=true", ":=true", "x:=", "1x:=2", "*:=1", "a.**:=1", "a..b:=1",
        "node:a:b:=1", "~/x:=1", "x:={a: 1}", "x:=[1, a]", "x:=[1", "x:=[&a 1, *a]", "x:=- 1\n- a"}) {
    SCOPED_TRACE(rule);
    const std::string message =
        error_of<rclcpp::exceptions::RCLInvalidROSArgsError>({"prog", "--ros-args", "-p", rule});
    EXPECT_EQ(
        message.rfind(std::string("Couldn't parse parameter override rule: '-p ") + rule + "'. Error: ", 0),
        0u)
        << message;
  }
  EXPECT_NE(error_of<rclcpp::exceptions::RCLInvalidROSArgsError>({"prog", "--ros-args", "--param", "x"})
                .find("'--param x'"),
            std::string::npos);
  // Names rcl takes: dots between parts, slashes inside them.
  EXPECT_EQ(value_of_rule("1").type, ParameterType::PARAMETER_INTEGER);
  EXPECT_EQ(
      value_for({"prog", "--ros-args", "-p", "qos_overrides./clock.depth:=1"}, "qos_overrides./clock.depth")
          .integer_value,
      1);
}

TEST(RosArguments, ParameterRulesApplyToAllNodesOrToTheNamedOne) {
  const Args args = {"prog", "--ros-args", "-p", "data_center:a:=1", "-p", "b:=2"};
  const auto parsed = parse(args);
  ASSERT_EQ(parsed.parameters.nodes().size(), 2u);
  EXPECT_EQ(parsed.parameters.nodes()[0].pattern, "data_center");
  EXPECT_EQ(parsed.parameters.nodes()[1].pattern, "/**");
  EXPECT_EQ(parsed.parameters.for_node("/data_center").size(), 2u);
  EXPECT_EQ(parsed.parameters.for_node("/ns/data_center").size(), 1u);  // "data_center" is "/data_center"
  EXPECT_EQ(parsed.parameters.for_node("/other").size(), 1u);
}

TEST(RosArguments, NodePatternsMatchAsRclcppMatchesThem) {
  using rclcpp_compat::node_pattern_matches;
  EXPECT_TRUE(node_pattern_matches("/**", "/data_center"));
  EXPECT_TRUE(node_pattern_matches("/**", "/a/b/data_center"));
  EXPECT_TRUE(node_pattern_matches("data_center", "/data_center"));
  EXPECT_FALSE(node_pattern_matches("data_center", "/ns/data_center"));
  EXPECT_TRUE(node_pattern_matches("/ns/data_center", "/ns/data_center"));
  EXPECT_TRUE(node_pattern_matches("ns/data_center", "/ns/data_center"));
  EXPECT_FALSE(node_pattern_matches("/ns/data_center", "/data_center"));
  EXPECT_TRUE(node_pattern_matches("/*", "/data_center"));
  EXPECT_FALSE(node_pattern_matches("/*", "/ns/data_center"));
  EXPECT_TRUE(node_pattern_matches("/ns/*", "/ns/data_center"));
  EXPECT_FALSE(node_pattern_matches("/ns/*", "/other/data_center"));
  EXPECT_TRUE(node_pattern_matches("/**/data_center", "/data_center"));
  EXPECT_TRUE(node_pattern_matches("/**/data_center", "/a/b/data_center"));
  EXPECT_FALSE(node_pattern_matches("/**/data_center", "/a/data_center_2"));
  EXPECT_TRUE(node_pattern_matches("/a/**/*", "/a/b/c"));
  EXPECT_FALSE(node_pattern_matches("/a/**/*", "/a"));
  EXPECT_TRUE(node_pattern_matches("/**/b/**", "/a/b/c"));
  EXPECT_FALSE(node_pattern_matches("/**/b/**", "/a/c"));
  // A file may hold a name of any length; matching must not recurse per part.
  std::string many;
  for (int i = 0; i < 200000; ++i) {
    many += "/**";
  }
  EXPECT_TRUE(node_pattern_matches(many + "/b", "/a/b"));
  EXPECT_FALSE(node_pattern_matches(many + "/c", "/a/b"));
}

TEST(RosArguments, ParamsFilesInRclLayout) {
  const ParamsFile file("layout.yaml", R"(
/**:
  ros__parameters:
    everywhere: 1
data_center:
  ros__parameters:
    use_sim_time: true
    nested:
      level:
        deep: [a, b]
/ns/data_center:
  ros__parameters:
    in_ns: 2.5
outer:
  inner:
    data_center:
      ros__parameters: {nested_ns: "yes"}
---
/*:
  ros__parameters:
    second_document: off
)");
  const auto parsed = parse({"prog", "--ros-args", "--params-file", file.path()});
  const auto top = parsed.parameters.for_node("/data_center");
  ASSERT_EQ(top.size(), 4u);
  EXPECT_EQ(top.at("everywhere").integer_value, 1);
  EXPECT_TRUE(top.at("use_sim_time").bool_value);
  EXPECT_EQ(top.at("nested.level.deep").string_array_value, (Args{"a", "b"}));
  EXPECT_EQ(top.at("second_document").type, ParameterType::PARAMETER_BOOL);
  const auto in_ns = parsed.parameters.for_node("/ns/data_center");
  EXPECT_EQ(in_ns.size(), 2u);
  EXPECT_EQ(in_ns.at("in_ns").double_value, 2.5);
  const auto nested = parsed.parameters.for_node("/outer/inner/data_center");
  EXPECT_EQ(nested.at("nested_ns").string_value, "yes");
  EXPECT_EQ(nested.size(), 2u);  // and /**

  // Empty files and empty parameter maps are fine.
  const ParamsFile empty("empty.yaml", "");
  const ParamsFile empty_map("empty_map.yaml", "data_center:\n  ros__parameters: {}\n");
  EXPECT_TRUE(parse({"prog", "--ros-args", "--params-file", empty.path(), "--params-file", empty_map.path()})
                  .parameters.for_node("/data_center")
                  .empty());
}

std::string repeat(const std::string & s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += s;
  }
  return out;
}

TEST(RosArguments, MalformedParamsFilesAreInvalid) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"not_yaml", "data_center:\n  ros__parameters:\n    a: [1\n"},
      {"value_above_parameters", "data_center: 1\n"},
      {"no_node_name", "ros__parameters:\n  a: 1\n"},
      {"parameters_not_a_map", "data_center:\n  ros__parameters: 5\n"},
      {"empty_value", "data_center:\n  ros__parameters:\n    a:\n"},
      {"mixed_sequence", "data_center:\n  ros__parameters:\n    a: [1, x]\n"},
      {"alias", "data_center:\n  ros__parameters:\n    a: &v 1\n    b: *v\n"},
      {"bad_node_name", "9lives:\n  ros__parameters:\n    a: 1\n"},
      {"repeated_slash", "/ns//data_center:\n  ros__parameters:\n    a: 1\n"},
      {"sequence_of_nodes", "- data_center\n"},
      {"nested_sequence", "data_center:\n  ros__parameters:\n    a: [[1]]\n"},
      {"nested_too_deep", "data_center:\n  ros__parameters:\n    " + repeat("a: {", 100000) + "b: 1" +
                              repeat("}", 100000) + "\n"},
      {"node_names_too_deep", repeat("a: {", 100000) + repeat("}", 100000) + "\n"},
  };
  for (const auto & [name, text] : files) {
    SCOPED_TRACE(name);
    const ParamsFile file(name + ".yaml", text);
    const std::string message = error_of<rclcpp::exceptions::RCLInvalidROSArgsError>(
        {"prog", "--ros-args", "--params-file", file.path()});
    EXPECT_EQ(message.rfind("Couldn't parse params file: '--params-file " + file.path() + "'. Error: ", 0),
              0u)
        << message;
  }
  EXPECT_NE(error_of<rclcpp::exceptions::RCLInvalidROSArgsError>(
                {"prog", "--ros-args", "--params-file", testing::TempDir() + "no_such_file.yaml"})
                .find("Error opening YAML file"),
            std::string::npos);
  // A file without end is refused at its first byte YAML does not allow,
  // not read into memory first.
  EXPECT_NE(error_of<rclcpp::exceptions::RCLInvalidROSArgsError>(
                {"prog", "--ros-args", "--params-file", "/dev/zero"}),
            "");
}

// `--params-file <(...)` in a shell gives a pipe.
TEST(RosArguments, ParamsFileMayBeAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string text = "data_center:\n  ros__parameters:\n    use_sim_time: true\n";
  ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  const auto v =
      value_for({"prog", "--ros-args", "--params-file", "/dev/fd/" + std::to_string(fds[0])}, "use_sim_time");
  close(fds[0]);
  EXPECT_EQ(v.type, ParameterType::PARAMETER_BOOL);
  EXPECT_TRUE(v.bool_value);
}

// rcl keeps every rule and file in one structure: node patterns in order of
// first appearance, each holding the value written last. A node takes the
// patterns it matches in that order.
TEST(RosArguments, LaterValuesWinByRclsOrder) {
  const ParamsFile all_true("all_true.yaml", "/**:\n  ros__parameters:\n    use_sim_time: true\n");
  const ParamsFile all_false("all_false.yaml", "/**:\n  ros__parameters:\n    use_sim_time: false\n");
  const ParamsFile named_true("named_true.yaml",
                              "data_center:\n  ros__parameters:\n    use_sim_time: true\n");
  const ParamsFile both("both.yaml",
                        "/**:\n  ros__parameters:\n    use_sim_time: false\n"
                        "data_center:\n  ros__parameters:\n    use_sim_time: true\n");
  const auto sim_time = [](const Args & tail) {
    Args args = {"prog", "--ros-args"};
    args.insert(args.end(), tail.begin(), tail.end());
    const auto v = value_for(args, "use_sim_time");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_BOOL);
    return v.bool_value;
  };
  EXPECT_FALSE(sim_time({"-p", "use_sim_time:=true", "-p", "use_sim_time:=false"}));
  EXPECT_FALSE(sim_time({"--params-file", all_true.path(), "--params-file", all_false.path()}));
  EXPECT_TRUE(sim_time({"--params-file", all_false.path(), "--params-file", all_true.path()}));
  // Files and rules in command-line order.
  EXPECT_FALSE(sim_time({"--params-file", all_true.path(), "-p", "use_sim_time:=false"}));
  EXPECT_TRUE(sim_time({"-p", "use_sim_time:=false", "--params-file", all_true.path()}));
  EXPECT_TRUE(sim_time({"--params-file", all_false.path(), "-p", "data_center:use_sim_time:=true"}));
  EXPECT_FALSE(sim_time({"--params-file", named_true.path(), "--params-file", all_false.path()}));
  EXPECT_FALSE(sim_time({"--params-file", named_true.path(), "-p", "use_sim_time:=false"}));
  EXPECT_TRUE(sim_time({"-p", "use_sim_time:=false", "--params-file", named_true.path()}));
  // The "data_center" pattern came after "/**" in the file, so it still wins
  // over a later rule for all nodes, which only rewrites the "/**" value.
  EXPECT_TRUE(sim_time({"--params-file", both.path(), "-p", "use_sim_time:=false"}));
  // An empty sequence keeps the earlier value of its slot.
  EXPECT_TRUE(sim_time({"-p", "use_sim_time:=true", "-p", "use_sim_time:=[]"}));
}

TEST(RosArguments, OverrideWithoutAValueFailsForMatchingNodesOnly) {
  const auto parsed = parse({"prog", "--ros-args", "-p", "data_center:x:=[]"});
  EXPECT_THROW(parsed.parameters.for_node("/data_center"),
               rclcpp::exceptions::InvalidParameterValueException);
  EXPECT_TRUE(parsed.parameters.for_node("/other").empty());
}

TEST(RosArguments, InitRejectsABadParameterRuleOrFile) {
  const Args bad_rule = {"prog", "--ros-args", "-p", "x:={a: 1}"};
  const auto rule_argv = argv_of(bad_rule);
  EXPECT_THROW(rclcpp::init(static_cast<int>(rule_argv.size()), rule_argv.data()),
               rclcpp::exceptions::RCLInvalidROSArgsError);
  EXPECT_FALSE(rclcpp::ok());
  const ParamsFile bad("bad_for_init.yaml", "data_center: [\n");
  const Args bad_file = {"prog", "--ros-args", "--params-file", bad.path()};
  const auto file_argv = argv_of(bad_file);
  EXPECT_THROW(rclcpp::init(static_cast<int>(file_argv.size()), file_argv.data()),
               rclcpp::exceptions::RCLInvalidROSArgsError);
  EXPECT_FALSE(rclcpp::ok());
  // remove_ros_arguments reads the same command line and fails the same way.
  EXPECT_THROW(rclcpp::remove_ros_arguments(static_cast<int>(file_argv.size()), file_argv.data()),
               rclcpp::exceptions::RCLInvalidROSArgsError);
}

}  // namespace
