#include "alarm/store/md_sqlite.h"

#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <thread>
#include <utility>

#include "alarm/record/utf_text.h"
#include "alarm/store/alarm_id_list.h"
#include "alarm/store/private_file/private_file.h"
#include "alarm/store/store_folder.h"
#include "platform/module_path.h"

using rovik::CopyField;
using rovik::FieldText;

namespace {

constexpr const char* kDatabaseName = "ROVIK_ALARM.sdb";
constexpr std::chrono::milliseconds kBusyTimeout{10000};
constexpr std::chrono::milliseconds kBusyPoll{5};

// The two tables exactly as every copy of the store has created them.
constexpr const char* kCreateUser =
    "create table if not exists user(\t\t\t\t\t\t\t\t\t\t\t\t\t  "
    "User_account varchar(32) NOT NULL,\t\t\t\t\t\t\t\t\t\t\t  "
    "User_password varchar(256) NULL DEFAULT '',\t\t\t\t\t\t\t\t\t\t  "
    "User_name varchar(256) NULL DEFAULT '');";
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
constexpr const char* kNoteDelivery = "insert or ignore into AlarmDelivery(Delivery_Key) values(?1);";
constexpr const char* kDeliverySeen = "select 1 from AlarmDelivery where Delivery_Key = ?1;";
constexpr const char* kPruneDelivery =
    "delete from AlarmDelivery where rowid <= (select max(rowid) from AlarmDelivery) - ?1;";
constexpr int kPruneEvery = 256;

constexpr const char* kCreateSetting =
    "create table if not exists Setting(Setting_Name text PRIMARY KEY NOT NULL, Setting_Value text);";
constexpr const char* kLoadSetting = "select Setting_Value from Setting where Setting_Name = ?1;";
constexpr const char* kSaveSetting = "insert or replace into Setting(Setting_Name, Setting_Value) values(?1, ?2);";

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
constexpr const char* kDeleteUsers = "delete from user;";
constexpr const char* kLoadUsers = "Select User_account,User_password,User_name from user;";
constexpr const char* kInsertUser =
    "insert into user (User_account, User_password, User_name) values (?1, ?2, ?3)";

// The text of a result cell; a NULL cell reads as empty.
std::string_view Cell(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  if (text == nullptr) {
    return {};
  }
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}

void Bind(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text(stmt, index, text.data() != nullptr ? text.data() : "",
                    static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}
MdSQLite::MessageHook& Hook() {  // guarded by HookLock()
  static MdSQLite::MessageHook hook;
  return hook;
}

// The process-wide instance and whether it has been destroyed; touched on the start-up thread.
MdSQLite* gInstance = nullptr;
bool gDestroyed = false;

}  // namespace

void MdSQLite::SetMessageHook(MessageHook hook) {
  std::lock_guard<std::mutex> guard(HookLock());
  Hook() = std::move(hook);
}

MdSQLite* MdSQLite::GetInstance() {
  if (gInstance == nullptr && !gDestroyed) {
    gInstance = new MdSQLite();
  }
  return gInstance;
}

void MdSQLite::DestroyInstance() {
  delete gInstance;
  gInstance = nullptr;
  gDestroyed = true;
}

MdSQLite::MdSQLite() = default;

MdSQLite::~MdSQLite() {
  std::lock_guard<std::mutex> guard(lock_);
  CloseLocked();
}

void MdSQLite::CloseLocked() {
  for (auto& entry : statements_) {
    sqlite3_finalize(entry.second);
  }
  statements_.clear();
  if (db_ != nullptr && sqlite3_close(db_) == SQLITE_OK) {
    db_ = nullptr;
    openDb_ = nullptr;
    path_.clear();
  }
}

std::string MdSQLite::DatabasePath(const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') {
    path += '/';
  }
  return path + kDatabaseName;
}

void MdSQLite::Report(const std::string& text) {
  MessageHook hook;
  {
    std::lock_guard<std::mutex> guard(HookLock());
    hook = Hook();
  }
  if (hook) {
    hook("Error", text);
  } else {
    std::fprintf(stderr, "RovikAlarm: %s\n", text.c_str());
  }
}

