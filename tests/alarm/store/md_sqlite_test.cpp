#include "alarm/store/md_sqlite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "store_test_util.h"

using namespace rovik::alarm;

namespace {

using rovik::alarm::FieldText;
using storetest::MakeAlarm;
using storetest::RawDb;
using storetest::TempFolder;

std::string Today() { return CurrentLocalTimeText().substr(0, 10); }

// Collects what the store would have shown the user.
struct ShownMessages {
  std::vector<std::pair<std::string, std::string>> messages;
  ShownMessages() {
    MdSQLite::SetMessageHook([this](const std::string& caption, const std::string& text) {
      messages.emplace_back(caption, text);
    });
  }
  ~ShownMessages() { MdSQLite::SetMessageHook(nullptr); }
};

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { store.Open(folder.path()); }
  TempFolder folder;
  ShownMessages shown;
  MdSQLite store;
};

// Column name, declared type, NOT NULL, default: as every copy of the store declares them.
std::vector<std::vector<std::string>> Columns(RawDb& db, const std::string& table) {
  std::vector<std::vector<std::string>> cols;
  for (auto row : db.Rows("pragma table_info(" + table + ")")) {
    cols.push_back({row[1], row[2], row[3], row[4], row[5]});
  }
  return cols;
}

TEST_F(StoreTest, FreshFolderGetsBothTablesWithTheirExactColumns) {
  ASSERT_TRUE(std::filesystem::exists(folder.db()));
  EXPECT_TRUE(shown.messages.empty());
  RawDb db(folder.db());
  using Cols = std::vector<std::vector<std::string>>;
  EXPECT_EQ(Columns(db, "user"), (Cols{{"User_account", "varchar(32)", "1", "<null>", "0"},
                                       {"User_password", "varchar(256)", "0", "''", "0"},
                                       {"User_name", "varchar(256)", "0", "''", "0"}}));
  EXPECT_EQ(Columns(db, "Alarm"),
            (Cols{{"Alarm_ID", "INTEGER", "1", "<null>", "1"},
                  {"Alarm_Account", "varchar(32)", "1", "<null>", "0"},
                  {"Alarm_Password", "varchar(256)", "0", "<null>", "0"},
                  {"Alarm_Username", "varchar(256)", "0", "''", "0"},
                  {"Alarm_IpcID", "varchar(64)", "1", "<null>", "0"},
                  {"Alarm_IpcName", "varchar(64)", "0", "''", "0"},
                  {"Alarm_DevName", "varchar(256)", "0", "<null>", "0"},
                  {"Alarm_DevType", "varchar(32)", "1", "<null>", "0"},
                  {"Alarm_Time", "DataTime", "1", "datetime('now','localtime')", "0"},
                  {"Alarm_RecvTime", "DataTime", "1", "datetime('now','localtime')", "0"},
                  {"Alarm_ReadTime", "DataTime", "0", "''", "0"},
                  {"Alarm_State", "INTEGER", "1", "0", "0"}}));
  EXPECT_EQ(db.Value("pragma journal_mode"), "wal");
  EXPECT_EQ(
      db.Value(
          "select count(*) from sqlite_master where type='index' and name like 'Alarm_%_Index'"),
      "3");
  const std::string create = db.Value("select sql from sqlite_master where name='Alarm'");
  EXPECT_EQ(create.rfind("CREATE TABLE Alarm(", 0), 0u);
}

TEST_F(StoreTest, EmptyStoreCountsZeroListsNothingAndFirstIdIsOne) {
  AlarmList list;
  EXPECT_EQ(store.GetUnreadCount(), 0);
  EXPECT_EQ(store.GetMaxAlarmId(), -1);
  EXPECT_EQ(store.QueryUnread(list), 0);
  EXPECT_EQ(store.QueryTodayAndUnread(list), 0);
  EXPECT_EQ(store.QueryAlarmsByTime(list, "0000", "9999"), 0);
  EXPECT_TRUE(list.empty());
  AlarmRecord r = MakeAlarm("138", "door", "2015-03-01 08:00:00");
  r.id = 77;
  r.state = 5;
  EXPECT_EQ(store.InsertAlarm(r), 1);
  EXPECT_EQ(store.InsertAlarm(r), 2);
  EXPECT_EQ(store.GetUnreadCount(), 2);
  RawDb db(folder.db());
  EXPECT_EQ(db.Value("select Alarm_State||'/'||Alarm_ReadTime||'/'||ifnull(Alarm_Password,'null') "
                     "from Alarm where Alarm_ID=1"),
            "0//null");  // the record's own id and state are not stored
}

