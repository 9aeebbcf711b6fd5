// The push channel against the faults a user's machine meets, with a real Mosquitto broker: a
// catch-up burst after the monitor was away, a store another program holds, a login the service
// rotates, a subscription the broker refuses, a video client that hangs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>

#include "alarm/cloud/http_request_queue.h"
#include "alarm/push/client_link.h"
#include "alarm/record/utf_text.h"
#include "push_harness.h"
#include "tests/fixtures/tcp_proxy_fixture.h"

using namespace rovik::alarm;

namespace {

using namespace pushtest;
using rovik::fixtures::MqttLogin;
using Clock = std::chrono::steady_clock;

constexpr char kAccount[] = "13800000000";

class QueueEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { HttpRequestQueue::DestroyInstance(); }
};
const auto* const kQueueEnvironment = ::testing::AddGlobalTestEnvironment(new QueueEnvironment);

std::string PayloadAt(const std::string& device, int64_t almTime) {
  return R"({"ipcId":"A1","deviceName":")" + device + R"(","deviceType":"DS","almTime":)" +
         std::to_string(almTime) + "}";
}

// Another program's connection holding the database's write lock.
class StoreHolder {
 public:
  explicit StoreHolder(const std::filesystem::path& folder) {
    sqlite3_open(MdSQLite::DatabasePath(folder.string()).c_str(), &db_);
  }
  ~StoreHolder() {
    Release();
    sqlite3_close(db_);
  }
  bool Hold() {
    return sqlite3_exec(db_, "begin exclusive;", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  void Release() { sqlite3_exec(db_, "commit;", nullptr, nullptr, nullptr); }

 private:
  sqlite3* db_ = nullptr;
};

class PushFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!rovik::fixtures::MosquittoFixture::Available())
      GTEST_SKIP() << "mosquitto is not installed";
    if (!Publisher::Available()) GTEST_SKIP() << "mosquitto_pub is not installed";
    h.SaveUsers({{"13800000000", "pw", "张三"}});
  }
  void StartBroker(const std::optional<MqttLogin>& login = std::nullopt) {
    ASSERT_TRUE(h.broker.Start(login)) << h.broker.Error();
    service = std::make_unique<PushService>(h.broker.Url());
    service->Configure(h.folder);
    if (login) service->SetLogin("rovik-monitor", login->user, login->password);
  }
  std::unique_ptr<PushChannel> StartChannel(PushTiming timing = {}) {
    timing.jitterSeed = 7;
    auto channel = std::make_unique<PushChannel>(&h.store, PushServiceRequests::Cloud(), timing);
    channel->SetStoreTroubleHandler([this](const std::string&) { ++troubles; });
    EXPECT_TRUE(channel->Start(h.owner.Owner()));
    EXPECT_TRUE(WaitUntil([&] { return !service->HeartbeatBodies().empty(); }, 15s))
        << "never subscribed";
    return channel;
  }
  bool PublishUntilStored(Publisher& pub, std::chrono::milliseconds bound = 15s) {
    const int before = h.StoredAlarms();
    int n = 0;
    return WaitUntil(
        [&] {
          pub.Publish(kAccount, AlarmPayload("probe " + std::to_string(n++)));
          return WaitUntil([&] { return h.StoredAlarms() > before; }, 500ms);
        },
        bound);
  }
  int Registrations() {
    int n = 0;
    for (const auto& r : service->http().Requests()) n += r.target == "/device/reg/";
    return n;
  }

  Harness h;
  std::unique_ptr<PushService> service;
  std::atomic<int> troubles{0};
};

// Five alarms published while the monitor was away (one sensor ten minutes apart by their own
// times, another sensor between) arrive in one burst: all are stored. The monitor comes back
// under the client id it kept, though the service would now hand out another.
TEST_F(PushFaultTest, ACatchUpBurstIsStoredWholeUnderTheKeptClientId) {
  StartBroker();
  StartChannel()->Stop();
  std::string login;
  ASSERT_TRUE(h.store.LoadSetting(kBrokerLoginSetting, login));
  EXPECT_EQ(login, "rovik-monitor~~");
  service->SetLogin("rovik-other", "", "");

  Publisher pub(h.broker.Port());
  const int64_t t = 1425219180;  // 22:13 somewhere
  const std::pair<const char*, int> burst[] = {{"front door", 0},
                                               {"front door", 10},
                                               {"front door", 20},
                                               {"back door", 30},
                                               {"front door", 40}};
  for (const auto& [device, minute] : burst)
    ASSERT_TRUE(pub.Publish(kAccount, PayloadAt(device, t + minute * 60)));
  auto channel = StartChannel();
  EXPECT_TRUE(WaitUntil([&] { return h.StoredAlarms() == 5; }, 15s))
      << h.StoredAlarms() << " of 5 stored";
  // A repeat by its own time (5 s after the last) is still dropped.
  ASSERT_TRUE(pub.Publish(kAccount, PayloadAt("front door", t + 40 * 60 + 5)));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(h.StoredAlarms(), 5);
  EXPECT_EQ(Registrations(), 1);
}

