#include "platform/reg_file.h"

#include <cstdio>

namespace rovik::platform {
namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Reads a quoted string at `pos` (which points at the opening quote) and moves past it.
bool readQuoted(std::string_view line, std::size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      if (pos >= line.size()) return false;
      out += line[pos++];
    } else {
      out += c;
    }
  }
  return false;  // no closing quote
}

bool parseHex32(std::string_view s, uint32_t& out) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  out = v;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

}  // namespace

bool IsStorableRegText(std::string_view text) {
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\0') return false;
  }
  return true;
}

std::vector<RegValue> ParseRegFile(std::string_view text) {
  std::vector<RegValue> values;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '[' ||
        startsWith(line, "Windows Registry Editor")) {
      continue;
    }
    RegValue v;
    std::size_t pos = 0;
    if (!readQuoted(line, pos, v.name) || v.name.empty()) continue;
    if (pos >= line.size() || line[pos] != '=') continue;
    ++pos;
    std::string_view rest = line.substr(pos);
    if (startsWith(rest, "dword:")) {
      if (!parseHex32(rest.substr(6), v.dword)) continue;
      v.type = RegValue::Type::Dword;
    } else if (!rest.empty() && rest[0] == '"') {
      std::size_t p = pos;
      if (!readQuoted(line, p, v.text) || p != line.size()) continue;
      v.type = RegValue::Type::String;
    } else {
      continue;
    }
    bool replaced = false;
    for (RegValue& old : values) {
      if (old.name == v.name) {
        old = v;
        replaced = true;
      }
    }
    if (!replaced) values.push_back(std::move(v));
  }
  return values;
}

std::string FormatRegFile(const std::vector<RegValue>& values) {
  std::string out = "Windows Registry Editor Version 5.00\n\n";
  for (const RegValue& v : values) {
    appendQuoted(out, v.name);
    out += '=';
    if (v.type == RegValue::Type::Dword) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "dword:%08x", v.dword);
      out += hex;
    } else {
      appendQuoted(out, v.text);
    }
    out += '\n';
  }
  return out;
}

}  // namespace rovik::platform
