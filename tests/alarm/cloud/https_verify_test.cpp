// The monitor's HTTP requests to https:// addresses verify the server's certificate: a server
// whose certificate no trusted CA signed is refused during the handshake, and the heartbeat and
// the broker lookup reach their sink as the transport failure {"errno":1,...}, like any other.
#include <gtest/gtest.h>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/http_request_queue.h"
#include "tests/alarm/cloud/reply_sink.h"
#include "tests/fixtures/https_server_fixture.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_ca.h"
#include "tests/fixtures/test_env.h"
#include "tests/fixtures/wait_until.h"

using namespace rovik::alarm;

namespace {

using namespace std::chrono_literals;
using rovik::fixtures::HttpsServerFixture;
using rovik::fixtures::ScopedEnv;
using rovik::fixtures::TempDir;
using rovik::fixtures::TestCa;

using Sink = rovik::cloud_tests::ReplySink;

TEST(HttpsVerification, AServerCertificateNoTrustedCaSignedIsATransportFailure) {
  if (!TestCa::Available()) GTEST_SKIP() << "openssl is not installed";
  if (!HttpsServerFixture::Available()) GTEST_SKIP() << "python3 is not installed";
  std::vector<std::unique_ptr<ScopedEnv>> env;
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    env.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
  }
  // Everything about the certificate is right except who signed it.
  TestCa ca("Untrusted Test CA");
  ASSERT_TRUE(ca.Ok()) << ca.Error();
  const auto cert = ca.IssueServer("cloud", "IP:127.0.0.1,DNS:localhost");
  ASSERT_TRUE(cert) << ca.Error();
  HttpsServerFixture server;
  ASSERT_TRUE(server.Start(cert->certFile, cert->keyFile)) << server.Error();

  TempDir folder("rovik-https-");
  folder.WriteFile("FILE/RovikInfo.txt", server.Url());
  folder.WriteFile("FILE/RovikPush.txt",
                   server.Url("/lookup") + "\n" + server.Url("/device/reg/") + "\n");
  LoadServerAddressFrom(folder.Path());

  // Outlives a request still in flight when the test gives up waiting.
  static Sink sink;
  ASSERT_TRUE(SendHeartbeat(&sink, "13800000000", "pw", "13800000000"));
  auto reply = sink.Next();
  EXPECT_EQ(reply.code, HTTP_REQ_HEARTBEAT);
  EXPECT_EQ(reply.text, R"({"errno":1,"error":"Exception"})");
  ASSERT_TRUE(RequestBrokerAddress(&sink));
  reply = sink.Next();
  EXPECT_EQ(reply.code, HTTP_REQ_BROKER_LOOKUP);
  EXPECT_EQ(reply.text, R"({"errno":1,"error":"Exception"})");

  // The client itself ended the handshakes over the certificate; no request got through.
  rovik::fixtures::WaitUntil([&] { return server.HandshakeFailures().size() >= 2; }, 5s);
  const auto failures = server.HandshakeFailures();
  ASSERT_EQ(failures.size(), 2u);
  for (const auto& reason : failures) EXPECT_EQ(reason, "TLSV1_ALERT_UNKNOWN_CA");
  EXPECT_TRUE(server.Requests().empty());
  ResetServerAddress();
}

// A private push service names its CA on FILE/RovikPush.txt's third line: the broker lookup and the
// registration are verified against it, host name included.
TEST(HttpsVerification, APrivateServicesCaIsTrustedForItsHostNameOnly) {
  if (!TestCa::Available()) GTEST_SKIP() << "openssl is not installed";
  if (!HttpsServerFixture::Available()) GTEST_SKIP() << "python3 is not installed";
  std::vector<std::unique_ptr<ScopedEnv>> env;
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    env.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
  }
  TestCa ca("Private Push CA");
  ASSERT_TRUE(ca.Ok()) << ca.Error();
  const auto right = ca.IssueServer("push", "IP:127.0.0.1,DNS:localhost");
  const auto wrong = ca.IssueServer("elsewhere", "DNS:push.elsewhere.example");
  ASSERT_TRUE(right && wrong) << ca.Error();
  static Sink sink;  // outlives a request still in flight when the test gives up waiting

  for (const bool hostMatches : {true, false}) {
    SCOPED_TRACE(hostMatches ? "certificate for 127.0.0.1" : "certificate for another host");
    const auto& cert = hostMatches ? *right : *wrong;
    HttpsServerFixture server;
    ASSERT_TRUE(
        server.Start(cert.certFile, cert.keyFile, R"({"errno":0,"ip":"ssl://127.0.0.1:8883"})"))
        << server.Error();
    TempDir folder("rovik-https-");
    folder.WriteFile("FILE/RovikPush.txt", server.Url("/lookup") + "\n" +
                                               server.Url("/device/reg/") + "\n" +
                                               ca.CaFile().string() + "\n");
    LoadServerAddressFrom(folder.Path());

    ASSERT_TRUE(RequestBrokerAddress(&sink));
    auto reply = sink.Next();
    EXPECT_EQ(reply.code, HTTP_REQ_BROKER_LOOKUP);
    ASSERT_TRUE(RegisterDevice(&sink));
    auto reg = sink.Next();
    EXPECT_EQ(reg.code, HTTP_REQ_DEVICE_REG);
    if (hostMatches) {
      EXPECT_EQ(reply.text, R"({"errno":0,"ip":"ssl://127.0.0.1:8883"})");
      EXPECT_EQ(reg.text, R"({"errno":0,"ip":"ssl://127.0.0.1:8883"})");
      EXPECT_EQ(server.Requests().size(), 2u);
    } else {
      EXPECT_EQ(reply.text, R"({"errno":1,"error":"Exception"})");
      EXPECT_EQ(reg.text, R"({"errno":1,"error":"Exception"})");
      EXPECT_TRUE(server.Requests().empty()) << "a request reached a server of another name";
    }
    ResetServerAddress();
  }
}

}  // namespace
