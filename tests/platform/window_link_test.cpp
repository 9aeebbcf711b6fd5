// Windows by title and WM_COPYDATA: frames, bounds, stale sockets, and no deadlock when a
// window's owner is itself blocked in a send.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/copydata_frame.h"
#include "platform/event.h"
#include "platform/thread_queue.h"
#include "platform/window_link.h"
#include "tests/fixtures/child_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

namespace fs = std::filesystem;
using namespace rovik::platform;
using namespace std::chrono_literals;
using rovik::fixtures::ChildProcess;
using rovik::fixtures::ScopedEnv;
using rovik::fixtures::TempDir;

namespace {

using Clock = std::chrono::steady_clock;

class WindowLinkTest : public ::testing::Test {
 protected:
  TempDir tmp_{"rovik-win-"};
  ScopedEnv run_{"ROVIK_RUNTIME_DIR", (tmp_.Path() / "run").string()};
  fs::path socketPath(const std::string& title) { return tmp_.Path() / "run" / "windows" / title; }
};

TEST(CopyDataFrame, HeaderIsCheckedAndBounded) {
  auto frame = EncodeCopyDataRequest(3, 0x1122334455667788ull, "ab", 2);
  ASSERT_EQ(frame.size(), kCopyDataHeaderSize + 2);
  EXPECT_EQ(frame[0], 0x57);  // little-endian magic "WMCD"
  EXPECT_EQ(frame[3], 0x44);
  EXPECT_EQ(frame[4], 0x4A);
  CopyDataHeader h;
  ASSERT_TRUE(ParseCopyDataHeader(frame.data(), frame.size(), &h));
  EXPECT_EQ(h.wParam, 3u);
  EXPECT_EQ(h.dwData, 0x1122334455667788ull);
  EXPECT_EQ(h.cbData, 2u);

  EXPECT_FALSE(ParseCopyDataHeader(frame.data(), kCopyDataHeaderSize - 1, &h));
  auto bad = frame;
  bad[0] ^= 1;
  EXPECT_FALSE(ParseCopyDataHeader(bad.data(), bad.size(), &h));
  bad = frame;
  bad[4] = 0x4B;
  EXPECT_FALSE(ParseCopyDataHeader(bad.data(), bad.size(), &h));
  auto big = EncodeCopyDataRequest(0, 0, nullptr, 0);
  uint32_t over = kMaxCopyData + 1;
  std::memcpy(big.data() + 24, &over, 4);
  EXPECT_FALSE(ParseCopyDataHeader(big.data(), big.size(), &h));
  uint32_t limit = kMaxCopyData;
  std::memcpy(big.data() + 24, &limit, 4);
  EXPECT_TRUE(ParseCopyDataHeader(big.data(), big.size(), &h));

  uint8_t reply[kCopyDataReplySize];
  EncodeCopyDataReply(-2, reply);
  EXPECT_EQ(DecodeCopyDataReply(reply), -2);
}

TEST_F(WindowLinkTest, RoundTripOfZeroOneAndOneMebibyte) {
  std::vector<CopyDataMessage> seen;
  std::mutex seenMutex;
  WindowLink link;
  ASSERT_TRUE(link.Listen("RovikClient", [&](const CopyDataMessage& m) -> int64_t {
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.push_back(m);
    return static_cast<int64_t>(m.data.size()) + 1000;
  }));
  EXPECT_TRUE(FindWindowByTitle("RovikClient"));
  EXPECT_FALSE(FindWindowByTitle("ROVIKALARM"));

  std::vector<uint8_t> big(1 << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 13));
  EXPECT_EQ(SendCopyData("RovikClient", 1, 2, nullptr, 0), 1000);
  uint8_t one = 0;
  EXPECT_EQ(SendCopyData("RovikClient", 3, 4, &one, 1), 1001);
  EXPECT_EQ(SendCopyData("RovikClient", ~0ull, ~0ull, big.data(), big.size()), 1000 + (1 << 20));

  std::lock_guard<std::mutex> lock(seenMutex);
  ASSERT_EQ(seen.size(), 3u);  // FindWindowByTitle's probe is not a message
  EXPECT_EQ(seen[0].wParam, 1u);
  EXPECT_EQ(seen[0].dwData, 2u);
  EXPECT_TRUE(seen[0].data.empty());
  EXPECT_EQ(seen[1].data, std::vector<uint8_t>{0});
  EXPECT_EQ(seen[2].wParam, ~0ull);
  EXPECT_EQ(seen[2].data, big);
}

