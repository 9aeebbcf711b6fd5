// The video client's side of the boundary with the alarm monitor: the command texts it reads
// from the monitor's WM_COPYDATA messages, the ones it sends back, and the alarm list the
// monitor leaves in the shared block "ROVIKSHARE".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "alarm/record/alarm_record.h"

namespace rovikclient {

using namespace rovik::alarm;

// What one message from the monitor says.
struct MonitorMessage {
  enum class Kind {
    Connected,    // "1~0": the monitor reached its broker and waits for the accounts
    Alarm,        // "4~" + 1240-byte record + zero byte
    ListReady,    // "6~N": N lines are in the shared block
    UnreadCount,  // "10~N"
    Other,        // any other code: tolerated, ignored
  };
  Kind kind = Kind::Other;
  int64_t value = 0;   // N of ListReady and UnreadCount
  AlarmRecord record;  // the alarm of Kind::Alarm (zeroed otherwise)
};

// Reads one message. Nothing when the text carries no code at all (empty, starts with "~", a code
// that is not a decimal number of at most 31 characters) or an alarm block of the wrong length.
std::optional<MonitorMessage> ParseMonitorMessage(const uint8_t* data, std::size_t size);

// One watched account as the client's settings give it.
struct ClientAccount {
  std::string account;
  std::string password;
  std::string name;  // UTF-8 display name
};

// "2~0~account&password&name~..." replacing the monitor's accounts, or "3~" when there are none
// (the monitor then resubscribes the accounts it has stored). Account elements carrying the
// separators "~" or "&" cannot be expressed and are left out.
std::string AccountsCommand(const std::vector<ClientAccount>& accounts);

// "5~00" (the unread alarms) or "5~YYYY-MM-DD" (one day's alarms).
std::string ListUnreadCommand();
std::string ListDayCommand(int year, int month, int day);

// "7~ids" (mark read) or "8~ids" (delete): the IDs as decimal numbers joined by ",".
std::string MarkReadCommand(const std::vector<int>& ids);
std::string DeleteCommand(const std::vector<int>& ids);

// "9~": ask for the unread count.
std::string UnreadCountCommand();

// One line of the shared alarm list, split into its ten fields.
struct AlarmLine {
  std::u16string alarmTime;
  std::u16string typeName;
  std::u16string deviceName;
  std::u16string ipcName;
  std::u16string userName;
  std::u16string readTime;
  std::u16string account;
  std::u16string ipcId;
  int id = 0;
  bool unread = false;
};

// Reads at most `count` lines from the block: one zero-terminated UTF-16LE text of lines each
// ended by "|", never read past `size` bytes. Names are not escaped by the monitor, so a line with
// extra "~" keeps the first field, the last three and puts the rest together in the middle.
std::vector<AlarmLine> ReadAlarmListBlock(const void* block, std::size_t size, int64_t count);

}  // namespace rovikclient
