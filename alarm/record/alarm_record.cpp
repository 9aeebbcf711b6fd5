#include "alarm/record/alarm_record.h"

#include <json/json.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "alarm/record/utf_text.h"

namespace rovik::alarm {

namespace {

// Room (bytes of text, terminator excluded) of the fields a message fills.
constexpr std::size_t kAccountRoom = 30;
constexpr std::size_t kIpcIdRoom = 30;
constexpr std::size_t kNameRoom = 254;
constexpr std::size_t kTypeRoom = 14;
constexpr std::size_t kTimeRoom = 19;
// JSON nesting deeper than this is refused rather than followed.
constexpr int kJsonNestingLimit = 32;
constexpr std::size_t kLineUnits = 1024;
constexpr std::size_t kMaxPiece = 4094;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// A time is convertible to an OLE date (and back to the same fields) when every field is in range
// and the year lies within 100..9999.
bool ValidOleTime(const SystemTime& t) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 100 || t.year > 9999 || t.month < 1 || t.month > 12) {
    return false;
  }
  const int days = kDays[t.month - 1] + (t.month == 2 && IsLeap(t.year) ? 1 : 0);
  return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour < 24 && t.minute >= 0 &&
         t.minute < 60 && t.second >= 0 && t.second < 60;
}

// Days since 1899-12-30 on the continuous scale (milliseconds ignored, as the OLE date does).
double ContinuousOleDate(const SystemTime& t) {
  const int64_t days =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
      DaysFromCivil(1899, 12, 30);
  const double fraction = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
  return static_cast<double>(days) + fraction;
}

std::string ReadString(const Json::Value& root, const char* name) {
  const Json::Value& v = root[name];
  return v.isString() ? v.asString() : std::string();
}

// almTime as a 64-bit count of seconds: an integral number, or a real one cut toward zero.
bool ReadSeconds(const Json::Value& v, int64_t& seconds) {
  if (v.isInt64()) {
    seconds = v.asInt64();
    return true;
  }
  if (v.isDouble()) {
    const double d = v.asDouble();
    if (std::isfinite(d) && d > -9.2e18 && d < 9.2e18) {
      seconds = static_cast<int64_t>(d);
      return true;
    }
  }
  return false;
}

bool ParsePayload(const char* begin, std::size_t length, Json::Value& root) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["stackLimit"] = kJsonNestingLimit;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(begin, begin + length, &root, &errors);
  } catch (const std::exception&) {
    return false;  // nesting limit exceeded
  }
}

}  // namespace

SystemTime CurrentUtcTime() {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  return SystemTime{
      tm.tm_year + 1900,          tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
      static_cast<int>(ms % 1000)};
}

std::string FormatLocalTime(int64_t seconds) {
  tzset();  // the zone may have changed since the last conversion
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) {
    return {};
  }
  const int64_t year = static_cast<int64_t>(tm.tm_year) + 1900;
  if (year < 0 || year > 9999) {
    return {};
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", static_cast<unsigned>(year),
                static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday),
                static_cast<unsigned>(tm.tm_hour), static_cast<unsigned>(tm.tm_min),
                static_cast<unsigned>(tm.tm_sec));
  return text;
}

std::string CurrentLocalTimeText() {
  return FormatLocalTime(static_cast<int64_t>(std::time(nullptr)));
}

void ClearRecord(AlarmRecord& record) { std::memset(&record, 0, sizeof record); }

