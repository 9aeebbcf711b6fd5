// Starting another program of the suite (CreateProcessW with the handles closed at once).
#pragma once

#include <string>
#include <sys/types.h>

namespace rovik::platform {

// Starts the program at `path` with no arguments. The child inherits only stdin, stdout
// and stderr; every other descriptor is closed. The child is detached from the caller
// (it is re-parented at once), so no zombie is left behind and nothing needs waiting for.
// Returns true when the program was executed; on failure *error says why (e.g. missing
// file, not executable). *pid, when given, receives the child's process id.
bool StartProgram(const std::string& path, std::string* error = nullptr, pid_t* pid = nullptr);

}  // namespace rovik::platform