// Writes a raw frame header announcing cbData bytes and returns what came back (-1 = nothing).
int64_t rawSend(const fs::path& socket, uint32_t cbData, std::size_t actuallySend) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socket.c_str(), sizeof addr.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -2;
  }
  auto frame = EncodeCopyDataRequest(0, 7, nullptr, 0);
  std::memcpy(frame.data() + 24, &cbData, 4);
  frame.resize(kCopyDataHeaderSize + actuallySend, 'z');
  std::size_t sent = 0;
  while (sent < frame.size()) {
    ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  uint8_t reply[8];
  std::size_t got = 0;
  while (got < 8) {
    ssize_t n = ::recv(fd, reply + got, 8 - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return got == 8 ? DecodeCopyDataReply(reply) : -1;
}

TEST_F(WindowLinkTest, MoreThanFourMebibytesIsRefused) {
  std::atomic<int> calls{0};
  WindowLink link;
  ASSERT_TRUE(link.Listen("W", [&](const CopyDataMessage& m) -> int64_t {
    ++calls;
    return static_cast<int64_t>(m.data.size());
  }));
  // The sender does not even try; the receiver refuses a peer that does.
  std::vector<uint8_t> tooBig(kMaxCopyData + 1);
  EXPECT_EQ(SendCopyData("W", 0, 0, tooBig.data(), tooBig.size()), 0);
  EXPECT_EQ(rawSend(socketPath("W"), kMaxCopyData + 1, 1000), -1);
  EXPECT_EQ(calls.load(), 0);
  // Exactly 4 MiB passes.
  std::vector<uint8_t> limit(kMaxCopyData, 1);
  EXPECT_EQ(SendCopyData("W", 0, 0, limit.data(), limit.size()),
            static_cast<int64_t>(kMaxCopyData));
  // A peer announcing more bytes than it sends gets no call and no answer.
  EXPECT_EQ(rawSend(socketPath("W"), 100, 10), -1);
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(WindowLinkTest, PeerOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  std::atomic<int> calls{0};
  WindowLink link;
  ASSERT_TRUE(
      link.Listen("Private", [&](const CopyDataMessage&) -> int64_t { return ++calls + 100; }));
  // Let another user reach the socket at all: only the peer check stands in the way now.
  fs::permissions(tmp_.Path(), fs::perms::owner_all | fs::perms::others_exec,
                  fs::perm_options::replace);
  fs::permissions(tmp_.Path() / "run", fs::perms::owner_all | fs::perms::others_exec,
                  fs::perm_options::replace);
  fs::permissions(tmp_.Path() / "run" / "windows", fs::perms::owner_all | fs::perms::others_exec,
                  fs::perm_options::replace);
  ::chmod(socketPath("Private").c_str(), 0777);

  auto frame = EncodeCopyDataRequest(0, 0, "0~", 2);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath("Private").c_str(), sizeof addr.sun_path - 1);
  pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls here: the parent has other threads.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) ::_exit(11);
    // The window may hang up before the frame is through: no SIGPIPE, and that is a refusal.
    if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size()))
      ::_exit(0);
    uint8_t reply[8];
    ::_exit(::read(fd, reply, sizeof reply) == 8 ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10/11: could not try; 1: the foreign peer got an answer";
  EXPECT_EQ(calls.load(), 0);
  // While RUN is open to others this user's programs refuse to use it too.
  EXPECT_EQ(SendCopyData("Private", 0, 0, "0~", 2), 0);
  fs::permissions(tmp_.Path() / "run", fs::perms::owner_all, fs::perm_options::replace);
  fs::permissions(tmp_.Path() / "run" / "windows", fs::perms::owner_all, fs::perm_options::replace);
  EXPECT_EQ(SendCopyData("Private", 0, 0, "0~", 2), 101);
}

