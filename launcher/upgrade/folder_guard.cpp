#include "launcher/upgrade/folder_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace rovik::launcher {
namespace fs = std::filesystem;

namespace {

bool HasParentStep(const fs::path& relative) {
  for (const fs::path& part : relative) {
    if (part == "..") {
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsInsideFolder(const fs::path& folder, const fs::path& target) {
  std::error_code ec;
  const fs::path base = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec || base.empty()) {
    return false;
  }
  const fs::path resolved = fs::weakly_canonical(fs::absolute(target, ec), ec);
  if (ec || resolved.empty()) {
    return false;
  }
  auto b = base.begin();
  auto t = resolved.begin();
  for (; b != base.end(); ++b, ++t) {
    // A trailing separator of the folder shows up as one empty last element.
    if (b->empty() && std::next(b) == base.end()) {
      break;
    }
    if (t == resolved.end() || *b != *t) {
      return false;
    }
  }
  // Strictly below: something must remain that is not empty.
  for (; t != resolved.end(); ++t) {
    if (!t->empty() && *t != ".") {
      return true;
    }
  }
  return false;
}

fs::path PathInside(const fs::path& folder, const fs::path& relative) {
  if (relative.empty() || relative.is_absolute() || relative.has_root_path() ||
      HasParentStep(relative)) {
    return {};
  }
  fs::path target = folder / relative;
  if (!IsInsideFolder(folder, target)) {
    return {};
  }
  return target;
}

bool FolderWritable(const fs::path& folder) {
  std::error_code ec;
  return !folder.empty() && fs::is_directory(folder, ec) &&
         ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool EnsureFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0755) == 0) {
    return true;
  }
  if (errno != EEXIST) {
    return false;
  }
  std::error_code ec;
  return fs::is_directory(folder, ec);
}

bool CreateFolderLevels(const fs::path& folder, const fs::path& relative) {
  std::error_code ec;
  if (relative.empty()) {
    return fs::is_directory(folder, ec);
  }
  const fs::path target = PathInside(folder, relative);
  if (target.empty()) {
    return false;
  }
  fs::path level = folder;
  for (const fs::path& part : relative) {
    if (part.empty() || part == ".") {
      continue;
    }
    level /= part;
    // Each level is checked again: one created a moment ago by someone else could be a link.
    if (!IsInsideFolder(folder, level) || !EnsureFolder(level)) {
      return false;
    }
  }
  return fs::is_directory(target, ec);
}

}  // namespace rovik::launcher
