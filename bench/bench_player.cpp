// The H.264 player at full speed and under load, on real X windows (run under xvfb-run; without
// a display the null back end stands in and the output says so).
//  - A 720p clip played as fast as it decodes into a 1280 x 720 window, against libavcodec
//    decoding the same clip alone with the same settings, the two taking turns: ratio player /
//    decode (target <= 1.15), with both open beforehand and, for information, made each pass.
//  - 16 players of a 576p clip, each fed at 25 frames per second for 20 s: pictures shown per
//    second in total (target >= 400) and the longest input queue seen (no queue may grow).
#include <X11/Xlib.h>
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "player/video_player.h"
#include "tests/player/clip_reader.h"
#include "tests/player/test_window.h"

using namespace qxplay;
using namespace player_test;
using Clock = std::chrono::steady_clock;

namespace {

bool HaveDisplay() {
  static const bool have = [] {
    Display* d = XOpenDisplay(nullptr);
    if (d != nullptr) {
      XCloseDisplay(d);
    }
    return d != nullptr;
  }();
  return have;
}

PlayerHooks Hooks() {
  PlayerHooks hooks;
  hooks.displayBackend = HaveDisplay() ? "x11" : "null";
  return hooks;
}

const std::vector<ClipFrame>& Clip(const char* name) {
  static std::map<std::string, std::vector<ClipFrame>> clips;
  auto& clip = clips[name];
  if (clip.empty()) {
    clip = ReadH264Clip(name);
  }
  return clip;
}

// libavcodec alone with the player's decoder settings, over the whole clip; wall ms of a pass.
class DecoderAlone {
 public:
  explicit DecoderAlone(const std::vector<ClipFrame>& clip) : clip_(clip) {
    for (const ClipFrame& f : clip) {
      padded_.push_back(f.bytes);
      padded_.back().resize(f.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    }
    Open();
  }
  ~DecoderAlone() { Close(); }

  // One pass through the decoder opened before; `reopen` opens a new one inside the timing.
  double Pass(bool reopen) {
    const auto begin = Clock::now();
    if (reopen) {
      Close();
      Open();
    }
    int64_t pictures = 0;
    for (size_t i = 0; i < padded_.size(); ++i) {
      packet_->data = padded_[i].data();
      packet_->size = static_cast<int>(clip_[i].bytes.size());
      avcodec_send_packet(context_, packet_);
      while (avcodec_receive_frame(context_, frame_) == 0) {
        ++pictures;
      }
    }
    packet_->data = nullptr;
    packet_->size = 0;
    benchmark::DoNotOptimize(pictures);
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  }

 private:
  void Open() {
    context_ = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
    context_->thread_count = 1;
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    avcodec_open2(context_, context_->codec, nullptr);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
  }
  void Close() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }

  const std::vector<ClipFrame>& clip_;
  std::vector<std::vector<uint8_t>> padded_;
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
};

// Feeds the whole clip to a running player and waits until all of it is shown; wall ms, and
// the pictures shown in the pass.
double FeedAndWait(CH264Player& player, const std::vector<ClipFrame>& clip, Clock::time_point begin,
                   uint64_t* shown) {
  const uint64_t before = player.PicturesShown();
  for (const ClipFrame& f : clip) {
    player.InputFrame(f.bytes.data(), static_cast<int32_t>(f.bytes.size()), f.key, 0);
  }
  const auto end = Clock::now() + std::chrono::seconds(60);
  while (player.PicturesShown() - before < clip.size() && Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  *shown = player.PicturesShown() - before;
  return ms;
}

// A pass of a player made (and destroyed) inside the timing.
double NewPlayerPass(const std::vector<ClipFrame>& clip, uintptr_t window, uint64_t* shown) {
  const auto begin = Clock::now();
  CH264Player player(window, Hooks());
  player.Start();
  FeedAndWait(player, clip, begin, shown);
  player.Stop();
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// The processors this process may run on.
std::vector<int> AllowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    for (int i = 0; i < CPU_SETSIZE; ++i) {
      if (CPU_ISSET(i, &set)) {
        cpus.push_back(i);
      }
    }
  }
  return cpus;
}

// Binds the threads of process `pid` (0: this one) named `name` (empty: every thread) to the
// given processors. The kernel takes thread ids where it takes a process id.
void BindThreads(pid_t pid, const std::string& name, const std::vector<int>& cpus) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : cpus) {
    CPU_SET(cpu, &set);
  }
  const std::string dir =
      pid == 0 ? std::string("/proc/self/task") : "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (tasks == nullptr) {
    return;
  }
  while (dirent* e = readdir(tasks)) {
    if (e->d_name[0] == '.') {
      continue;
    }
    std::ifstream comm(dir + "/" + e->d_name + "/comm");
    std::string got;
    std::getline(comm, got);
    if (name.empty() || got == name) {
      sched_setaffinity(static_cast<pid_t>(std::stol(e->d_name)), sizeof(set), &set);
    }
  }
  closedir(tasks);
}