TEST_F(StoreTest, ReopenKeepsTablesAndRows) {
  store.InsertAlarm(MakeAlarm("138", "door", "2015-03-01 08:00:00"));
  UserList users;
  users.push_back(std::make_unique<UserRecord>(UserRecord{"138", "pw", "名"}));
  store.SaveUsers(users);
  MdSQLite again;
  again.Open(folder.path());
  EXPECT_EQ(again.GetUnreadCount(), 1);
  EXPECT_EQ(again.InsertAlarm(MakeAlarm("138", "door", "2015-03-01 08:00:01")), 2);
  UserList loaded;
  EXPECT_EQ(again.LoadUsers(loaded), 1);
  EXPECT_TRUE(shown.messages.empty());
}

TEST(StoreFormat, AnExistingDatabaseOfTheOriginalFormatOpensAndWorks) {
  TempFolder folder;
  {
    RawDb db(folder.db());
    ASSERT_TRUE(
        db.Exec("create table if not exists user(\n\tUser_account varchar(32) NOT "
                "NULL,\n\tUser_password varchar(256) NULL DEFAULT '',"
                "\n\tUser_name varchar(256) NULL DEFAULT '');"));
    ASSERT_TRUE(
        db.Exec("create table if not exists Alarm( Alarm_ID integer PRIMARY KEY AUTOINCREMENT NOT "
                "NULL, Alarm_Account varchar(32) NOT NULL,"
                " Alarm_Password varchar(256) NULL, Alarm_Username varchar(256) NULL default '', "
                "Alarm_IpcID varchar(64) NOT NULL,"
                " Alarm_IpcName varchar(64) NULL DEFAULT '', Alarm_DevName varchar(256), "
                "Alarm_DevType varchar(32) NOT NULL,"
                " Alarm_Time DataTime NOT NULL DEFAULT (datetime('now','localtime')), "
                "Alarm_RecvTime DataTime NOT NULL DEFAULT"
                " (datetime('now','localtime')), Alarm_ReadTime DataTime NULL DEFAULT '', "
                "Alarm_State integer NOT NULL DEFAULT 0);"));
    ASSERT_TRUE(db.Exec(
        "Insert into "
        "Alarm(Alarm_Account,Alarm_Username,Alarm_IpcID,Alarm_IpcName,Alarm_DevName,Alarm_DevType,"
        "Alarm_Time) values('138','张三','A1','cam','door','DS','2015-03-01 08:00:00');"));
    ASSERT_TRUE(
        db.Exec("insert into user (User_account, User_password, User_name) values ('138', 'NULL', "
                "'张三')"));
  }
  ShownMessages shown;
  MdSQLite store;
  store.Open(folder.path());
  EXPECT_TRUE(shown.messages.empty());
  AlarmList list;
  ASSERT_EQ(store.QueryUnread(list), 1);
  EXPECT_EQ(FieldText(list[0]->userName), u"张三");
  EXPECT_EQ(store.InsertAlarm(MakeAlarm("138", "door", "2015-03-01 09:00:00")), 2);
  EXPECT_TRUE(store.MarkAlarmsRead("1,2"));
  EXPECT_EQ(store.GetUnreadCount(), 0);
}

TEST(StoreFailure, OpenFailureIsShownAndEveryOperationFails) {
  TempFolder folder;
  ShownMessages shown;
  MdSQLite store;
  store.Open(folder.path() + "/missing/folder");
  ASSERT_EQ(shown.messages.size(), 1u);
  EXPECT_EQ(shown.messages[0].first, "Error");
  EXPECT_FALSE(shown.messages[0].second.empty());
  EXPECT_FALSE(store.IsOpen());
  AlarmList list;
  UserList users;
  users.push_back(std::make_unique<UserRecord>(UserRecord{"1", "2", "3"}));
  EXPECT_EQ(store.InsertAlarm(MakeAlarm("1", "d", "t")), -1);
  EXPECT_EQ(store.GetMaxAlarmId(), -1);
  EXPECT_EQ(store.GetUnreadCount(), 1);  // a failed count reads as 1
  EXPECT_FALSE(store.MarkAlarmsRead("1"));
  EXPECT_FALSE(store.MarkAlarmRead(1));
  EXPECT_FALSE(store.DeleteAlarms("1"));
  EXPECT_EQ(store.QueryUnread(list), 0);
  EXPECT_EQ(store.QueryTodayAndUnread(list), 0);
  EXPECT_EQ(store.QueryAlarmsByTime(list, "0", "9"), 0);
  EXPECT_EQ(store.LoadUsers(users), 0);
  store.DeleteAllUsers();
  store.SaveUsers(users);
  EXPECT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0], nullptr);
  EXPECT_EQ(shown.messages.size(), 1u);  // later failures show nothing
}

