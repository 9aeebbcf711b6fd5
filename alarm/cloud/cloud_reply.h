// Reading the replies of the cloud requests. Every reply text (a server body or a failure text
// of the request queue) is parsed here, bounded, and only the members the monitor uses are taken.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rovik::alarm {

// The integer value of member "errno"; 0 when the reply is not a JSON object, has no "errno",
// or its "errno" is not a number (a boolean counts as 0/1).
long long HttpReplyErrno(std::string_view reply);

// Broker lookup (HTTP_REQ_BROKER_LOOKUP): member "c" as text when the reply is a JSON object
// whose errno is 0 and whose "c" is present, not null and a scalar; nullopt otherwise. When
// `requireTls`, an address that would be reached in clear (any scheme but ssl:// or mqtts://, or
// none) is refused too, with one debug-log line: the broker login must not cross the network
// readable.
std::optional<std::string> BrokerAddressFromReply(std::string_view reply, bool requireTls);
// The same with requireTls = BrokerNeedsTls() of this deployment (a lookup over https:// or a
// configured CA).
std::optional<std::string> BrokerAddressFromReply(std::string_view reply);

// Device registration (HTTP_REQ_DEVICE_REG): the text c "~" u "~" p of a JSON object with at
// least one member and errno 0. Each part appears only when its member is present and not null (an
// array or object counts as absent), followed by "~" for c and u. nullopt when the reply does not
// qualify.
std::optional<std::string> DeviceLoginFromReply(std::string_view reply);

// Heartbeat (HTTP_REQ_HEARTBEAT): true when the reply is a JSON value with at least one member
// and a non-zero errno, i.e. the server refused the heartbeat account (or the transport failed).
bool HeartbeatRefused(std::string_view reply);

}  // namespace rovik::alarm
