// RovikAlarm run as a user's machine runs it: from a program folder of its own, with RUN and REG
// in temp folders, reached through its window "ROVIKALARM".
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "platform/named_mutex.h"
#include "tests/alarm/app/monitor_harness.h"
#include "tests/fixtures/child_process.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/mqtt_publisher.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/pushsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

using namespace rovik::alarm;

namespace fs = std::filesystem;
using namespace monitortest;
using namespace rovik::fixtures;
using rovik::platform::FindWindowByTitle;
using rovik::platform::SendCopyData;

namespace {

int64_t Send(const std::string& text) {
  return SendCopyData("ROVIKALARM", 0, 0, text.data(), text.size());
}

class MonitorProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareMonitorFolder(folder_);
    env_ = folder_.ApplyToThisProcess();
  }
  void StartMonitor() {
    ASSERT_TRUE(folder_.Start(monitor_, "RovikAlarm", {"-s"})) << monitor_.Error();
    ASSERT_TRUE(WaitUntil([] { return FindWindowByTitle("ROVIKALARM"); }, 20s))
        << monitor_.Stderr();
  }
  std::string ShmFile() const { return ReadWholeFile(folder_.RunDir() / "shm" / "ROVIKSHARE"); }

  ProgramFolder folder_;
  std::unique_ptr<std::vector<std::unique_ptr<ScopedEnv>>> env_;
  ChildProcess monitor_;
};

TEST_F(MonitorProgramTest, SharedBlockIsZeroAndSecondCopyEndsAtOnce) {
  rovik::fixtures::WriteWholeFile(folder_.RunDir() / "shm" / "ROVIKSHARE",
                                  std::string(524288, 'x'));
  fs::permissions(folder_.RunDir() / "shm", fs::perms::owner_all, fs::perm_options::replace);
  fs::permissions(folder_.RunDir() / "shm" / "ROVIKSHARE",
                  fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
  StartMonitor();
  EXPECT_EQ(ShmFile(), std::string(524288, '\0'));

  ChildProcess second;
  ASSERT_TRUE(folder_.Start(second, "RovikAlarm"));
  auto st = second.Wait(5s);
  ASSERT_TRUE(st) << "the second copy keeps running";
  EXPECT_TRUE(st->Success());
  EXPECT_EQ(second.Stdout(), "");
  // The first copy is unaffected.
  EXPECT_TRUE(monitor_.Running());
  EXPECT_EQ(Send("99~"), 1);
}

TEST_F(MonitorProgramTest, QuitCommandShutsDownInOrder) {
  StartMonitor();
  {
    // The store is in use: its journal file exists while the monitor runs.
    MdSQLite probe;
    probe.Open(folder_.Path().string());
    probe.InsertAlarm(MakeAlarm("1", "d", "2015-03-01 08:00:00"));
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send("0~"), 1);
  auto st = monitor_.Wait(5s);
  ASSERT_TRUE(st) << "still running 5 s after 0~";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(st->Success()) << monitor_.Stderr();
  EXPECT_FALSE(FindWindowByTitle("ROVIKALARM"));
  rovik::platform::NamedMutex mutex;
  EXPECT_EQ(mutex.Create("ROVIKALARM"), rovik::platform::NamedMutex::Result::Acquired);
  // Closed cleanly: SQLite folded its write-ahead log back into the database.
  EXPECT_FALSE(fs::exists(folder_.Path() / "ROVIK_ALARM.sdb-wal"));
  EXPECT_TRUE(fs::exists(folder_.Path() / "ROVIK_ALARM.sdb"));
}

TEST_F(MonitorProgramTest, TerminateSignalShutsDownLikeQuit) {
  StartMonitor();
  ASSERT_TRUE(monitor_.Signal(SIGTERM));
  auto st = monitor_.Wait(5s);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->Success()) << monitor_.Stderr();
  rovik::platform::NamedMutex mutex;
  EXPECT_EQ(mutex.Create("ROVIKALARM"), rovik::platform::NamedMutex::Result::Acquired);
}

