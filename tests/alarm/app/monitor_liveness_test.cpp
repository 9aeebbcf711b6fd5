// RovikAlarm as a user runs it, against a real Mosquitto reached through a TCP proxy that can
// lose the path: the monitor must notice a dead connection, lose no alarm and store none twice,
// and end within 5 s whatever the broker does.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/named_mutex.h"
#include "tests/alarm/app/monitor_harness.h"
#include "tests/fixtures/child_process.h"
#include "tests/fixtures/hanging_server_fixture.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/mqtt_publisher.h"
#include "tests/fixtures/program_folder.h"
#include "tests/fixtures/pushsim_process.h"
#include "tests/fixtures/tcp_proxy_fixture.h"
#include "tests/fixtures/test_env.h"

using namespace rovik::alarm;

namespace fs = std::filesystem;
using namespace monitortest;
using namespace rovik::fixtures;
using rovik::platform::FindWindowByTitle;
using rovik::platform::SendCopyData;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kAccount[] = "13800000000";

int64_t Send(const std::string& text) {
  return SendCopyData("ROVIKALARM", 0, 0, text.data(), text.size());
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class MonitorLivenessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MosquittoFixture::Available()) GTEST_SKIP() << "mosquitto is not installed";
    if (!fs::exists(BinDir() / "pushsim")) GTEST_SKIP() << "pushsim is not built";
    if (!MqttPublisher::Available()) GTEST_SKIP() << "mosquitto_pub is not installed";
    login_ = MqttLogin{"rovik", "s3cret"};
  }
  void TearDown() override {
    if (monitor_.Running()) {
      Send("0~");
      if (!monitor_.Wait(5s)) monitor_.Kill();
    }
  }

  // The broker, the proxy in front of it, and the push service handing out the proxy's address
  // (or `brokerUrl`).
  void StartService(bool keepSessions = false, const std::string& brokerUrl = {}) {
    broker_.KeepSessionsAcrossRestarts(keepSessions);
    ASSERT_TRUE(broker_.Start(login_)) << broker_.Error();
    ASSERT_TRUE(proxy_.Start(broker_.Port()));
    const std::string url =
        brokerUrl.empty() ? "tcp://127.0.0.1:" + std::to_string(proxy_.Port()) : brokerUrl;
    const auto ports = StartPushsim(pushsim_, url, login_, folder_.Root(), "rovik-liveness",
                                    {"--log", (folder_.Root() / "pushsim.log").string()});
    ASSERT_TRUE(ports) << pushsim_.Stderr();
    PrepareMonitorFolder(folder_, ports->PushTxt(), ports->InfoTxt());
    env_ = folder_.ApplyToThisProcess();
  }

  // The monitor with the video client's window open, watching kAccount, an alarm seen through.
  void StartWatching() {
    ASSERT_TRUE(client_.Open());
    ASSERT_TRUE(folder_.Start(monitor_, "RovikAlarm"));
    ASSERT_TRUE(client_.WaitFor("1~0", 30s)) << monitor_.Stderr();
    ASSERT_EQ(Send(std::string("2~0~") + kAccount + "&pw&Demo user"), 1);
    ASSERT_TRUE(ProbeArrives("probe")) << monitor_.Stderr();
  }

  bool Publish(const std::string& topic, const std::string& device) {
    const std::string payload = R"({"ipcId":"A1","ipcName":"cam","deviceName":")" + device +
                                R"(","deviceType":"DS","almTime":1425168000})";
    return MqttPublisher(broker_.Port(), login_).Publish(topic, payload, 10s);
  }

  // Alarm blocks the client window received, counted by device name.
  std::map<std::string, int> ClientAlarms() {
    std::map<std::string, int> seen;
    for (const auto& m : client_.Messages()) {
      if (m.size() != 1243 || m.rfind("4~", 0) != 0) continue;
      AlarmRecord r;
      std::memcpy(&r, m.data() + 2, sizeof r);
      ++seen[std::string(rovik::alarm::FieldText(r.deviceName))];
    }
    return seen;
  }
  std::map<std::string, int> StoredAlarms() {
    MdSQLite store;
    store.Open(folder_.Path().string());
    AlarmList all;
    store.QueryAlarmsByTime(all, "0000-00-00 00:00:00", "9999-12-31 23:59:59");
    std::map<std::string, int> stored;
    for (const auto& r : all) ++stored[std::string(rovik::alarm::FieldText(r->deviceName))];
    return stored;
  }
  // Publishes distinct alarms until one reaches the client window (a subscription may still be
  // on its way).
  bool ProbeArrives(const std::string& device) {
    for (int i = 0; i < 60; ++i) {
      const std::string name = device + " " + std::to_string(i);
      Publish(kAccount, name);
      if (WaitUntil([&] { return ClientAlarms().count(name) > 0; }, 500ms)) return true;
    }
    return false;
  }
  bool AllArrived(const std::string& prefix, int n, std::chrono::milliseconds bound) {
    return WaitUntil(
        [&] {
          auto seen = ClientAlarms();
          for (int i = 0; i < n; ++i) {
            if (seen.count(prefix + std::to_string(i)) == 0) return false;
          }
          return true;
        },
        bound);
  }
  // Ends the monitor with `how` ("0~" or a signal) and returns the time it took, or nothing when
  // it did not end within 5 s.
  std::optional<Clock::duration> EndMonitor(ChildProcess& monitor, int signal = 0) {
    const auto begin = Clock::now();
    if (signal == 0) {
      EXPECT_EQ(Send("0~"), 1);
    } else {
      EXPECT_TRUE(monitor.Signal(signal));
    }
    auto status = monitor.Wait(5s);
    if (!status) return std::nullopt;
    EXPECT_TRUE(status->Success()) << monitor.Stderr();
    return Clock::now() - begin;
  }

  MqttLogin login_;
  MosquittoFixture broker_;
  TcpProxyFixture proxy_;
  ChildProcess pushsim_;
  ProgramFolder folder_;
  std::unique_ptr<std::vector<std::unique_ptr<ScopedEnv>>> env_;
  ClientWindow client_;
  ChildProcess monitor_;
};

