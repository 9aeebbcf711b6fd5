#include "alarm/store/alarm_store.h"

#include <sqlite3.h>

#include <string>

#include "alarm/record/utf_text.h"
#include "alarm/store/alarm_id_list.h"

namespace rovik::alarm {

namespace {

// The table exactly as every copy of the store has created it.
constexpr const char* kCreateAlarm =
    "create table if not exists Alarm(\t\t\t\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_ID integer PRIMARY KEY AUTOINCREMENT NOT NULL,\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_Account varchar(32) NOT NULL,\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_Password varchar(256) NULL,\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_Username varchar(256) NULL default '',\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_IpcID varchar(64) NOT NULL,\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_IpcName varchar(64) NULL DEFAULT '',\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_DevName varchar(256),\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_DevType varchar(32) NOT NULL,\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_Time DataTime NOT NULL DEFAULT (datetime('now','localtime')),\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_RecvTime DataTime NOT NULL DEFAULT (datetime('now','localtime')),\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_ReadTime DataTime NULL DEFAULT '',\t\t\t\t\t\t\t\t\t\t  "
    "Alarm_State integer NOT NULL DEFAULT 0);";
// Lookup indexes: the unread alarms, and the time ranges of the lists.
constexpr const char* kCreateIndexes =
    "create index if not exists Alarm_State_Index on Alarm(Alarm_State);"
    "create index if not exists Alarm_Time_Index on Alarm(Alarm_Time);"
    "create index if not exists Alarm_RecvTime_Index on Alarm(Alarm_RecvTime);";

// The keys of the messages taken from the broker, oldest first (rowid order).
constexpr const char* kCreateDelivery =
    "create table if not exists AlarmDelivery(Delivery_Key text PRIMARY KEY NOT NULL);";
constexpr const char* kNoteDelivery =
    "insert or ignore into AlarmDelivery(Delivery_Key) values(?1);";
constexpr const char* kDeliverySeen = "select 1 from AlarmDelivery where Delivery_Key = ?1;";
constexpr const char* kPruneDelivery =
    "delete from AlarmDelivery where rowid <= (select max(rowid) from AlarmDelivery) - ?1;";
constexpr int kPruneEvery = 256;

constexpr const char* kInsertAlarm =
    "Insert into Alarm(Alarm_Account,Alarm_Username,Alarm_IpcID,Alarm_IpcName,Alarm_DevName,"
    "Alarm_DevType,Alarm_Time) values(?1,?2,?3,?4,?5,?6,?7);";
constexpr const char* kMaxAlarmId = "Select MAX(Alarm_ID) from Alarm;";
constexpr const char* kMarkAlarmsRead =
    "update Alarm set Alarm_State = 1,Alarm_ReadTime = ?2 where Alarm_ID in "
    "(select value from json_each(?1));";
constexpr const char* kMarkAlarmRead =
    "Update Alarm set Alarm_State = '1',Alarm_ReadTime = datetime('now','localtime')  where  "
    "Alarm_ID = ?1;";
constexpr const char* kUnreadCount =
    "select count(Alarm_ID) from Alarm where Alarm_state = 0 order by Alarm_Time desc;";
constexpr const char* kDeleteAlarms =
    "delete from Alarm  where Alarm_ID in (select value from json_each(?1));";
constexpr const char* kQueryByTime =
    "select Alarm_ID, Alarm_Account, Alarm_Username, Alarm_IpcID,Alarm_IpcName,Alarm_DevName,"
    "Alarm_DevType,Alarm_Time,Alarm_ReadTime,Alarm_State from Alarm \t\t\t\t\t  "
    "where Alarm_Time >=  ?1 and Alarm_Time <= ?2 order by Alarm_Time desc;";
constexpr const char* kQueryTodayAndUnread =
    "select Alarm_ID, Alarm_Account, Alarm_Username, Alarm_IpcID,Alarm_IpcName,Alarm_DevName,"
    "Alarm_DevType,Alarm_Time,Alarm_ReadTime,Alarm_State \t\t\t\t\t  from Alarm \t\t\t\t\t  "
    "where (Alarm_RecvTime >= ?1 and Alarm_RecvTime <= ?2) or Alarm_State = 0 \t\t\t\t\t  "
    "order by Alarm_Time desc;";
constexpr const char* kQueryUnread =
    "select Alarm_ID, Alarm_Account, Alarm_Username, Alarm_IpcID,Alarm_IpcName,Alarm_DevName,"
    "Alarm_DevType,Alarm_Time,Alarm_ReadTime,Alarm_State from Alarm \t\t\t\t\t  "
    "where Alarm_State = '0' order by Alarm_Time desc;";

}  // namespace

bool AlarmStore::CreateTables(StoreConnection::Use& use) {
  if (!use.Exec(kCreateAlarm)) {
    return false;
  }
  use.Exec(kCreateIndexes);   // a lookup aid only
  use.Exec(kCreateDelivery);  // missing: no key is noted
  return true;
}

int AlarmStore::InsertAlarm(const AlarmRecord& record) {
  StoreConnection::Use use(connection_);
  return InsertAlarmLocked(use, record);
}

int AlarmStore::InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey,
                            std::chrono::milliseconds busyWait) {
  StoreConnection::Use use(connection_);
  use.SetBusyBound(busyWait);
  const int id = InsertAlarmWithKeyLocked(use, record, deliveryKey);
  use.SetBusyBound(StoreConnection::kBusyTimeout);
  return id;
}

