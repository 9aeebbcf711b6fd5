// The run-time folder RUN that holds every named object of a user session:
// $ROVIK_RUNTIME_DIR if set, else $XDG_RUNTIME_DIR/rovik when $XDG_RUNTIME_DIR is this user's own
// folder with mode 0700, else /run/user/<uid>/rovik when that folder is the user's own and 0700,
// else ${XDG_STATE_HOME:-<home>/.local/state}/rovik/run (home from the password database when
// HOME is unset). Never a guessable name in a shared folder such as /tmp, which another user
// could take first.
// It is created with mode 0700; a folder owned by someone else, or open to group or
// other, is refused, so no other user can plant or read the objects inside it.
#pragma once

#include <optional>
#include <string>

namespace rovik::platform {

// The path of RUN (created when missing), or nullopt with the reason in *error.
std::optional<std::string> RunDir(std::string* error = nullptr);

// RUN/<sub> (created when missing, same checks as RUN), e.g. "mutex", "shm", "windows".
std::optional<std::string> RunSubdir(const std::string& sub, std::string* error = nullptr);

// Creates `path` with mode 0700 when missing and checks that it is a real folder (not a
// symbolic link) owned by this user and closed to group and other.
bool EnsurePrivateDir(const std::string& path, std::string* error = nullptr);

// True when `name` can name an object inside RUN: not empty, at most 200 bytes, no '/',
// no NUL, not "." or "..".
bool IsValidObjectName(const std::string& name);

}  // namespace rovik::platform
