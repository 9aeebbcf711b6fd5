// The request queue: order, one worker, replies on the worker, and an exit that a hanging server
// cannot hold up.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "alarm/cloud/http_request_queue.h"
#include "alarm/record/utf_text.h"
#include "tests/fixtures/http_server_fixture.h"
#include "tests/fixtures/test_env.h"

using namespace rovik::alarm;

namespace {

using namespace std::chrono_literals;
using rovik::fixtures::HttpScriptedReply;
using rovik::fixtures::HttpServerFixture;
using rovik::fixtures::ScopedEnv;

const std::string kException = "{\"errno\":1,\"error\":\"Exception\"}";

// Records replies with the thread they arrived on; optionally posts a follow-up request.
class Sink : public IHttpEvents {
 public:
  void OnHttpResult(const std::string& reply, int, int requestCode, int) override {
    std::unique_lock<std::mutex> lock(mutex);
    replies.emplace_back(requestCode, reply);
    threads.push_back(std::this_thread::get_id());
    auto next = std::move(followUp);
    lock.unlock();
    if (next && queue) queue->Post(std::move(next));
    changed.notify_all();
  }
  void OnHttpDropped(int, int) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++dropped;
  }
  bool WaitFor(size_t n, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, bound, [&] { return replies.size() >= n; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  size_t dropped = 0;                                // guarded by mutex
  std::vector<std::pair<int, std::string>> replies;  // guarded by mutex
  std::vector<std::thread::id> threads;              // guarded by mutex
  std::unique_ptr<HttpRequest> followUp;             // guarded by mutex
  HttpRequestQueue* queue = nullptr;
};

class HttpQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
      env_.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
    }
    ASSERT_TRUE(server_.Start());
  }
  std::unique_ptr<HttpRequest> Request(int code, const std::string& path, IHttpEvents* events) {
    auto r = std::make_unique<HttpRequest>();
    r->requestCode = code;
    r->url = rovik::alarm::Utf8ToUtf16(server_.Url(path));
    r->events = events;
    r->body = path;
    r->bodyLength = static_cast<int>(r->body.size());
    return r;
  }
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  HttpServerFixture server_;
};

TEST_F(HttpQueue, BackToBackRequestsAreSentInPostingOrderOnTheWorker) {
  server_.SetHandler([](const auto& req) { return HttpScriptedReply::Ok("reply" + req.target); });
  Sink sink;
  {
    HttpRequestQueue queue;
    queue.Post(Request(1, "/first", &sink));
    queue.Post(Request(2, "/second", &sink));
    queue.Post(Request(3, "/third", nullptr));  // sent, reply dropped
    queue.Post(Request(4, "/fourth", &sink));
    ASSERT_TRUE(sink.WaitFor(3, 10s));
  }
  auto reqs = server_.Requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[0].target, "/first");
  EXPECT_EQ(reqs[1].target, "/second");
  EXPECT_EQ(reqs[2].target, "/third");
  EXPECT_EQ(reqs[3].target, "/fourth");
  ASSERT_EQ(sink.replies.size(), 3u);
  EXPECT_EQ(sink.replies[0], std::make_pair(1, std::string("reply/first")));
  EXPECT_EQ(sink.replies[1], std::make_pair(2, std::string("reply/second")));
  EXPECT_EQ(sink.replies[2], std::make_pair(4, std::string("reply/fourth")));
  EXPECT_NE(sink.threads[0], std::this_thread::get_id());
  EXPECT_EQ(sink.threads[0], sink.threads[2]);
}

TEST_F(HttpQueue, OneRequestAtATime) {
  HttpScriptedReply slow = HttpScriptedReply::Ok("slow");
  slow.delay = 400ms;
  server_.Enqueue(slow);
  Sink sink;
  HttpRequestQueue queue;
  queue.Post(Request(1, "/a", &sink));
  queue.Post(Request(2, "/b", &sink));
  ASSERT_TRUE(server_.WaitForRequests(1, 5s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server_.RequestCount(), 1u);  // the second waits for the first reply
  ASSERT_TRUE(sink.WaitFor(2, 10s));
  EXPECT_EQ(sink.replies[0].second, "slow");
}

TEST_F(HttpQueue, ReplyHandlerMayPostTheNextRequest) {
  Sink sink;
  HttpRequestQueue queue;
  sink.queue = &queue;
  sink.followUp = Request(5507, "/follow", &sink);
  queue.Post(Request(5510, "/lookup", &sink));
  ASSERT_TRUE(sink.WaitFor(2, 10s));
  EXPECT_EQ(sink.replies[1].first, 5507);
}

TEST_F(HttpQueue, ExitWaitsForARequestThatIsAnswered) {
  HttpScriptedReply slow = HttpScriptedReply::Ok("finished");
  slow.delay = 300ms;
  server_.Enqueue(slow);
  Sink sink;
  {
    HttpRequestQueue queue;
    queue.Post(Request(1, "/a", &sink));
    ASSERT_TRUE(server_.WaitForRequests(1, 5s));
  }
  ASSERT_EQ(sink.replies.size(), 1u);
  EXPECT_EQ(sink.replies[0].second, "finished");
}

TEST_F(HttpQueue, AHangingServerDoesNotHoldUpExit) {
  server_.SetDefault(HttpScriptedReply::NeverAnswer());
  Sink sink;
  auto queue = std::make_unique<HttpRequestQueue>();
  ASSERT_TRUE(queue->Post(Request(1, "/hang", &sink)));
  ASSERT_TRUE(server_.WaitForRequests(1, 5s));
  // Behind the hanging request the queue stays bounded: the rest is refused, not kept.
  std::size_t taken = 0;
  for (int i = 0; i < 200; ++i) taken += queue->Post(Request(2, "/queued", &sink)) ? 1 : 0;
  EXPECT_EQ(taken, HttpRequestQueue::kMaxQueued);
  const auto start = std::chrono::steady_clock::now();
  queue.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  // The request in flight ends as a transport failure; the one behind it is dropped unsent.
  ASSERT_EQ(sink.replies.size(), 1u);
  EXPECT_EQ(sink.replies[0], std::make_pair(1, kException));
  EXPECT_EQ(server_.RequestCount(), 1u);
  EXPECT_EQ(sink.dropped, taken) << "each request left unsent is settled with its sink";
}

TEST_F(HttpQueue, ProcessInstanceIsCreatedOnceAndNeverAgainAfterDestroy) {
  HttpRequestQueue* first = HttpRequestQueue::GetInstance();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(HttpRequestQueue::GetInstance(), first);
  Sink sink;
  first->Post(Request(9, "/x", &sink));
  ASSERT_TRUE(sink.WaitFor(1, 10s));
  HttpRequestQueue::DestroyInstance();
  EXPECT_EQ(HttpRequestQueue::GetInstance(), nullptr);
  HttpRequestQueue::DestroyInstance();  // a second call is harmless
}

}  // namespace