// The process id of the X server, when it is on this machine at the other end of a local
// socket; 0 otherwise.
pid_t XServerPid() {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    return 0;
  }
  ucred peer{};
  socklen_t size = sizeof(peer);
  const bool known =
      getsockopt(ConnectionNumber(d), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid > 0;
  XCloseDisplay(d);
  return known ? peer.pid : 0;
}

// Runs `work` in the calling thread bound to one processor, then lets the thread go anywhere.
template <typename Work>
double OnCpu(int cpu, const std::vector<int>& all, Work work) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  pthread_setaffinity_np(pthread_self(), sizeof(one), &one);
  const double ms = work();
  cpu_set_t every;
  CPU_ZERO(&every);
  for (int c : all) {
    CPU_SET(c, &every);
  }
  pthread_setaffinity_np(pthread_self(), sizeof(every), &every);
  return ms;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : (n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

struct Series {
  std::vector<double> player, decoder, ratio;
  uint64_t fewestShown = UINT64_MAX;
  void Add(double p, double d, uint64_t shown) {
    player.push_back(p);
    decoder.push_back(d);
    ratio.push_back(p / d);
    fewestShown = std::min(fewestShown, shown);
  }
};

// The player and the decoder alone take turns, pass after pass, so that whatever else the
// machine does at the time weighs on both alike; the medians and the median ratio of the pairs
// are reported. The target compares playing: a view that is open (its player made before, as a
// camera view stays open) against a decoder that is open. For information the same is measured
// with the player and the decoder made afresh for every pass, which adds the set-up of each
// (X connection, shared picture, the first touch of every buffer) to the short clip.
void PlayerAgainstDecoder(benchmark::State& state) {
  constexpr int kRounds = 16;
  const auto& clip = Clip("bench_720p.h264");
  if (clip.empty()) {
    state.SkipWithError("clip bench_720p.h264 missing (no ffmpeg tool at build time)");
    return;
  }
  TestWindow window(1280, 720);
  const uintptr_t id = window.Valid() ? window.Id() : 1;
  for (auto _ : state) {
    DecoderAlone decoder(clip);
    CH264Player player(id, Hooks());
    player.Start();
    uint64_t shown = 0;
    decoder.Pass(false);  // warm-up of both
    FeedAndWait(player, clip, Clock::now(), &shown);
    Series open;
    Series fresh;
    // Each round binds the decoder alone and the player's decoding thread to the same
    // processor (in turn every one the process may use), and the presenting thread and the X
    // server (when it runs on this machine) to the others: processors of a virtual machine can
    // differ in speed by half, and where the scheduler happens to put each would otherwise
    // decide the ratio. The decoder alone had its processor to itself; so does the player's.
    const std::vector<int> cpus = AllowedCpus();
    const pid_t server = XServerPid();
    std::map<int, Series> byCpu;
    for (int round = 0; round < kRounds; ++round) {
      const int cpu = cpus.empty() ? -1 : cpus[round % cpus.size()];
      double d = 0;
      double p = 0;
      if (cpu < 0) {
        d = decoder.Pass(false);
        p = FeedAndWait(player, clip, Clock::now(), &shown);
      } else {
        std::vector<int> others;
        for (int c : cpus) {
          if (c != cpu) {
            others.push_back(c);
          }
        }
        BindThreads(0, "video-player", {cpu});
        BindThreads(0, "video-present", others.empty() ? cpus : others);
        if (server != 0) {
          BindThreads(server, "", others.empty() ? cpus : others);
        }
        d = OnCpu(cpu, cpus, [&] { return decoder.Pass(false); });
        // This thread feeds and watches the player from the presenter's side, as the decoder
        // alone had its processor to itself.
        p = OnCpu(others.empty() ? cpu : others.front(), cpus,
                  [&] { return FeedAndWait(player, clip, Clock::now(), &shown); });
      }
      open.Add(p, d, shown);
      byCpu[cpu].Add(p, d, shown);
    }
    if (server != 0) {
      BindThreads(server, "", cpus);
    }
    BindThreads(0, "video-player", cpus);
    BindThreads(0, "video-present", cpus);
    for (int round = 0; round < kRounds; ++round) {
      const double d = decoder.Pass(true);
      const double p = NewPlayerPass(clip, id, &shown);
      fresh.Add(p, d, shown);
    }
    state.counters["decode_ms"] = Median(open.decoder);
    state.counters["player_ms"] = Median(open.player);
    state.counters["ratio"] = Median(open.ratio);
    state.counters["ratio_made_each_pass"] = Median(fresh.ratio);
    state.counters["fewest_shown"] = static_cast<double>(std::min(open.fewestShown, fresh.fewestShown));
    std::printf("720p clip, %zu pictures, %d rounds each (medians):\n"
                "  open view: player into a window %.1f ms, decoding alone %.1f ms, ratio %.3f "
                "(target <= 1.15)\n"
                "  made for each pass (information): player %.1f ms, decoder %.1f ms, ratio %.3f\n"
                "  fewest pictures shown in a pass: %llu of %zu\n",
                clip.size(), kRounds, Median(open.player), Median(open.decoder),
                Median(open.ratio), Median(fresh.player), Median(fresh.decoder),
                Median(fresh.ratio),
                static_cast<unsigned long long>(std::min(open.fewestShown, fresh.fewestShown)),
                clip.size());
    for (const auto& [cpu, series] : byCpu) {
      std::printf("  open view, decoding on processor %d: player %.1f ms, decoder %.1f ms, "
                  "ratio %.3f (%zu rounds)\n",
                  cpu, Median(series.player), Median(series.decoder), Median(series.ratio),
                  series.ratio.size());
    }
  }
}

void SixteenPlayers(benchmark::State& state) {
  constexpr int kPlayers = 16;
  constexpr int kSeconds = 20;
  const auto& clip = Clip("bench_576p.h264");
  if (clip.empty()) {
    state.SkipWithError("clip bench_576p.h264 missing (no ffmpeg tool at build time)");
    return;
  }
  for (auto _ : state) {
    std::vector<std::unique_ptr<TestWindow>> windows;
    std::vector<std::unique_ptr<CH264Player>> players;
    for (int i = 0; i < kPlayers; ++i) {
      windows.push_back(std::make_unique<TestWindow>(704, 576));
      players.push_back(std::make_unique<CH264Player>(
          windows.back()->Valid() ? windows.back()->Id() : 1, Hooks()));
      players.back()->Start();
    }
    size_t longestQueue = 0;
    const auto start = Clock::now();
    const int ticks = kSeconds * 25;
    for (int tick = 0; tick < ticks; ++tick) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(40) * tick);
      const ClipFrame& f = clip[tick % clip.size()];
      for (auto& player : players) {
        player->InputFrame(f.bytes.data(), static_cast<int32_t>(f.bytes.size()), f.key, 0);
        longestQueue = std::max(longestQueue, player->InputQueue().Count());
      }
    }
    // The last frames fed get up to a second to be shown.
    const auto drainEnd = Clock::now() + std::chrono::seconds(1);
    const auto shown = [&] {
      uint64_t total = 0;
      for (auto& p : players) {
        total += p->PicturesShown();
      }
      return total;
    };
    while (shown() < static_cast<uint64_t>(ticks) * kPlayers && Clock::now() < drainEnd) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    size_t finalQueue = 0;
    for (auto& p : players) {
      finalQueue = std::max(finalQueue, p->InputQueue().Count());
    }
    const uint64_t total = shown();
    state.counters["shown_per_s"] = static_cast<double>(total) / kSeconds;
    state.counters["fed"] = static_cast<double>(ticks) * kPlayers;
    state.counters["shown"] = static_cast<double>(total);
    state.counters["longest_queue"] = static_cast<double>(longestQueue);
    state.counters["queue_at_end"] = static_cast<double>(finalQueue);
    std::printf("16 players x 25 fps for %d s: %llu of %d pictures shown, %.1f per second "
                "(target >= 400); longest input queue %zu, at the end %zu\n",
                kSeconds, static_cast<unsigned long long>(total), ticks * kPlayers,
                static_cast<double>(total) / kSeconds, longestQueue, finalQueue);
    players.clear();
    windows.clear();
  }
}

}  // namespace

BENCHMARK(PlayerAgainstDecoder)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SixteenPlayers)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("display: %s\n", HaveDisplay() ? "X11 ($DISPLAY)"
                                             : "none -- the null back end stands in for X11");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
