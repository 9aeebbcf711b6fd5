#include "platform/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace rovik::platform {
namespace {

std::string FromEnvOrHome(const char* variable, const char* belowHome) {
  if (const char* value = std::getenv(variable); value && *value) return value;
  const std::string home = HomeDir();
  return home.empty() ? std::string() : home + belowHome;
}

}  // namespace

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir || found->pw_dir[0] != '/') {
    return {};
  }
  return found->pw_dir;
}

std::string ConfigHome() { return FromEnvOrHome("XDG_CONFIG_HOME", "/.config"); }

std::string StateHome() { return FromEnvOrHome("XDG_STATE_HOME", "/.local/state"); }

bool MakeFolders(const std::string& path, std::string* error) {
  if (path.empty()) {
    if (error) *error = "no folder";
    return false;
  }
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      if (error) *error = part + ": " + std::strerror(errno);
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (error) *error = path + ": not a folder";
    return false;
  }
  return true;
}

bool OwnedAndPrivateToWrite(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace rovik::platform
