// The Mosquitto fixture carries real MQTT traffic through Paho, survives a restart on the same
// port, and enforces a generated password file.
#include <gtest/gtest.h>

#include "tests/fixtures/mosquitto_fixture.h"

#include <MQTTClient.h>

namespace rovik::fixtures {
namespace {

// A connected synchronous Paho client, destroyed with the object.
class PahoClient {
 public:
  PahoClient(const std::string& url, const std::string& id) {
    ok_ = MQTTClient_create(&client_, url.c_str(), id.c_str(), MQTTCLIENT_PERSISTENCE_NONE,
                            nullptr) == MQTTCLIENT_SUCCESS;
  }
  ~PahoClient() {
    if (connected_) MQTTClient_disconnect(client_, 1000);
    if (ok_) MQTTClient_destroy(&client_);
  }
  int Connect(const MqttLogin* login = nullptr) {
    MQTTClient_connectOptions opts = MQTTClient_connectOptions_initializer;
    opts.keepAliveInterval = 20;
    opts.cleansession = 1;
    opts.connectTimeout = 5;
    if (login) {
      opts.username = login->user.c_str();
      opts.password = login->password.c_str();
    }
    int rc = ok_ ? MQTTClient_connect(client_, &opts) : -1;
    connected_ = rc == MQTTCLIENT_SUCCESS;
    return rc;
  }
  bool Subscribe(const std::string& topic) {
    return MQTTClient_subscribe(client_, topic.c_str(), 1) == MQTTCLIENT_SUCCESS;
  }
  bool Publish(const std::string& topic, const std::string& payload) {
    MQTTClient_deliveryToken token = 0;
    if (MQTTClient_publish(client_, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                           1, 0, &token) != MQTTCLIENT_SUCCESS) {
      return false;
    }
    return MQTTClient_waitForCompletion(client_, token, 5000) == MQTTCLIENT_SUCCESS;
  }
  // The payload of the next message on any subscribed topic within 5 s; nullopt otherwise.
  std::optional<std::string> Receive() {
    for (int i = 0; i < 50; ++i) {
      char* topic = nullptr;
      int topicLen = 0;
      MQTTClient_message* msg = nullptr;
      if (MQTTClient_receive(client_, &topic, &topicLen, &msg, 100) != MQTTCLIENT_SUCCESS) {
        return std::nullopt;
      }
      if (msg) {
        std::string payload(static_cast<const char*>(msg->payload), msg->payloadlen);
        MQTTClient_freeMessage(&msg);
        MQTTClient_free(topic);
        return payload;
      }
    }
    return std::nullopt;
  }

 private:
  MQTTClient client_ = nullptr;
  bool ok_ = false;
  bool connected_ = false;
};

bool PassOne(const MosquittoFixture& broker, const std::string& text,
             const MqttLogin* login = nullptr) {
  PahoClient sub(broker.Url(), "selftest-sub");
  PahoClient pub(broker.Url(), "selftest-pub");
  if (sub.Connect(login) != MQTTCLIENT_SUCCESS || !sub.Subscribe("13800000000")) return false;
  if (pub.Connect(login) != MQTTCLIENT_SUCCESS || !pub.Publish("13800000000", text)) return false;
  return sub.Receive() == text;
}

TEST(MosquittoFixture, PassesMessagesBeforeAndAfterARestart) {
  if (!MosquittoFixture::Available()) GTEST_SKIP() << "mosquitto is not installed";
  MosquittoFixture broker;
  ASSERT_TRUE(broker.Start()) << broker.Error();
  EXPECT_EQ(broker.Url(), "tcp://127.0.0.1:" + std::to_string(broker.Port()));
  EXPECT_TRUE(PassOne(broker, "{\"first\":1}")) << broker.Log();

  const int port = broker.Port();
  broker.Stop();
  EXPECT_FALSE(broker.Running());
  {
    PahoClient offline(broker.Url(), "selftest-offline");
    EXPECT_NE(offline.Connect(), MQTTCLIENT_SUCCESS);
  }
  ASSERT_TRUE(broker.Restart()) << broker.Error();
  EXPECT_EQ(broker.Port(), port);
  EXPECT_TRUE(PassOne(broker, "{\"second\":2}")) << broker.Log();
}

TEST(MosquittoFixture, PasswordFileAdmitsOnlyTheGivenLogin) {
  if (!MosquittoFixture::Available()) GTEST_SKIP() << "mosquitto is not installed";
  MosquittoFixture broker;
  const MqttLogin login{"device-7", "s3cret"};
  ASSERT_TRUE(broker.Start(login)) << broker.Error();
  {
    PahoClient anonymous(broker.Url(), "selftest-anon");
    EXPECT_NE(anonymous.Connect(), MQTTCLIENT_SUCCESS);
    PahoClient wrong(broker.Url(), "selftest-wrong");
    const MqttLogin bad{"device-7", "nope"};
    EXPECT_NE(wrong.Connect(&bad), MQTTCLIENT_SUCCESS);
  }
  EXPECT_TRUE(PassOne(broker, "with login", &login)) << broker.Log();
  // The login survives a restart: the generated files are still readable by the broker.
  ASSERT_TRUE(broker.Restart()) << broker.Error();
  EXPECT_TRUE(PassOne(broker, "again", &login)) << broker.Log();
}

}  // namespace
}  // namespace rovik::fixtures
