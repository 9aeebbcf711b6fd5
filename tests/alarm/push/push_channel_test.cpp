// The push channel end to end: a real Mosquitto broker, the push service on an HTTP fixture, the
// video client's window present or not.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "alarm/push/client_link.h"

#include "alarm/cloud/http_request_queue.h"
#include "alarm/record/utf_text.h"
#include "push_harness.h"

using namespace rovik::alarm;

namespace {

using namespace pushtest;
using rovik::alarm::FieldText;
using rovik::fixtures::MqttLogin;

// The process's HTTP request queue is ended once, after every test.
class QueueEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { HttpRequestQueue::DestroyInstance(); }
};
const auto* const kQueueEnvironment = ::testing::AddGlobalTestEnvironment(new QueueEnvironment);

class PushChannelTest : public ::testing::Test {
 protected:
  void StartBroker(const std::optional<MqttLogin>& login = std::nullopt) {
    if (!MosquittoFixture::Available()) GTEST_SKIP() << "mosquitto is not installed";
    ASSERT_TRUE(h.broker.Start(login)) << h.broker.Error();
    service = std::make_unique<PushService>(h.broker.Url());
    service->Configure(h.folder);
  }
  // Publishes distinct alarms until one is stored (the subscription may still be on its way).
  bool PublishUntilStored(Publisher& pub, const std::string& topic, int storedBefore) {
    int n = 0;
    return WaitUntil(
        [&] {
          pub.Publish(topic, AlarmPayload("probe " + std::to_string(n++)));
          return WaitUntil([&] { return h.StoredAlarms() > storedBefore; }, 300ms);
        },
        15s);
  }

  using MosquittoFixture = rovik::fixtures::MosquittoFixture;
  Harness h;
  std::unique_ptr<PushService> service;
};

TEST_F(PushChannelTest, WithTheClientRunningItIsToldAndNothingIsSubscribedUntilAsked) {
  StartBroker();
  h.SaveUsers({{"13800000000", "pw", "张三"}});
  ASSERT_TRUE(h.client.Open());
  PushChannel channel(&h.store);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  ASSERT_TRUE(h.client.WaitFor([](const std::string& m) { return m == "1~0"; }, 10s));
  EXPECT_TRUE(channel.HasMqttClient());
  Publisher pub(h.broker.Port());
  ASSERT_TRUE(pub.Available());
  for (int i = 0; i < 3; ++i)
    pub.Publish("13800000000", AlarmPayload("early " + std::to_string(i)));
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(h.StoredAlarms(), 0);
  EXPECT_TRUE(service->HeartbeatBodies().empty());

  ASSERT_TRUE(channel.RequestResubscribe());
  ASSERT_TRUE(PublishUntilStored(pub, "13800000000", 0));
  ASSERT_TRUE(h.client.WaitFor([](const std::string& m) { return m.size() == 1243; }, 5s));
  for (const std::string& m : h.client.Messages()) {
    if (m.size() != 1243) continue;
    EXPECT_EQ(m.substr(0, 2), "4~");
    EXPECT_EQ(m[1242], '\0');
    AlarmRecord r;
    std::memcpy(&r, m.data() + 2, sizeof r);
    EXPECT_EQ(FieldText(r.account), "13800000000");
    EXPECT_EQ(FieldText(r.userName), u"张三");
    EXPECT_EQ(r.id, 0);
  }
  EXPECT_TRUE(h.owner.Records().empty());
  // The heartbeat after the subscription is sent by the channel's own thread: waited for.
  EXPECT_TRUE(WaitUntil([&] { return service->HeartbeatBodies().size() == 1; }, 10s));

  ASSERT_TRUE(channel.RequestUnreadCount());
  const std::string expected = "10~" + std::to_string(h.store.GetUnreadCount());
  EXPECT_TRUE(h.client.WaitFor([&](const std::string& m) { return m == expected; }, 5s));
  channel.Stop();
}

