// The recording HTTP server: exact request bytes, scripted replies, delays, closes and hangs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>

#include "tests/fixtures/http_server_fixture.h"

namespace rovik::fixtures {
namespace {

using namespace std::chrono_literals;

// Sends raw bytes on a fresh connection and returns everything the server sent back until it
// closed (or until bound passed).
std::string Exchange(int port, const std::string& bytes, std::chrono::milliseconds bound = 10s) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return "<connect failed>";
  }
  ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::string reply;
  char buf[4096];
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) break;
    reply.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return reply;
}

std::string Post(const std::string& path, const std::string& body,
                 const std::string& extraHeaders = "") {
  return "POST " + path + " HTTP/1.1\r\nHost: x\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(HttpServerFixture, RecordsMethodPathHeadersAndExactBody) {
  HttpServerFixture server;
  ASSERT_TRUE(server.Start());
  const std::string body("a=1&\0b\r\n\r\nz", 12);
  std::string reply =
      Exchange(server.Port(), Post("/device/reg/", body, "Accept:*/*\r\nX-Odd:  v \r\n"));
  EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
  ASSERT_EQ(server.RequestCount(), 1u);
  auto req = server.Requests()[0];
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.target, "/device/reg/");
  EXPECT_EQ(req.body, body);
  EXPECT_TRUE(req.HasRawHeader("Accept:*/*"));
  EXPECT_EQ(req.Header("accept"), "*/*");
  EXPECT_EQ(req.Header("X-ODD"), "v ");
  EXPECT_FALSE(req.Header("Missing").has_value());
}

TEST(HttpServerFixture, ChunkedAndExpectContinueRequests) {
  HttpServerFixture server;
  ASSERT_TRUE(server.Start());
  Exchange(
      server.Port(),
      "POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
  std::string reply = Exchange(server.Port(), Post("/e", "xyz", "Expect: 100-continue\r\n"));
  EXPECT_EQ(reply.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200", 0), 0u) << reply;
  auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].body, "abcde");
  EXPECT_EQ(reqs[1].body, "xyz");
}

TEST(HttpServerFixture, QueuedRepliesThenHandlerThenDefault) {
  HttpServerFixture server;
  ASSERT_TRUE(server.Start());
  server.Enqueue(HttpScriptedReply::Status(404, "gone"));
  server.SetHandler(
      [](const HttpRecordedRequest& r) { return HttpScriptedReply::Ok("echo:" + r.target); });
  std::string first = Exchange(server.Port(), Post("/a", ""));
  std::string second = Exchange(server.Port(), Post("/b", ""));
  EXPECT_EQ(first.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << first;
  EXPECT_NE(first.find("\r\n\r\ngone"), std::string::npos);
  EXPECT_NE(second.find("\r\n\r\necho:/b"), std::string::npos) << second;
  server.SetHandler(nullptr);
  server.SetDefault(HttpScriptedReply::Status(503));
  EXPECT_EQ(Exchange(server.Port(), Post("/c", "")).rfind("HTTP/1.1 503", 0), 0u);
}

TEST(HttpServerFixture, ChunkedReplyCarriesTheWholeBody) {
  HttpServerFixture server;
  ASSERT_TRUE(server.Start());
  HttpScriptedReply r = HttpScriptedReply::Ok(std::string(2500, 'q'));
  r.chunked = true;
  server.Enqueue(r);
  std::string reply = Exchange(server.Port(), Post("/", ""));
  EXPECT_NE(reply.find("Transfer-Encoding: chunked"), std::string::npos);
  EXPECT_NE(reply.find("\r\n3e8\r\n"), std::string::npos);
  EXPECT_NE(reply.find("\r\n1f4\r\n"), std::string::npos);
  EXPECT_NE(reply.find("\r\n0\r\n\r\n"), std::string::npos);
}

TEST(HttpServerFixture, DelayCloseAndHang) {
  HttpServerFixture server;
  ASSERT_TRUE(server.Start());
  HttpScriptedReply slow = HttpScriptedReply::Ok("late");
  slow.delay = 300ms;
  server.Enqueue(slow);
  server.Enqueue(HttpScriptedReply::CloseWithoutAnswer());
  server.Enqueue(HttpScriptedReply::NeverAnswer());

  auto start = std::chrono::steady_clock::now();
  EXPECT_NE(Exchange(server.Port(), Post("/slow", "")).find("late"), std::string::npos);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_EQ(Exchange(server.Port(), Post("/close", "")), "");

  // A hanging request holds its connection until Stop(), which must still return promptly.
  auto hung = std::async(std::launch::async,
                         [&] { return Exchange(server.Port(), Post("/hang", ""), 20s); });
  ASSERT_TRUE(server.WaitForRequests(3, 5s));
  EXPECT_EQ(hung.wait_for(300ms), std::future_status::timeout);
  start = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(hung.get(), "");
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

TEST(HttpServerFixture, RefusesAfterStopAndRestartsOnTheSamePort) {
  HttpServerFixture server;
  ASSERT_TRUE(server.Start());
  int port = server.Port();
  server.Stop();
  EXPECT_EQ(Exchange(port, Post("/", ""), 1s), "<connect failed>");
  ASSERT_TRUE(server.Start(port));
  EXPECT_EQ(server.Url("/x"), "http://127.0.0.1:" + std::to_string(port) + "/x");
  EXPECT_EQ(Exchange(port, Post("/", "")).rfind("HTTP/1.1 200", 0), 0u);
}

}  // namespace
}  // namespace rovik::fixtures