void FillRecordFromMessage(AlarmRecord& record, std::string_view topic, const void* payload,
                           std::size_t length) {
  Json::Value root;
  if (payload != nullptr && length > 0 && length <= kMaxAlarmPayload &&
      ParsePayload(static_cast<const char*>(payload), length, root) && root.isObject() &&
      root.size() >= 1) {
    const Json::Value& err = root["errno"];
    const bool failed =
        err.isInt64() ? err.asInt64() != 0 : (err.isUInt64() && err.asUInt64() != 0);
    if (!failed) {
      CopyField(record.ipcId, ReadString(root, "ipcId"), kIpcIdRoom);
      CopyField(record.ipcName, ReadString(root, "ipcName"), kNameRoom);
      CopyField(record.deviceName, ReadString(root, "deviceName"), kNameRoom);
      CopyField(record.deviceType, ReadString(root, "deviceType"), kTypeRoom);
      int64_t seconds = 0;
      if (ReadSeconds(root["almTime"], seconds)) {
        CopyField(record.alarmTime, FormatLocalTime(seconds), kTimeRoom);
      }
    }
  }
  CopyField(record.account, topic, kAccountRoom);
}

std::string MakeDuplicateKey(const AlarmRecord& record) {
  std::string key(FieldText(record.account));
  key += '~';
  key += FieldText(record.deviceName);
  key += '~';
  key += FieldText(record.deviceType);
  return key;
}

int64_t ElapsedSeconds(SystemTime& stored, const UtcClock& clock) {
  const SystemTime now = clock();
  int64_t seconds = 0;
  if (ValidOleTime(now) && ValidOleTime(stored)) {
    const double days = ContinuousOleDate(now) - ContinuousOleDate(stored);
    constexpr double kHalfSecond = 0.5 / 86400.0;
    constexpr double kMaxSpanDays = 3615897.0;
    if (days >= -kMaxSpanDays && days <= kMaxSpanDays) {
      seconds = static_cast<int64_t>((days + (days > 0 ? kHalfSecond : -kHalfSecond)) * 86400.0);
    }
  }
  stored = now;
  return seconds;
}

bool AcceptAlarm(std::string_view topic, std::string_view key, std::string& lastTopic,
                 std::string& lastKey, SystemTime& lastTime, const UtcClock& clock) {
  if (!lastKey.empty() && !lastTopic.empty() && topic == lastTopic && key == lastKey &&
      ElapsedSeconds(lastTime, clock) < 10) {
    return false;
  }
  lastTopic = topic;
  lastKey = key;
  lastTime = clock();
  return true;
}

bool AlarmTimeSeconds(std::string_view text, int64_t& seconds) {
  if (text.size() != 19) {
    return false;
  }
  int fields[6] = {};
  static constexpr int kStart[] = {0, 5, 8, 11, 14, 17};
  static constexpr int kDigits[] = {4, 2, 2, 2, 2, 2};
  static constexpr char kAfter[] = {'-', '-', ' ', ':', ':', '\0'};
  for (int i = 0; i < 6; ++i) {
    for (int d = 0; d < kDigits[i]; ++d) {
      const char c = text[static_cast<std::size_t>(kStart[i] + d)];
      if (c < '0' || c > '9') {
        return false;
      }
      fields[i] = fields[i] * 10 + (c - '0');
    }
    if (kAfter[i] != '\0' && text[static_cast<std::size_t>(kStart[i] + kDigits[i])] != kAfter[i]) {
      return false;
    }
  }
  const SystemTime t{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0};
  if (!ValidOleTime(t)) {
    return false;
  }
  seconds =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) * 86400 +
      t.hour * 3600 + t.minute * 60 + t.second;
  return true;
}

bool AcceptAlarm(std::string_view topic, std::string_view key, std::string_view alarmTime,
                 RepeatState& last, const UtcClock& clock) {
  int64_t now = 0;
  int64_t before = 0;
  const bool ownTimes =
      AlarmTimeSeconds(alarmTime, now) && AlarmTimeSeconds(last.alarmTime, before);
  if (!ownTimes) {
    last.alarmTime.assign(alarmTime);
    return AcceptAlarm(topic, key, last.topic, last.key, last.time, clock);
  }
  // Each alarm tested moves the reference on, as the arrival time does in the rule above.
  last.alarmTime.assign(alarmTime);
  if (!last.key.empty() && !last.topic.empty() && topic == last.topic && key == last.key) {
    last.time = clock();
    if ((now > before ? now - before : before - now) < 10) {
      return false;
    }
  }
  last.topic = topic;
  last.key = key;
  last.time = clock();
  return true;
}

