// The running program's own path and its folder, the program folder
// in which the suite's programs, libraries, database and FILE sub-folders lie.
#pragma once

#include <string>

namespace rovik::platform {

// Full path of the running executable (/proc/self/exe), or "" when it cannot be read.
std::string ModuleFileName();

// The folder of ModuleFileName(), without a trailing '/'; "" when unknown.
std::string ProgramFolder();

// The file name of ModuleFileName() (e.g. "RovikAlarm"), the prefix of the program's debug-log
// lines; "rovik" when unknown.
std::string ProgramName();

}  // namespace rovik::platform
