#include "platform/module_path.h"

#include <unistd.h>
#include <climits>

namespace rovik::platform {

std::string ModuleFileName() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string ProgramFolder() {
  std::string path = ModuleFileName();
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ProgramName() {
  const std::string path = ModuleFileName();
  const auto slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? "rovik" : name;
}

}  // namespace rovik::platform
