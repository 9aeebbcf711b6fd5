// The watched accounts (table user), over the store file's one connection.
#pragma once

#include "alarm/record/alarm_record.h"
#include "alarm/store/store_connection.h"

namespace rovik::alarm {

class AccountStore {
 public:
  explicit AccountStore(StoreConnection& connection) : connection_(connection) {}
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  // Creates the user table when missing. False (SQLite's text noted as the last error) when it
  // cannot be created.
  static bool CreateTable(StoreConnection::Use& use);

  void DeleteAllUsers();
  // Appends the stored accounts in insertion order; returns the number appended.
  int LoadUsers(UserList& list);
  // Inserts every record in order, freeing each and leaving its slot null. Errors are ignored.
  void SaveUsers(UserList& list);

 private:
  StoreConnection& connection_;
};

}  // namespace rovik::alarm
