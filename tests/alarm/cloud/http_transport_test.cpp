// One request on the wire and its reply text, against the recording server on 127.0.0.1.
#include <gtest/gtest.h>

#include <future>

#include "alarm/cloud/http_transport.h"
#include "alarm/record/utf_text.h"
#include "tests/fixtures/http_server_fixture.h"
#include "tests/fixtures/test_env.h"

using namespace rovik::alarm;

namespace {

using namespace std::chrono_literals;
using rovik::fixtures::HttpRecordedRequest;
using rovik::fixtures::HttpScriptedReply;
using rovik::fixtures::HttpServerFixture;
using rovik::fixtures::ScopedEnv;

const std::string kException = "{\"errno\":1,\"error\":\"Exception\"}";

class HttpTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    // Requests to 127.0.0.1 must not wander off to a proxy of the machine running the tests.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"}) {
      env_.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
    }
    ASSERT_TRUE(server_.Start());
  }

  HttpRequest Request(const std::string& path, std::string body, int isJson = 0) {
    HttpRequest r;
    r.url = rovik::alarm::Utf8ToUtf16(server_.Url(path));
    r.body = std::move(body);
    r.bodyLength = static_cast<int>(r.body.size());
    r.isJson = isJson;
    return r;
  }

  HttpRecordedRequest OnlyRequest() {
    auto all = server_.Requests();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? HttpRecordedRequest{} : all[0];
  }

  std::vector<std::unique_ptr<ScopedEnv>> env_;
  HttpServerFixture server_;
};

TEST_F(HttpTransport, FormRequestOnTheWire) {
  server_.Enqueue(HttpScriptedReply::Ok("{\"errno\":0}"));
  EXPECT_EQ(PerformHttpRequest(Request("/api/client/ipc/windows_heart", "phone=1&password=2")),
            "{\"errno\":0}");
  auto req = OnlyRequest();
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.target, "/api/client/ipc/windows_heart");
  EXPECT_EQ(req.body, "phone=1&password=2");
  EXPECT_TRUE(req.HasRawHeader("Content-Type:application/x-www-form-urlencoded;charset=UTF-8"));
  EXPECT_TRUE(req.HasRawHeader("Accept:*/*"));
  // The form kind's third line is no header line and is not sent.
  EXPECT_FALSE(req.HasRawHeader("application/json"));
  EXPECT_EQ(req.Header("User-Agent"), "RovikAlarm");
  EXPECT_FALSE(req.Header("Expect"));
  int contentTypes = 0;
  for (const auto& [name, value] : req.headers) contentTypes += name == "Content-Type";
  EXPECT_EQ(contentTypes, 1);
}

TEST_F(HttpTransport, JsonRequestOnTheWire) {
  EXPECT_EQ(PerformHttpRequest(Request("/device/reg/", "{\"p\":2}", 1)), "");
  auto req = OnlyRequest();
  EXPECT_TRUE(req.HasRawHeader("Accept: application/json"));
  EXPECT_TRUE(req.HasRawHeader("Content-Type: application/json"));
  EXPECT_TRUE(req.HasRawHeader("charsets: utf-8"));
  EXPECT_EQ(req.body, "{\"p\":2}");
}

TEST_F(HttpTransport, BodyEndsAtTheFirstZeroByteAndLargeBodiesGoOutWhole) {
  PerformHttpRequest(Request("/z", std::string("ab\0cd", 5)));
  std::string big(5000, 'x');
  big[4999] = 'y';
  PerformHttpRequest(Request("/big", big));
  auto all = server_.Requests();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].body, "ab");
  EXPECT_EQ(all[0].Header("Content-Length"), "2");
  EXPECT_EQ(all[1].body, big);
}

TEST_F(HttpTransport, Status200BodiesArePassedByteForByte) {
  std::string body(2500, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + 1);
  server_.Enqueue(HttpScriptedReply::Ok(body));
  HttpScriptedReply chunked = HttpScriptedReply::Ok(body);
  chunked.chunked = true;
  server_.Enqueue(chunked);
  server_.Enqueue(HttpScriptedReply::Ok(""));
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), body);
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), body);
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), "");
}

TEST_F(HttpTransport, OtherStatusesBecomeTheStatusText) {
  server_.Enqueue(HttpScriptedReply::Status(500, "{\"errno\":0}"));
  server_.Enqueue(HttpScriptedReply::Status(404));
  server_.Enqueue(HttpScriptedReply::Status(302, "moved"));
  server_.Enqueue(HttpScriptedReply::Status(204));
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), "{\"errno\":1,\"error\":\"500\"}");
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), "{\"errno\":1,\"error\":\"404\"}");
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), "{\"errno\":1,\"error\":\"302\"}");
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), "{\"errno\":1,\"error\":\"204\"}");
}

