#include "platform/run_dir.h"

#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/debug_log.h"
#include "platform/module_path.h"
#include "platform/user_dirs.h"

namespace rovik::platform {
namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// XDG_RUNTIME_DIR or /run/user/<uid> as the session's folder: a real folder of this user, 0700.
bool IsSessionFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 0777) == 0700;
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
  } else {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    const std::string session = "/run/user/" + std::to_string(::geteuid());
    if (xdg && *xdg && IsSessionFolder(xdg)) {
      path = std::string(xdg) + "/rovik";
    } else {
      if (xdg && *xdg) {
        // su without "-" keeps the other user's folder: say once why it is passed over.
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) {
          DebugLog(ProgramName(), std::string("XDG_RUNTIME_DIR ") + Printable(xdg) +
                                      " is not this user's own folder with mode 0700; not used");
        }
      }
      if (IsSessionFolder(session)) {
        path = session + "/rovik";
      } else {
        const std::string state = StateHome();
        if (state.empty()) {
          fail(error, "no run-time folder: no XDG_RUNTIME_DIR and no home folder");
          return std::nullopt;
        }
        if (!MakeFolders(state + "/rovik", error)) return std::nullopt;
        path = state + "/rovik/run";
      }
    }
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
