// Alarm ID lists as the video client and the history browser send them: decimal IDs separated by
// "," ("12,15"). This is the one parser of that text; anything else is refused whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rovik::alarm {

// Most IDs one list may name, and most digits of one ID.
inline constexpr std::size_t kMaxAlarmIds = 100000;
inline constexpr std::size_t kMaxIdDigits = 18;

// Parses `text` into `ids`; false (and `ids` emptied) unless the whole text is one or more runs
// of 1..18 decimal digits separated by single commas, with at most kMaxAlarmIds of them.
bool ParseAlarmIdList(std::string_view text, std::vector<int64_t>& ids);

// The same list as a JSON array text ("[12,15]"), the form bound into the store's statements.
bool AlarmIdListToJson(std::string_view text, std::string& json);

}  // namespace rovik::alarm
