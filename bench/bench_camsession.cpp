// Cameras through QXDll into players drawing into X11 windows, costed whole: the processor time
// of every thread of the process (receiving, decoding, drawing) and of the X server, per picture
// shown, against libavcodec decoding the camera's clip alone (one decoder a camera, the player's
// settings) in the same run, and against the least the same pictures can cost in the same
// windows (drawing_floor.h: the bare decode, our reduction and conversion alone, the X server's
// taking it alone), whose ratio carries the target:
//  - 16 cameras of 576p25 (camsim's clip, no noise) in a 4 x 4 wall of 400 x 225, and the
//    pictures shown per second while a mute camera in the same process is flooded with messages;
//  - 16 cameras like real ones (1080p25 with sensor noise, High profile, 4 Mbit/s) in a 4 x 4
//    wall of 480 x 270 filling a 1920 x 1080 screen, with the pictures shown per second and the
//    process's memory, and whether the 16 bare decodes fit this machine's processors at all;
//  - one camera of 2560 x 1440 (Main profile, 5 Mbit/s) in a 1280 x 720 window.
// The cameras play for a few seconds, then are held (the simulator stopped) while the bare
// decoders run the same number of pictures; medians of the rounds are reported. Nothing is
// bound to a processor. A round in which the cameras sent far fewer pictures than they should
// (their connections lost) ends the measure with an error.
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/drawing_floor.h"
#include "bench/picture_cpu.h"
#include "bench/thread_cpu.h"
#include "camsession/qx_api.h"
#include "player/api/player_slot_table.h"
#include "tests/camsession/mute_camera.h"
#include "tests/player/fixtures/clip_reader.h"

extern char** environ;

namespace {

constexpr int kRoundSeconds = 3;
constexpr double kMostBareSeconds = 3;

// One wall: its cameras' clip, their number and windows, and the target of its ratio to the
// floor.
struct Wall {
  const char* name;
  std::string clip;
  int cameras;
  int columns;
  int width;
  int height;
  int rounds;
  double target;
  bool flood;   // the mute camera flooded afterwards
  bool report;  // pictures shown per second, memory, and whether the bare decodes fit
};

std::atomic<int64_t> g_frames{0};

void Count(int32_t, int32_t kind, const uint8_t*, int32_t, intptr_t) {
  if (kind != 0) ++g_frames;
}

std::filesystem::path BinDir() {
  if (const char* dir = std::getenv("ROVIK_BIN_DIR")) return dir;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
}

std::string CamsimClip() { return (BinDir() / "camsim_576p.h264").string(); }
std::string CameraClip(const char* name) { return std::string(ROVIK_CLIP_DIR) + "/" + name; }

// The resident memory of this process, in MiB.
double ResidentMiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  double kib = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::atof(line + 6);
  }
  std::fclose(f);
  return kib / 1024;
}

// camsim with `clip`; returns its pid and port.
bool StartCamsim(const std::string& clip, pid_t* pid, int* port) {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = (BinDir() / "camsim").string();
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("--h264"),
                             const_cast<char*>(clip.c_str()), nullptr};
  const int r = posix_spawn(pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (r != 0) {
    close(out[0]);
    return false;
  }
  char line[128] = {};
  size_t got = 0;
  while (got < sizeof line - 1) {
    const ssize_t n = read(out[0], line + got, 1);
    if (n <= 0 || line[got] == '\n') break;
    ++got;
  }
  close(out[0]);
  const char* colon = std::strrchr(line, ':');
  *port = colon != nullptr ? std::atoi(colon + 1) : 0;
  return *port > 0;
}