TEST_F(WindowLinkTest, NoWindowAndSilentWindowGiveZero) {
  int64_t result = 5;
  EXPECT_EQ(SendCopyDataOutcome("nobody", 0, 0, "x", 1, &result), SendOutcome::NoWindow);
  EXPECT_EQ(result, 0);

  ChildProcess silent;
  ASSERT_TRUE(silent.Start(rovik::fixtures::BuildDir() / "tests" / "platform_helper",
                           {"silent-window", "Silent"}));
  ASSERT_TRUE(silent.WaitForStdout("listening", 10s));
  auto start = Clock::now();
  EXPECT_EQ(SendCopyDataOutcome("Silent", 0, 0, "x", 1, &result, 700ms), SendOutcome::NoAnswer);
  auto took = Clock::now() - start;
  EXPECT_EQ(result, 0);
  EXPECT_GE(took, 650ms);
  EXPECT_LT(took, 5s);

  // The window's owner dies while a send waits for it: the sender is released with 0 at once.
  std::thread killer([&] {
    std::this_thread::sleep_for(300ms);
    silent.Kill();
  });
  start = Clock::now();
  EXPECT_EQ(SendCopyData("Silent", 0, 0, "y", 1), 0);
  EXPECT_LT(Clock::now() - start, 5s);
  killer.join();
}