TEST(StoreFailure, CreateTableFailureIsShownAndTheStoreStaysUnusable) {
  TempFolder folder;
  std::ofstream(folder.db()) << std::string(4096, 'x');  // not a database
  ShownMessages shown;
  MdSQLite store;
  store.Open(folder.path());
  ASSERT_EQ(shown.messages.size(), 1u);
  EXPECT_EQ(shown.messages[0].first, "Error");
  EXPECT_NE(shown.messages[0].second.find("not a database"), std::string::npos);
  EXPECT_EQ(store.InsertAlarm(MakeAlarm("1", "d", "t")), -1);
  EXPECT_EQ(store.GetUnreadCount(), 1);
}

TEST_F(StoreTest, MarkReadStampsTimeAndUnknownIdsChangeNothing) {
  const int a = store.InsertAlarm(MakeAlarm("138", "door", "2015-03-01 08:00:00"));
  const int b = store.InsertAlarm(MakeAlarm("138", "door", "2015-03-01 08:00:01"));
  const int c = store.InsertAlarm(MakeAlarm("138", "door", "2015-03-01 08:00:02"));
  RawDb db(folder.db());
  EXPECT_TRUE(store.MarkAlarmsRead(std::to_string(a) + "," + std::to_string(c)));
  EXPECT_EQ(store.GetUnreadCount(), 1);
  const std::string stamp =
      db.Value("select Alarm_ReadTime from Alarm where Alarm_ID=" + std::to_string(a));
  EXPECT_EQ(stamp.size(), 19u);
  EXPECT_EQ(stamp.substr(0, 10), Today());
  // Marking an alarm that is already read stamps it again.
  ASSERT_TRUE(db.Exec("update Alarm set Alarm_ReadTime='2001-01-01 00:00:00' where Alarm_ID=" +
                      std::to_string(a)));
  EXPECT_TRUE(store.MarkAlarmRead(a));
  EXPECT_EQ(
      db.Value("select substr(Alarm_ReadTime,1,10) from Alarm where Alarm_ID=" + std::to_string(a)),
      Today());
  EXPECT_EQ(db.Value("select Alarm_State from Alarm where Alarm_ID=" + std::to_string(a)), "1");
  EXPECT_TRUE(store.MarkAlarmsRead("999,1000"));
  EXPECT_TRUE(store.DeleteAlarms("999"));
  EXPECT_EQ(store.GetUnreadCount(), 1);
  EXPECT_TRUE(store.DeleteAlarms(std::to_string(b)));
  EXPECT_EQ(store.GetUnreadCount(), 0);
  EXPECT_EQ(db.Value("select count(*) from Alarm"), "2");
}

TEST_F(StoreTest, TodayAndUnreadMixesLastYearsUnreadWithTodaysReadAndUnread) {
  const int oldUnread = store.InsertAlarm(MakeAlarm("1", "old unread", "2014-06-01 10:00:00"));
  const int oldRead = store.InsertAlarm(MakeAlarm("1", "old read", "2014-06-02 10:00:00"));
  const int todayRead = store.InsertAlarm(MakeAlarm("1", "today read", "2015-03-01 09:00:00"));
  const int todayUnread = store.InsertAlarm(MakeAlarm("1", "today unread", "2015-03-01 10:00:00"));
  RawDb db(folder.db());
  ASSERT_TRUE(db.Exec("update Alarm set Alarm_RecvTime='2014-06-02 10:00:00' where Alarm_ID in (" +
                      std::to_string(oldUnread) + "," + std::to_string(oldRead) + ")"));
  ASSERT_TRUE(store.MarkAlarmsRead(std::to_string(oldRead) + "," + std::to_string(todayRead)));
  AlarmList list;
  ASSERT_EQ(store.QueryTodayAndUnread(list), 3);
  EXPECT_EQ(list[0]->id, todayUnread);  // newest alarm time first
  EXPECT_EQ(list[1]->id, todayRead);
  EXPECT_EQ(list[1]->state, 1);
  EXPECT_EQ(list[2]->id, oldUnread);
  // The bounds are today's first and last second, inclusive.
  ASSERT_TRUE(db.Exec("update Alarm set Alarm_RecvTime='" + Today() +
                      " 23:59:59' where Alarm_ID=" + std::to_string(todayRead)));
  list.clear();
  EXPECT_EQ(store.QueryTodayAndUnread(list), 3);
}

