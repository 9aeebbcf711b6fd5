#include "tools/rovik-send/send_text.h"

#include <cstdio>

namespace rovik::tools {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeEscapes(std::string_view text, std::string* error) {
  std::vector<uint8_t> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\') {
      out.push_back(static_cast<uint8_t>(c));
      continue;
    }
    if (++i >= text.size()) {
      if (error) *error = "trailing backslash";
      return std::nullopt;
    }
    switch (char e = text[i]) {
      case '\\':
      case '"':
      case '\'':
        out.push_back(static_cast<uint8_t>(e));
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case '0':
        out.push_back(0);
        break;
      case 'a':
        out.push_back('\a');
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'v':
        out.push_back('\v');
        break;
      case 'x': {
        int value = 0;
        int digits = 0;
        while (digits < 2 && i + 1 < text.size() && hexValue(text[i + 1]) >= 0) {
          value = value * 16 + hexValue(text[++i]);
          ++digits;
        }
        if (digits == 0) {
          if (error) *error = "\\x without hex digits";
          return std::nullopt;
        }
        out.push_back(static_cast<uint8_t>(value));
        break;
      }
      default:
        if (error) *error = std::string("unknown escape \\") + e;
        return std::nullopt;
    }
  }
  return out;
}

std::string ShowBytes(const uint8_t* data, std::size_t size) {
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    uint8_t b = data[i];
    if (b >= 0x20 && b <= 0x7E && b != '\\') {
      out.push_back(static_cast<char>(b));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 20) return std::nullopt;
  unsigned __int128 value = 0;
  for (char c : text) {
    int d = hexValue(c);
    if (d < 0 || d >= base) return std::nullopt;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (value > UINT64_MAX) return std::nullopt;
  }
  return static_cast<uint64_t>(value);
}

std::optional<std::vector<uint8_t>> ReadTextFromStream(std::FILE* in, std::string* error) {
  constexpr std::size_t kMaxText = 4u << 20;
  std::vector<uint8_t> text;
  uint8_t buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    if (text.size() + n > kMaxText) {
      if (error) *error = "the text on standard input is over 4 MiB";
      return std::nullopt;
    }
    text.insert(text.end(), buffer, buffer + n);
  }
  if (std::ferror(in)) {
    if (error) *error = "cannot read standard input";
    return std::nullopt;
  }
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

}  // namespace rovik::tools
