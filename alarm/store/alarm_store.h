// The received alarms (table Alarm) and the keys of the broker messages they came in (table
// AlarmDelivery), over the store file's one connection.
#pragma once

#include <chrono>
#include <string_view>

#include "alarm/record/alarm_record.h"
#include "alarm/store/store_connection.h"

namespace rovik::alarm {

class AlarmStore {
 public:
  explicit AlarmStore(StoreConnection& connection) : connection_(connection) {}
  AlarmStore(const AlarmStore&) = delete;
  AlarmStore& operator=(const AlarmStore&) = delete;

  // Creates the Alarm table, its lookup indexes and the delivery keys' table when missing. False
  // (SQLite's text noted as the last error) when the Alarm table cannot be created.
  static bool CreateTables(StoreConnection::Use& use);

  // Stores an alarm; returns its new ID, -1 on failure. The record keeps its own id and state.
  int InsertAlarm(const AlarmRecord& record);
  // The same, and in the same transaction notes the delivery key of the message it came in (see
  // NoteDelivery), so a crash never leaves an alarm stored without its key or the other way.
  int InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey);
  // The same, waiting at most `busyWait` for another connection's lock on the database
  // (instead of the usual 10 s): the push thread keeps taking messages meanwhile.
  int InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey,
                  std::chrono::milliseconds busyWait);

  // Delivery keys name the messages taken from the broker (topic and payload), so that a
  // message the broker sends again after an outage is stored once. The newest kDeliveryKeysKept
  // keys are kept, across restarts.
  static constexpr int kDeliveryKeysKept = 4096;
  // Notes a key; false when it was noted already (or the store is closed).
  bool NoteDelivery(std::string_view deliveryKey);
  bool DeliverySeen(std::string_view deliveryKey);

  // Largest stored alarm ID; -1 when the query fails or the table is empty.
  int GetMaxAlarmId();
  // Marks the listed alarms (decimal IDs separated by ",") read now. A list of any other form is
  // refused whole (false, nothing changes).
  bool MarkAlarmsRead(std::string_view idList);
  bool MarkAlarmRead(int alarmId);
  // Number of unread alarms; 1 when the query fails.
  int GetUnreadCount();
  bool DeleteAlarms(std::string_view idList);
  // Alarms with fromTime <= Alarm_Time <= toTime, newest first; appended to `list`. Returns the
  // number appended (0 on failure).
  int QueryAlarmsByTime(AlarmList& list, std::string_view fromTime, std::string_view toTime);
  // Alarms stored today (local date) or unread, newest alarm time first.
  int QueryTodayAndUnread(AlarmList& list);
  int QueryUnread(AlarmList& list);

 private:
  int GetMaxAlarmIdLocked(StoreConnection::Use& use);
  int NoteDeliveryLocked(StoreConnection::Use& use,
                         std::string_view deliveryKey);  // 1 new, 0 known, -1 failed
  int InsertAlarmLocked(StoreConnection::Use& use, const AlarmRecord& record);
  int InsertAlarmWithKeyLocked(StoreConnection::Use& use, const AlarmRecord& record,
                               std::string_view deliveryKey);
  int QueryAlarms(AlarmList& list, const char* sql, std::string_view from, std::string_view to);
  bool RunForIdList(const char* sql, std::string_view idList, std::string_view readTime);

  StoreConnection& connection_;
  int deliveriesSincePrune_ = 0;  // guarded by the connection's lock
};

}  // namespace rovik::alarm
