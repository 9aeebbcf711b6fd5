// Message intake, subscriptions and the heartbeat choice, driven on a channel without its thread
// (no broker: the subscribe calls fail, the table is built all the same).
#include <gtest/gtest.h>

#include <cstring>

#include "alarm/push/broker_params.h"
#include "alarm/push/client_link.h"
#include "alarm/record/utf_text.h"
#include "push_harness.h"

using namespace rovik::alarm;

namespace {

using namespace pushtest;
using rovik::alarm::FieldText;

struct Heartbeats {
  std::vector<std::string> accounts;
  PushServiceRequests Requests() {
    PushServiceRequests r = PushServiceRequests::None();
    r.heartbeat = [this](IHttpEvents*, const std::string& account, const std::string& password,
                         const std::string& list) {
      accounts.push_back(account + "/" + password + "/" + list);
      return false;
    };
    return r;
  }
};

class IntakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.SaveUsers({{"13800000000", "pw", "张三"}, {"13900000000", "NULL", "李四"}});
    channel.SetOwner(h.owner.Owner());
    channel.SetClock([this] { return now; });
    channel.SubscribeAll();
  }
  void Take(const std::string& topic, const std::string& payload) {
    channel.MessageIntake(topic, payload.data(), static_cast<long>(payload.size()));
  }
  Harness h;
  Heartbeats heartbeats;
  SystemTime now{2015, 3, 1, 0, 0, 0, 0};
  PushChannel channel{&h.store, heartbeats.Requests()};
};

TEST_F(IntakeTest, AlarmIsStoredAndItsCopyHandedToTheOwner) {
  Take("13800000000", AlarmPayload("前门"));
  ASSERT_EQ(h.StoredAlarms(), 1);
  const auto records = h.owner.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FieldText(records[0].account), "13800000000");
  EXPECT_EQ(FieldText(records[0].deviceName), "前门");
  EXPECT_EQ(FieldText(records[0].userName), u"张三");
  AlarmList stored;
  ASSERT_EQ(h.store.QueryUnread(stored), 1);
  EXPECT_EQ(records[0].id, stored[0]->id);  // the popup's copy can be marked read
  EXPECT_EQ(FieldText(stored[0]->userName), u"张三");
}

TEST_F(IntakeTest, RepeatsWithinTenSecondsAreDropped) {
  Take("13800000000", AlarmPayload("door"));
  now.second = 5;
  Take("13800000000", AlarmPayload("door"));
  now.second = 14;
  Take("13800000000", AlarmPayload("door"));  // 9 s after the renewal at 5
  now.second = 15;
  Take("13900000000", AlarmPayload("door"));  // the same sensor on another account
  now.second = 16;
  Take("13800000000", AlarmPayload("door"));  // the last accepted alarm was another account's
  EXPECT_EQ(h.StoredAlarms(), 3);
  EXPECT_EQ(h.owner.Records().size(), 3u);
}

// The broker's redelivery (its duplicate mark set) of a message taken before is dropped, also by
// a monitor started afresh on the same store; the same alarm published again (no mark) still
// follows the 10-second rule alone.
TEST_F(IntakeTest, ARedeliveryIsStoredOnceAndARepublishedAlarmAgainAfterTenSeconds) {
  const std::string first = AlarmPayload("door");
  channel.MessageIntake("13800000000", first.data(), static_cast<long>(first.size()),
                        /*redelivered=*/false);
  now.minute = 5;
  channel.MessageIntake("13800000000", first.data(), static_cast<long>(first.size()),
                        /*redelivered=*/true);
  EXPECT_EQ(h.StoredAlarms(), 1);
  EXPECT_EQ(h.owner.Records().size(), 1u);

  // Dropped by the 10-second rule, then redelivered after it: still not taken.
  const std::string repeat = AlarmPayload("window");
  Take("13800000000", repeat);
  now.second = 3;
  Take("13800000000", repeat);
  now.minute = 9;
  channel.MessageIntake("13800000000", repeat.data(), static_cast<long>(repeat.size()), true);
  EXPECT_EQ(h.StoredAlarms(), 2);

  // A message the broker never managed to hand over arrives marked, and is taken.
  const std::string missed = AlarmPayload("gas", "GA");
  channel.MessageIntake("13800000000", missed.data(), static_cast<long>(missed.size()), true);
  EXPECT_EQ(h.StoredAlarms(), 3);

  // Republished by the service (no mark) after more than 10 s: a new alarm.
  now.minute = 20;
  Take("13800000000", first);
  EXPECT_EQ(h.StoredAlarms(), 4);

  // A fresh monitor on the same store knows what it took.
  PushChannel restarted{&h.store, PushServiceRequests::None()};
  restarted.SetClock([this] { return now; });
  restarted.SubscribeAll();
  now.minute = 30;
  restarted.MessageIntake("13800000000", missed.data(), static_cast<long>(missed.size()), true);
  EXPECT_EQ(h.StoredAlarms(), 4);
}

