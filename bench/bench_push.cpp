// The push channel against a real Mosquitto broker, reached through a loopback TCP proxy: the
// latency from a publish to the video client's receipt of the alarm block ("4~"), at 20 alarms a
// second; the time to store and announce a burst of 1,000 distinct alarms published at once; and
// the time from an outage (the proxy swallows every byte of the open connection) to the first
// alarm published meanwhile reaching the client; and a crowd of 50 monitors' push channels in one
// process (their reconnect policy) that lose the broker together and find it refusing them for 60
// s: the most connection attempts any half second sees (per monitor), against the lock-step of
// fixed retry intervals, where every monitor tries in the same instant, and the time until all have
// rejoined.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/http_request_queue.h"
#include "alarm/push/push_channel.h"
#include "alarm/push/reconnect_policy.h"
#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "platform/window_link.h"
#include "tests/fixtures/http_server_fixture.h"
#include "tests/fixtures/mosquitto_fixture.h"
#include "tests/fixtures/tcp_proxy_fixture.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

using namespace rovik::alarm;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fx = rovik::fixtures;

constexpr char kAccount[] = "13800000000";

// The video client's window: the arrival time of each alarm block, by device name.
class ClientWindow {
 public:
  bool Open() {
    return link_.Listen("RovikClient",
                        [this](const rovik::platform::CopyDataMessage& m) -> int64_t {
                          const auto now = Clock::now();
                          std::lock_guard<std::mutex> guard(mutex_);
                          if (m.data.size() == 1243 && m.data[0] == '4' && m.data[1] == '~') {
                            AlarmRecord r;
                            std::memcpy(&r, m.data.data() + 2, sizeof r);
                            arrivals_[std::string(rovik::alarm::FieldText(r.deviceName))] = now;
                          } else {
                            texts_.emplace_back(m.data.begin(), m.data.end());
                          }
                          changed_.notify_all();
                          return 1;
                        });
  }
  bool WaitForText(const std::string& text, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound,
                             [&] { return std::count(texts_.begin(), texts_.end(), text) > 0; });
  }
  bool WaitForAlarms(std::size_t n, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return arrivals_.size() >= n; });
  }
  std::map<std::string, Clock::time_point> Arrivals() {
    std::lock_guard<std::mutex> guard(mutex_);
    return arrivals_;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    arrivals_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Clock::time_point> arrivals_;  // guarded by mutex_
  std::vector<std::string> texts_;                     // guarded by mutex_
  rovik::platform::WindowLink link_;
};

// One mosquitto_pub process publishing each line written to it as a message.
class LinePublisher {
 public:
  explicit LinePublisher(int port) {
    const std::string command =
        "mosquitto_pub -h 127.0.0.1 -p " + std::to_string(port) + " -q 1 -t " + kAccount + " -l";
    pipe_ = popen(command.c_str(), "w");
  }
  ~LinePublisher() {
    if (pipe_ != nullptr) pclose(pipe_);
  }
  bool ok() const { return pipe_ != nullptr; }
  void Write(const std::string& lines) {
    std::fwrite(lines.data(), 1, lines.size(), pipe_);
    std::fflush(pipe_);
  }

 private:
  FILE* pipe_ = nullptr;
};

std::string AlarmLine(const std::string& device) {
  return R"({"ipcId":"A1","ipcName":"cam","deviceName":")" + device +
         R"(","deviceType":"DS","almTime":1425168000})" + "\n";
}

// Broker, push service, store, client window and a running channel subscribed to one account.
struct Rig {
  fx::TempDir folder{"rovik-bench-push-"};
  fx::ScopedEnv runDir{"ROVIK_RUNTIME_DIR", (folder.Path() / "run").string()};
  fx::MosquittoFixture broker;
  fx::TcpProxyFixture proxy;  // between the channel and the broker
  fx::HttpServerFixture http;
  MdSQLite store;
  ClientWindow client;
  std::unique_ptr<PushChannel> channel;
  std::string error;

  bool Start() {
    if (!fx::MosquittoFixture::Available() || !broker.Start()) {
      error = "no mosquitto broker";
      return false;
    }
    if (!proxy.Start(broker.Port())) {
      error = "no proxy";
      return false;
    }
    const std::string lookup = "{\"c\":\"tcp://127.0.0.1:" + std::to_string(proxy.Port()) + "\"}";
    http.SetHandler([lookup](const fx::HttpRecordedRequest& req) {
      if (req.target == "/lookup") return fx::HttpScriptedReply::Ok(lookup);
      if (req.target == "/device/reg/")
        return fx::HttpScriptedReply::Ok(R"({"c":"bench","u":"","p":""})");
      return fx::HttpScriptedReply::Ok(R"({"errno":0})");
    });
    http.Start();
    folder.WriteFile("FILE/RovikInfo.txt", http.Url());
    folder.WriteFile("FILE/RovikPush.txt",
                     http.Url("/lookup") + "\n" + http.Url("/device/reg/") + "\n");
    LoadServerAddressFrom(folder.Path());
    store.Open(folder.Path().string());
    UserList users;
    users.push_back(std::make_unique<UserRecord>(UserRecord{"13800000000", "pw", "Bench"}));
    store.SaveUsers(users);
    if (!client.Open()) {
      error = "client window";
      return false;
    }
    channel = std::make_unique<PushChannel>(&store);
    channel->Start([](std::unique_ptr<AlarmRecord>) {});
    if (!client.WaitForText("1~0", 10s)) {
      error = "no connection";
      return false;
    }
    channel->RequestResubscribe();
    // The heartbeat follows the subscription.
    if (!http.WaitForRequests(3, 10s)) {
      error = "no subscription";
      return false;
    }
    return true;
  }
  ~Rig() {
    if (channel) channel->Stop();
    channel.reset();
    HttpRequestQueue::DestroyInstance();
  }
};

