// SPDX-License-Identifier: Apache-2.0
// The client as a newcomer meets it: every example of the README, of
// docs/client.md and of --help, run as written against a real node.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "e2e_support.hpp"
#include "proto/data_center.pb.h"

namespace {

using e2e::NodeProcess;
using e2e::TempDir;

// One domain: e2e::TestDomain(0).

std::string BinDir() {
  const std::string cli = DATA_CENTER_CLI_BIN;
  return cli.substr(0, cli.rfind('/'));
}

// The documents whose sh blocks are checked: the README and the pages its
// commands moved to.
std::vector<std::string> Documents() {
  return {DATA_CENTER_README, DATA_CENTER_CLIENT_DOC, DATA_CENTER_BUILDING_DOC};
}

// Shell command lines of a document's sh blocks, without trailing comments.
std::vector<std::string> DocumentCommands(const std::string & document) {
  std::vector<std::string> commands;
  bool in_block = false;
  const std::regex comment(R"(\s{2,}#.*$)");
  for (const std::string & line : e2e::Lines(e2e::ReadFile(document))) {
    if (line.rfind("```", 0) == 0) {
      in_block = !in_block && line == "```sh";
      continue;
    }
    if (in_block && !line.empty()) {
      commands.push_back(std::regex_replace(line, comment, ""));
    }
  }
  return commands;
}

// The lines under "Examples:" in --help.
std::vector<std::string> HelpExamples() {
  const auto help = e2e::Run({DATA_CENTER_CLI_BIN, "--help"}, {});
  EXPECT_EQ(help.exit_status, 0);
  std::vector<std::string> examples;
  bool in_examples = false;
  for (const std::string & line : e2e::Lines(help.out)) {
    if (line == "Examples:") {
      in_examples = true;
    } else if (in_examples && line.rfind("  ", 0) == 0) {
      examples.push_back(line.substr(2));
    } else {
      in_examples = false;
    }
  }
  return examples;
}

TEST(ClientExamples, EveryExampleOfTheReadmeAndHelpRunsAsWritten) {
  TempDir dir;
  // Where the examples run: build/bin/ as in the README, data_center_cli on
  // PATH as in --help, and the files they name.
  const std::string cwd = dir.path() + "/cwd";
  ASSERT_EQ(system(("mkdir -p '" + cwd + "/build'").c_str()), 0);
  ASSERT_EQ(symlink(BinDir().c_str(), (cwd + "/build/bin").c_str()), 0);
  data_center::BaseStationInfo list;
  list.add_bs_pose()->set_map_id(4);
  e2e::WriteFile(cwd + "/stations.txt", "bs_pose { map_id: 4 x: 0.5 map_id_str: \"m4\" }\n");
  e2e::WriteFile(cwd + "/stations.bin", list.SerializeAsString());

  ASSERT_EQ(system(("mkdir -p '" + dir.path() + "/main' '" + dir.path() + "/robot1'").c_str()), 0);
  NodeProcess node(e2e::TestDomain(0), dir.path() + "/main");
  NodeProcess namespaced(e2e::TestDomain(0), dir.path() + "/robot1", {"--ros-args", "-r", "__ns:=/robot1"});
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_TRUE(namespaced.WaitReady()) << namespaced.Stderr();

  std::vector<std::string> commands;
  for (const std::string & document : Documents()) {
    const std::vector<std::string> found = DocumentCommands(document);
    EXPECT_FALSE(found.empty()) << document;
    commands.insert(commands.end(), found.begin(), found.end());
  }
  std::vector<std::string> client_examples;
  for (const std::string & command : commands) {
    if (command.find("data_center_cli") != std::string::npos) {
      client_examples.push_back(command);
      continue;
    }
    // The other commands are not run here; the scripts they name must exist.
    std::smatch script;
    if (std::regex_search(command, script, std::regex(R"(^(?:sudo )?((?:scripts|bench)/[\w.-]+))"))) {
      const std::string path = std::string(DATA_CENTER_REPO_ROOT) + "/" + script[1].str();
      EXPECT_EQ(access(path.c_str(), X_OK), 0) << command;
    }
  }
  const std::vector<std::string> help = HelpExamples();
  // Parsing that finds nothing must not pass for success.
  ASSERT_GE(client_examples.size(), 8u);
  ASSERT_GE(help.size(), 10u);
  client_examples.insert(client_examples.end(), help.begin(), help.end());

  for (const std::string & example : client_examples) {
    SCOPED_TRACE(example);
    const auto r = e2e::Run({"sh", "-c", "cd '" + cwd + "' && " + example},
                            {{"ROS_DOMAIN_ID", std::to_string(e2e::TestDomain(0))},
                             {"PATH", BinDir() + ":" + std::getenv("PATH")}});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    if (example.find("--help") == std::string::npos) {
      EXPECT_EQ(r.out.substr(0, 8), "code: 0\n") << r.out;
    }
    EXPECT_EQ(r.err.find("libprotobuf"), std::string::npos) << r.err;
  }
}

}  // namespace