// The path dies twice over: first only the monitor's answers are lost (it has the alarms, the
// broker does not know), then every byte. The keep-alive ends the dead connection, the monitor
// connects again, the broker's session sends everything again, and every alarm is shown and
// stored exactly once.
TEST_F(MonitorLivenessTest, ASwallowedConnectionIsNoticedAndNoAlarmIsLostOrDoubled) {
  StartService();
  StartWatching();
  const std::size_t connectionsBefore = proxy_.Accepted();

  proxy_.SwallowOpen(/*toTarget=*/true, /*toClient=*/false);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Publish(kAccount, "unacked " + std::to_string(i)));
  ASSERT_TRUE(AllArrived("unacked ", 5, 10s)) << "alarms toward the monitor still flow";

  const auto outage = Clock::now();
  proxy_.SwallowOpen(true, true);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(Publish(kAccount, "outage " + std::to_string(i)));
  const bool delivered = AllArrived("outage ", 10, 90s);
  const double took = Seconds(Clock::now() - outage);
  std::printf("outage to delivery of all 10 alarms: %.1f s\n", took);
  ASSERT_TRUE(delivered) << monitor_.Stderr();
  EXPECT_LE(took, 60.0) << "a dead path must be noticed within 60 s";
  EXPECT_GT(proxy_.Accepted(), connectionsBefore) << "delivered without a new connection?";

  // Whatever the broker sends again arrives within moments of the reconnection; give it time.
  std::this_thread::sleep_for(3s);
  const auto seen = ClientAlarms();
  const auto stored = StoredAlarms();
  for (const std::string prefix : {"unacked ", "outage "}) {
    for (int i = 0; i < (prefix == std::string("unacked ") ? 5 : 10); ++i) {
      const std::string name = prefix + std::to_string(i);
      EXPECT_EQ(seen.count(name) ? seen.at(name) : 0, 1) << name << " at the client";
      EXPECT_EQ(stored.count(name) ? stored.at(name) : 0, 1) << name << " in the store";
    }
  }
  const std::string log = monitor_.Stderr();
  std::printf("%s", log.c_str());
  EXPECT_NE(log.find("push: connection lost"), std::string::npos) << log;
  EXPECT_NE(log.find("push: reconnected"), std::string::npos) << log;
}

