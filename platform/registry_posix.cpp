#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/debug_log.h"
#include "platform/desktop_exec.h"
#include "platform/module_path.h"
#include "platform/reg_file.h"
#include "platform/user_dirs.h"

namespace rovik::platform {
namespace {

namespace fs = std::filesystem;

const char* rootName(RegRoot root) {
  switch (root) {
    case RegRoot::LocalMachine:
      return "HKEY_LOCAL_MACHINE";
  }
  return "HKEY_LOCAL_MACHINE";
}

// "A\\B\\C" -> "A/B/C"; nullopt for an empty path or a component that could leave REG.
std::optional<std::string> keyToRelative(const std::string& key) {
  std::string out;
  std::string part;
  auto flush = [&]() -> bool {
    if (part.empty()) return true;  // doubled or edge separators are skipped
    if (part == "." || part == "..") return false;
    if (!out.empty()) out += '/';
    out += part;
    part.clear();
    return true;
  };
  for (char c : key) {
    if (c == '\0' || c == '/') return std::nullopt;
    if (c == '\\') {
      if (!flush()) return std::nullopt;
    } else {
      part += c;
    }
  }
  if (!flush() || out.empty()) return std::nullopt;
  return out;
}

bool sameKey(const std::string& a, const std::string& b) {
  auto ra = keyToRelative(a);
  auto rb = keyToRelative(b);
  if (!ra || !rb || ra->size() != rb->size()) return false;
  for (std::size_t i = 0; i < ra->size(); ++i) {
    if (std::tolower(static_cast<unsigned char>((*ra)[i])) !=
        std::tolower(static_cast<unsigned char>((*rb)[i]))) {
      return false;
    }
  }
  return true;
}

// Why the key file (and the folder holding it) cannot be believed: another user owns it or may
// write it, so it could say anything; "" when it is this user's own. A missing file is fine.
std::string untrusted(const std::string& file) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 &&
      (!(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) || !OwnedAndPrivateToWrite(st))) {
    return file + " is not this user's own or may be written by others";
  }
  const auto slash = file.rfind('/');
  if (slash != std::string::npos && slash > 0 && ::lstat(file.substr(0, slash).c_str(), &st) == 0 &&
      !OwnedAndPrivateToWrite(st)) {
    return file.substr(0, slash) + " is not this user's own or may be written by others";
  }
  return {};
}

