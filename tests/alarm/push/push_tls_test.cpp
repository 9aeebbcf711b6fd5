// The push channel reaches a TLS broker (ssl:// or mqtts:// in the lookup reply) through a real
// Mosquitto TLS listener whose certificates come from a throw-away CA: alarms flow when the
// certificate verifies against the CA file the deployment names; a certificate from another CA,
// or one for another host name, is refused: no alarm, the monitor keeps trying, and the debug
// log says why.
#include <gtest/gtest.h>

#include "alarm/cloud/http_request_queue.h"
#include "alarm/push/broker_params.h"
#include "alarm/record/utf_text.h"
#include "push_harness.h"
#include "tests/fixtures/test_ca.h"

using namespace rovik::alarm;

namespace {

using namespace pushtest;
using rovik::alarm::FieldText;
using rovik::fixtures::MqttTlsListener;
using rovik::fixtures::ServerCertificate;
using rovik::fixtures::TestCa;

class QueueEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { HttpRequestQueue::DestroyInstance(); }
};
const auto* const kQueueEnvironment = ::testing::AddGlobalTestEnvironment(new QueueEnvironment);

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class PushTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!rovik::fixtures::MosquittoFixture::Available())
      GTEST_SKIP() << "mosquitto is not installed";
    if (!TestCa::Available()) GTEST_SKIP() << "openssl is not installed";
    ASSERT_TRUE(ca.Ok()) << ca.Error();
    h.SaveUsers({{"13800000000", "pw", "张三"}});
  }
  void TearDown() override {
    if (capturing_) testing::internal::GetCapturedStderr();
  }

  // Starts the broker with a TLS listener presenting `cert`, and the push service pointing the
  // channel at it with `scheme`; the deployment trusts `ca` (named relative to the program
  // folder, as an installation would carry it in FILE/).
  void StartTlsBroker(const ServerCertificate& cert, const std::string& scheme = "ssl") {
    ASSERT_TRUE(
        h.broker.Start(std::nullopt, MqttTlsListener{cert.certFile, cert.keyFile, ca.CaFile()}))
        << h.broker.Error();
    service = std::make_unique<PushService>(h.broker.TlsUrl(scheme));
    service->Configure(h.folder);
    ASSERT_TRUE(
        h.folder.WriteFile("FILE/push-ca.pem", rovik::fixtures::ReadWholeFile(ca.CaFile())));
    ASSERT_TRUE(h.folder.WriteFile("FILE/RovikPush.txt", service->http().Url("/lookup") + "\n" +
                                                             service->http().Url("/device/reg/") +
                                                             "\nFILE/push-ca.pem\n"));
    LoadServerAddressFrom(h.folder.Path());
  }
  void CaptureLog() {
    testing::internal::CaptureStderr();
    capturing_ = true;
  }
  std::string CapturedLog() {
    capturing_ = false;
    return testing::internal::GetCapturedStderr();
  }

  // A refused broker: nothing is stored although alarms are published, and the channel goes on
  // trying (a failed TLS connect after each lookup). Returns the debug log.
  std::string ExpectRefusedAndRetried() {
    PushTiming timing;
    timing.lookupBackoff = {std::chrono::seconds(1),
                            std::chrono::seconds(1)};  // a lookup and a new
    timing.connectBackoff = {std::chrono::seconds(1),
                             std::chrono::seconds(1)};  // attempt within a second
    CaptureLog();
    PushChannel channel(&h.store, PushServiceRequests::Cloud(), timing);
    EXPECT_TRUE(channel.Start(h.owner.Owner()));
    Publisher pub(h.broker.Port());
    // Until the channel has looked the broker up again twice (and tried to connect meanwhile).
    auto lookups = [&] {
      int n = 0;
      for (const auto& r : service->http().Requests()) n += r.target == "/lookup" ? 1 : 0;
      return n;
    };
    // The waits are drawn at random within their second: give the tries three seconds at least.
    const auto begin = std::chrono::steady_clock::now();
    const auto end = begin + 20s;
    while ((lookups() < 3 || std::chrono::steady_clock::now() - begin < 3s) &&
           std::chrono::steady_clock::now() < end) {
      pub.Publish("13800000000", AlarmPayload("front door"));
      std::this_thread::sleep_for(300ms);
    }
    EXPECT_GE(lookups(), 3);
    channel.Stop();
    const std::string log = CapturedLog();
    EXPECT_EQ(h.StoredAlarms(), 0);
    EXPECT_TRUE(h.owner.Records().empty());
    EXPECT_TRUE(service->HeartbeatBodies().empty()) << "the channel connected";
    EXPECT_GE(Count(log, "RovikAlarm: TLS connection to " + h.broker.TlsUrl() + " (CA file " +
                             (h.folder / "FILE/push-ca.pem").string() + ") failed"),
              2)
        << log;
    return log;
  }

  TestCa ca{"Rovik Push Test CA"};
  Harness h;
  std::unique_ptr<PushService> service;
  bool capturing_ = false;
};