Rig& TheRig() {
  static Rig rig;
  static bool started = rig.Start();
  (void)started;
  return rig;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

double gP50 = 0, gP99 = 0, gBurst = 0;

void BM_AlarmLatency(benchmark::State& state) {
  Rig& rig = TheRig();
  if (!rig.error.empty()) {
    state.SkipWithError(rig.error.c_str());
    return;
  }
  constexpr int kAlarms = 1000;
  for (auto _ : state) {
    rig.client.Clear();
    LinePublisher pub(rig.broker.Port());
    std::map<std::string, Clock::time_point> sent;
    auto next = Clock::now();
    for (int i = 0; i < kAlarms; ++i) {
      const std::string device = "latency " + std::to_string(i);
      std::this_thread::sleep_until(next);
      sent[device] = Clock::now();
      pub.Write(AlarmLine(device));
      next += 50ms;  // 20 a second
    }
    rig.client.WaitForAlarms(kAlarms, 10s);
    std::vector<double> ms;
    for (const auto& [device, at] : rig.client.Arrivals()) {
      const auto s = sent.find(device);
      if (s != sent.end())
        ms.push_back(std::chrono::duration<double, std::milli>(at - s->second).count());
    }
    gP50 = Percentile(ms, 0.50);
    gP99 = Percentile(ms, 0.99);
    state.counters["received"] = static_cast<double>(ms.size());
    state.counters["p50_ms"] = gP50;
    state.counters["p99_ms"] = gP99;
    state.SetIterationTime(gP99 / 1000.0);
  }
}

void BM_Burst1000(benchmark::State& state) {
  Rig& rig = TheRig();
  if (!rig.error.empty()) {
    state.SkipWithError(rig.error.c_str());
    return;
  }
  constexpr int kAlarms = 1000;
  for (auto _ : state) {
    rig.client.Clear();
    LinePublisher pub(rig.broker.Port());
    std::string lines;
    for (int i = 0; i < kAlarms; ++i) lines += AlarmLine("burst " + std::to_string(i));
    const auto begin = Clock::now();
    pub.Write(lines);
    const bool all = rig.client.WaitForAlarms(kAlarms, 120s);
    const auto end = Clock::now();
    gBurst = std::chrono::duration<double>(end - begin).count();
    state.counters["received"] = static_cast<double>(rig.client.Arrivals().size());
    state.counters["seconds"] = gBurst;
    if (!all) state.SkipWithError("not every alarm arrived");
    state.SetIterationTime(gBurst);
  }
}

double gOutageMedian = 0;

// Five outages in turn: each swallows the connection in use, publishes one alarm straight to the
// broker and waits for it at the client (keep-alive, reconnection, redelivery by the session).
void BM_OutageToRedelivery(benchmark::State& state) {
  Rig& rig = TheRig();
  if (!rig.error.empty()) {
    state.SkipWithError(rig.error.c_str());
    return;
  }
  constexpr int kOutages = 5;
  for (auto _ : state) {
    std::vector<double> seconds;
    for (int i = 0; i < kOutages; ++i) {
      rig.client.Clear();
      rig.proxy.SwallowOpen();
      const auto begin = Clock::now();
      {
        LinePublisher pub(rig.broker.Port());
        pub.Write(AlarmLine("outage " + std::to_string(i)));
      }
      if (!rig.client.WaitForAlarms(1, 180s)) {
        state.SkipWithError("an alarm published during the outage never arrived");
        return;
      }
      seconds.push_back(
          std::chrono::duration<double>(rig.client.Arrivals().begin()->second - begin).count());
    }
    gOutageMedian = Percentile(seconds, 0.5);
    state.counters["median_s"] = gOutageMedian;
    state.counters["max_s"] = *std::max_element(seconds.begin(), seconds.end());
    state.SetIterationTime(gOutageMedian);
  }
}

// Stands where the broker was: accepts each connection and closes it at once (a broker that
// refuses every monitor), noting when each came.
class RefusingListener {
 public:
  bool Start(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 256) != 0)
      return false;
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        ::close(c);
        std::lock_guard<std::mutex> guard(mutex_);
        attempts_.push_back(Clock::now());
      }
    });
    return true;
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  ~RefusingListener() { Stop(); }
  // The most attempts within any window of `width`.
  std::size_t Peak(Clock::duration width) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::size_t peak = 0;
    for (std::size_t i = 0, j = 0; i < attempts_.size(); ++i) {
      while (attempts_[i] - attempts_[j] > width) ++j;
      peak = std::max(peak, i - j + 1);
    }
    return peak;
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(mutex_);
    return attempts_.size();
  }

 private:
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Clock::time_point> attempts_;  // guarded by mutex_
};