// The key file's text; nullopt when it is missing, cannot be read, or is not this user's own.
std::optional<std::string> readWhole(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !OwnedAndPrivateToWrite(st)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// Writes `text` to `file` through a temporary file in the same folder and a rename.
bool writeAtomically(const std::string& file, const std::string& text) {
  std::string tmp = file + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(tmp.c_str(), file.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

// The autostart entry that stands for a Run value.
std::string autostartFile(const std::string& valueName) {
  std::string home = ConfigHome();
  if (home.empty()) return {};
  return home + "/autostart/" + valueName + ".desktop";
}

bool writeAutostart(const std::string& valueName, const std::string& command) {
  if (valueName.find('/') != std::string::npos || valueName == "." || valueName == "..")
    return false;
  std::string file = autostartFile(valueName);
  if (file.empty()) return false;
  std::error_code ec;
  fs::create_directories(fs::path(file).parent_path(), ec);
  std::string text = "[Desktop Entry]\nType=Application\nName=" + valueName +
                     "\nExec=" + DesktopExecFromCommandLine(command) +
                     "\nX-GNOME-Autostart-enabled=true\n";
  return writeAtomically(file, text);
}

void removeAutostart(const std::string& valueName) {
  if (valueName.find('/') != std::string::npos) return;
  std::string file = autostartFile(valueName);
  if (!file.empty()) ::unlink(file.c_str());
}

}  // namespace

std::string RegistryRoot() {
  if (const char* own = std::getenv("ROVIK_REGISTRY_ROOT"); own && *own) return own;
  const std::string home = ConfigHome();
  return home.empty() ? std::string() : home + "/rovik/registry";
}

std::optional<RegistryKey> RegistryKey::Open(RegRoot root, const std::string& path, uint32_t,
                                             std::string* error) {
  auto rel = keyToRelative(path);
  if (!rel) {
    if (error) *error = "bad key path";
    return std::nullopt;
  }
  if (RegistryRoot().empty()) {
    if (error) *error = "no registry: no home folder";
    return std::nullopt;
  }
  std::string file = RegistryRoot() + "/" + rootName(root) + "/" + *rel + ".reg";
  bool isRun = sameKey(path, kRunKey);
  struct stat st {};
  if (!isRun && ::stat(file.c_str(), &st) != 0) {
    if (error) *error = file + ": no such key";
    return std::nullopt;
  }
  if (const std::string why = untrusted(file); !why.empty()) {
    DebugLog(ProgramName(), "registry key refused: " + Printable(why));
    if (error) *error = why;
    return std::nullopt;
  }
  return RegistryKey(path, file, isRun);
}

std::optional<RegistryKey> RegistryKey::Create(RegRoot root, const std::string& path,
                                               uint32_t access, std::string* error) {
  auto rel = keyToRelative(path);
  if (!rel) {
    if (error) *error = "bad key path";
    return std::nullopt;
  }
  if (RegistryRoot().empty()) {
    if (error) *error = "no registry: no home folder";
    return std::nullopt;
  }
  std::string file = RegistryRoot() + "/" + rootName(root) + "/" + *rel + ".reg";
  if (!MakeFolders(fs::path(file).parent_path().string(), error)) return std::nullopt;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 && !writeAtomically(file, FormatRegFile({}))) {
    if (error) *error = file + ": cannot create";
    return std::nullopt;
  }
  return Open(root, path, access, error);
}

namespace {

// The value `name` of the key file when it has the given type.
std::optional<RegValue> FindValue(const std::string& file, const std::string& name,
                                  RegValue::Type type) {
  auto text = readWhole(file);
  if (!text) return std::nullopt;
  for (RegValue& v : ParseRegFile(*text)) {
    if (v.name == name) {
      if (v.type != type) return std::nullopt;
      return std::move(v);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint32_t> RegistryKey::ReadDword(const std::string& name) const {
  auto v = FindValue(file_, name, RegValue::Type::Dword);
  if (!v) return std::nullopt;
  return v->dword;
}

std::optional<std::string> RegistryKey::ReadString(const std::string& name) const {
  auto v = FindValue(file_, name, RegValue::Type::String);
  if (!v) return std::nullopt;
  return v->text;
}

namespace {

bool storeValue(const std::string& file, RegValue value) {
  std::vector<RegValue> values;
  if (auto text = readWhole(file)) values = ParseRegFile(*text);
  bool replaced = false;
  for (RegValue& v : values) {
    if (v.name == value.name) {
      v = value;
      replaced = true;
    }
  }
  if (!replaced) values.push_back(std::move(value));
  if (!MakeFolders(fs::path(file).parent_path().string())) return false;
  return writeAtomically(file, FormatRegFile(values));
}

}  // namespace

bool RegistryKey::WriteDword(const std::string& name, uint32_t value) {
  if (!IsStorableRegText(name) || name.empty()) return false;
  RegValue v;
  v.name = name;
  v.type = RegValue::Type::Dword;
  v.dword = value;
  return storeValue(file_, std::move(v));
}

bool RegistryKey::WriteString(const std::string& name, const std::string& text) {
  if (!IsStorableRegText(name) || name.empty() || !IsStorableRegText(text)) return false;
  RegValue v;
  v.name = name;
  v.type = RegValue::Type::String;
  v.text = text;
  if (!storeValue(file_, std::move(v))) return false;
  if (isRunKey_) return writeAutostart(name, text);
  return true;
}

bool RegistryKey::DeleteValue(const std::string& name) {
  auto text = readWhole(file_);
  if (!text) return false;
  std::vector<RegValue> values = ParseRegFile(*text);
  std::vector<RegValue> kept;
  for (RegValue& v : values) {
    if (v.name != name) kept.push_back(std::move(v));
  }
  if (kept.size() == values.size()) return false;
  if (!writeAtomically(file_, FormatRegFile(kept))) return false;
  if (isRunKey_) removeAutostart(name);
  return true;
}

}  // namespace rovik::platform