TEST_F(MonitorProgramTest, ListMarkReadAndHostileTexts) {
  std::vector<int> ids;
  {
    MdSQLite store;
    store.Open(folder_.Path().string());
    for (int i = 0; i < 3; ++i) {
      ids.push_back(store.InsertAlarm(MakeAlarm("13800000000", "door " + std::to_string(i),
                                                "2015-03-01 0" + std::to_string(i) + ":00:00")));
    }
  }
  StartMonitor();
  ClientWindow client;
  ASSERT_TRUE(client.Open());
  EXPECT_EQ(Send("5~00"), 1);
  EXPECT_TRUE(client.WaitFor("6~3", 5s));
  std::string shm = ShmFile();
  auto lines = ListLines(shm.data(), shm.size());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].back(), u'|');

  client.Clear();
  EXPECT_EQ(Send("5~2015-03-01"), 1);
  EXPECT_TRUE(client.WaitFor("6~3", 5s));

  client.Clear();
  EXPECT_EQ(Send("7~" + std::to_string(ids[0]) + "," + std::to_string(ids[1])), 1);
  EXPECT_TRUE(client.WaitFor("10~1", 10s));
  client.Clear();
  EXPECT_EQ(Send("9~"), 1);
  EXPECT_TRUE(client.WaitFor("10~1", 10s));

  // Hostile texts: answered, nothing changed, the monitor keeps going.
  EXPECT_EQ(Send("8~1);DROP TABLE Alarm;--"), 0);
  EXPECT_EQ(Send(std::string(40, '9') + "~x"), 1);
  std::string binary;
  for (int i = 0; i < 2048; ++i) binary += static_cast<char>((i * 37) & 0xFF);
  EXPECT_EQ(Send(binary), 1);
  std::string tenMegabytes(10 * 1024 * 1024, '~');
  EXPECT_EQ(Send(tenMegabytes), 0);  // over the 4 MiB bound: refused, no answer
  EXPECT_EQ(Send(std::string(4 * 1024 * 1024, '~')), 1);
  EXPECT_EQ(Send("99~"), 1);
  {
    MdSQLite store;
    store.Open(folder_.Path().string());
    AlarmList all;
    EXPECT_EQ(store.QueryAlarmsByTime(all, "0000-00-00 00:00:00", "9999-12-31 23:59:59"), 3);
    EXPECT_EQ(store.GetUnreadCount(), 1);
  }
  EXPECT_TRUE(monitor_.Running());
  EXPECT_EQ(Send("0~"), 1);
  EXPECT_TRUE(monitor_.Wait(5s));
}

TEST_F(MonitorProgramTest, HeadlessStartLeavesTheAutoStartChoicePending) {
  fs::path key = folder_.RegistryRoot() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "MERVO" / "ROVIK.reg";
  fs::remove(key);
  StartMonitor();  // not held up by a prompt nobody can see
  EXPECT_EQ(Send("99~"), 1);
  EXPECT_FALSE(fs::exists(key));
  EXPECT_FALSE(fs::exists(folder_.ConfigHome() / "autostart" / "ROVIKALARM.desktop"));
  EXPECT_EQ(Send("0~"), 1);
  EXPECT_TRUE(monitor_.Wait(5s));
}

TEST_F(MonitorProgramTest, StoreThatCannotOpenIsReportedAsErrorOnTheScreen) {
  // A screen to show the box on: the X display of the test run, not the offscreen platform.
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  // A folder where the database file belongs: SQLite cannot open it.
  fs::create_directories(folder_.Path() / "ROVIK_ALARM.sdb" / "x");
  rovik::fixtures::ChildOptions options = folder_.Options();
  options.env = WithVariable(*options.env, "QT_QPA_PLATFORM", std::nullopt);
  ASSERT_TRUE(monitor_.Start(folder_.Program("RovikAlarm"), {}, options));
  // The message box (caption "Error") waits for the user, as it would on a desktop; its text
  // is also written to stderr.
  EXPECT_TRUE(monitor_.WaitForStderr("RovikAlarm: Error: ", 20s)) << monitor_.Stderr();
  EXPECT_TRUE(monitor_.Running());
  monitor_.Kill();
}

