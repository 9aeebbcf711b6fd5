// The store holds the watched accounts' passwords and the alarm history: the database and its
// -wal and -shm files belong to their user alone, whatever the umask, and a store left readable
// by others (an older copy of the program created it 0644) is tightened when it is opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "alarm/store/md_sqlite.h"
#include "alarm/store/private_file/private_file.h"
#include "store_test_util.h"

using namespace rovik::alarm;

namespace {

using storetest::MakeAlarm;
using storetest::RawDb;
using storetest::TempFolder;

int Mode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// Runs the test under the usual desktop umask, so a file created with the defaults is 0644.
class UsualUmask {
 public:
  UsualUmask() : old_(::umask(022)) {}
  ~UsualUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST(StorePrivacy, ANewStoreAndItsWalAndShmFilesAreOwnerOnly) {
  UsualUmask umask;
  TempFolder folder;
  MdSQLite store;
  store.Open(folder.path());
  ASSERT_TRUE(store.IsOpen());
  ASSERT_GT(store.InsertAlarm(MakeAlarm("13800000000", "door", "2015-03-01 10:00:00")), 0);
  UserList users;
  users.push_back(std::make_unique<UserRecord>(UserRecord{"13800000000", "secret", "name"}));
  store.SaveUsers(users);
  EXPECT_EQ(Mode(folder.db()), 0600);
  // The store keeps its connection open in WAL mode: both side files exist now.
  EXPECT_EQ(Mode(folder.db() + "-wal"), 0600);
  EXPECT_EQ(Mode(folder.db() + "-shm"), 0600);
}

TEST(StorePrivacy, AnExistingWorldReadableStoreIsTightenedAtOpenAndKeepsItsRows) {
  UsualUmask umask;
  TempFolder folder;
  // Another program (or an older copy) made the store with the umask's 0644 and still has it
  // open, so its -wal and -shm files are there too.
  RawDb other(folder.db());
  ASSERT_TRUE(other.Exec("pragma journal_mode=WAL;"));
  ASSERT_TRUE(
      other.Exec("create table user(User_account varchar(32) NOT NULL, User_password varchar(256) "
                 "NULL DEFAULT '', User_name varchar(256) NULL DEFAULT '');"));
  ASSERT_TRUE(other.Exec("insert into user values('13800000000','secret','name');"));
  ASSERT_EQ(Mode(folder.db()), 0644);
  ASSERT_EQ(Mode(folder.db() + "-wal"), 0644);
  ASSERT_EQ(Mode(folder.db() + "-shm"), 0644);

  testing::internal::CaptureStderr();
  MdSQLite store;
  store.Open(folder.path());
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(store.IsOpen());
  EXPECT_EQ(Mode(folder.db()), 0600);
  EXPECT_EQ(Mode(folder.db() + "-wal"), 0600);
  EXPECT_EQ(Mode(folder.db() + "-shm"), 0600);
  EXPECT_NE(log.find("RovikAlarm: " + folder.db() +
                     ": was open to others (mode 0644); tightened to 0600"),
            std::string::npos)
      << log;
  UserList users;
  ASSERT_EQ(store.LoadUsers(users), 1);
  EXPECT_STREQ(users[0]->password, "secret");

  // A store that is already private is opened without a word.
  testing::internal::CaptureStderr();
  MdSQLite again;
  again.Open(folder.path());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(StorePrivacy, WhatCannotBeMadePrivateIsLeftAloneAndLogged) {
  TempFolder folder;
  const std::string missing = folder.path() + "/absent";
  EXPECT_EQ(rovik::alarm::MakeFilePrivate(missing, false, "RovikAlarm"),
            rovik::alarm::PrivateFileResult::Missing);
  ASSERT_EQ(::mkdir((folder.path() + "/dir").c_str(), 0755), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(rovik::alarm::MakeFilePrivate(folder.path() + "/dir", true, "RovikAlarm"),
            rovik::alarm::PrivateFileResult::Failed);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("not a regular file"), std::string::npos);
  EXPECT_EQ(Mode(folder.path() + "/dir"), 0755);
  // A FIFO in the file's place does not stall the opener.
  ASSERT_EQ(::mkfifo((folder.path() + "/fifo").c_str(), 0644), 0);
  EXPECT_EQ(rovik::alarm::MakeFilePrivate(folder.path() + "/fifo", false, "RovikAlarm"),
            rovik::alarm::PrivateFileResult::Failed);
}

}  // namespace