int AlarmStore::InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey) {
  StoreConnection::Use use(connection_);
  return InsertAlarmWithKeyLocked(use, record, deliveryKey);
}

int AlarmStore::InsertAlarmWithKeyLocked(StoreConnection::Use& use, const AlarmRecord& record,
                                         std::string_view deliveryKey) {
  if (!use.IsOpen() || !use.Exec("begin immediate;")) {
    return -1;
  }
  NoteDeliveryLocked(use, deliveryKey);  // a key that cannot be noted never costs the alarm
  const int id = InsertAlarmLocked(use, record);
  if (id <= 0 || !use.Exec("commit;")) {
    use.Exec("rollback;");
    return -1;
  }
  return id;
}

bool AlarmStore::NoteDelivery(std::string_view deliveryKey) {
  StoreConnection::Use use(connection_);
  return NoteDeliveryLocked(use, deliveryKey) == 1;
}

bool AlarmStore::DeliverySeen(std::string_view deliveryKey) {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(kDeliverySeen);
  if (stmt == nullptr) {
    return false;
  }
  StoreBind(stmt, 1, deliveryKey);
  const bool seen = sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return seen;
}

int AlarmStore::NoteDeliveryLocked(StoreConnection::Use& use, std::string_view deliveryKey) {
  sqlite3_stmt* stmt = use.Prepare(kNoteDelivery);
  if (stmt == nullptr) {
    return -1;
  }
  StoreBind(stmt, 1, deliveryKey);
  if (!use.Execute(stmt)) {
    return -1;
  }
  const bool added = sqlite3_changes(use.Db()) > 0;
  if (added && ++deliveriesSincePrune_ >= kPruneEvery) {
    deliveriesSincePrune_ = 0;
    if (sqlite3_stmt* prune = use.Prepare(kPruneDelivery)) {
      sqlite3_bind_int(prune, 1, kDeliveryKeysKept);
      use.Execute(prune);
    }
  }
  return added ? 1 : 0;
}

int AlarmStore::InsertAlarmLocked(StoreConnection::Use& use, const AlarmRecord& record) {
  sqlite3_stmt* stmt = use.Prepare(kInsertAlarm);
  if (stmt == nullptr) {
    return -1;
  }
  StoreBind(stmt, 1, FieldText(record.account));
  StoreBind(stmt, 2, Utf16ToUtf8(FieldText(record.userName)));
  StoreBind(stmt, 3, FieldText(record.ipcId));
  StoreBind(stmt, 4, FieldText(record.ipcName));
  StoreBind(stmt, 5, FieldText(record.deviceName));
  StoreBind(stmt, 6, FieldText(record.deviceType));
  StoreBind(stmt, 7, FieldText(record.alarmTime));
  if (!use.Execute(stmt)) {
    return -1;
  }
  return GetMaxAlarmIdLocked(use);
}

