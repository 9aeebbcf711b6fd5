// The store: one SQLite database file "ROVIK_ALARM.sdb" in the program folder holding every
// received alarm (table Alarm, see alarm_store.h) and the watched accounts (table user, see
// account_store.h) over one connection. One process-wide instance owns the connection, shared by
// the user-interface thread and the push thread; one lock serialises every operation.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "alarm/record/alarm_record.h"
#include "alarm/store/account_store.h"
#include "alarm/store/alarm_store.h"
#include "alarm/store/store_connection.h"

namespace rovik::alarm {

class MdSQLite {
 public:
  // Shows a message to the user (caption, text). The user interface puts a message box here; the
  // store itself shows nothing. Without a hook the message goes to stderr.
  using MessageHook = std::function<void(const std::string& caption, const std::string& text)>;
  static void SetMessageHook(MessageHook hook);

  // The process-wide instance: created on the first call, none after DestroyInstance.
  static MdSQLite* GetInstance();
  // Closes the database and frees the instance; from then on GetInstance returns null.
  static void DestroyInstance();

  MdSQLite();
  virtual ~MdSQLite();
  MdSQLite(const MdSQLite&) = delete;
  MdSQLite& operator=(const MdSQLite&) = delete;

  // Opens (creating when missing) ROVIK_ALARM.sdb in `folder` (empty: the program folder, or the
  // user's data folder when the program folder is not writable, see store_folder.h), then
  // creates the tables. A failure is shown through the message hook; every later operation then
  // fails with its failure value.
  void Open(const std::string& folder = {});
  // Creates the user and Alarm tables when missing (and the lookup indexes).
  void CreateTables();
  bool IsOpen() const { return connection_.IsOpen(); }
  // Full path of the open database file; empty when none is open.
  std::string FilePath() const { return connection_.FilePath(); }
  // Full path of the database file in `folder`.
  static std::string DatabasePath(const std::string& folder);

  // While on, every wait for another connection's lock ends at once and the statement under way
  // is interrupted: the call fails instead of holding its thread. Safe from any thread; Stop of
  // the push channel turns it on while it waits for the push thread.
  void InterruptWaits(bool on) { connection_.InterruptWaits(on); }
  // SQLite's text of the last failure.
  std::string LastError() const { return connection_.LastError(); }

  // The two stores over the connection.
  AlarmStore& Alarms() { return alarms_; }
  AccountStore& Accounts() { return accounts_; }

  // Small named values kept across restarts (the push channel's broker login). Load: false when
  // none is stored or the store cannot be read.
  bool LoadSetting(std::string_view name, std::string& value);
  bool SaveSetting(std::string_view name, std::string_view value);

  // The alarm store's operations (alarm_store.h).
  static constexpr int kDeliveryKeysKept = AlarmStore::kDeliveryKeysKept;
  int InsertAlarm(AlarmRecord record) { return alarms_.InsertAlarm(record); }
  int InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey) {
    return alarms_.InsertAlarm(record, deliveryKey);
  }
  int InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey,
                  std::chrono::milliseconds busyWait) {
    return alarms_.InsertAlarm(record, deliveryKey, busyWait);
  }
  bool NoteDelivery(std::string_view deliveryKey) { return alarms_.NoteDelivery(deliveryKey); }
  bool DeliverySeen(std::string_view deliveryKey) { return alarms_.DeliverySeen(deliveryKey); }
  int GetMaxAlarmId() { return alarms_.GetMaxAlarmId(); }
  bool MarkAlarmsRead(std::string_view idList) { return alarms_.MarkAlarmsRead(idList); }
  bool MarkAlarmRead(int alarmId) { return alarms_.MarkAlarmRead(alarmId); }
  int GetUnreadCount() { return alarms_.GetUnreadCount(); }
  bool DeleteAlarms(std::string_view idList) { return alarms_.DeleteAlarms(idList); }
  int QueryAlarmsByTime(AlarmList& list, std::string_view fromTime, std::string_view toTime) {
    return alarms_.QueryAlarmsByTime(list, fromTime, toTime);
  }
  int QueryTodayAndUnread(AlarmList& list) { return alarms_.QueryTodayAndUnread(list); }
  int QueryUnread(AlarmList& list) { return alarms_.QueryUnread(list); }

  // The account store's operations (account_store.h).
  void DeleteAllUsers() { accounts_.DeleteAllUsers(); }
  int LoadUsers(UserList& list) { return accounts_.LoadUsers(list); }
  void SaveUsers(UserList& list) { accounts_.SaveUsers(list); }

 private:
  void Report(const std::string& text);

  StoreConnection connection_;
  AlarmStore alarms_{connection_};
  AccountStore accounts_{connection_};
};

}  // namespace rovik::alarm
