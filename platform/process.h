// Starting another program of the suite, detached: the caller keeps nothing of it.
#pragma once

#include <sys/types.h>
#include <string>

namespace rovik::platform {

// Starts the program at `path` with no arguments, as a desktop starts one: its standard input,
// output and error are /dev/null (it never shares the caller's terminal or pipes, so it outlives
// whoever reads them), every other descriptor is closed, and it begins with no blocked signals and
// the default action for SIGPIPE. The child is detached from the caller (it is re-parented at
// once), so no zombie is left behind and nothing needs waiting for.
// Returns true when the program was executed; on failure *error says why (e.g. missing
// file, not executable). *pid, when given, receives the child's process id.
bool StartProgram(const std::string& path, std::string* error = nullptr, pid_t* pid = nullptr);

// Makes writes to a closed pipe or socket fail with EPIPE instead of ending the process. Every
// program of the suite calls this first thing in main.
void IgnoreBrokenPipe();

}  // namespace rovik::platform