// One more camera in the same process that logs in and never reads, flooded with messages and
// talk-back all along (reconnected whenever its connection is ended) while the wall plays for
// state.range(0) seconds: it must cost the wall nothing.
void FloodMuteCamera(benchmark::State& state, double sentPerSecond) {
  const char* login = "admin";
  const auto shownNow = [] { return rovik::player::PlayerSlotTable::Instance().PicturesShown(); };
  MuteCamera mute(1);
  const std::string muteAddress = mute.address();
  int32_t muted = -1;
  QXAPI_CreateInstance(&muted);
  std::atomic<bool> flooding{true};
  std::atomic<int64_t> floodSent{0}, floodLost{0};
  std::thread flood([&] {
    while (flooding) {
      QXAPI_Start(muted, reinterpret_cast<intptr_t>(muteAddress.c_str()),
                  reinterpret_cast<intptr_t>(login), reinterpret_cast<intptr_t>(login));
      QXAPI_StartTalk(muted);
      for (int i = 0; flooding && QXAPI_SendMessage(muted, 7, i, 0) == 0; ++i) ++floodSent;
      ++floodLost;
    }
  });
  {
    const int seconds = static_cast<int>(state.range(0));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int64_t before = g_frames;
    const uint64_t shownBefore = shownNow();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double fps = static_cast<double>(g_frames - before) / elapsed;
    const double shownFps = static_cast<double>(shownNow() - shownBefore) / elapsed;
    state.counters["flooded_shown_per_s"] = shownFps;
    std::printf(
        "with 1 mute camera flooded meanwhile (information): %.1f frames/s handed to the "
        "players, %.1f pictures/s shown (of %.0f sent); %lld messages taken before its "
        "connections were ended as stalled (%lld times)\n",
        fps, shownFps, sentPerSecond, static_cast<long long>(floodSent.load()),
        static_cast<long long>(floodLost.load()));
  }
  flooding = false;
  QXAPI_Stop(muted);
  flood.join();
}

