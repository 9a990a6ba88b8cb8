// SPDX-License-Identifier: Apache-2.0
// The node as a system service: the systemd unit, tmpfiles.d and sysusers.d
// files the data_center package installs, checked with systemd's offline
// tools; the launcher the unit starts, in both colcon install layouts; and
// this build's node started as the unit starts it, with the unit's own
// settings read from the unit file.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using e2e::TempDir;

const std::string kSystemd = DATA_CENTER_SYSTEMD_DIR;
const std::string kLauncher = kSystemd + "/data_center_start";
// What systemd puts in every service's environment.
constexpr char kSystemdPath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The settings of a unit file: every value of each key, in file order.
using Unit = std::map<std::string, std::vector<std::string>>;

Unit ReadUnit(const std::string & text) {
  Unit unit;
  for (const auto & line : e2e::Lines(text)) {
    const auto eq = line.find('=');
    if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos) continue;
    unit[line.substr(0, eq)].push_back(line.substr(eq + 1));
  }
  return unit;
}

std::string UnitTemplate() {
  return e2e::ReadFile(kSystemd + "/data_center.service.in");
}

std::string Replaced(std::string text, const std::string & from, const std::string & to) {
  const auto at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The unit as the package installs it, its launcher at `start`.
std::string ConfiguredUnit(const std::string & start) {
  return Replaced(UnitTemplate(), "@DATA_CENTER_START@", start);
}

// A colcon install tree at `prefix` with the package's launcher, a link to
// `node` as the node and a setup.bash at `setup_dir` that marks the
// environment.
// The tree's setup.bash sets ROS_DISTRO to `distro`, as a ROS 2 workspace's does.
void MakeInstallTree(const std::string & prefix, const std::string & setup_dir, const std::string & node,
                     const std::string & distro = "humble") {
  fs::create_directories(prefix + "/lib/data_center");
  fs::copy_file(kLauncher, prefix + "/lib/data_center/data_center_start");
  fs::create_symlink(node, prefix + "/lib/data_center/data_center");
  e2e::WriteFile(setup_dir + "/setup.bash",
                 "export DATA_CENTER_SOURCED=\"" + setup_dir + "\" ROS_DISTRO=" + distro + "\n");
}

bool HaveTool(const std::string & name) {
  return e2e::Run({"sh", "-c", "command -v " + name}, {}).exit_status == 0;
}

#define SKIP_WITHOUT(tool)                                                                      \
  if (!HaveTool(tool)) {                                                                        \
    GTEST_SKIP() << tool << " is missing (Debian's systemd package has it; no running systemd " \
                 << "is needed)";                                                               \
  }

TEST(ServiceFiles, UnitVerifiesCleanlyAndBrokenCopiesDoNot) {
  SKIP_WITHOUT("systemd-analyze");
  TempDir dir;
  MakeInstallTree(dir.path() + "/install", dir.path() + "/install", "/bin/true");
  const std::string start = dir.path() + "/install/lib/data_center/data_center_start";
  // The drop-in that orders the unit after network-online.target goes beside it, where
  // systemd-analyze reads it too.
  const std::string drop_in = e2e::ReadFile(kSystemd + "/network-online.conf");
  struct Case {
    const char * what;
    std::string unit;
    std::string drop_in;
    bool passes;
  } cases[] = {
      {"as installed", ConfiguredUnit(start), drop_in, true},
      {"the launcher missing", ConfiguredUnit(dir.path() + "/nowhere/data_center_start"), drop_in, false},
      {"a misspelt value", Replaced(ConfiguredUnit(start), "Restart=on-failure", "Restart=on-failures"),
       drop_in, false},
      {"a misspelt drop-in", ConfiguredUnit(start), Replaced(drop_in, "After=", "Afterr="), false},
  };
  int i = 0;
  for (const auto & c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = dir.path() + "/unit" + std::to_string(i++);
    fs::create_directories(folder);
    e2e::WriteFile(folder + "/data_center.service", c.unit);
    fs::create_directories(folder + "/data_center.service.d");
    e2e::WriteFile(folder + "/data_center.service.d/network-online.conf", c.drop_in);
    const auto r = e2e::Run({"systemd-analyze", "verify", folder + "/data_center.service"}, {});
    // Warnings count: systemd ignores a setting it cannot parse and starts the unit anyway.
    EXPECT_EQ(r.exit_status == 0 && r.out.empty() && r.err.empty(), c.passes)
        << "exit " << r.exit_status << "\n"
        << r.out << r.err;
  }
}

TEST(ServiceFiles, SysusersAndTmpfilesMakeTheUnitsUserAndEveryFolderItWrites) {
  SKIP_WITHOUT("systemd-sysusers");
  SKIP_WITHOUT("systemd-tmpfiles");
  // A user namespace maps only the caller, so it cannot give a folder to the unit's user either.
  if (geteuid() != 0)
    GTEST_SKIP() << "systemd-tmpfiles gives the folders to the unit's user, which needs root";
  TempDir root;
  fs::create_directories(root.path() + "/etc");
  const auto users = e2e::Run({"systemd-sysusers", "--root=" + root.path(), kSystemd + "/sysusers.conf"}, {});
  ASSERT_EQ(users.exit_status, 0) << users.err;
  const auto folders =
      e2e::Run({"systemd-tmpfiles", "--create", "--root=" + root.path(), kSystemd + "/tmpfiles.conf"}, {});
  ASSERT_EQ(folders.exit_status, 0) << folders.err;

  const Unit unit = ReadUnit(UnitTemplate());
  const std::string user = unit.at("User").at(0);
  ASSERT_EQ(unit.at("Group").at(0), user);
  // name:x:uid:gid:gecos:home:shell
  std::vector<std::string> entry;
  for (const auto & line : e2e::Lines(e2e::ReadFile(root.path() + "/etc/passwd"))) {
    if (line.rfind(user + ":", 0) == 0) {
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, ':');) entry.push_back(field);
    }
  }
  ASSERT_EQ(entry.size(), 7u) << "no user " << user << " made by sysusers.conf";
  const unsigned uid = std::stoul(entry[2]), gid = std::stoul(entry[3]);
  EXPECT_LT(uid, 1000u) << "a system user";
  EXPECT_EQ(entry[6].substr(entry[6].rfind('/') + 1), "nologin");

  // Where the node writes: its working folder, rcl's log folder, and the log
  // folder, which ReadWritePaths names. Each is made, the user's, and
  // writable to it, and lies in a folder the hardening leaves writable.
  std::vector<std::string> writable = e2e::Words(unit.at("ReadWritePaths").at(0));
  std::vector<std::string> written = writable;
  written.push_back(unit.at("WorkingDirectory").at(0));
  for (const auto & assignment : unit.at("Environment")) {
    if (assignment.rfind("ROS_LOG_DIR=", 0) == 0) written.push_back(assignment.substr(12));
  }
  ASSERT_EQ(written.size(), writable.size() + 2) << "the unit sets no ROS_LOG_DIR";
  for (const auto & path : written) {
    SCOPED_TRACE(path);
    struct stat st {};
    ASSERT_EQ(stat((root.path() + path).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(st.st_gid, gid);
    EXPECT_EQ(st.st_mode & S_IRWXU, static_cast<mode_t>(S_IRWXU));
    bool allowed = false;
    for (const auto & top : writable) allowed = allowed || (path + "/").rfind(top + "/", 0) == 0;
    EXPECT_TRUE(allowed) << "not under ReadWritePaths";
  }
}

TEST(ServiceLauncher, SourcesTheInstallTreeItLivesInAndBecomesTheNode) {
  struct Case {
    const char * layout;
    std::string prefix;  // below the workspace
    std::string setup;   // the folder with setup.bash, below the workspace
  } cases[] = {{"merged", "/install", "/install"}, {"isolated", "/install/data_center", "/install"}};
  for (const auto & c : cases) {
    SCOPED_TRACE(c.layout);
    TempDir dir;
    const std::string ws = dir.path() + "/a robot's workspace";
    const std::string node = dir.path() + "/node";
    e2e::WriteFile(node, "#!/bin/sh\necho \"$$ $DATA_CENTER_SOURCED $*\"\n");
    fs::permissions(node, fs::perms::owner_all);
    MakeInstallTree(ws + c.prefix, ws + c.setup, node);
    const auto r =
        e2e::Run({"sh", "-c", "echo $$; exec \"$0\" \"$@\"",
                  ws + c.prefix + "/lib/data_center/data_center_start", "--ros-args", "-r", "a:=b c"},
                 {});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const auto lines = e2e::Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    // The node has the launcher's process id: it replaced the launcher.
    EXPECT_EQ(lines[1], lines[0] + " " + ws + c.setup + " --ros-args -r a:=b c");
  }
  TempDir bare;
  fs::create_directories(bare.path() + "/lib/data_center");
  fs::copy_file(kLauncher, bare.path() + "/lib/data_center/data_center_start");
  const auto r = e2e::Run({bare.path() + "/lib/data_center/data_center_start"}, {});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("no setup.bash in " + bare.path()), std::string::npos) << r.err;
}

