#include "alarm/store/store_connection.h"

#include <sqlite3.h>

#include <thread>
#include <utility>

namespace rovik::alarm {

namespace {

constexpr std::chrono::milliseconds kBusyPoll{5};

}  // namespace

std::string_view StoreCell(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  if (text == nullptr) {
    return {};
  }
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}

void StoreBind(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text(stmt, index, text.data() != nullptr ? text.data() : "",
                    static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

StoreConnection::~StoreConnection() {
  std::lock_guard<std::mutex> guard(lock_);
  CloseLocked();
}

void StoreConnection::CloseLocked() {
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

bool StoreConnection::Open(const std::string& path, std::string& failure) {
  std::lock_guard<std::mutex> guard(lock_);
  CloseLocked();
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    failure = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return false;
  }
  db_ = db;
  openDb_ = db;
  path_ = path;
  busyBound_ = kBusyTimeout;
  sqlite3_busy_handler(db_, &StoreConnection::BusyWait, this);
  // Readers never wait for the writer. Every commit reaches the disk before it counts: an alarm
  // the broker was told we have must survive a power loss, not only a crash.
  sqlite3_exec(db_, "pragma journal_mode=WAL;", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "pragma synchronous=FULL;", nullptr, nullptr, nullptr);
  return true;
}

int StoreConnection::BusyWait(void* self, int count) {
  auto* connection = static_cast<StoreConnection*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) {
    connection->busySince_ = now;
  }
  if (connection->interrupted_.load() || now - connection->busySince_ >= connection->busyBound_) {
    return 0;  // SQLITE_BUSY for the statement
  }
  std::this_thread::sleep_for(kBusyPoll);
  return 1;
}

void StoreConnection::InterruptWaits(bool on) {
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

bool StoreConnection::IsOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return db_ != nullptr;
}

std::string StoreConnection::FilePath() const {
  std::lock_guard<std::mutex> guard(lock_);
  return path_;
}

std::string StoreConnection::LastError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastError_;
}

sqlite3_stmt* StoreConnection::Use::Prepare(const char* sql) {
  StoreConnection& c = connection_;
  if (c.db_ == nullptr) {
    return nullptr;
  }
  const auto found = c.statements_.find(sql);
  if (found != c.statements_.end()) {
    return found->second;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(c.db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    NoteError();
    return nullptr;
  }
  c.statements_.emplace(sql, stmt);
  return stmt;
}

bool StoreConnection::Use::Execute(sqlite3_stmt* stmt) {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    NoteError();
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return rc == SQLITE_DONE;
}

bool StoreConnection::Use::Exec(const char* sql) {
  char* error = nullptr;
  const bool ok = sqlite3_exec(connection_.db_, sql, nullptr, nullptr, &error) == SQLITE_OK;
  if (!ok) {
    if (error != nullptr) {
      SetLastError(error);
    } else {
      NoteError();
    }
  }
  sqlite3_free(error);
  return ok;
}

void StoreConnection::Use::NoteError() { connection_.lastError_ = sqlite3_errmsg(connection_.db_); }

}  // namespace rovik::alarm
