// Splitting a request URL into the parts a connection needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rovik::alarm {

struct HttpUrlParts {
  std::string scheme;  // lower case, e.g. "http"
  std::string host;    // without brackets or port
  int port = 0;        // from the URL, else the scheme's default (80 http, 443 https)
  std::string path;    // "/" when the URL has none; query kept
};

// Splits scheme://host[:port][/path]. nullopt when the text is no URL of that form: no
// "://", an unknown scheme without a port, an empty host, a port outside 1..65535, user
// information, or characters that cannot appear in a request line.
std::optional<HttpUrlParts> SplitHttpUrl(std::string_view url);

// True when `host` (as SplitHttpUrl gives it) is this machine: "localhost", an address of
// 127.0.0.0/8, or ::1. Names are not resolved.
bool IsLoopbackHost(std::string_view host);

// True when a request to `url` would cross the network readable: an http:// URL whose host is
// not this machine. Account passwords are never sent there. (A URL that is no http:// or https://
// URL at all is not sent by the transport either.)
bool PlainHttpToAnotherMachine(std::string_view url);

}  // namespace rovik::alarm
