// Shared helpers of the store suites: a temporary program folder and raw SQLite access to the file.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "alarm/record/alarm_record.h"
#include "alarm/record/utf_text.h"

namespace storetest {

using namespace rovik::alarm;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rovik-store-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string db() const { return path_ + "/ROVIK_ALARM.sdb"; }

 private:
  std::string path_;
};

// Raw access to a database file, the way another copy of the program (or a tool) would see it.
class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    sqlite3_busy_timeout(db_, 5000);
  }
  ~RawDb() { sqlite3_close(db_); }
  bool Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  // All rows of a query, each cell as text ("<null>" for NULL).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        row.emplace_back(t ? std::string(t, sqlite3_column_bytes(stmt, c)) : "<null>");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    return rows;
  }
  std::string Value(const std::string& sql) {
    const auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
  }

 private:
  sqlite3* db_ = nullptr;
};

inline AlarmRecord MakeAlarm(const std::string& account, const std::string& device,
                             const std::string& time, const std::u16string& user = u"User") {
  AlarmRecord r;
  ClearRecord(r);
  rovik::alarm::CopyField(r.account, account);
  rovik::alarm::CopyField(r.ipcId, "IPC-" + account);
  rovik::alarm::CopyField(r.ipcName, "Camera");
  rovik::alarm::CopyField(r.deviceName, device);
  rovik::alarm::CopyField(r.deviceType, "DS");
  rovik::alarm::CopyField(r.alarmTime, time);
  rovik::alarm::CopyField(r.userName, user);
  return r;
}

}  // namespace storetest
