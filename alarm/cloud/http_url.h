// Splitting a request URL into the parts a connection needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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