TEST_F(WindowLinkTest, StaleSocketAfterKillIsReplacedAndLiveOwnerKept) {
  ChildProcess owner;
  ASSERT_TRUE(owner.Start(rovik::fixtures::BinDir() / "rovik-send",
                          {"--listen", "ROVIKALARM", "--reply", "9"}));
  for (int i = 0; i < 200 && !FindWindowByTitle("ROVIKALARM"); ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(SendCopyData("ROVIKALARM", 0, 0, "0~", 2), 9);

  // A second owner of a live title is refused.
  WindowLink mine;
  std::string error;
  auto handler = [](const CopyDataMessage&) -> int64_t { return 77; };
  EXPECT_FALSE(mine.Listen("ROVIKALARM", handler, {}, &error));

  owner.Kill();
  ASSERT_TRUE(fs::exists(socketPath("ROVIKALARM")));  // left behind by the dead owner
  EXPECT_FALSE(FindWindowByTitle("ROVIKALARM"));
  EXPECT_EQ(SendCopyData("ROVIKALARM", 0, 0, "0~", 2), 0);

  ASSERT_TRUE(mine.Listen("ROVIKALARM", handler, {}, &error)) << error;
  EXPECT_EQ(SendCopyData("ROVIKALARM", 0, 0, "0~", 2), 77);
  mine.Close();
  EXPECT_FALSE(fs::exists(socketPath("ROVIKALARM")));
  EXPECT_FALSE(FindWindowByTitle("ROVIKALARM"));
}

TEST_F(WindowLinkTest, LongRunTimeFolderStillWorks) {
  fs::path deep = tmp_.Path() / std::string(60, 'd') / std::string(60, 'e');
  fs::create_directories(deep);
  fs::permissions(deep, fs::perms::owner_all, fs::perm_options::replace);
  ScopedEnv run("ROVIK_RUNTIME_DIR", deep.string());
  WindowLink link;
  std::string error;
  ASSERT_TRUE(link.Listen(
      "A window title of some length", [](const CopyDataMessage&) -> int64_t { return 3; }, {},
      &error))
      << error;
  EXPECT_EQ(SendCopyData("A window title of some length", 0, 0, nullptr, 0), 3);
}

// An owner thread with a loop of its own, standing in for a GUI thread: the dispatcher posts
// the serve function to it, as a Qt program queues it to its event loop.
class OwnerThread {
 public:
  explicit OwnerThread(std::string title, std::function<int64_t(const CopyDataMessage&)> handler)
      : thread_([this, title, handler] {
          id_ = std::this_thread::get_id();
          bool ok = link_.Listen(title, handler, [this](std::function<void()> serve) {
            auto* f = new std::function<void()>(std::move(serve));
            if (!queue_.Post(1, 0, reinterpret_cast<intptr_t>(f))) delete f;
          });
          ready_.Set();
          if (!ok) return;
          while (auto m = queue_.Get()) {
            std::unique_ptr<std::function<void()>> f(
                reinterpret_cast<std::function<void()>*>(m->lParam));
            (*f)();
          }
          link_.Close();
          for (auto& m : queue_.Drain()) delete reinterpret_cast<std::function<void()>*>(m.lParam);
        }) {
    ready_.Wait();
  }
  ~OwnerThread() {
    queue_.Close();
    thread_.join();
  }
  // Runs `work` on the owner thread.
  void Run(std::function<void()> work) {
    queue_.Post(1, 0, reinterpret_cast<intptr_t>(new std::function<void()>(std::move(work))));
  }
  std::thread::id id() const { return id_; }

 private:
  ThreadQueue queue_;
  Event ready_;
  WindowLink link_;
  std::thread::id id_;
  std::thread thread_;
};

TEST_F(WindowLinkTest, DispatcherRunsHandlerOnOwnerThread) {
  std::atomic<bool> onOwner{false};
  std::unique_ptr<OwnerThread> owner;
  owner = std::make_unique<OwnerThread>("GUI", [&](const CopyDataMessage& m) -> int64_t {
    onOwner = std::this_thread::get_id() == owner->id();
    return m.data.size() == 2 ? 6 : 0;
  });
  EXPECT_EQ(SendCopyData("GUI", 0, 0, "5~", 2), 6);
  EXPECT_TRUE(onOwner.load());
}

TEST_F(WindowLinkTest, WindowAnsweredWhileItsOwnerWaitsInItsOwnSend) {
  // A's owner sends to B; B's handler sends back to A before answering. A's owner thread is
  // blocked in its send the whole time, yet must answer B.
  std::atomic<int64_t> nested{-1};
  WindowLink b;
  ASSERT_TRUE(b.Listen("B", [&](const CopyDataMessage&) -> int64_t {
    nested = SendCopyData("A", 0, 0, "back", 4, 5s);
    return 2;
  }));
  OwnerThread a("A", [](const CopyDataMessage&) -> int64_t { return 1; });
  Event done;
  std::atomic<int64_t> outer{-1};
  auto start = Clock::now();
  a.Run([&] {
    outer = SendCopyData("B", 0, 0, "go", 2);
    done.Set();
  });
  ASSERT_TRUE(done.Wait(15s));
  EXPECT_EQ(outer.load(), 2);
  EXPECT_EQ(nested.load(), 1);
  EXPECT_LT(Clock::now() - start, 3s);  // no waiting out a time-out
}

TEST_F(WindowLinkTest, TwoOwnersSendingToEachOtherConcurrentlyComplete) {
  constexpr int kRounds = 40;
  std::atomic<bool> wrongThread{false};
  std::unique_ptr<OwnerThread> a, b;
  a = std::make_unique<OwnerThread>("PeerA", [&](const CopyDataMessage& m) -> int64_t {
    if (std::this_thread::get_id() != a->id()) wrongThread = true;
    return static_cast<int64_t>(m.dwData) * 2;
  });
  b = std::make_unique<OwnerThread>("PeerB", [&](const CopyDataMessage& m) -> int64_t {
    if (std::this_thread::get_id() != b->id()) wrongThread = true;
    return static_cast<int64_t>(m.dwData) * 3;
  });
  Event aDone, bDone;
  std::atomic<int> aGood{0}, bGood{0};
  auto start = Clock::now();
  a->Run([&] {
    for (int i = 1; i <= kRounds; ++i) aGood += SendCopyData("PeerB", 0, i, "x", 1) == i * 3;
    aDone.Set();
  });
  b->Run([&] {
    for (int i = 1; i <= kRounds; ++i) bGood += SendCopyData("PeerA", 0, i, "y", 1) == i * 2;
    bDone.Set();
  });
  ASSERT_TRUE(aDone.Wait(30s));
  ASSERT_TRUE(bDone.Wait(30s));
  EXPECT_EQ(aGood.load(), kRounds);
  EXPECT_EQ(bGood.load(), kRounds);
  EXPECT_FALSE(wrongThread.load());
  EXPECT_LT(Clock::now() - start, 10s);
}

TEST_F(WindowLinkTest, CloseAnswersPendingRequestsWithZero) {
  // The owner never serves its inbox: a pending request is released by Close.
  std::atomic<int> calls{0};
  auto link = std::make_unique<WindowLink>();
  ASSERT_TRUE(link->Listen(
      "Idle", [&](const CopyDataMessage&) -> int64_t { return ++calls; },
      [](std::function<void()>) {}));
  std::atomic<int64_t> result{-1};
  std::thread sender([&] { result = SendCopyData("Idle", 0, 0, "z", 1, 5s); });
  std::this_thread::sleep_for(200ms);
  auto start = Clock::now();
  link->Close();
  sender.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(ServeThreadInbox(), 0);  // the cancelled job does not run later
  EXPECT_EQ(calls.load(), 0);
}

}  // namespace
