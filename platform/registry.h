// The registry, as the suite uses it: keys under HKEY_LOCAL_MACHINE holding DWORD and
// string values.
//
// Key K is the file REG/HKEY_LOCAL_MACHINE/<K with '\' as '/'>.reg, the path spelled as the
// suite spells it. REG = $ROVIK_REGISTRY_ROOT, else ${XDG_CONFIG_HOME:-~/.config}/rovik/registry
// (the home from the password database when HOME is unset; never a folder in /tmp). A key file,
// or the folder holding it, that is not this user's own or that group or others may write is
// refused (Open fails, with a debug-log line): another user could have put anything there.
// One value a line, in .reg syntax:
//     "Name"=dword:00000001
//     "Name"="text"            (backslash and double quote written as \\ and \")
// Blank lines and lines starting with ';', '[' or "Windows Registry Editor" are ignored.
// Every write rewrites the file atomically (temporary file + rename).
//
// Values written under the Run key (kRunKey) also create the XDG autostart entry
// ${XDG_CONFIG_HOME:-~/.config}/autostart/<value name>.desktop whose Exec= is the value, quoted
// and escaped as the Desktop Entry format says (desktop_exec.h);
// deleting the value removes the entry. The Run key always exists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace rovik::platform {

enum class RegRoot { LocalMachine };

// Access rights the callers pass. The registry files have one view: kKeyWow64_64Key, the
// 64-bit view a 32-bit program on a 64-bit system asks for, opens the same key.
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyWow64_64Key = 0x100;

// The machine's Run key: programs started at logon.
inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// REG, the registry's root folder (not created).
std::string RegistryRoot();

class RegistryKey {
 public:
  // Opens the key: nullopt when the key does not exist (kRunKey always exists).
  static std::optional<RegistryKey> Open(RegRoot root, const std::string& path, uint32_t access,
                                         std::string* error = nullptr);
  // Opens the key, creating it (and its folders) when missing.
  static std::optional<RegistryKey> Create(RegRoot root, const std::string& path, uint32_t access,
                                           std::string* error = nullptr);

  // Reads a value: nullopt when the value is missing or of the other type.
  std::optional<uint32_t> ReadDword(const std::string& name) const;
  std::optional<std::string> ReadString(const std::string& name) const;

  // Writes a value. Strings are UTF-8 without terminator; a text holding a line break or NUL
  // cannot be stored in a .reg line and is refused. A value name must not be empty.
  bool WriteDword(const std::string& name, uint32_t value);
  bool WriteString(const std::string& name, const std::string& text);

  // Deletes a value: true when the value existed and is gone.
  bool DeleteValue(const std::string& name);

  const std::string& path() const { return path_; }
  const std::string& file() const { return file_; }

 private:
  RegistryKey(std::string path, std::string file, bool isRunKey)
      : path_(std::move(path)), file_(std::move(file)), isRunKey_(isRunKey) {}

  std::string path_;  // key path as given, e.g. "SOFTWARE\\MERVO\\ROVIK"
  std::string file_;  // its .reg file
  bool isRunKey_ = false;
};

}  // namespace rovik::platform