double gCrowdRatio = -1, gCrowdRejoin = -1;
std::size_t gCrowdAttempts = 0;
constexpr int kCrowd = 50;

// One TCP connect to 127.0.0.1:port; true when it was accepted and stayed open a moment (the
// refusing listener closes at once; a broker keeps it).
bool TcpConnects(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (open) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    open = !(::poll(&p, 1, 100) > 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0);
  }
  ::close(fd);
  return open;
}

// The crowd: each monitor's connects paced by the push channel's own reconnect policy (its
// production settings, its own randomness), each attempt a real connection to the port. Paho's
// synchronous client cannot hold 50 connections in one process (its socket table is shared by
// the clients' threads), so the monitors' MQTT layer is left out: what is measured is when they
// try. All lost the broker at the same instant.
void BM_CrowdRefusedSixtySeconds(benchmark::State& state) {
  for (auto _ : state) {
    fx::MosquittoFixture broker;
    if (!fx::MosquittoFixture::Available() || !broker.Start()) {
      state.SkipWithError("no mosquitto broker");
      return;
    }
    const int port = broker.Port();
    broker.Stop();
    RefusingListener refusing;
    if (!refusing.Start(port)) {
      state.SkipWithError("cannot take the broker's port");
      return;
    }
    const PushTiming production;
    std::atomic<bool> brokerBack{false};
    std::atomic<int> rejoined{0};
    std::vector<double> rejoinSeconds(kCrowd, 0.0);
    Clock::time_point backAt{};
    std::mutex backLock;  // guards backAt
    const auto lost = Clock::now();
    std::vector<std::thread> monitors;
    for (int i = 0; i < kCrowd; ++i) {
      monitors.emplace_back([&, i] {
        Backoff connects(production.connectBackoff, MakeJitterSource());
        connects.Failed(lost);  // the connection was lost: the first try waits
        for (;;) {
          std::this_thread::sleep_until(connects.DueAt());
          if (TcpConnects(port) && brokerBack) {
            std::lock_guard<std::mutex> guard(backLock);
            rejoinSeconds[static_cast<std::size_t>(i)] =
                std::chrono::duration<double>(Clock::now() - backAt).count();
            ++rejoined;
            return;
          }
          connects.Failed(Clock::now());
        }
      });
    }
    std::this_thread::sleep_until(lost + 60s);
    refusing.Stop();
    gCrowdAttempts = refusing.Count();
    gCrowdRatio = static_cast<double>(refusing.Peak(500ms)) / kCrowd;
    {
      std::lock_guard<std::mutex> guard(backLock);
      backAt = Clock::now();
    }
    if (!broker.Restart()) {
      state.SkipWithError("the broker did not come back");
    }
    brokerBack = true;
    for (auto& t : monitors) t.join();
    gCrowdRejoin = *std::max_element(rejoinSeconds.begin(), rejoinSeconds.end());
    state.counters["peak_ratio"] = gCrowdRatio;
    state.counters["rejoin_s"] = gCrowdRejoin;
    state.SetIterationTime(gCrowdRejoin);
  }
}

BENCHMARK(BM_AlarmLatency)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Burst1000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutageToRedelivery)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrowdRefusedSixtySeconds)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::printf(
      "publish -> client \"4~\" latency at 20/s over 1000 alarms: p50 %.1f ms, p99 %.1f ms (target "
      "p99 <= 250 ms)\n",
      gP50, gP99);
  // Without draining, every message costs one pass of at least a 100 ms wait.
  const double plainLoop = 1000 * 0.1;
  std::printf(
      "burst of 1000 alarms stored and announced in %.2f s (target <= 3 s); the plain pass loop "
      "needs over "
      "%.0f s: %.0fx faster\n",
      gBurst, plainLoop, gBurst > 0 ? plainLoop / gBurst : 0.0);
  std::printf(
      "outage (connection swallowed) to the first redelivered alarm at the client: median %.1f s "
      "of 5 "
      "(target <= 60 s)\n",
      gOutageMedian);
  // With fixed retry intervals every monitor of a crowd that lost the broker together tries in
  // the same instant: all N in one half second.
  std::printf(
      "crowd of %d monitors refused 60 s: peak connects per 0.5 s window / N ratio %.2f (target <= "
      "0.25; "
      "fixed intervals 1.00), %zu connects in all\n",
      kCrowd, gCrowdRatio, gCrowdAttempts);
  std::printf(
      "crowd of %d monitors: all rejoined %.1f s after the broker came back (target <= 60 s)\n",
      kCrowd, gCrowdRejoin);
  benchmark::Shutdown();
  return 0;
}