// The middleware set-up: loopback in the variable the distribution reads,
// Fast DDS off shared memory, loopback kept as the site asked; other
// middlewares, and a site's own profile, untouched. A script in place of
// data_center_rmw says what rmw_implementation would load (none: a build
// without it); the node prints what it gets.
TEST(ServiceLauncher, KeepsFastDdsOffSharedMemoryAndLeavesOtherMiddlewaresAlone) {
  const struct {
    const char * what;
    const char * distro;
    std::string env;
    const char * rmw_says;  // nullptr: no data_center_rmw; "": it fails
    int exit_status;
    // ROS_LOCALHOST_ONLY, ROS_AUTOMATIC_DISCOVERY_RANGE and the profile file's name, "-" when unset
    std::string node_gets;
  } cases[] = {
      {"Cyclone DDS named", "humble", "RMW_IMPLEMENTATION=rmw_cyclonedds_cpp ROS_LOCALHOST_ONLY=1",
       "rmw_fastrtps_cpp", 0, "1 - -"},
      {"Cyclone DDS the default", "humble", "ROS_LOCALHOST_ONLY=1", "rmw_cyclonedds_cpp", 0, "1 - -"},
      {"Fast DDS the default, loopback only", "humble", "ROS_LOCALHOST_ONLY=1", "rmw_fastrtps_cpp", 0,
       "0 - fastdds_udp_loopback.xml"},
      {"Fast DDS named, every interface", "humble",
       "RMW_IMPLEMENTATION=rmw_fastrtps_cpp ROS_LOCALHOST_ONLY=0", "rmw_cyclonedds_cpp", 0,
       "0 - fastdds_udp.xml"},
      {"the site's own profile", "humble",
       "RMW_IMPLEMENTATION=rmw_fastrtps_cpp ROS_LOCALHOST_ONLY=1 "
       "FASTRTPS_DEFAULT_PROFILES_FILE=/etc/site.xml",
       nullptr, 0, "1 - site.xml"},
      // Fast DDS 2 (Humble's, Jazzy's) reads only FASTRTPS_DEFAULT_PROFILES_FILE;
      // Fast DDS 3 reads the new name itself.
      {"the site's own profile in the new name only", "humble",
       "RMW_IMPLEMENTATION=rmw_fastrtps_cpp ROS_LOCALHOST_ONLY=1 FASTDDS_DEFAULT_PROFILES_FILE=/etc/site.xml",
       nullptr, 0, "1 - site.xml"},
      {"Jazzy, the site's own profile in the new name only", "jazzy",
       "RMW_IMPLEMENTATION=rmw_fastrtps_cpp FASTDDS_DEFAULT_PROFILES_FILE=/etc/site.xml", nullptr, 0,
       "- - site.xml"},
      {"the site's own profile in both names", "humble",
       "RMW_IMPLEMENTATION=rmw_fastrtps_cpp FASTRTPS_DEFAULT_PROFILES_FILE=/etc/site.xml "
       "FASTDDS_DEFAULT_PROFILES_FILE=/etc/other.xml",
       nullptr, 0, "- - site.xml"},
      {"a distribution on Fast DDS 3, the new name", "kilted",
       "RMW_IMPLEMENTATION=rmw_fastrtps_cpp FASTDDS_DEFAULT_PROFILES_FILE=/etc/site.xml", nullptr, 0,
       "- - -"},
      {"Cyclone DDS, a Fast DDS profile in the new name", "humble",
       "RMW_IMPLEMENTATION=rmw_cyclonedds_cpp FASTDDS_DEFAULT_PROFILES_FILE=/etc/site.xml", nullptr, 0,
       "- - -"},
      {"no middleware loads", "humble", "ROS_LOCALHOST_ONLY=1", "", 1, ""},
      {"a build without rmw_implementation", "humble", "ROS_LOCALHOST_ONLY=1", nullptr, 0, "1 - -"},
      {"Humble, the site in Jazzy's variable", "humble", "ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST",
       "rmw_cyclonedds_cpp", 0, "1 LOCALHOST -"},
      {"Jazzy, the site in Humble's variable", "jazzy", "ROS_LOCALHOST_ONLY=1", "rmw_cyclonedds_cpp", 0,
       "- LOCALHOST -"},
      {"Jazzy, every interface in Humble's variable", "jazzy", "ROS_LOCALHOST_ONLY=0", "rmw_cyclonedds_cpp",
       0, "- - -"},
      {"Jazzy, Fast DDS, loopback only", "jazzy", "ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST",
       "rmw_fastrtps_cpp", 0, "- SUBNET fastdds_udp_loopback.xml"},
      {"Jazzy, Fast DDS, loopback only in Humble's variable", "jazzy", "ROS_LOCALHOST_ONLY=1",
       "rmw_fastrtps_cpp", 0, "- SUBNET fastdds_udp_loopback.xml"},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string node = dir.path() + "/node", prefix = dir.path() + "/install";
    e2e::WriteFile(
        node,
        "#!/bin/sh\necho \"${ROS_LOCALHOST_ONLY:--} ${ROS_AUTOMATIC_DISCOVERY_RANGE:--} $(basename "
        "\"${FASTRTPS_DEFAULT_PROFILES_FILE:--}\")\"\n");
    fs::permissions(node, fs::perms::owner_all);
    MakeInstallTree(prefix, prefix, node, c.distro);
    fs::create_directories(prefix + "/share/data_center/systemd");
    for (const char * profile : {"/fastdds_udp.xml", "/fastdds_udp_loopback.xml"}) {
      fs::copy_file(kSystemd + profile, prefix + "/share/data_center/systemd" + profile);
    }
    if (c.rmw_says != nullptr) {
      const std::string rmw = prefix + "/lib/data_center/data_center_rmw";
      e2e::WriteFile(
          rmw, *c.rmw_says ? std::string("#!/bin/sh\necho ") + c.rmw_says + "\n" : "#!/bin/sh\nexit 1\n");
      fs::permissions(rmw, fs::perms::owner_all);
    }
    std::vector<std::string> command = {"env", "-i", kSystemdPath};
    for (const auto & assignment : e2e::Words(c.env)) command.push_back(assignment);
    command.push_back(prefix + "/lib/data_center/data_center_start");
    const auto r = e2e::Run(command, {});
    EXPECT_EQ(r.exit_status, c.exit_status) << r.err;
    EXPECT_EQ(r.out, c.exit_status == 0 ? c.node_gets + "\n" : "") << r.err;
  }
}

