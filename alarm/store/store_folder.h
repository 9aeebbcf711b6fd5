// Where the alarm store lives: the program folder, as the suite keeps it, unless this user
// cannot write there (the suite installed for the whole system, e.g. the Debian package's
// /usr/lib/rovik); then the user's own data folder ${XDG_DATA_HOME:-~/.local/share}/rovik.
#pragma once

#include <string>

namespace rovik::alarm {

// `programFolder` when this user may write into it; otherwise the data folder, created with mode
// 0700 when missing; "" when neither XDG_DATA_HOME nor HOME names a place for it.
std::string StoreFolder(const std::string& programFolder);

}  // namespace rovik::alarm
