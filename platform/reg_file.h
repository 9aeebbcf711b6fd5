// The .reg text of one registry key: parsed and written in this one place.
//     "Name"=dword:0000002a
//     "Name"="text with \\ and \" escaped"
// Blank lines and lines starting with ';', '[' or "Windows Registry Editor" are ignored, as
// are lines that are not a well-formed value (a hand-edited file never breaks a reader).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rovik::platform {

struct RegValue {
  enum class Type { Dword, String };
  std::string name;
  Type type = Type::String;
  uint32_t dword = 0;
  std::string text;
};

// Values in file order; a later line for the same name replaces the earlier one.
std::vector<RegValue> ParseRegFile(std::string_view text);

// The file text for `values`, with a header line naming the format.
std::string FormatRegFile(const std::vector<RegValue>& values);

// True when `text` fits on one .reg line (no CR, LF or NUL).
bool IsStorableRegText(std::string_view text);

}  // namespace rovik::platform
