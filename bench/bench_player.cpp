// The H.264 player at full speed and under load, on real X windows (run under xvfb-run; without
// a display the null back end stands in and the output says so).
//  - A 720p clip played as fast as it decodes into a 1280 x 720 window, against libavcodec
//    decoding the same clip alone with the same settings: ratio player / decode (target <= 1.15).
//  - 16 players of a 576p clip, each fed at 25 frames per second for 20 s: pictures shown per
//    second in total (target >= 400) and the longest input queue seen (no queue may grow).
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// CPU time of the whole process (every thread), in milliseconds: a figure that a busy machine
// disturbs less than the wall-clock time.
double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

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

void DecodeAlone(benchmark::State& state) {
  const auto& clip = Clip("bench_720p.h264");
  if (clip.empty()) {
    state.SkipWithError("clip bench_720p.h264 missing (no ffmpeg tool at build time)");
    return;
  }
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  std::vector<std::vector<uint8_t>> padded;
  for (const ClipFrame& f : clip) {
    padded.push_back(f.bytes);
    padded.back().resize(f.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  }
  int64_t pictures = 0;
  const double cpuStart = ProcessCpuMs();
  for (auto _ : state) {
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    avcodec_open2(context, codec, nullptr);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    for (size_t i = 0; i < padded.size(); ++i) {
      packet->data = padded[i].data();
      packet->size = static_cast<int>(clip[i].bytes.size());
      avcodec_send_packet(context, packet);
      while (avcodec_receive_frame(context, frame) == 0) {
        ++pictures;
      }
    }
    packet->data = nullptr;
    packet->size = 0;
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
  state.counters["pictures"] = static_cast<double>(pictures) / state.iterations();
  state.counters["process_cpu_ms"] = (ProcessCpuMs() - cpuStart) / state.iterations();
}

void PlayerIntoWindow(benchmark::State& state) {
  const auto& clip = Clip("bench_720p.h264");
  if (clip.empty()) {
    state.SkipWithError("clip bench_720p.h264 missing (no ffmpeg tool at build time)");
    return;
  }
  TestWindow window(1280, 720);
  const uintptr_t id = window.Valid() ? window.Id() : 1;
  uint64_t pictures = 0;
  const double cpuStart = ProcessCpuMs();
  for (auto _ : state) {
    CH264Player player(id, Hooks());
    player.Start();
    for (const ClipFrame& f : clip) {
      player.InputFrame(f.bytes.data(), static_cast<int32_t>(f.bytes.size()), f.key, 0);
    }
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (player.PicturesShown() < clip.size() && Clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    pictures += player.PicturesShown();
  }
  state.counters["pictures"] = static_cast<double>(pictures) / state.iterations();
  state.counters["process_cpu_ms"] = (ProcessCpuMs() - cpuStart) / state.iterations();
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

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0 && !run.error_occurred) {
        ms[run.benchmark_name()] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> ms;
};

}  // namespace

BENCHMARK(DecodeAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(PlayerIntoWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(SixteenPlayers)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("display: %s\n", HaveDisplay() ? "X11 ($DISPLAY)"
                                             : "none -- the null back end stands in for X11");
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto a = reporter.ms.find("PlayerIntoWindow/min_time:3.000/real_time");
  const auto b = reporter.ms.find("DecodeAlone/min_time:3.000/real_time");
  if (a != reporter.ms.end() && b != reporter.ms.end() && b->second > 0) {
    std::printf("720p clip: player into a window %.1f ms, decoding alone %.1f ms, ratio %.3f "
                "(target <= 1.15)\n", a->second, b->second, a->second / b->second);
  } else {
    std::printf("ratio not available:");
    for (const auto& [name, ms] : reporter.ms) {
      std::printf(" [%s]", name.c_str());
    }
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