TEST_F(PushTlsTest, AlarmsArriveOverSslAndMqttsWhenTheCertificateVerifies) {
  const auto cert = ca.IssueServer("broker", "IP:127.0.0.1,DNS:localhost");
  ASSERT_TRUE(cert) << ca.Error();
  for (const std::string scheme : {"ssl", "mqtts"}) {
    SCOPED_TRACE(scheme);
    StartTlsBroker(*cert, scheme);
    const int before = h.StoredAlarms();
    PushChannel channel(&h.store);
    ASSERT_TRUE(channel.Start(h.owner.Owner()));
    ASSERT_TRUE(WaitUntil([&] { return !service->HeartbeatBodies().empty(); }, 15s))
        << "no connection";
    Publisher pub(h.broker.Port());
    int n = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
          pub.Publish("13800000000", AlarmPayload(scheme + " probe " + std::to_string(n++)));
          return WaitUntil([&] { return h.StoredAlarms() > before; }, 300ms);
        },
        15s));
    ASSERT_TRUE(WaitUntil([&] { return !h.owner.Records().empty(); }, 5s));
    EXPECT_EQ(FieldText(h.owner.Records().back().userName), u"张三");
    channel.Stop();
    // The channel came in through the TLS listener (publishers use the plain one).
    EXPECT_NE(h.broker.Log().find("on port " + std::to_string(h.broker.TlsPort()) + "."),
              std::string::npos)
        << h.broker.Log();
  }
}

TEST_F(PushTlsTest, ACertificateFromAnotherCaIsRefusedAndTheMonitorKeepsTrying) {
  TestCa other("Somebody Else's CA");
  ASSERT_TRUE(other.Ok()) << other.Error();
  const auto cert = other.IssueServer("broker", "IP:127.0.0.1,DNS:localhost");
  ASSERT_TRUE(cert) << other.Error();
  StartTlsBroker(*cert);
  const std::string log = ExpectRefusedAndRetried();
  EXPECT_NE(log.find("failed (-1): SSL routines: certificate verify failed\n"), std::string::npos)
      << log;
}

TEST_F(PushTlsTest, ACertificateForAnotherHostIsRefused) {
  const auto cert = ca.IssueServer("broker.elsewhere.example", "DNS:broker.elsewhere.example");
  ASSERT_TRUE(cert) << ca.Error();
  StartTlsBroker(*cert);
  const std::string log = ExpectRefusedAndRetried();
  EXPECT_NE(log.find("failed (-1): X509_check_host for hostname 127.0.0.1 failed, rc 0\n"),
            std::string::npos)
      << log;
}

TEST_F(PushTlsTest, AMissingCaFileIsAFailedConnectWithItsReason) {
  const auto cert = ca.IssueServer("broker", "IP:127.0.0.1");
  ASSERT_TRUE(cert) << ca.Error();
  StartTlsBroker(*cert);
  std::filesystem::remove(h.folder / "FILE/push-ca.pem");
  const std::string log = ExpectRefusedAndRetried();
  EXPECT_NE(log.find("failed (-1): BIO routines: no such file"), std::string::npos) << log;
}

TEST(BrokerScheme, TlsSchemesAreKeptAndOthersConnectAsTcp) {
  EXPECT_EQ(ParseBrokerParams("ssl://broker:8883", "c~u~p")->ServerText(), "ssl://broker:8883");
  EXPECT_TRUE(ParseBrokerParams("MQTTS://broker:8883", "c~u~p")->Tls());
  EXPECT_EQ(ParseBrokerParams("MQTTS://broker:8883", "c~u~p")->ServerText(), "mqtts://broker:8883");
  EXPECT_FALSE(ParseBrokerParams("tcp://broker:1883", "c~u~p")->Tls());
  EXPECT_EQ(ParseBrokerParams("http://broker:1883", "c~u~p")->ServerText(), "tcp://broker:1883");
}

}  // namespace
