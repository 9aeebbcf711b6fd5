// Command texts of the monitor's endpoint: a byte text code "~" argument, carried in copy-data
// messages (platform/window_link.h) from the video client and the launcher. Every command text
// is read here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "alarm/record/alarm_record.h"

namespace rovik::alarm {

// Command codes received by the popup.
enum CommandCode : int {
  kCmdQuit = 0,
  kCmdAccounts = 2,
  kCmdResubscribe = 3,
  kCmdListAlarms = 5,
  kCmdMarkRead = 7,
  kCmdDelete = 8,
  kCmdUnreadCount = 9,
};
// Codes sent to the video client.
enum ClientCode : int {
  kClientConnected = 1,
  kClientAlarm = 4,
  kClientAlarmList = 6,
  kClientUnreadCount = 10,
};

// The code part is read from at most this many characters.
inline constexpr std::size_t kMaxCodeChars = 31;

struct CommandText {
  bool hasCode = false;  // false: no text, or it starts with "~" (answered 1, nothing done)
  int code = 0;          // the code part read as atoi does, saturated at the int range
  std::string argument;  // the text after the first "~" (empty when there is none)
};

// Reads `size` bytes as the endpoint does: copied into a zero-terminated buffer, so the text
// ends at the first zero byte; the code is the text up to the first "~" (the whole text when
// there is none), the argument what follows that "~".
CommandText ParseCommandText(const void* data, std::size_t size);

// atoi of the first kMaxCodeChars characters of `text`: leading blanks, an optional sign, then
// digits; anything else ends the number. Out-of-range values saturate (INT_MAX / INT_MIN).
int ReadCode(std::string_view text);

// Account list of command 2: elements separated by "~" (empty ones skipped). `enough` is false
// when there are fewer than two elements (nothing is to be done). The first element read as a
// code decides `replace` (0: delete the stored accounts first). Each further element with at
// least three "&"-parts gives one record (account, password, display name), each cut to its
// field at a character boundary; elements with fewer parts are skipped, and so are elements
// whose account may not be watched (IsWatchableAccount: empty, a wildcard, "/" at either end).
struct AccountList {
  bool enough = false;
  bool replace = false;
  UserList users;
};
AccountList ParseAccountList(std::string_view argument);

// The "%d~%d" text sent to the client.
std::string ClientCommandText(int code, int value);

}  // namespace rovik::alarm