TEST_F(MonitorLivenessTest, AlarmsPublishedRightAfterABrokerRestartAreDelivered) {
  StartService(/*keepSessions=*/true);
  StartWatching();
  ASSERT_TRUE(broker_.Restart()) << broker_.Error();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Publish(kAccount, "after restart " + std::to_string(i)));
  EXPECT_TRUE(AllArrived("after restart ", 3, 30s)) << monitor_.Stderr();
  const auto stored = StoredAlarms();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(stored.count("after restart " + std::to_string(i)), 1u);
}

// A broker that accepts and never answers: the quit command ends the monitor within 5 s, and a
// monitor started right after takes over (and ends on SIGINT within 5 s too).
TEST_F(MonitorLivenessTest, QuitWhileAConnectHangsEndsAtOnceAndTheNextCopyTakesOver) {
  HangingServerFixture hanging;
  ASSERT_TRUE(hanging.Start());
  StartService(false, "tcp://127.0.0.1:" + std::to_string(hanging.Port()));
  ASSERT_TRUE(folder_.Start(monitor_, "RovikAlarm"));
  ASSERT_TRUE(
      WaitUntil([&] { return FindWindowByTitle("ROVIKALARM") && hanging.Accepted() > 0; }, 30s))
      << monitor_.Stderr();
  const auto took = EndMonitor(monitor_);
  ASSERT_TRUE(took) << "still running 5 s after 0~";
  std::printf("0~ during a hanging connect: ended after %.2f s\n", Seconds(*took));

  ChildProcess second;
  ASSERT_TRUE(folder_.Start(second, "RovikAlarm"));
  ASSERT_TRUE(WaitUntil([&] { return FindWindowByTitle("ROVIKALARM"); }, 20s))
      << "the next monitor did not take over: " << second.Stderr();
  EXPECT_TRUE(second.Running());
  const std::size_t before = hanging.Accepted();
  ASSERT_TRUE(
      WaitUntil([&] { return hanging.Accepted() > before; }, 30s));  // its connect hangs too
  const auto tookSecond = EndMonitor(second, SIGINT);
  EXPECT_TRUE(tookSecond) << "still running 5 s after SIGINT";
}

// A broker frozen after the subscription: the monitor still answers at once, and ends within 5 s.
TEST_F(MonitorLivenessTest, QuitWithTheBrokerFrozenEndsWithinFiveSeconds) {
  StartService();
  StartWatching();
  ASSERT_TRUE(broker_.Signal(SIGSTOP));
  client_.Clear();
  EXPECT_EQ(Send("9~"), 1);
  EXPECT_TRUE(client_.WaitForPrefix("10~", 3s))
      << "the push thread is held up by the frozen broker";
  const auto took = EndMonitor(monitor_);
  broker_.Signal(SIGCONT);
  ASSERT_TRUE(took) << "still running 5 s after 0~";
  std::printf("0~ with the broker frozen: ended after %.2f s\n", Seconds(*took));
  rovik::platform::NamedMutex mutex;
  EXPECT_EQ(mutex.Create("ROVIKALARM"), rovik::platform::NamedMutex::Result::Acquired);
}

// The video client's program freezes with its window open: alarms are still stored at once (the
// popup takes them), and the quit command still ends the monitor within 5 s.
TEST_F(MonitorLivenessTest, AFrozenClientHoldsUpNothing) {
  StartService();
  StartWatching();
  client_.Close();
  ChildProcess frozen;
  ASSERT_TRUE(frozen.Start(BinDir() / "rovik-send", {"--listen", "RovikClient"}));
  ASSERT_TRUE(WaitUntil([] { return FindWindowByTitle("RovikClient"); }, 5s));
  ASSERT_TRUE(frozen.Signal(SIGSTOP));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Publish(kAccount, "frozen " + std::to_string(i)));
  EXPECT_TRUE(WaitUntil(
      [&] {
        const auto stored = StoredAlarms();
        return stored.count("frozen 0") && stored.count("frozen 1") && stored.count("frozen 2");
      },
      8s))
      << monitor_.Stderr();
  EXPECT_TRUE(EndMonitor(monitor_)) << "still running 5 s after 0~";
  frozen.Signal(SIGCONT);
}

