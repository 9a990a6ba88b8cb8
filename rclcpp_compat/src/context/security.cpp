// SPDX-License-Identifier: Apache-2.0
#include "rclcpp_compat/security.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "command_line/names.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp_compat {
namespace {

// rcutils_get_env: an unset variable reads as "".
std::string env(const char * name) {
  const char * value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool is_directory(const std::string & path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(const std::string & path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// rmw_dds_common::get_security_files: the enclave's files by property.
struct EnclaveFile {
  const char * property;
  const char * file;
};
constexpr EnclaveFile kRequiredFiles[] = {
    {"dds.sec.auth.identity_ca", "identity_ca.cert.pem"},
    {"dds.sec.auth.identity_certificate", "cert.pem"},
    {"dds.sec.auth.private_key", "key.pem"},
    {"dds.sec.access.permissions_ca", "permissions_ca.cert.pem"},
    {"dds.sec.access.governance", "governance.p7s"},
    {"dds.sec.access.permissions", "permissions.p7s"},
};
constexpr EnclaveFile kOptionalCrl = {"org.eclipse.cyclonedds.sec.auth.crl", "crl.pem"};
// The plugins rmw_cyclonedds_cpp names; Cyclone finds them by these names.
constexpr EnclaveFile kPlugins[] = {
    {"dds.sec.auth.library.path", "dds_security_auth"},
    {"dds.sec.auth.library.init", "init_authentication"},
    {"dds.sec.auth.library.finalize", "finalize_authentication"},
    {"dds.sec.crypto.library.path", "dds_security_crypto"},
    {"dds.sec.crypto.library.init", "init_crypto"},
    {"dds.sec.crypto.library.finalize", "finalize_crypto"},
    {"dds.sec.access.library.path", "dds_security_ac"},
    {"dds.sec.access.library.init", "init_access_control"},
    {"dds.sec.access.library.finalize", "finalize_access_control"},
};

// rcl's exact match lookup: "/" is the enclaves folder itself.
std::string enclave_folder(const std::string & keystore, const std::string & enclave) {
  const std::string enclaves = keystore + "/enclaves";
  return enclave == "/" ? enclaves : enclaves + "/" + enclave.substr(1);
}

// The enclave's folder and files as properties; "" or the reason they
// cannot be used.
std::string enclave_properties(const std::string & enclave, SecurityOptions & options) {
  const std::string keystore = env("ROS_SECURITY_KEYSTORE");
  if (keystore.empty()) {
    return "SECURITY ERROR: ROS_SECURITY_KEYSTORE is not set: no keystore to find the enclave '" + enclave +
           "' in.";
  }
  const std::string override_name = env("ROS_SECURITY_ENCLAVE_OVERRIDE");
  const std::string dir = enclave_folder(keystore, override_name.empty() ? enclave : override_name);
  if (!is_directory(dir)) {
    return "SECURITY ERROR: directory '" + dir + "' does not exist.";
  }
  std::string missing;
  for (const auto & f : kRequiredFiles) {
    const std::string path = dir + "/" + f.file;
    if (is_regular_file(path)) {
      options.properties.emplace_back(f.property, "file:" + path);
    } else {
      missing += (missing.empty() ? "" : ", ") + std::string(f.file);
    }
  }
  if (!missing.empty()) {
    options.properties.clear();
    return "SECURITY ERROR: could not find all security files in '" + dir + "' (missing: " + missing + ").";
  }
  for (const auto & p : kPlugins) {
    options.properties.emplace_back(p.property, p.file);
  }
  const std::string crl = dir + "/" + kOptionalCrl.file;
  if (is_regular_file(crl)) {
    options.properties.emplace_back(kOptionalCrl.property, "file:" + crl);
  }
  options.enclave_dir = dir;
  return "";
}

}  // namespace

SecurityOptions security_from_env(const std::string & enclave, std::ostream & warnings) {
  if (!valid_absolute_name(enclave)) {
    throw rclcpp::exceptions::RCLError("failed to initialize rcl: Enclave name is not valid: '" + enclave +
                                       "'");
  }
  SecurityOptions options;
  if (env("ROS_SECURITY_ENABLE") != "true") {
    return options;
  }
  const std::string problem = enclave_properties(enclave, options);
  if (problem.empty()) {
    return options;
  }
  if (env("ROS_SECURITY_STRATEGY") == "Enforce") {
    throw rclcpp::exceptions::RCLError("failed to initialize rcl: " + problem);
  }
  // rcl says nothing here; an operator who asked for security is told.
  warnings << "[WARN] [rclcpp_compat]: " << problem
           << " ROS_SECURITY_STRATEGY is not Enforce: running without security." << std::endl;
  return SecurityOptions{};
}

void apply_security(const SecurityOptions & options, dds_qos_t * qos) {
  for (const auto & property : options.properties) {
    dds_qset_prop(qos, property.first.c_str(), property.second.c_str());
  }
}

void delete_dds_before_openssl_at_exit() {
  static const bool registered = std::atexit([] { dds_delete(DDS_CYCLONEDDS_HANDLE); }) == 0;
  (void)registered;
}

}  // namespace rclcpp_compat
