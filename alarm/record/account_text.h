// Which account texts may be watched: an account is an MQTT topic of its own, so a text that is
// empty, holds a wildcard ("#", "+") or starts or ends with "/" (a topic level of nothing) would
// watch other accounts' alarms or none. Such texts are neither stored nor subscribed.
#pragma once

#include <string_view>

namespace rovik::alarm {

bool IsWatchableAccount(std::string_view account);

}  // namespace rovik::alarm
