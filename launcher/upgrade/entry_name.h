// Entry names of an upgrade package: the reduction every name goes through when it is read, and
// the checks that keep an entry from ever leading out of the folder it is unpacked into.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace rovik::launcher {

// Longest entry name, in UTF-16 units, including the terminator (a Windows path).
inline constexpr std::size_t kMaxEntryName = 260;

// Strips drive letters, leading separators and everything up to the last parent-folder step:
// repeated until no rule applies, each rule looking at the name from its current start:
//   "X:" at the start; one leading "\" or "/"; up to and including the first "\..\",
//   else "\../", else "/../", else "/..\".
// "../../evil.dll" and "a/b/../evil.dll" become "evil.dll", "C:\x\y.dll" becomes "x\y.dll".
std::u16string ReduceEntryName(std::u16string_view name);

// Stored UTF-8 bytes of a name (exactly as long as the archive says) converted to UTF-16 and
// reduced. Empty when the name cannot be used safely: a NUL inside it, nothing left after the
// reduction, a path still leading out (a ".." step, an absolute path), or longer than a name
// may be.
std::u16string EntryNameFromArchive(std::string_view utf8);

// True when a (reduced) name can be unpacked or installed: not empty, shorter than
// kMaxEntryName, no NUL, not absolute (no leading separator, no drive), and no ".." step.
bool IsSafeEntryName(std::u16string_view name);

// The name as a relative path of this system: "\" counts as a separator like "/".
// Only meaningful for names that pass IsSafeEntryName.
std::filesystem::path EntryRelativePath(std::u16string_view name);

// The name split at its last "\" or "/": the folder part (without the separator; empty when
// there is none) and the file part.
struct EntryNameParts {
  std::u16string folder;
  std::u16string file;
};
EntryNameParts SplitEntryName(std::u16string_view name);

}  // namespace rovik::launcher
