// The cloud requests as they leave the monitor: addresses from the program folder's files, exact
// bodies, header lines and paths, sent through the process's request queue.
#include <gtest/gtest.h>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/http_request_queue.h"
#include "alarm/cloud/http_url.h"
#include "alarm/record/utf_text.h"
#include "tests/alarm/cloud/reply_sink.h"
#include "tests/fixtures/http_server_fixture.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

using namespace rovik::alarm;

namespace {

using namespace std::chrono_literals;
using rovik::fixtures::HttpScriptedReply;
using rovik::fixtures::HttpServerFixture;
using rovik::fixtures::ScopedEnv;
using rovik::fixtures::TempDir;

using Sink = rovik::cloud_tests::ReplySink;

std::string U8(const std::u16string& s) { return rovik::alarm::Utf16ToUtf8(s); }

class CloudApi : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
      env_.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
    }
    ResetServerAddress();
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override { ResetServerAddress(); }

  std::vector<std::unique_ptr<ScopedEnv>> env_;
  HttpServerFixture server_;
  TempDir folder_;
  Sink sink_;
};

TEST_F(CloudApi, BuiltInAddresses) {
  EXPECT_EQ(ServerBase(), kDefaultServerBase);
  EXPECT_EQ(ClientApiAddress(), std::u16string(kDefaultServerBase) + u"/api/client/ipc/");
  auto lookup = SplitHttpUrl(U8(BrokerLookupUrl()));
  auto reg = SplitHttpUrl(U8(DeviceRegUrl()));
  ASSERT_TRUE(lookup && reg);
  EXPECT_EQ(lookup->port, 9999);
  EXPECT_EQ(lookup->path, "/");
  EXPECT_EQ(reg->port, 8383);
  EXPECT_EQ(reg->path, "/device/reg/");
}

TEST_F(CloudApi, AddressFileIsTrimmedOfBlanksAndAngleBrackets) {
  folder_.WriteFile("FILE/RovikInfo.txt", " \t<<http://127.0.0.1:8000>> \r\n");
  LoadServerAddressFrom(folder_.Path());
  EXPECT_EQ(ServerBase(), u"http://127.0.0.1:8000");
  EXPECT_EQ(ClientApiAddress(), u"http://127.0.0.1:8000/api/client/ipc/");

  // Blanks inside the brackets stay: the trimming order is blanks, then brackets.
  EXPECT_EQ(TrimServerAddress(u"< http://h >\n"), u" http://h ");
  EXPECT_EQ(TrimServerAddress(u""), u"");
  EXPECT_EQ(TrimServerAddress(u" <> "), u"");
}

TEST_F(CloudApi, AddressFileTextEndsAtZeroByteAndAfter260Bytes) {
  folder_.WriteFile("FILE/RovikInfo.txt", std::string("http://a.example\0http://b", 25));
  LoadServerAddressFrom(folder_.Path());
  EXPECT_EQ(ServerBase(), u"http://a.example");

  std::string longHost = "http://" + std::string(300, 'h');
  folder_.WriteFile("FILE/RovikInfo.txt", longHost);
  LoadServerAddressFrom(folder_.Path());
  EXPECT_EQ(ServerBase().size(), 259u);

  // UTF-8 text becomes UTF-16.
  folder_.WriteFile("FILE/RovikInfo.txt", "http://\xe6\x8a\xa5\xe8\xad\xa6.example");
  LoadServerAddressFrom(folder_.Path());
  EXPECT_EQ(ServerBase(), u"http://\u62a5\u8b66.example");
}

