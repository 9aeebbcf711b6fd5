// Creating the folders that a caller's file path names.
#pragma once

#include <string>

namespace rovik::player {

// Creates every missing folder on `path` (the part before the last separator), one level at a
// time. Both "/" and "\\" separate folders. Failures are ignored: the file creation that follows
// fails on its own.
void EnsureDirectories(const char* path);

// The path as a file is created at: every "\\" turned into "/", so that the file lands in the
// folders EnsureDirectories made.
std::string NormalizePath(const char* path);

}  // namespace rovik::player
