#include "alarm/store/md_sqlite.h"

#include <sqlite3.h>

#include <cstdio>
#include <mutex>
#include <utility>

#include "alarm/store/private_file/private_file.h"
#include "alarm/store/store_folder.h"
#include "platform/module_path.h"

namespace rovik::alarm {

namespace {

constexpr const char* kDatabaseName = "ROVIK_ALARM.sdb";

constexpr const char* kCreateSetting =
    "create table if not exists Setting(Setting_Name text PRIMARY KEY NOT NULL, Setting_Value "
    "text);";
constexpr const char* kLoadSetting = "select Setting_Value from Setting where Setting_Name = ?1;";
constexpr const char* kSaveSetting =
    "insert or replace into Setting(Setting_Name, Setting_Value) values(?1, ?2);";

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

MdSQLite::~MdSQLite() = default;

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
  const std::string path =
      DatabasePath(folder.empty() ? StoreFolder(rovik::platform::ProgramFolder()) : folder);
  // The store holds the watched accounts' passwords and the alarm history: only its user may
  // read it. SQLite gives the -wal and -shm files it creates the mode of the database file.
  MakeFilePrivate(path, true, "RovikAlarm");
  MakeFilePrivate(path + "-wal", false, "RovikAlarm");
  MakeFilePrivate(path + "-shm", false, "RovikAlarm");
  std::string failure;
  if (!connection_.Open(path, failure)) {
    Report(failure);
    return;
  }
  CreateTables();
}

void MdSQLite::CreateTables() {
  std::string failure;
  {
    StoreConnection::Use use(connection_);
    if (!use.IsOpen()) {
      return;
    }
    // The user table first; the Alarm table is not created when it fails.
    if (AccountStore::CreateTable(use) && AlarmStore::CreateTables(use)) {
      use.Exec(kCreateSetting);  // missing: nothing is kept
    } else {
      failure = use.LastError();
    }
    use.SetLastError(failure);
  }
  if (!failure.empty()) {
    Report(failure);
  }
}

bool MdSQLite::LoadSetting(std::string_view name, std::string& value) {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(kLoadSetting);
  if (stmt == nullptr) {
    return false;
  }
  StoreBind(stmt, 1, name);
  const bool found = sqlite3_step(stmt) == SQLITE_ROW;
  if (found) {
    value.assign(StoreCell(stmt, 0));
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return found;
}

bool MdSQLite::SaveSetting(std::string_view name, std::string_view value) {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(kSaveSetting);
  if (stmt == nullptr) {
    return false;
  }
  StoreBind(stmt, 1, name);
  StoreBind(stmt, 2, value);
  return use.Execute(stmt);
}

}  // namespace rovik::alarm