int AlarmStore::GetMaxAlarmId() {
  StoreConnection::Use use(connection_);
  return GetMaxAlarmIdLocked(use);
}

int AlarmStore::GetMaxAlarmIdLocked(StoreConnection::Use& use) {
  sqlite3_stmt* stmt = use.Prepare(kMaxAlarmId);
  if (stmt == nullptr) {
    return -1;
  }
  int id = -1;
  if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
    id = sqlite3_column_int(stmt, 0);
  }
  sqlite3_reset(stmt);
  return id;
}

bool AlarmStore::RunForIdList(const char* sql, std::string_view idList, std::string_view readTime) {
  std::string ids;
  if (!AlarmIdListToJson(idList, ids)) {
    return false;
  }
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(sql);
  if (stmt == nullptr) {
    return false;
  }
  StoreBind(stmt, 1, ids);
  if (!readTime.empty()) {
    StoreBind(stmt, 2, readTime);
  }
  return use.Execute(stmt);
}

bool AlarmStore::MarkAlarmsRead(std::string_view idList) {
  return RunForIdList(kMarkAlarmsRead, idList, CurrentLocalTimeText());
}

bool AlarmStore::DeleteAlarms(std::string_view idList) {
  return RunForIdList(kDeleteAlarms, idList, {});
}

bool AlarmStore::MarkAlarmRead(int alarmId) {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(kMarkAlarmRead);
  if (stmt == nullptr) {
    return false;
  }
  sqlite3_bind_int(stmt, 1, alarmId);
  return use.Execute(stmt);
}

int AlarmStore::GetUnreadCount() {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(kUnreadCount);
  if (stmt == nullptr) {
    return 1;
  }
  int count = 1;
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    count = sqlite3_column_int(stmt, 0);
  } else {
    use.NoteError();
  }
  sqlite3_reset(stmt);
  return count;
}

int AlarmStore::QueryAlarms(AlarmList& list, const char* sql, std::string_view from,
                            std::string_view to) {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(sql);
  if (stmt == nullptr) {
    return 0;
  }
  if (sqlite3_bind_parameter_count(stmt) >= 2) {
    StoreBind(stmt, 1, from);
    StoreBind(stmt, 2, to);
  }
  AlarmList rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    auto record = std::make_unique<AlarmRecord>();
    ClearRecord(*record);
    record->id = sqlite3_column_int(stmt, 0);
    CopyField(record->account, StoreCell(stmt, 1), 30);
    CopyField(record->userName, Utf8ToUtf16(StoreCell(stmt, 2)), 255);
    CopyField(record->ipcId, StoreCell(stmt, 3), 30);
    CopyField(record->ipcName, StoreCell(stmt, 4), 254);
    CopyField(record->deviceName, StoreCell(stmt, 5), 254);
    CopyField(record->deviceType, StoreCell(stmt, 6), 14);
    CopyField(record->alarmTime, StoreCell(stmt, 7), 62);
    CopyField(record->readTime, StoreCell(stmt, 8), 62);
    record->state = sqlite3_column_int(stmt, 9);
    rows.push_back(std::move(record));
  }
  const bool ok = rc == SQLITE_DONE;
  if (!ok) {
    use.NoteError();
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  if (!ok) {
    return 0;  // a failed query hands out nothing
  }
  for (auto& row : rows) {
    list.push_back(std::move(row));
  }
  return static_cast<int>(rows.size());
}

int AlarmStore::QueryAlarmsByTime(AlarmList& list, std::string_view fromTime,
                                  std::string_view toTime) {
  return QueryAlarms(list, kQueryByTime, fromTime, toTime);
}

int AlarmStore::QueryTodayAndUnread(AlarmList& list) {
  const std::string today = CurrentLocalTimeText().substr(0, 10);
  return QueryAlarms(list, kQueryTodayAndUnread, today + " 00:00:00", today + " 23:59:59");
}

int AlarmStore::QueryUnread(AlarmList& list) { return QueryAlarms(list, kQueryUnread, {}, {}); }

}  // namespace rovik::alarm
