// The H.264 player on real X windows, costed whole: the processor time of every thread of the
// process and of the X server that draws what the player sends it, per picture, against
// libavcodec decoding the same pictures alone with the same settings in the same run. Nothing
// is bound to a processor. The player and the bare decoder take turns, round after round, so
// that whatever else the machine does weighs on both alike; medians of the rounds are reported.
// Beside each, for information, the least the same pictures can cost in the same windows
// (drawing_floor.h).
// (Run under xvfb-run; without a display the null back end stands in and the output says so.)
//  - A 720p clip played as fast as it decodes into a 1280 x 720 window (target: the whole
//    costs at most 1.45 times the bare decode), and into a 640 x 360 window for information.
//  - 16 players of a 576p clip, each fed at 25 frames per second, in a 4 x 4 wall of 400 x 225
//    windows: every picture shown, and the whole at most 1.12 times the floor of the same
//    pictures in the same windows (the bare decodes, our reduction and conversion alone and the
//    X server's taking them alone, measured in the same run).
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/drawing_floor.h"
#include "bench/picture_cpu.h"
#include "bench/thread_cpu.h"
#include "player/video/video_player.h"
#include "tests/fixtures/test_window.h"
#include "tests/player/fixtures/clip_reader.h"

using namespace rovik::player;
using namespace player_test;
using rovik::fixtures::TestWindow;
using Clock = std::chrono::steady_clock;