std::u16string_view AlarmTypeName(std::string_view code) {
  struct Entry {
    std::string_view code;
    std::u16string_view name;
  };
  static constexpr Entry kTypes[] = {
      {"DS", u"门磁打开"}, {"EB", u"紧急按钮"}, {"GA", u"瓦斯泄露"},   {"PD", u"红外报警"},
      {"SF", u"火灾烟雾"}, {"WA", u"漏水报警"}, {"MA", u"移动报警器"},
  };
  for (const Entry& e : kTypes) {
    if (code == e.code) {
      return e.name;
    }
  }
  return u"有报警";
}

void AlarmTypeName(std::string_view code, char16_t* buffer, std::size_t units) {
  if (buffer != nullptr && units > 0) {
    CopyField(buffer, units, AlarmTypeName(code), units - 1);
  }
}

std::u16string FormatAlarmLine(const AlarmRecord& record, bool withBar) {
  std::u16string line;
  line.reserve(512);
  const auto field = [&line](std::u16string_view text) {
    for (char16_t unit : text) {
      line += unit == u'~' ? u'\uFF5E' : unit == u'|' ? u'\uFF5C' : unit;
    }
    line += u'~';
  };
  field(Utf8ToUtf16(FieldText(record.alarmTime)));
  field(AlarmTypeName(FieldText(record.deviceType)));
  field(Utf8ToUtf16(FieldText(record.deviceName)));
  field(Utf8ToUtf16(FieldText(record.ipcName)));
  field(FieldText(record.userName));
  field(Utf8ToUtf16(FieldText(record.readTime)));
  field(Utf8ToUtf16(FieldText(record.account)));
  field(Utf8ToUtf16(FieldText(record.ipcId)));
  const std::string id = std::to_string(record.id);
  line.append(id.begin(), id.end());
  line += u'~';
  line += record.state == 0 ? u"未读" : u"已读";
  if (withBar) {
    line += u'|';
  }
  return line;
}

std::size_t WriteAlarmList(AlarmList& list, void* block, std::size_t blockSize) {
  if (block == nullptr || blockSize < 2) {
    return 0;
  }
  std::memset(block, 0, blockSize);
  // Room for the lines: never the last code unit, which stays the text's terminator.
  const std::size_t limit = std::min(kAlarmListMaxBytes, blockSize - 2);
  auto* out = static_cast<unsigned char*>(block);
  std::size_t used = 0;
  std::size_t written = 0;
  for (auto& slot : list) {
    if (!slot) {
      continue;
    }
    std::u16string line = FormatAlarmLine(*slot, true);
    if (line.size() > kLineUnits - 1) {
      line.resize(kLineUnits - 1);  // the line buffer's room; real records never reach it
    }
    slot.reset();
    const std::size_t bytes = line.size() * 2;
    if (used + bytes > limit) {
      break;
    }
    for (char16_t unit : line) {  // UTF-16LE whatever the host order
      out[used++] = static_cast<unsigned char>(unit & 0xFF);
      out[used++] = static_cast<unsigned char>(unit >> 8);
    }
    ++written;
  }
  return written;
}

int SplitText(std::string_view text, std::string_view separator, std::vector<std::string>& list) {
  const auto take = [&list](std::string_view piece) {
    if (!piece.empty() && piece.size() <= kMaxPiece) {
      list.emplace_back(piece);
    }
  };
  if (separator.empty()) {
    take(text);
  } else {
    std::size_t start = 0;
    for (;;) {
      const std::size_t at = text.find(separator, start);
      if (at == std::string_view::npos) {
        take(text.substr(start));
        break;
      }
      take(text.substr(start, at - start));
      start = at + separator.size();
    }
  }
  return static_cast<int>(list.size());
}

}  // namespace rovik::alarm