TEST_F(HttpTransport, TransportFailuresBecomeTheExceptionText) {
  server_.Enqueue(HttpScriptedReply::CloseWithoutAnswer());
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), kException);

  const std::string refused = server_.Url("/x");
  server_.Stop();
  HttpRequest r;
  r.url = rovik::alarm::Utf8ToUtf16(refused);
  EXPECT_EQ(PerformHttpRequest(r), kException);

  for (const char16_t* url : {u"", u"http:///api/client/ipc/windows_heart", u"ftp://127.0.0.1:21/",
                              u"http://127.0.0.1:1/a b"}) {
    r.url = url;
    EXPECT_EQ(PerformHttpRequest(r), kException);
  }
}

TEST_F(HttpTransport, OversizedReplyIsAFailureNotAHugeAllocation) {
  server_.Enqueue(HttpScriptedReply::Ok(std::string(1024 * 1024, 'a')));
  server_.Enqueue(HttpScriptedReply::Ok(std::string(1024 * 1024 + 1, 'a')));
  EXPECT_EQ(PerformHttpRequest(Request("/", "")).size(), 1024u * 1024u);
  EXPECT_EQ(PerformHttpRequest(Request("/", "")), kException);
}

TEST_F(HttpTransport, AbortFlagEndsAHangingRequest) {
  server_.SetDefault(HttpScriptedReply::NeverAnswer());
  std::atomic<bool> abort{false};
  auto reply =
      std::async(std::launch::async, [&] { return PerformHttpRequest(Request("/", ""), &abort); });
  ASSERT_TRUE(server_.WaitForRequests(1, 5s));
  EXPECT_EQ(reply.wait_for(300ms), std::future_status::timeout);
  const auto start = std::chrono::steady_clock::now();
  abort = true;
  ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(reply.get(), kException);
  // Already set: nothing is sent at all.
  EXPECT_EQ(PerformHttpRequest(Request("/", ""), &abort), kException);
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(HttpTransport, LowSpeedLimitBoundsAServerThatNeverAnswers) {
  server_.SetDefault(HttpScriptedReply::NeverAnswer());
  HttpTransportLimits limits;
  limits.lowSpeedTime = std::chrono::seconds(1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PerformHttpRequest(Request("/", ""), nullptr, limits), kException);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(HttpTransport, ProxyFromTheEnvironmentIsHonoured) {
  // The test server plays the proxy: the request names the far host in absolute form.
  ScopedEnv proxy("http_proxy", server_.Url(""));
  server_.Enqueue(HttpScriptedReply::Ok("via proxy"));
  HttpRequest r;
  r.url = u"http://cloud.rovik.example:8000/api/client/ipc/windows_heart";
  EXPECT_EQ(PerformHttpRequest(r), "via proxy");
  auto req = OnlyRequest();
  EXPECT_EQ(req.target, "http://cloud.rovik.example:8000/api/client/ipc/windows_heart");
}

class RecordingSink : public IHttpEvents {
 public:
  void OnHttpResult(const std::string& reply, int flag, int requestCode, int context) override {
    replies.push_back(reply);
    flags.push_back(flag);
    codes.push_back(requestCode);
    contexts.push_back(context);
  }
  std::vector<std::string> replies;
  std::vector<int> flags, codes, contexts;
};

TEST_F(HttpTransport, ExecuteRequestHandsTheReplyToTheSink) {
  server_.Enqueue(HttpScriptedReply::Ok("{\"c\":\"tcp://h:1\"}"));
  RecordingSink sink;
  HttpRequest r = Request("/", "x", 1);
  r.events = &sink;
  r.requestCode = 5510;
  r.context = 7;
  ExecuteRequest(r);
  ASSERT_EQ(sink.replies.size(), 1u);
  EXPECT_EQ(sink.replies[0], "{\"c\":\"tcp://h:1\"}");
  EXPECT_EQ(sink.flags[0], 1);
  EXPECT_EQ(sink.codes[0], 5510);
  EXPECT_EQ(sink.contexts[0], 7);
  r.events = nullptr;
  ExecuteRequest(r);  // sent, reply dropped
  EXPECT_EQ(server_.RequestCount(), 2u);
}

}  // namespace