TEST_F(IntakeTest, UnknownOrMalformedTopicsStoreNothing) {
  Take("15000000000", AlarmPayload("door"));
  Take(std::string("13800000000\0x", 13), AlarmPayload("door"));
  Take("1380000\xFF", AlarmPayload("door"));
  Take("", AlarmPayload("door"));
  channel.MessageIntake("13800000000", nullptr, 10);
  channel.MessageIntake("13800000000", "x", 0);
  EXPECT_EQ(h.StoredAlarms(), 0);
  EXPECT_TRUE(h.owner.Records().empty());
}

TEST_F(IntakeTest, PayloadsWithoutAlarmDataStillStoreAccountAndName) {
  Take("13800000000", "not json");
  Take("13900000000", std::string(70000, '{'));
  AlarmList stored;
  ASSERT_EQ(h.store.QueryUnread(stored), 2);
  for (const auto& r : stored) {
    EXPECT_EQ(r->deviceName[0], 0);
    EXPECT_EQ(r->deviceType[0], 0);
    EXPECT_FALSE(FieldText(r->userName).empty());
  }
}

TEST_F(IntakeTest, HeartbeatAfterSubscriptionNeverUsesNullPasswords) {
  ASSERT_EQ(heartbeats.accounts.size(), 1u);
  EXPECT_EQ(heartbeats.accounts[0], "13800000000/pw/13800000000,13900000000");
  // Only NULL passwords: no heartbeat at all.
  h.store.DeleteAllUsers();
  h.SaveUsers({{"111", "NULL", "a"}, {"222", "NULL", "b"}});
  channel.SubscribeAll();
  EXPECT_EQ(heartbeats.accounts.size(), 1u);
  // No accounts: nothing subscribed, no heartbeat.
  h.store.DeleteAllUsers();
  channel.SubscribeAll();
  EXPECT_EQ(heartbeats.accounts.size(), 1u);
}

TEST(BrokerParams, ParsedFromAddressAndLogin) {
  const auto p = ParseBrokerParams("tcp://127.0.0.1:1883", "client-1~user~pa~ss");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->host, "127.0.0.1");
  EXPECT_EQ(p->port, "1883");
  EXPECT_EQ(p->clientId, "client-1");
  EXPECT_EQ(p->userName, "user");
  EXPECT_EQ(p->password, "pa~ss");
  EXPECT_EQ(p->ServerText(), "tcp://127.0.0.1:1883");
  EXPECT_TRUE(ParseBrokerParams("tcp://h:1", "~~"));  // empty login parts are allowed
  EXPECT_FALSE(ParseBrokerParams("127.0.0.1:1883", "c~u~p"));
  EXPECT_FALSE(ParseBrokerParams("tcp://127.0.0.1", "c~u~p"));
  EXPECT_FALSE(ParseBrokerParams("tcp://h:1", "c~u"));
  EXPECT_FALSE(ParseBrokerParams("tcp://h:1", "c~u~" + std::string(250, 'p')));  // over 255 bytes
  const auto cut = ParseBrokerParams("tcp://" + std::string(80, 'h') + ":1", "c~u~p");
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->host.size(), 55u);
}

TEST(ClientLink, AlarmBlockIsFourTildeRecordAndZero) {
  AlarmRecord r;
  ClearRecord(r);
  r.id = 7;
  rovik::alarm::CopyField(r.account, "138");
  const AlarmBlock block = MakeAlarmBlock(r);
  ASSERT_EQ(block.size(), 1243u);
  EXPECT_EQ(block[0], '4');
  EXPECT_EQ(block[1], '~');
  EXPECT_EQ(std::memcmp(block.data() + 2, &r, sizeof r), 0);
  EXPECT_EQ(block[1242], 0);
}

TEST(ClientLink, TextsReachTheClientWindowOnlyWhenItExists) {
  Harness h;
  EXPECT_FALSE(FindClientWindow());
  EXPECT_FALSE(SendTextToClient("10~3"));
  ASSERT_TRUE(h.client.Open());
  EXPECT_TRUE(FindClientWindow());
  EXPECT_TRUE(SendTextToClient("10~3"));
  EXPECT_EQ(h.client.Messages(), std::vector<std::string>{"10~3"});
}

}  // namespace