TEST_F(StoreTest, TimeRangeIncludesBothBoundsNewestFirst) {
  store.InsertAlarm(MakeAlarm("1", "before", "2015-02-28 23:59:59"));
  const int first = store.InsertAlarm(MakeAlarm("1", "first", "2015-03-01 00:00:00"));
  const int mid = store.InsertAlarm(MakeAlarm("1", "mid", "2015-03-01 12:00:00"));
  const int last = store.InsertAlarm(MakeAlarm("1", "last", "2015-03-01 23:59:59"));
  store.InsertAlarm(MakeAlarm("1", "after", "2015-03-02 00:00:00"));
  AlarmList list;
  ASSERT_EQ(store.QueryAlarmsByTime(list, "2015-03-01 00:00:00", "2015-03-01 23:59:59"), 3);
  EXPECT_EQ(list[0]->id, last);
  EXPECT_EQ(list[1]->id, mid);
  EXPECT_EQ(list[2]->id, first);
  EXPECT_EQ(FieldText(list[2]->alarmTime), "2015-03-01 00:00:00");
}

TEST_F(StoreTest, RecordsRoundTripWithNonAsciiNames) {
  AlarmRecord r = MakeAlarm("13800000000", "前门 😀", "2015-03-01 08:00:00", u"张三·Zoë 😀");
  rovik::alarm::CopyField(r.ipcName, "客厅摄像机");
  rovik::alarm::CopyField(r.deviceType, "MA");
  const int id = store.InsertAlarm(r);
  AlarmList list;
  ASSERT_EQ(store.QueryUnread(list), 1);
  const AlarmRecord& back = *list[0];
  EXPECT_EQ(back.id, id);
  EXPECT_EQ(back.state, 0);
  EXPECT_EQ(FieldText(back.userName), u"张三·Zoë 😀");
  EXPECT_EQ(FieldText(back.deviceName), "前门 😀");
  EXPECT_EQ(FieldText(back.ipcName), "客厅摄像机");
  EXPECT_EQ(FieldText(back.account), "13800000000");
  EXPECT_EQ(FieldText(back.ipcId), "IPC-13800000000");
  EXPECT_EQ(FieldText(back.deviceType), "MA");
  EXPECT_EQ(FieldText(back.readTime), "");
}

TEST_F(StoreTest, OverlongAndNullCellsNeverOverrunTheRecord) {
  RawDb db(folder.db());
  const std::string longName(600, 'n');
  std::string longUtf8;
  for (int i = 0; i < 200; ++i) longUtf8 += "门";
  ASSERT_TRUE(db.Exec(
      "insert into "
      "Alarm(Alarm_Account,Alarm_Username,Alarm_IpcID,Alarm_IpcName,Alarm_DevName,Alarm_DevType,"
      "Alarm_Time,Alarm_ReadTime) values('" +
      std::string(50, 'a') + "',NULL,'" + longUtf8 + "','" + longName + "',NULL,'" +
      std::string(40, 't') + "','2015-03-01 08:00:00',NULL)"));
  AlarmList list;
  ASSERT_EQ(store.QueryUnread(list), 1);
  const AlarmRecord& r = *list[0];
  EXPECT_EQ(FieldText(r.account), std::string(30, 'a'));
  EXPECT_EQ(FieldText(r.ipcId), longUtf8.substr(0, 30));
  EXPECT_EQ(FieldText(r.ipcName), longName.substr(0, 254));
  EXPECT_EQ(FieldText(r.deviceType), std::string(14, 't'));
  EXPECT_EQ(FieldText(r.deviceName), "");
  EXPECT_EQ(FieldText(r.userName), u"");
  EXPECT_EQ(FieldText(r.readTime), "");
}

TEST_F(StoreTest, UsersAreSavedInOrderLeavingNullSlotsAndReplacedByDeleteAll) {
  UserList users;
  users.push_back(std::make_unique<UserRecord>(UserRecord{"111", "p1", "一"}));
  users.push_back(std::make_unique<UserRecord>(UserRecord{"222", "NULL", "二"}));
  users.push_back(std::make_unique<UserRecord>(UserRecord{"333", "p'3", "三"}));
  store.SaveUsers(users);
  ASSERT_EQ(users.size(), 3u);
  for (const auto& slot : users) EXPECT_EQ(slot, nullptr);
  UserList loaded;
  loaded.push_back(nullptr);  // appended after what the list holds
  ASSERT_EQ(store.LoadUsers(loaded), 3);
  ASSERT_EQ(loaded.size(), 4u);
  EXPECT_STREQ(loaded[1]->account, "111");
  EXPECT_STREQ(loaded[2]->password, "NULL");
  EXPECT_STREQ(loaded[3]->password, "p'3");
  EXPECT_STREQ(loaded[3]->name, "三");
  store.DeleteAllUsers();
  loaded.clear();
  EXPECT_EQ(store.LoadUsers(loaded), 0);
}

