// SPDX-License-Identifier: Apache-2.0
// The process command line as rclcpp reads it: --ros-args blocks, remapping
// rules, the flags that are accepted and dropped, and the errors for anything
// else inside a block.
#include <gtest/gtest.h>

#include <rclcpp/rclcpp.hpp>
#include <string>
#include <vector>

#include "arguments.hpp"

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
             "-p", "use_sim_time:=true", "--param", "x:=1", "--params-file", "params.yaml", "--log-level",
             "debug", "--log-config-file", "log.cfg", "-e", "/enc", "--enclave", "/other",
             "--enable-rosout-logs", "--disable-rosout-logs", "--enable-stdout-logs", "--disable-stdout-logs",
             "--enable-external-lib-logs", "--disable-external-lib-logs", "-r", "kept:=yes", "--", "after"});
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

}  // namespace
