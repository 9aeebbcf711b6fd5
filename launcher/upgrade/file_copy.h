// The installer's plain file copy: one file onto one name, replacing what is there.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace rovik::launcher {

// Copies the regular file source to target, replacing an existing target, and keeps the source's
// modification time. Without newFileMode the copy gets the source's permission bits; with it, a
// replaced target keeps the permission bits it has and a new target gets newFileMode.
// Creates no folders. Fails, leaving the target as it was, when the source is missing or no
// regular file, the target's folder is missing, the target is a folder or read-only (no owner
// write bit), or writing fails. The new content is written beside the target under a hidden
// temporary name (see IsCopyLeftover), flushed to the disk and renamed over the target, so neither
// a failed copy nor a power loss leaves a half-written target.
bool CopyFileReplacing(const std::filesystem::path& source, const std::filesystem::path& target,
                       std::optional<mode_t> newFileMode = std::nullopt);

// True when two regular files hold the same bytes.
bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b);

// True when fileName is the temporary name a copy onto target uses while it writes
// (".<target's name>.XXXXXX", six letters or digits).
bool IsCopyLeftover(const std::filesystem::path& target, const std::string& fileName);

// Removes what copies onto target left beside it when they were killed before their rename.
// Only regular files of exactly that name pattern are removed. Returns how many were.
int RemoveCopyLeftovers(const std::filesystem::path& target);

// Writes all `size` bytes to the descriptor, going on after interruptions; false on an error.
bool WriteAll(int fd, const char* data, std::size_t size);

}  // namespace rovik::launcher
