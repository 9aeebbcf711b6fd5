#include "player/record/ensure_directories.h"

#include <sys/stat.h>

#include <cerrno>

namespace rovik::player {

std::string NormalizePath(const char* path) {
  std::string copy = path != nullptr ? path : "";
  for (char& c : copy) {
    if (c == '\\') c = '/';
  }
  return copy;
}

void EnsureDirectories(const char* path) {
  if (path == nullptr) return;
  const std::string copy = NormalizePath(path);
  for (size_t pos = copy.find('/'); pos != std::string::npos; pos = copy.find('/', pos + 1)) {
    if (pos == 0) continue;  // the root
    const std::string prefix = copy.substr(0, pos);
    struct stat st;
    if (::stat(prefix.c_str(), &st) == 0) continue;
    // A drive prefix such as "D:" simply becomes a folder of that name, as any other part.
    ::mkdir(prefix.c_str(), 0777);
  }
}

}  // namespace rovik::player
