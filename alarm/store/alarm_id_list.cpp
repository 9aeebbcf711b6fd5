#include "alarm/store/alarm_id_list.h"

#include <charconv>
#include <utility>

namespace rovik::alarm {

bool ParseAlarmIdList(std::string_view text, std::vector<int64_t>& ids) {
  ids.clear();
  int64_t value = 0;
  std::size_t digits = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',') {
      if (digits == 0 || ids.size() >= kMaxAlarmIds) {
        ids.clear();
        return false;
      }
      ids.push_back(value);
      value = 0;
      digits = 0;
    } else if (text[i] >= '0' && text[i] <= '9' && digits < kMaxIdDigits) {
      value = value * 10 + (text[i] - '0');
      ++digits;
    } else {
      ids.clear();
      return false;
    }
  }
  return true;
}

bool AlarmIdListToJson(std::string_view text, std::string& json) {
  std::vector<int64_t> ids;
  if (!ParseAlarmIdList(text, ids)) {
    return false;
  }
  std::string out;
  out.reserve(ids.size() * 8 + 2);
  out.push_back('[');
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) {
      out.push_back(',');
    }
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, ids[i]).ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
  }
  out.push_back(']');
  json = std::move(out);
  return true;
}

}  // namespace rovik::alarm