// A push service that takes the lookup and never answers: SIGTERM still ends the monitor within
// 5 s (the request in flight is given up).
TEST(MonitorSilentServiceTest, TerminateWhileThePushServiceHangsEndsWithinFiveSeconds) {
  HangingServerFixture service;
  ASSERT_TRUE(service.Start());
  ProgramFolder folder;
  const std::string url = "http://127.0.0.1:" + std::to_string(service.Port());
  PrepareMonitorFolder(folder, url + "/\n" + url + "/device/reg/\n", url);
  auto env = folder.ApplyToThisProcess();
  ChildProcess monitor;
  ASSERT_TRUE(folder.Start(monitor, "RovikAlarm"));
  ASSERT_TRUE(
      WaitUntil([&] { return FindWindowByTitle("ROVIKALARM") && service.Accepted() > 0; }, 30s))
      << monitor.Stderr();
  const auto begin = Clock::now();
  ASSERT_TRUE(monitor.Signal(SIGTERM));
  auto status = monitor.Wait(5s);
  ASSERT_TRUE(status) << "still running 5 s after SIGTERM";
  EXPECT_TRUE(status->Success()) << monitor.Stderr();
  std::printf("SIGTERM with the push service hanging: ended after %.2f s\n",
              Seconds(Clock::now() - begin));
}

// Accounts stored with texts that would watch other topics are never subscribed.
TEST_F(MonitorLivenessTest, WildcardAccountTextsAreNotSubscribed) {
  StartService();
  {
    MdSQLite store;
    store.Open(folder_.Path().string());
    UserList users;
    for (const char* account : {"#", "a/+", "/x", "y/", kAccount}) {
      auto user = std::make_unique<UserRecord>();
      std::memset(user.get(), 0, sizeof *user);
      rovik::alarm::CopyField(user->account, account);
      rovik::alarm::CopyField(user->password, "pw");
      rovik::alarm::CopyField(user->name, "n");
      users.push_back(std::move(user));
    }
    store.SaveUsers(users);
  }
  // No video client: the monitor subscribes the stored accounts itself.
  ASSERT_TRUE(folder_.Start(monitor_, "RovikAlarm"));
  ASSERT_TRUE(WaitUntil(
      [&] {
        Publish(kAccount, "probe");
        return StoredAlarms().count("probe") > 0;
      },
      30s))
      << monitor_.Stderr();
  const std::string log = broker_.Log();
  EXPECT_NE(log.find(std::string("rovik-liveness 1 ") + kAccount), std::string::npos) << log;
  for (const char* refused : {"#", "a/+", "/x", "y/"}) {
    EXPECT_EQ(log.find(std::string("rovik-liveness 1 ") + refused + "\n"), std::string::npos)
        << refused;
  }
  // The command path refuses them too: only the plain account is stored.
  ClientWindow client;
  ASSERT_TRUE(client.Open());
  EXPECT_EQ(Send("2~0~#&pw&all~+&pw&any~13900000000&pw&ok~/&pw&slash"), 1);
  MdSQLite store;
  store.Open(folder_.Path().string());
  UserList users;
  store.LoadUsers(users);
  ASSERT_EQ(users.size(), 1u);
  EXPECT_STREQ(users[0]->account, "13900000000");
}

// No screen to show the store's message on: the error goes to stderr and the monitor ends with a
// failure status, releasing its single-instance lock.
TEST(MonitorHeadlessTest, AStoreThatCannotOpenEndsTheMonitorWithAnError) {
  ProgramFolder folder;
  PrepareMonitorFolder(folder);
  fs::create_directories(folder.Path() / "ROVIK_ALARM.sdb" / "x");
  ChildOptions options = folder.Options();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    options.env = WithVariable(*options.env, name, std::nullopt);
  }
  ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(folder.Program("RovikAlarm"), {}, options)) << monitor.Error();
  auto status = monitor.Wait(20s);
  ASSERT_TRUE(status) << "waits for a message box nobody can see: " << monitor.Stderr();
  EXPECT_TRUE(status->exited);
  EXPECT_NE(status->code, 0);
  EXPECT_NE(monitor.Stderr().find("RovikAlarm: Error: "), std::string::npos) << monitor.Stderr();
  auto env = folder.ApplyToThisProcess();
  rovik::platform::NamedMutex mutex;
  EXPECT_EQ(mutex.Create("ROVIKALARM"), rovik::platform::NamedMutex::Result::Acquired);
}

}  // namespace
