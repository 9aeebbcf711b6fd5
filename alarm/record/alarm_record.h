// The alarm in its three forms: the JSON alarm message of the push service, the fixed 1240-byte
// AlarmRecord (stored, paged by the popup, sent byte for byte to the video client) and the alarm
// text line ("~"-joined fields) of the lists. Also the alarm type table, the duplicate rule of
// arriving alarms and the watched-account record UserRecord.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rovik::alarm {

static_assert(std::endian::native == std::endian::little,
              "AlarmRecord crosses to the video client as it lies in memory: little-endian only");

// One alarm. Offsets are part of the format shared with the video client.
struct AlarmRecord {
  int32_t id;              // Alarm_ID; 0 in a record not read from the store
  int32_t state;           // Alarm_State: 0 unread, other values read
  char account[32];        // the user account (the topic the message came on)
  char ipcId[32];          // UTF-8: ID of the camera linked to the alarm
  char ipcName[256];       // UTF-8: name of that camera
  char deviceName[256];    // UTF-8: name of the sensor that raised the alarm
  char deviceType[16];     // alarm type code ("DS", "EB", ...)
  char alarmTime[64];      // local time "YYYY-MM-DD hh:mm:ss"
  char readTime[64];       // same form; empty while unread
  char16_t userName[256];  // UTF-16LE: the user's display name
};

static_assert(sizeof(char16_t) == 2);
static_assert(offsetof(AlarmRecord, id) == 0);
static_assert(offsetof(AlarmRecord, state) == 4);
static_assert(offsetof(AlarmRecord, account) == 8);
static_assert(offsetof(AlarmRecord, ipcId) == 40);
static_assert(offsetof(AlarmRecord, ipcName) == 72);
static_assert(offsetof(AlarmRecord, deviceName) == 328);
static_assert(offsetof(AlarmRecord, deviceType) == 584);
static_assert(offsetof(AlarmRecord, alarmTime) == 600);
static_assert(offsetof(AlarmRecord, readTime) == 664);
static_assert(offsetof(AlarmRecord, userName) == 728);
static_assert(sizeof(AlarmRecord) == 1240);

// One watched account (544 bytes): zero-terminated byte strings.
struct UserRecord {
  char account[32];
  char password[256];
  char name[256];  // UTF-8 display name
};
static_assert(sizeof(UserRecord) == 544);

// Lists of records: each record its own heap block, owned by whoever asked for the list.
using AlarmList = std::vector<std::unique_ptr<AlarmRecord>>;
using UserList = std::vector<std::unique_ptr<UserRecord>>;

// A calendar time to the millisecond, as the system clock gives it (UTC unless stated).
struct SystemTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// Source of the current UTC time; tests put their own clock in place of the system's.
using UtcClock = std::function<SystemTime()>;
SystemTime CurrentUtcTime();

// Size of the shared alarm-list block, and the most bytes of lines it takes.
inline constexpr std::size_t kAlarmListBlockSize = 524288;
inline constexpr std::size_t kAlarmListMaxBytes = 524287;
// A payload above this size is not parsed (the record keeps account and user name only).
inline constexpr std::size_t kMaxAlarmPayload = 64 * 1024;

// All 1240 bytes zero.
void ClearRecord(AlarmRecord& record);

// Fills `record` (already cleared, userName set) from a message: the JSON payload (`length`
// bytes, not zero-terminated) gives the device fields and the alarm time, the topic the account.
// Never throws; a payload that is not a JSON object, carries a non-zero errno or is too large
// leaves only account (and userName) filled.
void FillRecordFromMessage(AlarmRecord& record, std::string_view topic, const void* payload,
                           std::size_t length);

// "account~deviceName~deviceType".
std::string MakeDuplicateKey(const AlarmRecord& record);

// Whole seconds from `stored` (UTC) to now, rounded to the nearest second, halves away from zero;
// milliseconds do not count. `stored` becomes now. An invalid time gives 0.
int64_t ElapsedSeconds(SystemTime& stored, const UtcClock& clock = CurrentUtcTime);

// The duplicate rule: false when the same topic and key came less than 10 seconds after the last
// test; otherwise true and the last values become this alarm's.
bool AcceptAlarm(std::string_view topic, std::string_view key, std::string& lastTopic,
                 std::string& lastKey, SystemTime& lastTime,
                 const UtcClock& clock = CurrentUtcTime);

// What the duplicate rule remembers of the last alarm it looked at.
struct RepeatState {
  std::string topic;      // of the last accepted alarm
  std::string key;        // of the last accepted alarm
  SystemTime time;        // arrival (UTC) of the last accepted alarm or of the last test
  std::string alarmTime;  // the alarm time text of the last alarm tested ("" when it had none)
};

// The duplicate rule judged by the alarms' own times: when this alarm and the last one tested
// both carry an alarm time ("YYYY-MM-DD hh:mm:ss"), a repeat is one whose alarm time lies less
// than 10 seconds from the last one's, so a backlog delivered in one burst is kept whole while a
// sensor that fires twice within 10 s is still dropped. Without an alarm time on either side the
// arrival times decide, as above.
bool AcceptAlarm(std::string_view topic, std::string_view key, std::string_view alarmTime,
                 RepeatState& last, const UtcClock& clock = CurrentUtcTime);

// Seconds since 1970 of an alarm time text read as UTC (only differences are used); false when
// the text is not of the form "YYYY-MM-DD hh:mm:ss".
bool AlarmTimeSeconds(std::string_view text, int64_t& seconds);

// Display name of an alarm type code ("有报警" for any code not in the table).
std::u16string_view AlarmTypeName(std::string_view code);
// The same copied into a caller buffer of `units` code units (at least 16), zero-terminated.
void AlarmTypeName(std::string_view code, char16_t* buffer, std::size_t units);

// The ten fields joined with "~", with the closing "|" when `withBar` (the video client's form).
// A "~" or "|" inside a field is written as the full-width "～" (U+FF5E) or "｜" (U+FF5C), so a
// name cannot split its line into fields or lines of the sender's choosing; the record itself
// keeps the bytes it was given.
std::u16string FormatAlarmLine(const AlarmRecord& record, bool withBar);

// Clears the shared block (`blockSize` bytes) and writes the lines of `list` in order, each record
// freed (slot set null) as it is taken; stops before the first line that would take the lines
// past kAlarmListMaxBytes (or past blockSize - 2). Returns the number of lines written.
std::size_t WriteAlarmList(AlarmList& list, void* block,
                           std::size_t blockSize = kAlarmListBlockSize);

// Appends the non-empty pieces of `text` between occurrences of `separator` (pieces over 4094
// bytes are left out) to `list`; returns the list's new length.
int SplitText(std::string_view text, std::string_view separator, std::vector<std::string>& list);

// Local time (honouring TZ) of `seconds` since 1970 UTC as "YYYY-MM-DD hh:mm:ss"; empty when the
// time has no four-digit year.
std::string FormatLocalTime(int64_t seconds);
// The current local time in the same form.
std::string CurrentLocalTimeText();

}  // namespace rovik::alarm