void MdSQLite::Open(const std::string& folder) {
  const std::string path = DatabasePath(folder.empty() ? rovik::store::StoreFolder(rovik::platform::ProgramFolder()) : folder);
  std::string failure;
  {
    std::lock_guard<std::mutex> guard(lock_);
    CloseLocked();
    // The store holds the watched accounts' passwords and the alarm history: only its user may
    // read it. SQLite gives the -wal and -shm files it creates the mode of the database file.
    rovik::MakeFilePrivate(path, true, "RovikAlarm");
    rovik::MakeFilePrivate(path + "-wal", false, "RovikAlarm");
    rovik::MakeFilePrivate(path + "-shm", false, "RovikAlarm");
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      failure = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
      sqlite3_close(db);
    } else {
      db_ = db;
      openDb_ = db;
      path_ = path;
      busyBound_ = kBusyTimeout;
      sqlite3_busy_handler(db_, &MdSQLite::BusyWait, this);
      // Readers never wait for the writer. Every commit reaches the disk before it counts: an
      // alarm the broker was told we have must survive a power loss, not only a crash.
      sqlite3_exec(db_, "pragma journal_mode=WAL;", nullptr, nullptr, nullptr);
      sqlite3_exec(db_, "pragma synchronous=FULL;", nullptr, nullptr, nullptr);
    }
  }
  if (!failure.empty()) {
    Report(failure);
    return;
  }
  CreateTables();
}

void MdSQLite::CreateTables() {
  std::string failure;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (db_ == nullptr) {
      return;
    }
    for (const char* sql : {kCreateUser, kCreateAlarm}) {
      char* error = nullptr;
      if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        failure = error != nullptr ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        break;
      }
    }
    if (failure.empty()) {
      sqlite3_exec(db_, kCreateIndexes, nullptr, nullptr, nullptr);  // a lookup aid only
      sqlite3_exec(db_, kCreateDelivery, nullptr, nullptr, nullptr);  // missing: no key is noted
      sqlite3_exec(db_, kCreateSetting, nullptr, nullptr, nullptr);   // missing: nothing is kept
    }
    lastError_ = failure;
  }
  if (!failure.empty()) {
    Report(failure);
  }
}

int MdSQLite::BusyWait(void* self, int count) {
  auto* store = static_cast<MdSQLite*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) {
    store->busySince_ = now;
  }
  if (store->interrupted_.load() || now - store->busySince_ >= store->busyBound_) {
    return 0;  // SQLITE_BUSY for the statement
  }
  std::this_thread::sleep_for(kBusyPoll);
  return 1;
}

void MdSQLite::InterruptWaits(bool on) {
  interrupted_ = on;
  if (on) {
    if (sqlite3* db = openDb_.load()) {
      sqlite3_interrupt(db);
    }
    return;
  }
  // SQLite forgets an interrupt only when a statement starts with none running; until then it
  // would also cut short the checkpoint of the closing connection (leaving the -wal file).
  std::lock_guard<std::mutex> guard(lock_);
  if (db_ != nullptr) {
    sqlite3_exec(db_, "select 1;", nullptr, nullptr, nullptr);
  }
}

std::string MdSQLite::LastError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastError_;
}

bool MdSQLite::LoadSetting(std::string_view name, std::string& value) {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(kLoadSetting);
  if (stmt == nullptr) {
    return false;
  }
  Bind(stmt, 1, name);
  const bool found = sqlite3_step(stmt) == SQLITE_ROW;
  if (found) {
    value.assign(Cell(stmt, 0));
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return found;
}

bool MdSQLite::SaveSetting(std::string_view name, std::string_view value) {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(kSaveSetting);
  if (stmt == nullptr) {
    return false;
  }
  Bind(stmt, 1, name);
  Bind(stmt, 2, value);
  return Execute(stmt);
}

std::string MdSQLite::FilePath() const {
  std::lock_guard<std::mutex> guard(lock_);
  return path_;
}

bool MdSQLite::IsOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return db_ != nullptr;
}

sqlite3_stmt* MdSQLite::Prepare(const char* sql) {
  if (db_ == nullptr) {
    return nullptr;
  }
  const auto found = statements_.find(sql);
  if (found != statements_.end()) {
    return found->second;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    lastError_ = sqlite3_errmsg(db_);
    return nullptr;
  }
  statements_.emplace(sql, stmt);
  return stmt;
}

bool MdSQLite::Execute(sqlite3_stmt* stmt) {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    lastError_ = sqlite3_errmsg(db_);
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return rc == SQLITE_DONE;
}

