// The broker parameters the push channel connects with: parsed from the broker address of the
// lookup reply ("tcp://host:port", or "ssl://host:port" / "mqtts://host:port" for a broker reached
// over TLS) and the login of the device registration reply ("clientId~user~password"), joined as
// address "~" login.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rovik::alarm {

struct BrokerParams {
  std::string scheme = "tcp";  // "tcp", "ssl" or "mqtts" (lower case); any other scheme is "tcp"
  std::string host;            // at most 55 bytes
  std::string port;            // at most 15 bytes
  std::string clientId;        // at most 127 bytes
  std::string userName;        // at most 55 bytes
  std::string password;        // at most 55 bytes

  // "scheme://host:port", the server text of the client.
  std::string ServerText() const { return scheme + "://" + host + ":" + port; }
  // The broker is reached over TLS.
  bool Tls() const { return scheme != "tcp"; }
  bool operator==(const BrokerParams&) const = default;
};

// Longest joined text taken (the parse works on a 256-byte copy).
inline constexpr std::size_t kMaxBrokerText = 255;

// Parses address "~" login: the scheme before "://" (kept when it is tcp, ssl or mqtts in any
// case; anything else connects as tcp, as before TLS was known), host from behind "://" to the
// next ":", port to the next "~", client
// identifier to the next "~", user name to the next "~", the rest the password. Each part is cut
// to its room. nullopt when a separator is missing or the joined text is longer than 255 bytes.
std::optional<BrokerParams> ParseBrokerParams(std::string_view address, std::string_view login);

}  // namespace rovik::alarm
