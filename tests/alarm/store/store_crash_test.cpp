// An alarm whose insert returned its ID survives the program being killed at any moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "alarm/store/md_sqlite.h"
#include "store_test_util.h"

using namespace rovik::alarm;

namespace {

using storetest::MakeAlarm;
using storetest::RawDb;
using storetest::TempFolder;

TEST(StoreCrash, KillDuringInsertsLeavesAnIntactDatabaseWithEveryReturnedId) {
  TempFolder folder;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    MdSQLite store;
    store.Open(folder.path());
    for (int i = 0; i < 1000; ++i) {
      const int id =
          store.InsertAlarm(MakeAlarm("138", "door " + std::to_string(i), "2015-03-01 08:00:00"));
      if (write(pipeFds[1], &id, sizeof id) != static_cast<ssize_t>(sizeof id)) _exit(3);
    }
    pause();  // wait for the kill if the inserts outran the reader
    _exit(0);
  }
  close(pipeFds[1]);
  std::set<int> returned;
  int id = 0;
  while (returned.size() < 300 &&
         read(pipeFds[0], &id, sizeof id) == static_cast<ssize_t>(sizeof id)) {
    returned.insert(id);
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  // IDs already reported before the kill landed are returned too.
  while (read(pipeFds[0], &id, sizeof id) == static_cast<ssize_t>(sizeof id)) returned.insert(id);
  close(pipeFds[0]);
  ASSERT_GE(returned.size(), 300u);
  EXPECT_EQ(returned.count(-1), 0u);

  RawDb db(folder.db());
  EXPECT_EQ(db.Value("pragma integrity_check"), "ok");
  std::set<int> stored;
  for (const auto& row : db.Rows("select Alarm_ID from Alarm")) stored.insert(std::stoi(row[0]));
  for (int r : returned) EXPECT_TRUE(stored.count(r)) << "alarm " << r << " lost";
  MdSQLite reopened;
  reopened.Open(folder.path());
  EXPECT_EQ(reopened.GetUnreadCount(), static_cast<int>(stored.size()));
}

}  // namespace