int MdSQLite::InsertAlarm(AlarmRecord record) {
  std::lock_guard<std::mutex> guard(lock_);
  return InsertAlarmLocked(record);
}

int MdSQLite::InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey,
                          std::chrono::milliseconds busyWait) {
  std::lock_guard<std::mutex> guard(lock_);
  busyBound_ = busyWait;
  const int id = InsertAlarmWithKeyLocked(record, deliveryKey);
  busyBound_ = kBusyTimeout;
  return id;
}

int MdSQLite::InsertAlarm(const AlarmRecord& record, std::string_view deliveryKey) {
  std::lock_guard<std::mutex> guard(lock_);
  return InsertAlarmWithKeyLocked(record, deliveryKey);
}

int MdSQLite::InsertAlarmWithKeyLocked(const AlarmRecord& record, std::string_view deliveryKey) {
  if (db_ == nullptr || !ExecLocked("begin immediate;")) {
    return -1;
  }
  NoteDeliveryLocked(deliveryKey);  // a key that cannot be noted never costs the alarm
  const int id = InsertAlarmLocked(record);
  if (id <= 0 || !ExecLocked("commit;")) {
    ExecLocked("rollback;");
    return -1;
  }
  return id;
}

bool MdSQLite::NoteDelivery(std::string_view deliveryKey) {
  std::lock_guard<std::mutex> guard(lock_);
  return NoteDeliveryLocked(deliveryKey) == 1;
}

bool MdSQLite::DeliverySeen(std::string_view deliveryKey) {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(kDeliverySeen);
  if (stmt == nullptr) {
    return false;
  }
  Bind(stmt, 1, deliveryKey);
  const bool seen = sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return seen;
}

int MdSQLite::NoteDeliveryLocked(std::string_view deliveryKey) {
  sqlite3_stmt* stmt = Prepare(kNoteDelivery);
  if (stmt == nullptr) {
    return -1;
  }
  Bind(stmt, 1, deliveryKey);
  if (!Execute(stmt)) {
    return -1;
  }
  const bool added = sqlite3_changes(db_) > 0;
  if (added && ++deliveriesSincePrune_ >= kPruneEvery) {
    deliveriesSincePrune_ = 0;
    if (sqlite3_stmt* prune = Prepare(kPruneDelivery)) {
      sqlite3_bind_int(prune, 1, kDeliveryKeysKept);
      Execute(prune);
    }
  }
  return added ? 1 : 0;
}

bool MdSQLite::ExecLocked(const char* sql) {
  char* error = nullptr;
  const bool ok = sqlite3_exec(db_, sql, nullptr, nullptr, &error) == SQLITE_OK;
  if (!ok) {
    lastError_ = error != nullptr ? error : sqlite3_errmsg(db_);
  }
  sqlite3_free(error);
  return ok;
}

int MdSQLite::InsertAlarmLocked(const AlarmRecord& record) {
  sqlite3_stmt* stmt = Prepare(kInsertAlarm);
  if (stmt == nullptr) {
    return -1;
  }
  Bind(stmt, 1, FieldText(record.account));
  Bind(stmt, 2, rovik::Utf16ToUtf8(FieldText(record.userName)));
  Bind(stmt, 3, FieldText(record.ipcId));
  Bind(stmt, 4, FieldText(record.ipcName));
  Bind(stmt, 5, FieldText(record.deviceName));
  Bind(stmt, 6, FieldText(record.deviceType));
  Bind(stmt, 7, FieldText(record.alarmTime));
  if (!Execute(stmt)) {
    return -1;
  }
  return GetMaxAlarmIdLocked();
}

int MdSQLite::GetMaxAlarmId() {
  std::lock_guard<std::mutex> guard(lock_);
  return GetMaxAlarmIdLocked();
}