namespace {

bool HaveDisplay() {
  static const bool have = bench::DisplayReachable(10);
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

double Ms(double seconds) { return seconds * 1000; }

// Feeds the whole clip to a running player, keeping its input queue short of the bound at which
// it would drop frames, and waits until all of it is shown (60 s at most); the pictures shown
// meanwhile.
uint64_t FeedAndWait(CH264Player& player, const std::vector<ClipFrame>& clip) {
  constexpr size_t kQueued = FrameQueue::kMaxFrames / 2;
  const uint64_t before = player.PicturesShown();
  const auto end = Clock::now() + std::chrono::seconds(60);
  for (const ClipFrame& f : clip) {
    while (player.InputQueue().Count() >= kQueued && Clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    player.InputFrame(f.bytes.data(), static_cast<int32_t>(f.bytes.size()), f.key, 0);
  }
  while (player.PicturesShown() - before < clip.size() && Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return player.PicturesShown() - before;
}

// What the same pictures cost at the least in the same windows: the bare decode, our reduction
// and conversion alone, and the X server's copy alone. Returns that least, in ms.
double PrintFloor(double bareMs, const bench::DrawingFloor& floor, bool reduced) {
  const double reduceMs = floor.drawMs;
  const double copyMs = floor.serverMs;
  const double least = bareMs + reduceMs + copyMs;
  std::printf(
      "  the least these pictures can cost in these windows (information): the bare decode "
      "%.3f + our %s alone %.3f + the X server's taking it alone %.3f = %.3f ms per picture, "
      "ratio %.3f\n",
      bareMs, reduced ? "reduction and conversion" : "conversion", reduceMs, copyMs, least,
      bareMs > 0 ? least / bareMs : 0.0);
  return least;
}

// ms of CPU per picture, one entry a round.
struct Rounds {
  std::vector<double> decoding, rest, server, total, bare, ratio, playerWall, bareWall;
};

// The 720p clip, whole passes, into an open view of the given size (a camera view stays open)
// against a decoder that is open.
void OneView(benchmark::State& state, int width, int height, double target) {
  constexpr int kRounds = 12;
  const auto& clip = Clip("bench_720p.h264");
  if (clip.empty()) {
    state.SkipWithError("clip bench_720p.h264 missing (no ffmpeg tool at build time)");
    return;
  }
  const pid_t server = bench::XServerPid();
  TestWindow window(width, height);
  const uintptr_t id = window.Valid() ? window.Id() : 1;
  for (auto _ : state) {
    bench::BareDecoder bare;
    CH264Player player(id, Hooks());
    if (HaveDisplay() && player.Display()->Format() == kPixelFormatNone) {
      // Pictures that are not drawn cost next to nothing: no figure rather than a wrong one.
      std::printf("the player's window did not open on the display: not measured\n");
      state.SkipWithError("the player's window did not open on the display");
      return;
    }
    player.Start();
    // Warm-up of both.
    for (const ClipFrame& f : clip) {
      bare.Decode(f.bytes);
    }
    FeedAndWait(player, clip);
    Rounds r;
    uint64_t fewestShown = UINT64_MAX;
    for (int round = 0; round < kRounds; ++round) {
      auto wall = Clock::now();
      const double bare0 = bench::CallingThreadCpuSeconds();
      int decoded = 0;
      for (const ClipFrame& f : clip) {
        decoded += bare.Decode(f.bytes);
      }
      const double bareMs = Ms(bench::CallingThreadCpuSeconds() - bare0) / std::max(decoded, 1);
      r.bareWall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - wall).count());

      wall = Clock::now();
      const bench::WholeCpu whole0 = bench::WholeCpuNow(server);
      const double decoding0 = ThreadCpuSeconds("video-player");
      const uint64_t shown = FeedAndWait(player, clip);
      const double decoding = ThreadCpuSeconds("video-player") - decoding0;
      const bench::WholeCpu whole = bench::WholeCpuNow(server) - whole0;
      r.playerWall.push_back(
          std::chrono::duration<double, std::milli>(Clock::now() - wall).count());
      fewestShown = std::min(fewestShown, shown);
      const double n = static_cast<double>(std::max<uint64_t>(shown, 1));
      r.decoding.push_back(Ms(decoding) / n);
      r.rest.push_back(Ms(whole.process - decoding) / n);
      r.server.push_back(Ms(whole.server) / n);
      r.total.push_back(Ms(whole.Total()) / n);
      r.bare.push_back(bareMs);
      r.ratio.push_back(r.total.back() / bareMs);
    }
    const double ratio = bench::Median(r.ratio);
    state.counters["total_ms"] = bench::Median(r.total);
    state.counters["bare_ms"] = bench::Median(r.bare);
    state.counters["ratio"] = ratio;
    state.counters["fewest_shown"] = static_cast<double>(fewestShown);
    const std::string name = "720p into " + std::to_string(width) + "x" + std::to_string(height);
    std::printf(
        "%s, %zu pictures a pass, %d rounds (medians, CPU ms per picture):\n"
        "  player thread (video-player: decoding and drawing) %.3f, rest of the process "
        "%.3f, X server %.3f%s\n"
        "  wall clock of a pass (information): player %.1f ms, decoding alone %.1f ms\n"
        "  fewest pictures shown in a pass: %llu of %zu\n",
        name.c_str(), clip.size(), kRounds, bench::Median(r.decoding), bench::Median(r.rest),
        bench::Median(r.server), server == 0 ? " (X server not on this machine: not counted)" : "",
        bench::Median(r.playerWall), bench::Median(r.bareWall),
        static_cast<unsigned long long>(fewestShown), clip.size());
    char verdict[64];
    if (target > 0) {
      std::snprintf(verdict, sizeof verdict, "ratio %.3f (target <= %.2f)", ratio, target);
    } else {
      std::snprintf(verdict, sizeof verdict, "ratio %.3f (information)", ratio);
    }
    std::printf("%s: total %.3f ms per picture against the bare decode's %.3f ms, %s\n",
                name.c_str(), bench::Median(r.total), bench::Median(r.bare), verdict);
    if (window.Valid()) {
      PrintFloor(bench::Median(r.bare),
                 bench::MeasureDrawingFloor(clip, {static_cast<Window>(window.Id())}, width, height,
                                            server),
                 width < 1280);
    }
  }
}

void View1280x720(benchmark::State& state) { OneView(state, 1280, 720, 1.45); }
void View640x360(benchmark::State& state) { OneView(state, 640, 360, 0); }

// 16 players fed at 25 frames per second in rounds of a few seconds; after each round, once
// its pictures are shown, 16 decoders alone decode the same units in the same order.
void SixteenPlayerWall(benchmark::State& state) {
  constexpr int kPlayers = 16;
  constexpr int kColumns = 4;
  constexpr int kWidth = 400;
  constexpr int kHeight = 225;
  constexpr int kRounds = 8;
  constexpr int kTicksPerRound = 3 * 25;
  const auto& clip = Clip("bench_576p.h264");
  if (clip.empty()) {
    state.SkipWithError("clip bench_576p.h264 missing (no ffmpeg tool at build time)");
    return;
  }
  const pid_t server = bench::XServerPid();
  for (auto _ : state) {
    std::vector<std::unique_ptr<TestWindow>> windows;
    std::vector<std::unique_ptr<CH264Player>> players;
    std::vector<std::unique_ptr<bench::BareDecoder>> bare;
    for (int i = 0; i < kPlayers; ++i) {
      windows.push_back(std::make_unique<TestWindow>(kWidth, kHeight));
      if (windows.back()->Valid()) {
        windows.back()->Move((i % kColumns) * kWidth, (i / kColumns) * kHeight);
      }
      players.push_back(std::make_unique<CH264Player>(
          windows.back()->Valid() ? windows.back()->Id() : 1, Hooks()));
      if (HaveDisplay() && players.back()->Display()->Format() == kPixelFormatNone) {
        std::printf("player %d's window did not open on the display: not measured\n", i);
        state.SkipWithError("a player's window did not open on the display");
        return;
      }
      players.back()->Start();
      bare.push_back(std::make_unique<bench::BareDecoder>());
      // Warmed up, so that the first round does not pay for their first picture buffers.
      for (size_t u = 0; u < std::min<size_t>(50, clip.size()); ++u) {
        bare.back()->Decode(clip[u].bytes);
      }
    }
    const auto shown = [&] {
      uint64_t total = 0;
      for (auto& p : players) {
        total += p->PicturesShown();
      }
      return total;
    };
    size_t longestQueue = 0;
    uint64_t fed = 0;
    std::vector<double> process, xserver, total, bareMs, ratio;
    for (int round = 0; round < kRounds; ++round) {
      const int firstTick = round * kTicksPerRound;
      const uint64_t shown0 = shown();
      const bench::WholeCpu whole0 = bench::WholeCpuNow(server);
      const auto start = Clock::now();
      for (int tick = 0; tick < kTicksPerRound; ++tick) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(40) * tick);
        const ClipFrame& f = clip[static_cast<size_t>(firstTick + tick) % clip.size()];
        for (auto& player : players) {
          player->InputFrame(f.bytes.data(), static_cast<int32_t>(f.bytes.size()), f.key, 0);
          longestQueue = std::max(longestQueue, player->InputQueue().Count());
        }
      }
      fed += static_cast<uint64_t>(kTicksPerRound) * kPlayers;
      // The last frames fed get up to two seconds to be shown.
      const auto drainEnd = Clock::now() + std::chrono::seconds(2);
      while (shown() < fed && Clock::now() < drainEnd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      const bench::WholeCpu whole = bench::WholeCpuNow(server) - whole0;
      const double n = static_cast<double>(std::max<uint64_t>(shown() - shown0, 1));

      const double bare0 = bench::CallingThreadCpuSeconds();
      int decoded = 0;
      for (int tick = 0; tick < kTicksPerRound; ++tick) {
        const ClipFrame& f = clip[static_cast<size_t>(firstTick + tick) % clip.size()];
        for (auto& decoder : bare) {
          decoded += decoder->Decode(f.bytes);
        }
      }
      bareMs.push_back(Ms(bench::CallingThreadCpuSeconds() - bare0) / std::max(decoded, 1));
      process.push_back(Ms(whole.process) / n);
      xserver.push_back(Ms(whole.server) / n);
      total.push_back(Ms(whole.Total()) / n);
      ratio.push_back(total.back() / bareMs.back());
    }
    size_t finalQueue = 0;
    for (auto& p : players) {
      finalQueue = std::max(finalQueue, p->InputQueue().Count());
    }
    const uint64_t allShown = shown();
    const double r = bench::Median(ratio);
    state.counters["total_ms"] = bench::Median(total);
    state.counters["bare_ms"] = bench::Median(bareMs);
    state.counters["ratio"] = r;
    state.counters["fed"] = static_cast<double>(fed);
    state.counters["shown"] = static_cast<double>(allShown);
    state.counters["longest_queue"] = static_cast<double>(longestQueue);
    std::printf(
        "16 players x 25 fps, %d rounds of %d s (medians, CPU ms per picture): process "
        "%.3f, X server %.3f%s; longest input queue %zu, at the end %zu\n",
        kRounds, kTicksPerRound / 25, bench::Median(process), bench::Median(xserver),
        server == 0 ? " (not on this machine: not counted)" : "", longestQueue, finalQueue);
    std::vector<Window> ids;
    for (auto& w : windows) {
      if (w->Valid()) {
        ids.push_back(static_cast<Window>(w->Id()));
      }
    }
    const double least =
        PrintFloor(bench::Median(bareMs),
                   bench::MeasureDrawingFloor(clip, ids, kWidth, kHeight, server), true);
    const double toFloor = least > 0 ? bench::Median(total) / least : 0.0;
    state.counters["floor_ms"] = least;
    std::printf(
        "16 x 576p25 wall of %dx%d: total %.3f ms per picture against the floor's %.3f ms "
        "(16 bare decodes' %.3f ms, ratio to them %.3f), %llu of %llu pictures shown, "
        "ratio %.3f (target <= 1.12)\n",
        kWidth, kHeight, bench::Median(total), least, bench::Median(bareMs), r,
        static_cast<unsigned long long>(allShown), static_cast<unsigned long long>(fed), toFloor);
    players.clear();
    windows.clear();
    bench::PrintPacedFloor(clip, 16, bench::Median(bareMs), least - bench::Median(bareMs),
                           bench::Median(total));
  }
}

}  // namespace

BENCHMARK(View1280x720)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(View640x360)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SixteenPlayerWall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (std::getenv("DISPLAY") != nullptr && !HaveDisplay()) {
    std::fprintf(stderr, "bench_player: $DISPLAY (%s) did not open within 10 s\n",
                 std::getenv("DISPLAY"));
    return 1;
  }
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && display[0] == ':' && bench::XServerPid() == 0) {
    // A local server whose time cannot be read would make every figure look cheaper.
    std::fprintf(stderr, "bench_player: the X server of %s was not found\n", display);
    return 1;
  }
  std::printf("display: %s; X server process %d (%s)\n",
              HaveDisplay() ? "X11 ($DISPLAY)" : "none -- the null back end stands in for X11",
              static_cast<int>(bench::XServerPid()),
              bench::ProcessName(bench::XServerPid()).c_str());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
