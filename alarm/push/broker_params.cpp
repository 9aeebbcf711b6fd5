#include "alarm/push/broker_params.h"

#include "alarm/record/utf_text.h"

namespace rovik::alarm {

namespace {

// Room of each login text: its field width less the terminator.
constexpr std::size_t kHostRoom = 55;
constexpr std::size_t kPortRoom = 15;
constexpr std::size_t kClientIdRoom = 127;
constexpr std::size_t kUserRoom = 55;
constexpr std::size_t kPasswordRoom = 55;

std::string Cut(std::string_view text, std::size_t room) {
  return std::string(text.substr(0, Utf8Prefix(text, room)));
}

// The text up to `separator` (from `pos`), moving `pos` behind it; false when there is none.
bool TakeUntil(std::string_view text, std::size_t& pos, char separator, std::string_view& part) {
  const std::size_t at = text.find(separator, pos);
  if (at == std::string_view::npos) {
    return false;
  }
  part = text.substr(pos, at - pos);
  pos = at + 1;
  return true;
}

// The scheme as the client takes it: tcp, ssl or mqtts; anything else is plain tcp.
std::string KnownScheme(std::string_view scheme) {
  std::string lower(scheme);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower == "ssl" || lower == "mqtts" ? lower : "tcp";
}

}  // namespace

std::optional<BrokerParams> ParseBrokerParams(std::string_view address, std::string_view login) {
  std::string joined;
  joined.reserve(address.size() + 1 + login.size());
  joined.append(address).append("~").append(login);
  if (joined.size() > kMaxBrokerText) {
    return std::nullopt;
  }
  const std::string_view text = joined;
  const std::size_t scheme = text.find("://");
  if (scheme == std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t pos = scheme + 3;
  std::string_view host, port, clientId, user;
  if (!TakeUntil(text, pos, ':', host) || !TakeUntil(text, pos, '~', port) ||
      !TakeUntil(text, pos, '~', clientId) || !TakeUntil(text, pos, '~', user)) {
    return std::nullopt;
  }
  BrokerParams params;
  params.scheme = KnownScheme(text.substr(0, scheme));
  params.host = Cut(host, kHostRoom);
  params.port = Cut(port, kPortRoom);
  params.clientId = Cut(clientId, kClientIdRoom);
  params.userName = Cut(user, kUserRoom);
  params.password = Cut(text.substr(pos), kPasswordRoom);
  return params;
}

}  // namespace rovik::alarm
