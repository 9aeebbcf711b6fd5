#include "alarm/cloud/http_url.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <cctype>

namespace rovik::alarm {

namespace {

bool IsHostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// Printable, no blank: what may stand in a request line.
bool IsPathChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u != 0x7f;
}

int DefaultPort(const std::string& scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return 0;
}

}  // namespace

std::optional<HttpUrlParts> SplitHttpUrl(std::string_view url) {
  HttpUrlParts parts;
  const size_t sep = url.find("://");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  parts.scheme = std::string(url.substr(0, sep));
  for (char& c : parts.scheme) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return std::nullopt;
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::string_view rest = url.substr(sep + 3);
  const size_t slash = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  if (authority.find('@') != std::string_view::npos) return std::nullopt;

  std::string_view portText;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    parts.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      portText = after.substr(1);
    }
    if (parts.host.empty() || !std::all_of(parts.host.begin(), parts.host.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        })) {
      return std::nullopt;
    }
  } else {
    const size_t colon = authority.find(':');
    parts.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    if (parts.host.empty() || !std::all_of(parts.host.begin(), parts.host.end(), IsHostChar)) {
      return std::nullopt;
    }
  }

  if (portText.empty()) {
    parts.port = DefaultPort(parts.scheme);
  } else {
    if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c));
        })) {
      return std::nullopt;
    }
    parts.port = std::stoi(std::string(portText));
  }
  if (parts.port < 1 || parts.port > 65535) return std::nullopt;

  if (!std::all_of(path.begin(), path.end(), IsPathChar)) return std::nullopt;
  parts.path = path.empty() ? "/" : std::string(path);
  if (parts.path.front() == '?') parts.path.insert(parts.path.begin(), '/');
  return parts;
}

bool IsLoopbackHost(std::string_view host) {
  const std::string text(host);
  if (strcasecmp(text.c_str(), "localhost") == 0) return true;
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, text.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool PlainHttpToAnotherMachine(std::string_view url) {
  const auto parts = SplitHttpUrl(url);
  return parts && parts->scheme == "http" && !IsLoopbackHost(parts->host);
}

}  // namespace rovik::alarm
