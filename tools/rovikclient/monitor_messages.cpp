#include "tools/rovikclient/monitor_messages.h"

#include <algorithm>
#include <charconv>
#include <cstring>

using namespace rovik::alarm;

namespace rovikclient {
namespace {

constexpr std::size_t kMaxCodeDigits = 31;
constexpr std::size_t kAlarmBlockSize = 2 + sizeof(AlarmRecord) + 1;

// The decimal value of an argument such as "3" of "6~3"; 0 for anything that is not one.
int64_t ArgumentValue(std::string_view argument) {
  int64_t value = 0;
  auto end = argument.data() + argument.size();
  auto [ptr, ec] = std::from_chars(argument.data(), end, value);
  if (ec != std::errc() || ptr == argument.data()) return 0;
  return value;
}

std::string JoinIds(char code, const std::vector<int>& ids) {
  std::string text(1, code);
  text += '~';
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(ids[i]);
  }
  return text;
}

bool Expressible(const std::string& field) {
  return field.find_first_of("~&") == std::string::npos && field.find('\0') == std::string::npos;
}

std::vector<std::u16string_view> SplitFields(std::u16string_view line) {
  std::vector<std::u16string_view> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t tilde = line.find(u'~', start);
    if (tilde == std::u16string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tilde - start));
    start = tilde + 1;
  }
}

AlarmLine LineFromFields(const std::vector<std::u16string_view>& fields) {
  AlarmLine line;
  if (fields.size() < 10) {
    if (!fields.empty()) line.alarmTime = fields[0];
    return line;
  }
  // Fields 2 to 7 may have swallowed extra "~"; the first and last three are fixed.
  const std::size_t extra = fields.size() - 10;
  line.alarmTime = fields[0];
  line.typeName = fields[1];
  std::u16string middle;
  for (std::size_t i = 2; i <= 2 + extra; ++i) {
    if (i > 2) middle += u'~';
    middle += fields[i];
  }
  line.deviceName = middle;
  line.ipcName = fields[3 + extra];
  line.userName = fields[4 + extra];
  line.readTime = fields[5 + extra];
  line.account = fields[6 + extra];
  line.ipcId = fields[7 + extra];
  std::string digits;
  for (char16_t c : fields[8 + extra]) digits += (c < 128) ? static_cast<char>(c) : '?';
  line.id = static_cast<int>(ArgumentValue(digits));
  line.unread = fields[9 + extra] == u"未读";
  return line;
}

}  // namespace

std::optional<MonitorMessage> ParseMonitorMessage(const uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return std::nullopt;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t tilde = text.find('~');
  const std::string_view code = text.substr(0, tilde);
  if (code.empty() || code.size() > kMaxCodeDigits) return std::nullopt;
  if (!std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const std::string_view argument =
      tilde == std::string_view::npos ? std::string_view() : text.substr(tilde + 1);

  MonitorMessage message;
  ClearRecord(message.record);
  if (code == "1") {
    message.kind = MonitorMessage::Kind::Connected;
  } else if (code == "4") {
    if (size != kAlarmBlockSize || tilde != 1) return std::nullopt;
    message.kind = MonitorMessage::Kind::Alarm;
    std::memcpy(&message.record, data + 2, sizeof(AlarmRecord));
  } else if (code == "6") {
    message.kind = MonitorMessage::Kind::ListReady;
    message.value = ArgumentValue(argument);
  } else if (code == "10") {
    message.kind = MonitorMessage::Kind::UnreadCount;
    message.value = ArgumentValue(argument);
  }
  return message;
}

std::string AccountsCommand(const std::vector<ClientAccount>& accounts) {
  std::string text = "2~0";
  int listed = 0;
  for (const auto& a : accounts) {
    if (a.account.empty() || !Expressible(a.account) || !Expressible(a.password) ||
        !Expressible(a.name)) {
      continue;
    }
    // The monitor skips an element with fewer than three non-empty "&" parts.
    text += '~' + a.account + '&' + (a.password.empty() ? "NULL" : a.password) + '&' +
            (a.name.empty() ? a.account : a.name);
    ++listed;
  }
  return listed > 0 ? text : std::string("3~");
}

std::string ListUnreadCommand() { return "5~00"; }

std::string ListDayCommand(int year, int month, int day) {
  char text[32];
  std::snprintf(text, sizeof text, "5~%04d-%02d-%02d", year, month, day);
  return text;
}

std::string MarkReadCommand(const std::vector<int>& ids) { return JoinIds('7', ids); }
std::string DeleteCommand(const std::vector<int>& ids) { return JoinIds('8', ids); }
std::string UnreadCountCommand() { return "9~"; }

std::vector<AlarmLine> ReadAlarmListBlock(const void* block, std::size_t size, int64_t count) {
  std::vector<AlarmLine> lines;
  if (block == nullptr || count <= 0) return lines;
  const auto* bytes = static_cast<const uint8_t*>(block);
  const std::size_t units = size / 2;
  std::u16string text;
  for (std::size_t i = 0; i < units; ++i) {
    char16_t c = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  std::size_t start = 0;
  while (static_cast<int64_t>(lines.size()) < count && start < text.size()) {
    std::size_t bar = text.find(u'|', start);
    if (bar == std::u16string::npos) break;  // a line without its "|" is not complete
    lines.push_back(
        LineFromFields(SplitFields(std::u16string_view(text).substr(start, bar - start))));
    start = bar + 1;
  }
  return lines;
}

}  // namespace rovikclient