TEST(ServiceUnit, NodeStartedAsTheUnitStartsItServesAndSavesAtomically) {
  if (geteuid() != 0) GTEST_SKIP() << "starts the node as another user, which needs root";
  SKIP_WITHOUT("systemd-tmpfiles");
  const Unit unit = ReadUnit(UnitTemplate());
  const std::string unit_user = unit.at("User").at(0), unit_group = unit.at("Group").at(0);
  const std::string workdir = unit.at("WorkingDirectory").at(0);
  const passwd * account = getpwnam(unit_user.c_str());
  if (account == nullptr) account = getpwnam("nobody");
  ASSERT_NE(account, nullptr);
  const std::string user = account->pw_name;
  const unsigned uid = account->pw_uid, gid = account->pw_gid;

  // The tmpfiles.d file as the machine would apply it at boot: its folders
  // under `root`, owned by the user the node runs as.
  TempDir dir;
  const std::string root = dir.path() + "/root";
  fs::create_directories(root + "/etc");
  e2e::WriteFile(root + "/etc/passwd", unit_user + ":x:" + std::to_string(uid) + ":" + std::to_string(gid) +
                                           "::/:/usr/sbin/nologin\n");
  e2e::WriteFile(root + "/etc/group", unit_group + ":x:" + std::to_string(gid) + ":\n");
  const auto folders =
      e2e::Run({"systemd-tmpfiles", "--create", "--root=" + root, kSystemd + "/tmpfiles.conf"}, {});
  ASSERT_EQ(folders.exit_status, 0) << folders.err;

  // The package installed in a workspace, this build's node in it.
  const std::string install = dir.path() + "/ws/install";
  MakeInstallTree(install, install, DATA_CENTER_BIN);

  // The unit's environment and nothing else (no HOME); the environment file
  // gives the domain.
  const int domain = e2e::TestDomain(0);
  std::vector<std::string> command = {"env", "-i", kSystemdPath};
  for (const auto & assignment : unit.at("Environment")) command.push_back(assignment);
  command.insert(command.end(), {"ROS_DOMAIN_ID=" + std::to_string(domain), "ROS_LOCALHOST_ONLY=1"});
  const auto exec_start = e2e::Words(
      ReadUnit(ConfiguredUnit(install + "/lib/data_center/data_center_start")).at("ExecStart").at(0));
  command.insert(command.end(), exec_start.begin(), exec_start.end());

  // ProtectSystem=strict with the unit's ReadWritePaths, and PrivateTmp's
  // writable /tmp: every other mount read-only, checked before the node starts.
  const std::string keep = "/tmp " + unit.at("ReadWritePaths").at(0);
  const std::string read_only =
      "for p in " + keep +
      "; do mount --bind \"$p\" \"$p\" || exit 1; done; "
      "for m in $(awk '{print $5}' /proc/self/mountinfo); do "
      "  case \" " +
      keep +
      " \" in *\" $m \"*) continue ;; esac; "
      "  case \"$m\" in /proc|/proc/*|/sys|/sys/*|/dev|/dev/*) continue ;; esac; "
      "  mount -o remount,bind,ro \"$m\" 2>/dev/null; "
      "done; "
      "! touch /opt/korvane/probe 2>/dev/null && ! touch /etc/data_center_probe 2>/dev/null";

  e2e::NodeOptions options;
  options.user = user;
  options.reach = {install};
  options.workdir = workdir;
  options.setup = read_only;
  options.program = command;
  e2e::NodeProcess node(domain, root + "/opt", options);
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();

  // The launcher became the node, in the environment it sourced.
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(node.pid()) + "/exe"), fs::canonical(DATA_CENTER_BIN));
  std::string environ = e2e::ReadFile("/proc/" + std::to_string(node.pid()) + "/environ");
  std::replace(environ.begin(), environ.end(), '\0', '\n');
  EXPECT_NE(environ.find("DATA_CENTER_SOURCED=" + install + "\n"), std::string::npos) << environ;
  EXPECT_EQ(("\n" + environ).find("\nHOME="), std::string::npos) << environ;

  const std::string list = e2e::MakeList("service", 1, 2);
  const auto set = e2e::Cli(domain, {"call", "10001", e2e::Hex(list)});
  EXPECT_EQ(set.exit_status, 0) << set.out << set.err;
  EXPECT_EQ(e2e::PayloadHex(e2e::Cli(domain, {"call", "10002"})), e2e::Hex(list));

  const std::string station_file = root + workdir + "/StationInfo.conf";
  EXPECT_EQ(e2e::ReadFile(station_file), list);
  struct stat st {};
  ASSERT_EQ(stat(station_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid);
  const std::string log = e2e::ReadFile(root + "/opt/korvane/logs/data_center/" + e2e::TodayLogName());
  EXPECT_NE(log.find("Into IssueBaseStation"), std::string::npos) << log;
  EXPECT_EQ(log.find("saves are not atomic"), std::string::npos) << log;
  EXPECT_EQ(node.Stop(SIGTERM), 0) << node.Stderr();
}

}  // namespace
