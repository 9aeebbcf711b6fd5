// Sixteen cameras at 576p25 (camsim's 576p clip) through QXDll into sixteen players drawing into
// X11 windows. Counts the frames handed on and the pictures the players drew, per second, against
// the 400 the cameras send, and prints the ratios (1.0 = every frame arrived and was shown).
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "camsession/qx_api.h"
#include "player/player_slot_table.h"
#include "tests/camsession/mute_camera.h"

extern char** environ;

namespace {

// CPU seconds used so far by this process (every thread: network, decoding, drawing).
double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

constexpr int kCameras = 16;
constexpr double kTargetFps = kCameras * 25.0;

std::atomic<int64_t> g_frames{0};

void Count(int32_t, int32_t kind, const uint8_t*, int32_t, intptr_t) {
  if (kind != 0) ++g_frames;
}

std::filesystem::path BinDir() {
  if (const char* dir = std::getenv("ROVIK_BIN_DIR")) return dir;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
}

// camsim with the 576p clip; returns its pid and port.
bool StartCamsim(pid_t* pid, int* port) {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = (BinDir() / "camsim").string();
  const std::string clip = (BinDir() / "camsim_576p.h264").string();
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

void BM_SixteenCameras(benchmark::State& state) {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    state.SkipWithError("needs an X display (scripts/bench runs under xvfb-run)");
    return;
  }
  pid_t camsim = -1;
  int port = 0;
  if (!StartCamsim(&camsim, &port)) {
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
  for (int i = 0; i < kCameras; ++i) {
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), (i % 4) * 360, (i / 4) * 288,
                                         360, 288, 0, 0, 0);
    XMapWindow(d, w);
    windows.push_back(w);
  }
  XSync(d, False);
  for (int i = 0; i < kCameras; ++i) {
    int32_t index = -1;
    QXAPI_CreateInstance(&index);
    QXAPI_Start(index, reinterpret_cast<intptr_t>(address.c_str()),
                reinterpret_cast<intptr_t>(login), reinterpret_cast<intptr_t>(login));
    QXAPI_StartVideo(index, windows[static_cast<size_t>(i)], 0);
    cameras.push_back(index);
  }
  // One more camera in the same process that logs in and never reads, flooded with messages and
  // talk-back all along (reconnected whenever its connection is ended): it must cost the sixteen
  // nothing.
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
  std::this_thread::sleep_for(std::chrono::seconds(1));  // connections settle
  const int seconds = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const int64_t before = g_frames;
    const uint64_t shownBefore = qxplay::PlayerSlotTable::Instance().PicturesShown();
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double fps = static_cast<double>(g_frames - before) / elapsed;
    const double shown =
        static_cast<double>(qxplay::PlayerSlotTable::Instance().PicturesShown() - shownBefore) /
        elapsed;
    const double cores = (ProcessCpuSeconds() - cpu0) / elapsed;
    state.counters["frames_per_s"] = fps;
    state.counters["shown_per_s"] = shown;
    state.counters["cpu_cores"] = cores;
    state.counters["ratio_to_400"] = shown / kTargetFps;
    std::printf("16 cameras at 576p25: %.1f frames/s handed to the players (%.3f of %.0f), "
                "%.1f pictures/s shown (%.3f of %.0f), using %.2f cores for receiving, decoding "
                "and drawing\n",
                fps, fps / kTargetFps, kTargetFps, shown, shown / kTargetFps, kTargetFps, cores);
    std::printf("  with 1 mute camera flooded meanwhile: %lld messages taken before its "
                "connections were ended as stalled (%lld times)\n",
                static_cast<long long>(floodSent.load()), static_cast<long long>(floodLost.load()));
  }
  flooding = false;
  QXAPI_Stop(muted);
  flood.join();
  QXAPI_DestroyAllInstance();
  QXAPI_DeInitial();
  kill(camsim, SIGTERM);
  waitpid(camsim, nullptr, 0);
  for (Window w : windows) XDestroyWindow(d, w);
  XCloseDisplay(d);
}
BENCHMARK(BM_SixteenCameras)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
