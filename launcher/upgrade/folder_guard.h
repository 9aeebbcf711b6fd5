// Keeps every file the installer opens inside the folder it belongs to (extraction, back-up or
// program folder), with symbolic links along the way resolved, and creates missing folder levels
// only inside it.
#pragma once

#include <filesystem>

namespace rovik::launcher {

// True when target lies strictly below folder once both are made absolute and every existing
// symbolic link on the way is resolved. Both may name things that do not exist yet.
bool IsInsideFolder(const std::filesystem::path& folder, const std::filesystem::path& target);

// folder / relative when that lies strictly below folder (relative must be relative and hold no
// ".." step); empty otherwise.
std::filesystem::path PathInside(const std::filesystem::path& folder,
                                 const std::filesystem::path& relative);

// Creates every missing level of folder / relative, from the outermost in, refusing a path that
// does not lie inside folder. True when the whole path exists as a folder afterwards (relative
// may be empty: then folder itself must exist).
bool CreateFolderLevels(const std::filesystem::path& folder, const std::filesystem::path& relative);

// True when this process may create, replace and remove files in folder (false for a missing
// folder, one without write permission for this user, or one on a read-only file system).
bool FolderWritable(const std::filesystem::path& folder);

// Creates one folder level when it is missing (its parent must exist). True when it exists
// as a folder afterwards.
bool EnsureFolder(const std::filesystem::path& folder);

}  // namespace rovik::launcher