// Another program holds the database for 15 s: the alarms that came meanwhile are stored after,
// in order, and the user is told once. A Stop while a store call waits returns at once, and the
// alarm it held is stored at the next start.
TEST_F(PushFaultTest, AlarmsTheLockedStoreRefusedAreStoredAfterInOrder) {
  StartBroker();
  auto channel = StartChannel();
  Publisher pub(h.broker.Port());
  ASSERT_TRUE(PublishUntilStored(pub));
  const int before = h.StoredAlarms();
  {
    StoreHolder other(h.folder.Path());
    ASSERT_TRUE(other.Hold());
    for (int i = 0; i < 3; ++i)
      ASSERT_TRUE(pub.Publish(kAccount, AlarmPayload("held " + std::to_string(i), "GA")));
    std::this_thread::sleep_for(15s);
    EXPECT_EQ(h.StoredAlarms(), before);
  }
  ASSERT_TRUE(WaitUntil([&] { return h.StoredAlarms() == before + 3; }, 10s));
  AlarmList list;
  h.store.QueryUnread(list);  // newest first; equal alarm times keep the insertion order reversed
  std::vector<std::pair<int, std::string>> held;
  for (const auto& r : list)
    if (r->deviceType == std::string("GA"))
      held.emplace_back(r->id, rovik::alarm::FieldText(r->deviceName));
  std::sort(held.begin(), held.end());
  ASSERT_EQ(held.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(held[i].second, "held " + std::to_string(i));
  EXPECT_EQ(troubles.load(), 1);
  channel->Stop();

  // A store call that would wait 30 s for the lock.
  PushTiming patient;
  patient.intake.busyWait = 30s;
  channel = StartChannel(patient);
  StoreHolder other(h.folder.Path());
  ASSERT_TRUE(other.Hold());
  ASSERT_TRUE(pub.Publish(kAccount, AlarmPayload("at stop", "SF")));
  std::this_thread::sleep_for(2s);
  const auto begin = Clock::now();
  channel->Stop();  // the process would end (exit 70) if the call were not interrupted
  EXPECT_LT(Clock::now() - begin, 2s);
  // The alarm taken but not stored is kept over the stop and stored at the next start.
  other.Release();
  channel = StartChannel();
  EXPECT_TRUE(WaitUntil([&] { return h.StoredAlarms() == before + 4; }, 10s));
}

// The service changes the broker password: the refused login is fetched again and alarms flow.
TEST_F(PushFaultTest, ARotatedLoginIsFetchedAgain) {
  StartBroker(MqttLogin{"monitor", "old"});
  auto channel = StartChannel();
  {
    Publisher pub(h.broker.Port(), MqttLogin{"monitor", "old"});
    ASSERT_TRUE(PublishUntilStored(pub));
  }
  service->SetLogin("rovik-monitor", "monitor", "new");
  const auto rotated = Clock::now();
  ASSERT_TRUE(h.broker.ChangePassword("new")) << h.broker.Error();
  Publisher pub(h.broker.Port(), MqttLogin{"monitor", "new"});
  EXPECT_TRUE(PublishUntilStored(pub, 90s)) << "deaf after the password changed";
  EXPECT_LE(Clock::now() - rotated, 90s);
  EXPECT_GE(Registrations(), 2);
}

// A subscription the broker never answers (the path to it swallows what the monitor sends) fails
// after its bound; it is counted and tried again until it holds, on the connection that follows.
TEST_F(PushFaultTest, AFailedSubscriptionIsTriedAgainUntilItHolds) {
  ASSERT_TRUE(h.broker.Start()) << h.broker.Error();
  rovik::fixtures::TcpProxyFixture proxy;
  ASSERT_TRUE(proxy.Start(h.broker.Port()));
  service = std::make_unique<PushService>("tcp://127.0.0.1:" + std::to_string(proxy.Port()));
  service->Configure(h.folder);
  ASSERT_TRUE(h.client.Open());  // the video client runs: nothing is subscribed until it asks
  PushChannel channel(&h.store);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  ASSERT_TRUE(h.client.WaitFor("1~0", 15s));
  proxy.SwallowOpen(/*toTarget=*/true, /*toClient=*/false);
  ASSERT_TRUE(channel.RequestResubscribe());
  Publisher pub(h.broker.Port());
  EXPECT_TRUE(PublishUntilStored(pub, 90s)) << "the failed subscription was never tried again\n"
                                            << h.broker.Log();
  channel.Stop();
}

// The video client's window exists but its program is frozen: the alarms are stored and reach
// the popup within the delivery bound, each with its store ID; Stop still returns promptly.
TEST_F(PushFaultTest, AFrozenClientWindowSendsTheAlarmsToThePopup) {
  const auto program = rovik::fixtures::BinDir() / "rovik-send";
  if (!std::filesystem::exists(program)) GTEST_SKIP() << "rovik-send is not built";
  StartBroker();
  auto channel = StartChannel();
  Publisher pub(h.broker.Port());
  ASSERT_TRUE(PublishUntilStored(pub));
  const std::size_t popupBefore = h.owner.Records().size();
  const int before = h.StoredAlarms();

  rovik::fixtures::ChildProcess client;
  ASSERT_TRUE(h.StartClientProgram(client)) << client.Error();
  ASSERT_TRUE(client.Signal(SIGSTOP));
  const auto begin = Clock::now();
  for (const char* type : {"DS", "EB", "GA"})
    ASSERT_TRUE(pub.Publish(kAccount, AlarmPayload("frozen", type)));
  EXPECT_TRUE(WaitUntil([&] { return h.owner.Records().size() == popupBefore + 3; }, 8s));
  EXPECT_LE(Clock::now() - begin, 8s);
  EXPECT_EQ(h.StoredAlarms(), before + 3);
  for (std::size_t i = popupBefore; i < h.owner.Records().size(); ++i)
    EXPECT_GT(h.owner.Records()[i].id, 0);
  const auto stopBegin = Clock::now();
  channel->Stop();
  EXPECT_LT(Clock::now() - stopBegin, 5s);
  client.Signal(SIGCONT);
}

}  // namespace