TEST_F(PushChannelTest, WithoutTheClientStoredAccountsAreSubscribedAndAlarmsReachTheOwner) {
  StartBroker();
  h.SaveUsers({{"13800000000", "pw1", "张三"}, {"13900000000", "pw2", "李四"}});
  PushChannel channel(&h.store);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  ASSERT_TRUE(WaitUntil([&] { return !service->HeartbeatBodies().empty(); }, 10s));
  EXPECT_EQ(service->HeartbeatBodies()[0],
            "phone=13800000000&password=pw1&phone_list=13800000000,13900000000");

  Publisher pub(h.broker.Port());
  ASSERT_TRUE(pub.Available());
  ASSERT_TRUE(PublishUntilStored(pub, "13900000000", 0));
  const int stored = h.StoredAlarms();
  ASSERT_TRUE(WaitUntil([&] { return static_cast<int>(h.owner.Records().size()) == stored; }, 2s));
  EXPECT_EQ(FieldText(h.owner.Records().back().userName), u"李四");

  // A repeat within 10 s is dropped; a topic nobody watches stores nothing; a payload that is not
  // JSON still stores account and name.
  pub.Publish("13800000000", AlarmPayload("back door"));
  pub.Publish("13800000000", AlarmPayload("back door"));
  pub.Publish("15000000000", AlarmPayload("elsewhere"));
  pub.Publish("13800000000", "plain text");
  ASSERT_TRUE(WaitUntil([&] { return h.StoredAlarms() == stored + 2; }, 5s));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(h.StoredAlarms(), stored + 2);
  AlarmList list;
  h.store.QueryAlarmsByTime(list, "", "~");
  int plain = 0;
  for (const auto& r : list) {
    if (r->deviceName[0] == 0) {
      ++plain;
      EXPECT_EQ(FieldText(r->account), "13800000000");
      EXPECT_EQ(FieldText(r->userName), u"张三");
    }
  }
  EXPECT_EQ(plain, 1);
  channel.Stop();
}

TEST_F(PushChannelTest, TheBrokerLoginComesFromTheRegistrationReply) {
  const MqttLogin login{"monitor", "s3cret"};
  StartBroker(login);
  h.SaveUsers({{"13800000000", "pw", "张三"}});
  {
    service->SetLogin("rovik-wrong", "monitor", "wrong");
    PushChannel channel(&h.store);
    ASSERT_TRUE(channel.Start(h.owner.Owner()));
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(service->HeartbeatBodies().empty()) << "connected with a wrong login";
    channel.Stop();
  }
  service->SetLogin("rovik-right", "monitor", "s3cret");
  PushChannel channel(&h.store);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  ASSERT_TRUE(WaitUntil([&] { return !service->HeartbeatBodies().empty(); }, 10s));
  Publisher pub(h.broker.Port(), login);
  ASSERT_TRUE(PublishUntilStored(pub, "13800000000", 0));
  channel.Stop();
}

TEST_F(PushChannelTest, ABrokerRestartIsSurvivedAndAlarmsFlowAgain) {
  StartBroker();
  h.SaveUsers({{"13800000000", "pw", "张三"}});
  PushTiming timing;
  timing.lookupBackoff = {1s, 1s};  // a lookup within a second of the loss, and then every second
  timing.connectBackoff = {
      1s, 1s};  // connects as often: the default's 60 s bound is the liveness suite's
  PushChannel channel(&h.store, PushServiceRequests::Cloud(), timing);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  {
    Publisher pub(h.broker.Port());
    ASSERT_TRUE(PublishUntilStored(pub, "13800000000", 0));
  }
  const std::size_t lookups = service->http().RequestCount();
  h.broker.Stop();
  std::this_thread::sleep_for(3s);  // the channel notices, fails to reconnect, looks up again
  EXPECT_GT(service->http().RequestCount(), lookups);
  ASSERT_TRUE(h.broker.Restart()) << h.broker.Error();
  const int before = h.StoredAlarms();
  Publisher pub(h.broker.Port());
  ASSERT_TRUE(pub.Available());
  EXPECT_TRUE(PublishUntilStored(pub, "13800000000", before)) << "deaf after the broker restart";
  channel.Stop();
}

TEST_F(PushChannelTest, TheHeartbeatMovesOnAfterARefusalAndSkipsNullPasswords) {
  StartBroker();
  h.SaveUsers({{"111", "NULL", "a"}, {"222", "p2", "b"}, {"333", "p3", "c"}});
  service->SetHeartbeatReply(R"({"errno":1,"error":"refused"})");
  PushTiming timing;
  timing.heartbeatInterval = 1s;  // a heartbeat every second
  PushChannel channel(&h.store, PushServiceRequests::Cloud(), timing);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  ASSERT_TRUE(WaitUntil([&] { return service->HeartbeatBodies().size() >= 4; }, 15s));
  channel.Stop();
  const auto bodies = service->HeartbeatBodies();
  EXPECT_EQ(bodies[0], "phone=222&password=p2&phone_list=111,222,333");
  EXPECT_EQ(bodies[1].rfind("phone=333&password=p3&", 0), 0u);
  for (const auto& b : bodies) EXPECT_EQ(b.find("phone=111&"), std::string::npos) << b;
}

TEST_F(PushChannelTest, StopEndsTheThreadPromptlyAndRequestsFailAfterwards) {
  StartBroker();
  PushChannel channel(&h.store);
  EXPECT_FALSE(channel.RequestResubscribe());
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  EXPECT_TRUE(channel.RequestResubscribe());
  const auto begin = std::chrono::steady_clock::now();
  channel.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
  EXPECT_FALSE(channel.RequestUnreadCount());
  channel.Stop();
}