// With the push service: Mosquitto with a login, pushsim handing it out.
class MonitorWithBrokerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MosquittoFixture::Available()) GTEST_SKIP() << "mosquitto is not installed";
    if (!fs::exists(BinDir() / "pushsim")) GTEST_SKIP() << "pushsim is not built";
    if (!MqttPublisher::Available()) GTEST_SKIP() << "mosquitto_pub is not installed";
    login_ = MqttLogin{"rovik", "s3cret"};
    ASSERT_TRUE(broker_.Start(login_)) << broker_.Error();
    const auto ports =
        StartPushsim(pushsim_, broker_.Url(), login_, folder_.Root(), "rovik-monitor-test",
                     {"--log", (folder_.Root() / "pushsim.log").string()});
    ASSERT_TRUE(ports) << pushsim_.Stderr();
    PrepareMonitorFolder(folder_, ports->PushTxt(), ports->InfoTxt());
    env_ = folder_.ApplyToThisProcess();
  }
  bool Publish(const std::string& topic, const std::string& device) {
    std::string payload = R"({"ipcId":"A1","ipcName":"cam","deviceName":")" + device +
                          R"(","deviceType":"DS","almTime":1425168000})";
    return MqttPublisher(broker_.Port(), login_).Publish(topic, payload, 5s);
  }
  // Publishes until the client has received an alarm naming `device` (the subscription may
  // still be on its way).
  bool AlarmArrives(ClientWindow& client, const std::string& topic, const std::string& device) {
    for (int i = 0; i < 40; ++i) {
      Publish(topic, device + " " + std::to_string(i));
      bool seen = WaitUntil(
          [&] {
            for (const auto& m : client.Messages()) {
              if (m.rfind("4~", 0) == 0 && m.find(device) != std::string::npos) return true;
            }
            return false;
          },
          500ms);
      if (seen) return true;
    }
    return false;
  }
  std::vector<std::string> StoredAccounts() {
    MdSQLite store;
    store.Open(folder_.Path().string());
    UserList users;
    store.LoadUsers(users);
    std::vector<std::string> out;
    for (const auto& u : users) out.emplace_back(u->account);
    return out;
  }

  MqttLogin login_;
  MosquittoFixture broker_;
  ChildProcess pushsim_;
  ProgramFolder folder_;
  std::unique_ptr<std::vector<std::unique_ptr<ScopedEnv>>> env_;
  ChildProcess monitor_;
};

TEST_F(MonitorWithBrokerTest, AccountListReplacesAddsAndResubscribes) {
  ClientWindow client;
  ASSERT_TRUE(client.Open());
  ASSERT_TRUE(folder_.Start(monitor_, "RovikAlarm"));
  // The first connection of the process is announced to the client.
  ASSERT_TRUE(client.WaitFor("1~0", 30s)) << monitor_.Stderr();

  EXPECT_EQ(Send("2~0~13800000000&pw&Demo user"), 1);
  EXPECT_EQ(StoredAccounts(), std::vector<std::string>{"13800000000"});
  EXPECT_TRUE(AlarmArrives(client, "13800000000", "front door"));

  EXPECT_EQ(Send("2~1~13900000000&pw2&Second"), 1);
  EXPECT_EQ(StoredAccounts(), (std::vector<std::string>{"13800000000", "13900000000"}));
  EXPECT_TRUE(AlarmArrives(client, "13900000000", "back door"));

  EXPECT_EQ(Send("2~0"), 1);  // the first element alone changes nothing
  EXPECT_EQ(StoredAccounts(), (std::vector<std::string>{"13800000000", "13900000000"}));

  EXPECT_EQ(Send("2~0~13700000000&only-two~13600000000&pw&Third"), 1);
  EXPECT_EQ(StoredAccounts(), std::vector<std::string>{"13600000000"});
  EXPECT_TRUE(AlarmArrives(client, "13600000000", "window"));

  EXPECT_EQ(Send("0~"), 1);
  auto st = monitor_.Wait(10s);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->Success());
}

}  // namespace
