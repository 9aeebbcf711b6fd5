// The installer's plain file copy: one file onto one name, replacing what is there.
#pragma once

#include <cstddef>
#include <filesystem>

namespace rovik::launcher {

// Copies the regular file source to target, replacing an existing target, and keeps the source's
// permission bits (plus the execute bits the replaced file had) and modification time.
// Creates no folders. Fails, leaving the target as it was, when the source is missing or no
// regular file, the target's folder is missing, the target is a folder or read-only (no owner
// write bit), or writing fails. The new content is written beside the target and renamed over
// it, so a failed copy never leaves a half-written target.
bool CopyFileReplacing(const std::filesystem::path& source, const std::filesystem::path& target);

// Writes all `size` bytes to the descriptor, going on after interruptions; false on an error.
bool WriteAll(int fd, const char* data, std::size_t size);

}  // namespace rovik::launcher
