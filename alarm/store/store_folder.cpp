#include "alarm/store/store_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace rovik::alarm {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : "";
}

// Creates every missing folder of `path` (the last one with `mode`); true when it exists after.
bool MakeFolders(const std::string& path, mode_t mode) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string parent = path.substr(0, slash);
    if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string StoreFolder(const std::string& programFolder) {
  if (!programFolder.empty() && ::access(programFolder.c_str(), W_OK) == 0) return programFolder;
  std::string data = Variable("XDG_DATA_HOME");
  if (data.empty()) {
    const std::string home = Variable("HOME");
    if (home.empty()) return "";
    data = home + "/.local/share";
  }
  const std::string folder = data + "/rovik";
  return MakeFolders(folder, 0700) ? folder : "";
}

}  // namespace rovik::alarm
