// The user's own folders: the home folder (HOME, else the password database's entry of this
// user; never a shared folder such as /tmp) and the XDG configuration and state folders in it.
#pragma once

#include <sys/stat.h>
#include <string>

namespace rovik::platform {

// $HOME when set, else the home folder of the effective user in the password database; "" when
// neither names one.
std::string HomeDir();
// $XDG_CONFIG_HOME when set, else <home>/.config; "" without a home.
std::string ConfigHome();
// $XDG_STATE_HOME when set, else <home>/.local/state; "" without a home.
std::string StateHome();

// Creates `path` and every missing folder above it, each with mode 0700; true when `path` is a
// folder afterwards.
bool MakeFolders(const std::string& path, std::string* error = nullptr);

// True when the file or folder described by `st` belongs to this user and neither its group nor
// others may write it: what the user's own settings must be before they are believed.
bool OwnedAndPrivateToWrite(const struct stat& st);

}  // namespace rovik::platform
