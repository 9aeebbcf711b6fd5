// The one SQLite connection to the store file "ROVIK_ALARM.sdb", shared by the alarm store and
// the account store. One lock serialises every statement on it: the prepared statements and the
// last error text belong to the connection, so no two threads may use them at once.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace rovik::alarm {

class StoreConnection {
 public:
  // How long a statement waits for another connection's lock on the file, unless told otherwise.
  static constexpr std::chrono::milliseconds kBusyTimeout{10000};

  StoreConnection() = default;
  ~StoreConnection();
  StoreConnection(const StoreConnection&) = delete;
  StoreConnection& operator=(const StoreConnection&) = delete;

  // Opens (creating when missing) the file at `path`, closing any file open before. False with
  // SQLite's text in `failure` when it cannot be opened.
  bool Open(const std::string& path, std::string& failure);
  bool IsOpen() const;
  // Full path of the open file; empty when none is open.
  std::string FilePath() const;
  // SQLite's text of the last failure.
  std::string LastError() const;
  // While on, every wait for another connection's lock ends at once and the statement under way
  // is interrupted (sqlite3_interrupt): the call fails instead of holding its thread. Safe from
  // any thread.
  void InterruptWaits(bool on);

  // One operation on the connection: holds the lock from its first statement to its last.
  class Use {
   public:
    explicit Use(StoreConnection& connection) : connection_(connection), guard_(connection.lock_) {}
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    bool IsOpen() const { return connection_.db_ != nullptr; }
    sqlite3* Db() const { return connection_.db_; }
    // The statement for `sql`, prepared once and kept; null when no file is open or it cannot be
    // prepared.
    sqlite3_stmt* Prepare(const char* sql);
    // Steps `stmt` to its end, then resets it and clears its values; false unless it finished.
    bool Execute(sqlite3_stmt* stmt);
    // Runs statement text as it stands; false on failure.
    bool Exec(const char* sql);
    // Records SQLite's text of the failure just now (or `text`) as the last error.
    void NoteError();
    void SetLastError(std::string text) { connection_.lastError_ = std::move(text); }
    const std::string& LastError() const { return connection_.lastError_; }
    // How long the following statements wait for another connection's lock on the file.
    void SetBusyBound(std::chrono::milliseconds bound) { connection_.busyBound_ = bound; }

   private:
    StoreConnection& connection_;
    std::lock_guard<std::mutex> guard_;
  };

 private:
  void CloseLocked();
  static int BusyWait(void* self, int count);  // SQLite's busy handler; runs under lock_

  mutable std::mutex
      lock_;  // guards db_, path_, statements_, lastError_, busyBound_ and busySince_
  sqlite3* db_ = nullptr;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;  // prepared once per statement text
  std::string lastError_;                                      // last error text of SQLite
  std::string path_;                                           // of the open file
  std::chrono::milliseconds busyBound_{kBusyTimeout};          // how long a call waits for a lock
  std::chrono::steady_clock::time_point busySince_{};          // the wait under way began
  std::atomic<bool> interrupted_{false};                       // InterruptWaits is on
  std::atomic<sqlite3*> openDb_{nullptr};  // db_, for sqlite3_interrupt off the lock
};

// The text of a result cell; a NULL cell reads as empty.
std::string_view StoreCell(sqlite3_stmt* stmt, int column);
// Binds `text` (copied) to the statement's parameter `index`.
void StoreBind(sqlite3_stmt* stmt, int index, std::string_view text);

}  // namespace rovik::alarm