void CameraWall(benchmark::State& state, const Wall& wall) {
  const int cameraCount = wall.cameras;
  const int columns = wall.columns;
  const int width = wall.width;
  const int height = wall.height;
  const int rounds = wall.rounds;
  const double sentPerSecond = cameraCount * 25.0;
  Display* d = bench::DisplayReachable(10) ? XOpenDisplay(nullptr) : nullptr;
  if (d == nullptr) {
    state.SkipWithError("needs an X display (scripts/bench runs under xvfb-run)");
    return;
  }
  pid_t camsim = -1;
  int port = 0;
  if (!StartCamsim(wall.clip, &camsim, &port)) {
    state.SkipWithError("camsim did not start");
    XCloseDisplay(d);
    return;
  }
  const std::string address = "127.0.0.1:" + std::to_string(port);
  const char* login = "admin";
  QXAPI_Initial(0);
  QXAPI_SetAVDataCallBack(&Count, 0);
  std::vector<Window> windows;
  std::vector<int32_t> cameras;
  for (int i = 0; i < cameraCount; ++i) {
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), (i % columns) * width,
                                         (i / columns) * height, width, height, 0, 0, 0);
    XMapWindow(d, w);
    windows.push_back(w);
  }
  XSync(d, False);
  for (int i = 0; i < cameraCount; ++i) {
    int32_t index = -1;
    QXAPI_CreateInstance(&index);
    QXAPI_Start(index, reinterpret_cast<intptr_t>(address.c_str()),
                reinterpret_cast<intptr_t>(login), reinterpret_cast<intptr_t>(login));
    QXAPI_StartVideo(index, windows[static_cast<size_t>(i)], 0);
    cameras.push_back(index);
  }
  const auto shownNow = [] { return rovik::player::PlayerSlotTable::Instance().PicturesShown(); };
  std::this_thread::sleep_for(std::chrono::seconds(1));  // connections settle
  const std::vector<player_test::ClipFrame> clip = player_test::ReadH264File(wall.clip);
  if (clip.empty()) {
    state.SkipWithError((wall.clip + " could not be read").c_str());
  }
  const pid_t server = bench::XServerPid();
  const char* display = std::getenv("DISPLAY");
  if (server == 0 && display != nullptr && display[0] == ':') {
    // A local server whose time cannot be read would make the wall look cheaper.
    state.SkipWithError("the local X server was not found: its time cannot be counted");
  }
  const double memory = ResidentMiB();  // the players running, the bare decoders not yet made
  std::vector<std::unique_ptr<bench::BareDecoder>> bare;
  for (int i = 0; i < cameraCount; ++i) {
    bare.push_back(std::make_unique<bench::BareDecoder>());
    // Warmed up, so that the first round does not pay for their first picture buffers (zeroed
    // and faulted in) when the players paid for theirs before it.
    for (size_t u = 0; u < std::min<size_t>(50, clip.size()); ++u)
      bare.back()->Decode(clip[u].bytes);
  }
  size_t nextUnit = 0;
  // Each round starts with nothing on its way: the cameras held, what they sent shown.
  // A camera held for less than a second sends what it owes at once when it goes on (the
  // simulator forgives a longer lag), and a burst that deep makes the players skip to the next
  // key frame: every hold lasts at least kLeastHold, so that the cameras go on at their pace.
  constexpr auto kLeastHold = std::chrono::milliseconds(1500);
  auto heldSince = std::chrono::steady_clock::now();
  const auto resume = [&] {
    std::this_thread::sleep_until(heldSince + kLeastHold);
    kill(camsim, SIGCONT);
  };
  const auto holdAndDrain = [&] {
    kill(camsim, SIGSTOP);
    heldSince = std::chrono::steady_clock::now();
    const auto drainEnd = heldSince + std::chrono::seconds(2);
    uint64_t last = shownNow();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const uint64_t now = shownNow();
      if (now == last || std::chrono::steady_clock::now() > drainEnd) break;
      last = now;
    }
  };
  holdAndDrain();
  double measuredTotal = 0, measuredBare = 0, measuredOverBare = 0;  // of the last measure
  for (auto _ : state) {
    if (clip.empty()) break;
    std::vector<double> process, players, xserver, total, bareMs, ratio, shownPerSecond;
    int64_t handed = 0;
    uint64_t shown = 0;
    bool camerasLost = false;
    for (int round = 0; round < rounds; ++round) {
      const int64_t frames0 = g_frames;
      const uint64_t shown0 = shownNow();
      resume();
      const bench::WholeCpu whole0 = bench::WholeCpuNow(server);
      const double players0 = ThreadCpuSeconds("video-player");
      std::this_thread::sleep_for(std::chrono::seconds(kRoundSeconds));
      holdAndDrain();  // what is on its way gets up to two seconds to be shown
      const bench::WholeCpu whole = bench::WholeCpuNow(server) - whole0;
      const double playersUsed = ThreadCpuSeconds("video-player") - players0;
      const uint64_t roundShown = shownNow() - shown0;
      const int64_t roundHanded = g_frames - frames0;
      handed += roundHanded;
      if (roundHanded < static_cast<int64_t>(sentPerSecond * kRoundSeconds * 8 / 10)) {
        // Connections lost (the machine stalled long enough for the simulator to give up on
        // them): the figures would be of something else.
        std::printf(
            "round %d: the cameras sent %lld pictures in %d s instead of about %.0f: "
            "their connections were lost; not measured\n",
            round + 1, static_cast<long long>(roundHanded), kRoundSeconds,
            sentPerSecond * kRoundSeconds);
        camerasLost = true;
        break;
      }
      shown += roundShown;
      shownPerSecond.push_back(static_cast<double>(roundShown) / kRoundSeconds);
      // As many pictures decoded alone, the clip in order through 16 decoders; at most
      // kMostBareSeconds of them, since the cameras' sessions give up on a camera held for 10 s.
      const double bare0 = bench::CallingThreadCpuSeconds();
      int decoded = 0;
      for (uint64_t i = 0; i < (roundShown + cameraCount - 1) / cameraCount &&
                           bench::CallingThreadCpuSeconds() - bare0 < kMostBareSeconds;
           ++i, ++nextUnit) {
        for (auto& decoder : bare) decoded += decoder->Decode(clip[nextUnit % clip.size()].bytes);
      }
      const double n = static_cast<double>(std::max<uint64_t>(roundShown, 1));
      bareMs.push_back((bench::CallingThreadCpuSeconds() - bare0) * 1000 / std::max(decoded, 1));
      process.push_back(whole.process * 1000 / n);
      players.push_back(playersUsed * 1000 / n);
      xserver.push_back(whole.server * 1000 / n);
      total.push_back(whole.Total() * 1000 / n);
      ratio.push_back(total.back() / bareMs.back());
    }
    if (camerasLost) {
      state.SkipWithError("the cameras' connections were lost during the rounds");
      break;
    }
    // While the cameras are held: the least the same pictures can cost in these windows.
    const bench::DrawingFloor floor =
        bench::MeasureDrawingFloor(clip, windows, width, height, server);
    kill(camsim, SIGCONT);
    const double bareMedian = bench::Median(bareMs);
    const double least = bareMedian + floor.drawMs + floor.serverMs;
    const double totalMedian = bench::Median(total);
    const double r = least > 0 ? totalMedian / least : 0.0;
    measuredTotal = totalMedian;
    measuredBare = bareMedian;
    measuredOverBare = floor.drawMs + floor.serverMs;
    state.counters["total_ms"] = totalMedian;
    state.counters["bare_ms"] = bareMedian;
    state.counters["floor_ms"] = least;
    state.counters["ratio"] = r;
    state.counters["shown"] = static_cast<double>(shown);
    state.counters["handed"] = static_cast<double>(handed);
    std::printf(
        "%s, %d rounds of %d s (medians, CPU ms per picture): process %.3f (the players' "
        "threads, decoding and drawing, %.3f; the rest, receiving and handing on, %.3f), "
        "X server %.3f (process %d, %s)\n",
        wall.name, rounds, kRoundSeconds, bench::Median(process), bench::Median(players),
        bench::Median(process) - bench::Median(players), bench::Median(xserver),
        static_cast<int>(server),
        server == 0 ? "not on this machine: not counted" : bench::ProcessName(server).c_str());
    std::printf(
        "  the floor: the bare decode %.3f + our reduction and conversion alone %.3f + "
        "the X server's taking it alone %.3f = %.3f ms per picture (%.3f times the bare "
        "decode)\n",
        bareMedian, floor.drawMs, floor.serverMs, least, bareMedian > 0 ? least / bareMedian : 0.0);
    if (wall.report) {
      const double processors = static_cast<double>(std::thread::hardware_concurrency());
      const double needed = bareMedian * sentPerSecond / 1000;
      double load[1] = {0};
      getloadavg(load, 1);
      std::printf(
          "  %.1f pictures shown a second of %.0f sent; process memory %.0f MiB; the "
          "bare decodes alone need %.2f of the %.0f processors here (load average "
          "%.1f)%s\n",
          bench::Median(shownPerSecond), sentPerSecond, memory, needed, processors, load[0],
          needed > processors ? ": they do not fit this machine, so not every picture can be shown"
          : needed + load[0] > processors + 1
              ? ": with the rest of the machine's load they do not fit now"
              : "");
    }
    std::printf(
        "%s into %dx%d: total %.3f ms per picture against the floor's %.3f ms (bare "
        "decode %.3f, ratio to it %.3f), %llu of %lld pictures received were shown "
        "(%.0f sent a second by the cameras), ratio %.3f (target <= %.2f)\n",
        wall.name, width, height, totalMedian, least, bareMedian,
        bareMedian > 0 ? totalMedian / bareMedian : 0.0, static_cast<unsigned long long>(shown),
        static_cast<long long>(handed), sentPerSecond, r, wall.target);
  }
  bare.clear();

  if (wall.flood) FloodMuteCamera(state, sentPerSecond);
  QXAPI_DestroyAllInstance();
  QXAPI_DeInitial();
  kill(camsim, SIGCONT);  // held, when the rounds ended early
  kill(camsim, SIGTERM);
  waitpid(camsim, nullptr, 0);
  for (Window w : windows) XDestroyWindow(d, w);
  XCloseDisplay(d);
  bench::PrintPacedFloor(clip, cameraCount, measuredBare, measuredOverBare, measuredTotal);
}
void BM_SixteenCameras(benchmark::State& state) {
  CameraWall(state, {"16 cameras of 576p25", CamsimClip(), 16, 4, 400, 225, 8, 1.25, true, false});
}
void BM_SixteenCameras1080p(benchmark::State& state) {
  CameraWall(state, {"16 cameras of 1080p25", CameraClip("camera_1080p.h264"), 16, 4, 480, 270, 5,
                     1.15, false, true});
}
void BM_OneCamera1440p(benchmark::State& state) {
  CameraWall(state, {"1 camera of 2560x1440", CameraClip("camera_1440p.h264"), 1, 1, 1280, 720, 5,
                     1.10, false, false});
}

BENCHMARK(BM_SixteenCameras)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SixteenCameras1080p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneCamera1440p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // A connection held for the whole run: an X server starts over whenever its last client
  // leaves and refuses connections meanwhile, which would fail the next wall's windows.
  Display* held = nullptr;
  for (int tries = 0; tries < 100 && std::getenv("DISPLAY") != nullptr && held == nullptr;
       ++tries) {
    held = XOpenDisplay(nullptr);
    if (held == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (held != nullptr) XCloseDisplay(held);
  return 0;
}
