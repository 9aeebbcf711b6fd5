// The alarm store: one SQLite database file "ROVIK_ALARM.sdb" in the program folder holding every
// received alarm (table Alarm) and the watched accounts (table user). One process-wide instance,
// shared by the user-interface thread and the push thread; one lock serialises every operation.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "alarm/record/alarm_record.h"

struct sqlite3;
struct sqlite3_stmt;

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
  bool IsOpen() const;
  // Full path of the open database file; empty when none is open.
  std::string FilePath() const;

  // Stores an alarm; returns its new ID, -1 on failure. The record keeps its own id and state.
  int InsertAlarm(AlarmRecord record);
  // The same, and in the same transaction notes the delivery key of the message it came in (see
  // NoteDelivery), so a crash never leaves an alarm stored without its key or the other way.
  int InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey);

  // The same, waiting at most `busyWait` for another connection's lock on the database
  // (instead of the usual 10 s): the push thread keeps taking messages meanwhile.
  int InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey, std::chrono::milliseconds busyWait);

  // While on, every wait for another connection's lock ends at once and the statement under way
  // is interrupted (sqlite3_interrupt): the call fails instead of holding its thread. Safe from
  // any thread; Stop of the push channel turns it on while it waits for the push thread.
  void InterruptWaits(bool on);
  // SQLite's text of the last failure.
  std::string LastError() const;

  // Small named values kept across restarts (the push channel's broker login). Load: false when
  // none is stored or the store cannot be read.
  bool LoadSetting(std::string_view name, std::string& value);
  bool SaveSetting(std::string_view name, std::string_view value);

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

  void DeleteAllUsers();
  // Appends the stored accounts in insertion order; returns the number appended.
  int LoadUsers(UserList& list);
  // Inserts every record in order, freeing each and leaving its slot null. Errors are ignored.
  void SaveUsers(UserList& list);

  // Full path of the database file in `folder`.
  static std::string DatabasePath(const std::string& folder);

 private:
  sqlite3_stmt* Prepare(const char* sql);  // cached; requires lock_
  bool Execute(sqlite3_stmt* stmt);        // steps to the end and resets; requires lock_
  int GetMaxAlarmIdLocked();
  int NoteDeliveryLocked(std::string_view deliveryKey);  // 1 new, 0 known, -1 failed
  int InsertAlarmLocked(const AlarmRecord& record);
  int InsertAlarmWithKeyLocked(const AlarmRecord& record, std::string_view deliveryKey);
  bool ExecLocked(const char* sql);
  int QueryAlarms(AlarmList& list, const char* sql, std::string_view from, std::string_view to);
  bool RunForIdList(const char* sql, std::string_view idList, std::string_view readTime);
  void Report(const std::string& text);
  void CloseLocked();

  static int BusyWait(void* self, int count);  // SQLite's busy handler; runs under lock_

  mutable std::mutex lock_;  // guards db_, path_, statements_, lastError_, busyBound_ and busySince_
  sqlite3* db_ = nullptr;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;  // prepared once per statement text
  std::string lastError_;                                      // last error text of SQLite
  std::string path_;                                           // of the open database
  int deliveriesSincePrune_ = 0;                               // guarded by lock_
  std::chrono::milliseconds busyBound_{10000};                 // how long a call waits for a lock
  std::chrono::steady_clock::time_point busySince_{};          // the wait under way began
  std::atomic<bool> interrupted_{false};                       // InterruptWaits is on
  std::atomic<sqlite3*> openDb_{nullptr};                      // db_, for sqlite3_interrupt off the lock
};
