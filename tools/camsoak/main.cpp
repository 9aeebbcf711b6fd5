// camsoak: cameras kept for a long time as a video client keeps them.
//
//   camsoak [--cameras N] [--minutes M] [--folder DIR]
//
// Starts camsim from its own folder, connects N cameras to it through QXDll with video (to the
// null display), audio and a recording each, reconnects every camera once a minute, and prints
// the process's resident memory, open descriptors and threads after the start, after every
// round and at the end, with the pictures received and the recording files written. The
// recordings go to DIR (default: a fresh folder under /tmp, removed at the end).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "camsession/qx_api.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<long> g_pictures{0};
std::atomic<int> g_lost{0};
std::atomic<int> g_recordFailures{0};

void OnAV(int32_t, int32_t kind, const uint8_t*, int32_t, intptr_t) {
  if (kind != 0) ++g_pictures;
}

void OnMessage(int32_t, intptr_t v1, intptr_t v2, intptr_t, intptr_t) {
  if (v1 != QXAPI_MSG_STATUS) return;
  if (v2 == QXAPI_STATUS_LOST) ++g_lost;
  if (v2 == QXAPI_STATUS_RECORD_FAILED) ++g_recordFailures;
}

long StatusField(const char* name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(name);
  while (std::getline(in, line)) {
    if (line.compare(0, n, name) == 0 && line.size() > n && line[n] == ':') {
      return std::atol(line.c_str() + n + 1);
    }
  }
  return -1;
}

void Report(const char* when, double minutes) {
  long fds = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++fds;
  std::printf(
      "%-8s %6.1f min  RSS %7ld KiB  descriptors %4ld  threads %4ld  pictures %9ld  "
      "lost %d  record failures %d\n",
      when, minutes, StatusField("VmRSS"), fds, StatusField("Threads"), g_pictures.load(),
      g_lost.load(), g_recordFailures.load());
  std::fflush(stdout);
}

// camsim from this program's folder; its pid and port, or false.
bool StartCamsim(pid_t* pid, std::string* address) {
  const fs::path camsim = fs::read_symlink("/proc/self/exe").parent_path() / "camsim";
  const std::string clip = (camsim.parent_path() / "camsim_240p.h264").string();
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = camsim.string();
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--h264"),
                  const_cast<char*>(clip.c_str()), nullptr};
  const int rc = posix_spawn(pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return false;
  }
  std::string line;
  char c;
  while (line.find('\n') == std::string::npos && read(out[0], &c, 1) == 1) line += c;
  close(out[0]);
  const size_t colon = line.rfind(':');
  if (colon == std::string::npos) return false;
  *address = "127.0.0.1:" + std::to_string(std::atoi(line.c_str() + colon + 1));
  return true;
}

void Connect(int32_t index, const std::string& address) {
  static const char* const kAdmin = "admin";
  QXAPI_Start(index, reinterpret_cast<intptr_t>(address.c_str()),
              reinterpret_cast<intptr_t>(kAdmin), reinterpret_cast<intptr_t>(kAdmin));
  QXAPI_StartVideo(index, 1, 0);
  QXAPI_StartAudio(index);
}

}  // namespace

int main(int argc, char** argv) {
  int cameras = 16;
  double minutes = 10;
  std::string folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--cameras")
      cameras = std::atoi(argv[i + 1]);
    else if (arg == "--minutes")
      minutes = std::atof(argv[i + 1]);
    else if (arg == "--folder")
      folder = argv[i + 1];
  }
  if (cameras < 1 || cameras > 64 || minutes <= 0) {
    std::fprintf(stderr, "usage: camsoak [--cameras 1..64] [--minutes M] [--folder DIR]\n");
    return 2;
  }
  const bool ownFolder = folder.empty();
  if (ownFolder) {
    char name[] = "/tmp/camsoak-XXXXXX";
    if (mkdtemp(name) == nullptr) return 1;
    folder = name;
  }
  setenv("ROVIK_DISPLAY", "null", 0);
  setenv("ROVIK_AUDIO", "null", 0);

  pid_t camsim = -1;
  std::string address;
  if (!StartCamsim(&camsim, &address)) {
    std::fprintf(stderr, "camsoak: camsim did not start\n");
    return 1;
  }
  QXAPI_Initial(0);
  QXAPI_SetAVDataCallBack(&OnAV, 0);
  QXAPI_SetMessageCallBack(&OnMessage, 0);
  std::vector<int32_t> indexes(cameras);
  for (int i = 0; i < cameras; ++i) {
    QXAPI_CreateInstance(&indexes[i]);
    Connect(indexes[i], address);
    const std::string path = folder + "/cam" + std::to_string(i) + ".avi";
    QXAPI_StartRecord(indexes[i], path.c_str(), 0, 0);
  }
  const auto start = Clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count() / 60; };
  std::this_thread::sleep_for(std::chrono::seconds(5));
  Report("start", elapsed());

  for (int round = 1; elapsed() < minutes; ++round) {
    const auto next = start + std::chrono::duration<double>(round * 60.0);
    const auto end = start + std::chrono::duration<double>(minutes * 60.0);
    std::this_thread::sleep_until(std::min(next, end));
    if (elapsed() >= minutes) break;
    for (int32_t index : indexes) Connect(index, address);  // the recordings go on
    Report("round", elapsed());
  }

  int stopFailures = 0;
  for (int32_t index : indexes) stopFailures += QXAPI_StopRecord(index) != 0;
  int files = 0;
  uintmax_t bytes = 0;
  for (const auto& e : fs::directory_iterator(folder)) {
    ++files;
    bytes += e.file_size();
  }
  Report("end", elapsed());
  std::printf("recording files %d (%.1f MiB), StopRecord failures %d\n", files,
              static_cast<double>(bytes) / (1 << 20), stopFailures);
  QXAPI_DestroyAllInstance();
  QXAPI_DeInitial();
  Report("released", elapsed());
  kill(camsim, SIGTERM);
  waitpid(camsim, nullptr, 0);
  if (ownFolder) fs::remove_all(folder);
  return stopFailures == 0 ? 0 : 1;
}
