#include "platform/run_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace rovik::platform {
namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool IsValidObjectName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '/' || c == '\0') return false;
  }
  return true;
}

bool EnsurePrivateDir(const std::string& path, std::string* error) {
  if (path.empty()) return fail(error, "empty folder path");
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return fail(error, path + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return fail(error, path + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return fail(error, path + ": not a folder");
  if (st.st_uid != ::geteuid()) return fail(error, path + ": owned by another user");
  if ((st.st_mode & 077) != 0) return fail(error, path + ": open to group or other");
  return true;
}

std::optional<std::string> RunDir(std::string* error) {
  std::string path;
  if (const char* own = std::getenv("ROVIK_RUNTIME_DIR"); own && *own) {
    path = own;
  } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    path = std::string(xdg) + "/rovik";
  } else {
    path = "/tmp/rovik-" + std::to_string(::geteuid());
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!EnsurePrivateDir(path, error)) return std::nullopt;
  return path;
}

std::optional<std::string> RunSubdir(const std::string& sub, std::string* error) {
  if (!IsValidObjectName(sub)) {
    fail(error, "bad folder name");
    return std::nullopt;
  }
  auto run = RunDir(error);
  if (!run) return std::nullopt;
  std::string path = *run + "/" + sub;
  if (!EnsurePrivateDir(path, error)) return std::nullopt;
  return path;
}

}  // namespace rovik::platform