int MdSQLite::GetMaxAlarmIdLocked() {
  sqlite3_stmt* stmt = Prepare(kMaxAlarmId);
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

bool MdSQLite::RunForIdList(const char* sql, std::string_view idList, std::string_view readTime) {
  std::string ids;
  if (!rovik::AlarmIdListToJson(idList, ids)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(sql);
  if (stmt == nullptr) {
    return false;
  }
  Bind(stmt, 1, ids);
  if (!readTime.empty()) {
    Bind(stmt, 2, readTime);
  }
  return Execute(stmt);
}

bool MdSQLite::MarkAlarmsRead(std::string_view idList) {
  return RunForIdList(kMarkAlarmsRead, idList, CurrentLocalTimeText());
}

bool MdSQLite::DeleteAlarms(std::string_view idList) { return RunForIdList(kDeleteAlarms, idList, {}); }

bool MdSQLite::MarkAlarmRead(int alarmId) {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(kMarkAlarmRead);
  if (stmt == nullptr) {
    return false;
  }
  sqlite3_bind_int(stmt, 1, alarmId);
  return Execute(stmt);
}

int MdSQLite::GetUnreadCount() {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(kUnreadCount);
  if (stmt == nullptr) {
    return 1;
  }
  int count = 1;
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    count = sqlite3_column_int(stmt, 0);
  } else {
    lastError_ = sqlite3_errmsg(db_);
  }
  sqlite3_reset(stmt);
  return count;
}

int MdSQLite::QueryAlarms(AlarmList& list, const char* sql, std::string_view from, std::string_view to) {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(sql);
  if (stmt == nullptr) {
    return 0;
  }
  if (sqlite3_bind_parameter_count(stmt) >= 2) {
    Bind(stmt, 1, from);
    Bind(stmt, 2, to);
  }
  AlarmList rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    auto record = std::make_unique<AlarmRecord>();
    ClearRecord(*record);
    record->id = sqlite3_column_int(stmt, 0);
    CopyField(record->account, Cell(stmt, 1), 30);
    CopyField(record->userName, rovik::Utf8ToUtf16(Cell(stmt, 2)), 255);
    CopyField(record->ipcId, Cell(stmt, 3), 30);
    CopyField(record->ipcName, Cell(stmt, 4), 254);
    CopyField(record->deviceName, Cell(stmt, 5), 254);
    CopyField(record->deviceType, Cell(stmt, 6), 14);
    CopyField(record->alarmTime, Cell(stmt, 7), 62);
    CopyField(record->readTime, Cell(stmt, 8), 62);
    record->state = sqlite3_column_int(stmt, 9);
    rows.push_back(std::move(record));
  }
  const bool ok = rc == SQLITE_DONE;
  if (!ok) {
    lastError_ = sqlite3_errmsg(db_);
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

int MdSQLite::QueryAlarmsByTime(AlarmList& list, std::string_view fromTime, std::string_view toTime) {
  return QueryAlarms(list, kQueryByTime, fromTime, toTime);
}

int MdSQLite::QueryTodayAndUnread(AlarmList& list) {
  const std::string today = CurrentLocalTimeText().substr(0, 10);
  return QueryAlarms(list, kQueryTodayAndUnread, today + " 00:00:00", today + " 23:59:59");
}

int MdSQLite::QueryUnread(AlarmList& list) { return QueryAlarms(list, kQueryUnread, {}, {}); }

void MdSQLite::DeleteAllUsers() {
  std::lock_guard<std::mutex> guard(lock_);
  if (sqlite3_stmt* stmt = Prepare(kDeleteUsers)) {
    Execute(stmt);
  }
}

int MdSQLite::LoadUsers(UserList& list) {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(kLoadUsers);
  if (stmt == nullptr) {
    return 0;
  }
  UserList rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    auto user = std::make_unique<UserRecord>();
    CopyField(user->account, Cell(stmt, 0));
    CopyField(user->password, Cell(stmt, 1));
    CopyField(user->name, Cell(stmt, 2));
    rows.push_back(std::move(user));
  }
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) {
    lastError_ = sqlite3_errmsg(db_);
    return 0;
  }
  for (auto& row : rows) {
    list.push_back(std::move(row));
  }
  return static_cast<int>(rows.size());
}

void MdSQLite::SaveUsers(UserList& list) {
  std::lock_guard<std::mutex> guard(lock_);
  sqlite3_stmt* stmt = Prepare(kInsertUser);
  for (auto& slot : list) {
    if (slot && stmt != nullptr) {
      Bind(stmt, 1, FieldText(slot->account));
      Bind(stmt, 2, FieldText(slot->password));
      Bind(stmt, 3, FieldText(slot->name));
      Execute(stmt);
    }
    slot.reset();
  }
}