// A push service that takes requests and never answers: however long it stays silent, the channel
// keeps at most one lookup and one registration waiting; an answer lets the next one go.
TEST_F(PushChannelTest, WhileThePushServiceIsSilentOneLookupAndOneRegistrationWait) {
  std::mutex mutex;
  int lookups = 0, registrations = 0;  // guarded by mutex
  IHttpEvents* sink = nullptr;         // guarded by mutex
  PushServiceRequests silent;
  silent.brokerLookup = [&](IHttpEvents* events) {
    std::lock_guard<std::mutex> guard(mutex);
    ++lookups;
    sink = events;
    return true;
  };
  silent.deviceRegistration = [&](IHttpEvents*) {
    std::lock_guard<std::mutex> guard(mutex);
    ++registrations;
    return true;
  };
  silent.heartbeat = [](IHttpEvents*, const std::string&, const std::string&, const std::string&) {
    return false;
  };
  PushTiming timing;
  timing.lookupBackoff = {50ms, 50ms};
  PushChannel channel(&h.store, silent, timing);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  std::this_thread::sleep_for(1500ms);  // about 30 lookup intervals
  IHttpEvents* events = nullptr;
  {
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(registrations, 1);
    events = sink;
  }
  ASSERT_NE(events, nullptr);
  // The lookup fails (as the transport reports it): the next interval asks again, once.
  events->OnHttpResult(R"({"errno":1,"error":"Exception"})", 1, HTTP_REQ_BROKER_LOOKUP, 0);
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> guard(mutex);
        return lookups == 2;
      },
      2s));
  std::this_thread::sleep_for(500ms);
  channel.Stop();
  std::lock_guard<std::mutex> guard(mutex);
  EXPECT_EQ(lookups, 2);
  EXPECT_EQ(registrations, 1);
  // The replies still owed arrive after the channel has gone (the queue still holds them).
  events->OnHttpResult(R"({"errno":1})", 1, HTTP_REQ_BROKER_LOOKUP, 0);
  events->OnHttpResult(R"({"errno":1})", 1, HTTP_REQ_DEVICE_REG, 0);
}

// The heartbeat follows the clock: a burst of alarms, each pass taking one without a pause, sends
// none beyond the one after the subscription.
TEST_F(PushChannelTest, ABurstOfAlarmsSendsNoExtraHeartbeat) {
  StartBroker();
  h.SaveUsers({{"13800000000", "pw", "张三"}});
  PushChannel channel(&h.store);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  ASSERT_TRUE(WaitUntil([&] { return service->HeartbeatBodies().size() == 1; }, 10s));
  Publisher pub(h.broker.Port());
  ASSERT_TRUE(pub.Available());
  ASSERT_TRUE(PublishUntilStored(pub, "13800000000", 0));
  // Four bursts of 750 (the broker queues at most 1000 for a subscriber), each taken whole
  // before the next; the unread count is the cheap way to follow the store.
  constexpr int kBurst = 750;
  for (int burst = 0; burst < 4; ++burst) {
    const int before = h.store.GetUnreadCount();
    std::string lines;
    for (int i = 0; i < kBurst; ++i) {
      lines += AlarmPayload("burst " + std::to_string(burst) + "." + std::to_string(i)) + "\n";
    }
    h.folder.WriteFile("burst.txt", lines);
    ASSERT_TRUE(pub.PublishLines("13800000000", h.folder.Path() / "burst.txt", 60s));
    ASSERT_TRUE(WaitUntil(
        [&] {
          std::this_thread::sleep_for(200ms);
          return h.store.GetUnreadCount() >= before + kBurst;
        },
        60s))
        << h.store.GetUnreadCount() - before << " of a burst stored";
  }
  EXPECT_EQ(service->HeartbeatBodies().size(), 1u);
  channel.Stop();
}

TEST_F(PushChannelTest, RovikSendAsTheClientGetsTheAnnouncementAndTheAlarmBlock) {
  const auto program = rovik::fixtures::BinDir() / "rovik-send";
  if (!std::filesystem::exists(program)) GTEST_SKIP() << "rovik-send is not built";
  StartBroker();
  h.SaveUsers({{"13800000000", "pw", "张三"}});
  rovik::fixtures::ChildProcess client;
  ASSERT_TRUE(h.StartClientProgram(client)) << client.Error();
  PushChannel channel(&h.store);
  ASSERT_TRUE(channel.Start(h.owner.Owner()));
  ASSERT_TRUE(client.WaitForStdout("cbData=3 data=1~0", 10s)) << client.Stdout();
  channel.RequestResubscribe();
  Publisher pub(h.broker.Port());
  ASSERT_TRUE(PublishUntilStored(pub, "13800000000", 0));
  EXPECT_TRUE(client.WaitForStdout("cbData=1243 data=4~", 5s)) << client.Stdout();
  EXPECT_TRUE(h.owner.Records().empty());
  channel.Stop();
}

}  // namespace
