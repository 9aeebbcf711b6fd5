#include "alarm/store/account_store.h"

#include <sqlite3.h>

#include "alarm/record/utf_text.h"

namespace rovik::alarm {

namespace {

// The table exactly as every copy of the store has created it.
constexpr const char* kCreateUser =
    "create table if not exists user(\t\t\t\t\t\t\t\t\t\t\t\t\t  "
    "User_account varchar(32) NOT NULL,\t\t\t\t\t\t\t\t\t\t\t  "
    "User_password varchar(256) NULL DEFAULT '',\t\t\t\t\t\t\t\t\t\t  "
    "User_name varchar(256) NULL DEFAULT '');";
constexpr const char* kDeleteUsers = "delete from user;";
constexpr const char* kLoadUsers = "Select User_account,User_password,User_name from user;";
constexpr const char* kInsertUser =
    "insert into user (User_account, User_password, User_name) values (?1, ?2, ?3)";

}  // namespace

bool AccountStore::CreateTable(StoreConnection::Use& use) { return use.Exec(kCreateUser); }

void AccountStore::DeleteAllUsers() {
  StoreConnection::Use use(connection_);
  if (sqlite3_stmt* stmt = use.Prepare(kDeleteUsers)) {
    use.Execute(stmt);
  }
}

int AccountStore::LoadUsers(UserList& list) {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(kLoadUsers);
  if (stmt == nullptr) {
    return 0;
  }
  UserList rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    auto user = std::make_unique<UserRecord>();
    CopyField(user->account, StoreCell(stmt, 0));
    CopyField(user->password, StoreCell(stmt, 1));
    CopyField(user->name, StoreCell(stmt, 2));
    rows.push_back(std::move(user));
  }
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) {
    use.NoteError();
    return 0;
  }
  for (auto& row : rows) {
    list.push_back(std::move(row));
  }
  return static_cast<int>(rows.size());
}

void AccountStore::SaveUsers(UserList& list) {
  StoreConnection::Use use(connection_);
  sqlite3_stmt* stmt = use.Prepare(kInsertUser);
  for (auto& slot : list) {
    if (slot && stmt != nullptr) {
      StoreBind(stmt, 1, FieldText(slot->account));
      StoreBind(stmt, 2, FieldText(slot->password));
      StoreBind(stmt, 3, FieldText(slot->name));
      use.Execute(stmt);
    }
    slot.reset();
  }
}

}  // namespace rovik::alarm