TEST_F(CloudApi, MissingFileKeepsTheAddressAndEmptyFileEmptiesIt) {
  LoadServerAddressFrom(folder_.Path());
  EXPECT_EQ(ServerBase(), kDefaultServerBase);

  folder_.WriteFile("FILE/RovikInfo.txt", "");
  LoadServerAddressFrom(folder_.Path());
  EXPECT_EQ(ServerBase(), u"");
  // The heartbeat then has no host and fails with the transport's text.
  ASSERT_TRUE(SendHeartbeat(&sink_, "13800000000", "pw", "13800000000"));
  auto r = sink_.Next();
  EXPECT_EQ(r.code, HTTP_REQ_HEARTBEAT);
  EXPECT_EQ(r.text, kHttpReplyException);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(CloudApi, HeartbeatGoesToTheFilesHostAndPortWithThreeFields) {
  folder_.WriteFile("FILE/RovikInfo.txt", "<" + server_.Url() + ">\n");
  LoadServerAddressFrom(folder_.Path());
  server_.Enqueue(HttpScriptedReply::Ok("{\"errno\":0}"));
  ASSERT_TRUE(SendHeartbeat(&sink_, "13800000001", "p&w=1", "13800000001,13900000002"));
  auto r = sink_.Next();
  EXPECT_EQ(r.code, HTTP_REQ_HEARTBEAT);
  EXPECT_EQ(r.context, 0);
  EXPECT_EQ(r.text, "{\"errno\":0}");

  auto req = server_.Requests().at(0);
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.target, "/api/client/ipc/windows_heart");
  EXPECT_EQ(req.body, "phone=13800000001&password=p&w=1&phone_list=13800000001,13900000002");
  EXPECT_TRUE(req.HasRawHeader("Content-Type:application/x-www-form-urlencoded;charset=UTF-8"));
  EXPECT_TRUE(req.HasRawHeader("Accept:*/*"));
  EXPECT_EQ(req.Header("User-Agent"), "RovikAlarm");
}

TEST_F(CloudApi, PushServiceRequestsCarryTheExactBodies) {
  const std::string lookupBody = "{\"a\":7c21e9d04a5b83f6e2c1d970,\"n\":1,\"v\":v1.0.0,\"o\":1}";
  const std::string regBody = "{\"a\": \"7c21e9d04a5b83f6e2c1d970\",\"p\":2}";
  ASSERT_EQ(lookupBody.size(), 53u);
  ASSERT_EQ(regBody.size(), 39u);

  folder_.WriteFile("FILE/RovikPush.txt",
                    server_.Url() + "\r\n" + server_.Url("/device/reg/") + "\r\n");
  LoadServerAddressFrom(folder_.Path());
  server_.Enqueue(HttpScriptedReply::Ok("{\"c\":\"tcp://127.0.0.1:1883\"}"));
  server_.Enqueue(HttpScriptedReply::Status(500));
  ASSERT_TRUE(RequestBrokerAddress(&sink_));
  ASSERT_TRUE(RegisterDevice(&sink_));
  auto lookup = sink_.Next();
  auto reg = sink_.Next();
  EXPECT_EQ(lookup.code, HTTP_REQ_BROKER_LOOKUP);
  EXPECT_EQ(lookup.text, "{\"c\":\"tcp://127.0.0.1:1883\"}");
  EXPECT_EQ(reg.code, HTTP_REQ_DEVICE_REG);
  EXPECT_EQ(reg.text, "{\"errno\":1,\"error\":\"500\"}");

  auto reqs = server_.Requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].target, "/");
  EXPECT_EQ(reqs[0].body, lookupBody);
  EXPECT_EQ(reqs[1].target, "/device/reg/");
  EXPECT_EQ(reqs[1].body, regBody);
  for (const auto& req : reqs) {
    EXPECT_TRUE(req.HasRawHeader("Accept: application/json"));
    EXPECT_TRUE(req.HasRawHeader("Content-Type: application/json"));
    EXPECT_TRUE(req.HasRawHeader("charsets: utf-8"));
  }
}

TEST_F(CloudApi, PushFileWithOneLineOverridesOnlyTheLookup) {
  folder_.WriteFile("FILE/RovikPush.txt", " http://127.0.0.1:1/ \n\n");
  LoadServerAddressFrom(folder_.Path());
  EXPECT_EQ(BrokerLookupUrl(), u"http://127.0.0.1:1/");
  EXPECT_EQ(DeviceRegUrl(), kDefaultDeviceRegUrl);
  EXPECT_EQ(ServerBase(), kDefaultServerBase);  // no RovikInfo.txt
}

TEST_F(CloudApi, RequestRecordsAreFilledAsTheQueueExpects) {
  auto hb = MakeHeartbeatRequest(&sink_, "a", "b", "a");
  EXPECT_EQ(hb->events, &sink_);
  EXPECT_EQ(hb->isJson, 0);
  EXPECT_EQ(hb->bodyLength, static_cast<int>(hb->body.size()));
  auto lookup = MakeBrokerLookupRequest(nullptr);
  EXPECT_EQ(lookup->isJson, 1);
  EXPECT_EQ(lookup->bodyLength, 53);
  EXPECT_EQ(lookup->context, 0);
  EXPECT_EQ(MakeDeviceRegRequest(nullptr)->bodyLength, 39);
}

}  // namespace
