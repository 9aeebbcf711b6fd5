#include "platform/debug_log.h"

#include <unistd.h>
#include <string>

namespace rovik::platform {

void DebugLog(std::string_view library, std::string_view text) {
  std::string line;
  line.reserve(library.size() + text.size() + 3);
  line.append(library).append(": ").append(text);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  // One write call, so lines of several threads do not interleave.
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || c == '\\') {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace rovik::platform
