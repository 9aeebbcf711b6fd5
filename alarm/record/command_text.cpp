#include "alarm/record/command_text.h"

#include <climits>
#include <cstring>
#include <vector>

#include "alarm/record/account_text.h"
#include "alarm/record/utf_text.h"

namespace rovik::alarm {

int ReadCode(std::string_view text) {
  text = text.substr(0, kMaxCodeChars);
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1)
      break;  // saturated; further digits change nothing
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

CommandText ParseCommandText(const void* data, std::size_t size) {
  CommandText out;
  if (data == nullptr || size < 1) return out;
  const char* bytes = static_cast<const char*>(data);
  std::string_view text(bytes, strnlen(bytes, size));
  std::size_t tilde = text.find('~');
  std::string_view code = text.substr(0, tilde);
  if (code.empty()) return out;  // "~..." or an empty text: no code
  out.hasCode = true;
  out.code = ReadCode(code);
  if (tilde != std::string_view::npos) out.argument.assign(text.substr(tilde + 1));
  return out;
}

AccountList ParseAccountList(std::string_view argument) {
  AccountList out;
  std::vector<std::string> elements;
  SplitText(argument, "~", elements);
  if (elements.size() < 2) return out;
  out.enough = true;
  out.replace = ReadCode(elements[0]) == 0;
  for (std::size_t i = 1; i < elements.size(); ++i) {
    std::vector<std::string> parts;
    SplitText(elements[i], "&", parts);
    if (parts.size() < 3) continue;
    auto user = std::make_unique<UserRecord>();
    CopyField(user->account, sizeof user->account, parts[0], sizeof user->account - 1);
    if (!IsWatchableAccount(FieldText(user->account))) continue;  // never stored or watched
    CopyField(user->password, sizeof user->password, parts[1], sizeof user->password - 1);
    CopyField(user->name, sizeof user->name, parts[2], sizeof user->name - 1);
    out.users.push_back(std::move(user));
  }
  return out;
}

std::string ClientCommandText(int code, int value) {
  return std::to_string(code) + "~" + std::to_string(value);
}

}  // namespace rovik::alarm