TEST_F(StoreTest, InjectionThroughTextsAndIdListsChangesNothing) {
  const std::vector<std::string> hostile = {
      "1) or (1=1", "1;drop table Alarm", "x'); delete from Alarm; --", "'", "''", "\"", "a\\'b",
      "%s%n"};
  for (const std::string& text : hostile) {
    AlarmRecord r = MakeAlarm(text, text, text);
    rovik::alarm::CopyField(r.ipcName, text);
    rovik::alarm::CopyField(r.ipcId, text);
    rovik::alarm::CopyField(r.deviceType, text.substr(0, 14));
    ASSERT_GT(store.InsertAlarm(r), 0) << text;
  }
  const int count = static_cast<int>(hostile.size());
  AlarmList list;
  ASSERT_EQ(store.QueryUnread(list), count);
  std::vector<std::string> names;
  for (const auto& r : list) names.emplace_back(FieldText(r->deviceName));
  std::vector<std::string> expected = hostile;
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  // Lists that are not plain decimal IDs are refused whole.
  const std::vector<std::string> badLists = {"1) or (1=1",
                                             "1;drop table Alarm",
                                             "1,",
                                             ",1",
                                             "1,,2",
                                             "",
                                             " 1",
                                             "1 ",
                                             "-1",
                                             "1'",
                                             std::string("1\0,2", 4),
                                             "0x10",
                                             "1234567890123456789"};
  for (const std::string& ids : badLists) {
    EXPECT_FALSE(store.MarkAlarmsRead(ids)) << ids;
    EXPECT_FALSE(store.DeleteAlarms(ids)) << ids;
  }
  EXPECT_EQ(store.GetUnreadCount(), count);
  // Hostile range texts are values, never statements.
  list.clear();
  EXPECT_EQ(store.QueryAlarmsByTime(list, "' or 1=1 --", "' or 1=1 --"), 0);
  EXPECT_EQ(store.QueryAlarmsByTime(list, "0", "z"), count);
  UserList users;
  users.push_back(
      std::make_unique<UserRecord>(UserRecord{"a'); delete from Alarm; --", "'", "\""}));
  store.SaveUsers(users);
  UserList loaded;
  ASSERT_EQ(store.LoadUsers(loaded), 1);
  EXPECT_STREQ(loaded[0]->account, "a'); delete from Alarm; --");
  RawDb db(folder.db());
  EXPECT_EQ(db.Value("select count(*) from Alarm"), std::to_string(count));
  EXPECT_TRUE(store.MarkAlarmsRead("1,2,3"));
  EXPECT_EQ(store.GetUnreadCount(), count - 3);
}

TEST_F(StoreTest, TwoThreadsShareTheStoreWithoutLosingAnAlarm) {
  constexpr int kPerThread = 200;
  std::vector<int> ids[2];
  std::thread writers[2];
  for (int t = 0; t < 2; ++t) {
    writers[t] = std::thread([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        ids[t].push_back(store.InsertAlarm(
            MakeAlarm(std::to_string(t), "d" + std::to_string(i), "2015-03-01 08:00:00")));
        AlarmList list;
        store.QueryUnread(list);
        store.GetUnreadCount();
      }
    });
  }
  for (auto& w : writers) w.join();
  std::vector<int> all = ids[0];
  all.insert(all.end(), ids[1].begin(), ids[1].end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), 2u * kPerThread);
  EXPECT_EQ(all.front(), 1);
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());  // every insert got its own ID
  EXPECT_EQ(store.GetUnreadCount(), 2 * kPerThread);
}

TEST(StoreInstance, OneInstanceUntilDestroyedThenNone) {
  MdSQLite* first = MdSQLite::GetInstance();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(MdSQLite::GetInstance(), first);
  MdSQLite::DestroyInstance();
  EXPECT_EQ(MdSQLite::GetInstance(), nullptr);
  MdSQLite::DestroyInstance();  // harmless
}

}  // namespace
