// Files that hold passwords (the alarm store, the video client's settings) are kept readable and
// writable by their owner alone: created with mode 0600, and an existing one that group or others
// may use is tightened to it.
#pragma once

#include <string>
#include <string_view>

namespace rovik::alarm {

enum class PrivateFileResult {
  Missing,    // no such file, and it was not to be created
  Private,    // already readable and writable by its owner alone
  Created,    // created empty with mode 0600
  Tightened,  // group and other permissions taken away
  Failed,     // could not be created, inspected or tightened (not a regular file, not ours, ...)
};

// Makes `path` private to its owner: creates it empty with mode 0600 when it is missing and
// `create` is set, takes group and other permissions away from an existing one. A tightening and
// every failure are written as one debug-log line under `library`.
PrivateFileResult MakeFilePrivate(const std::string& path, bool create, std::string_view library);

}  // namespace rovik::alarm
