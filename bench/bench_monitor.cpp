// RovikAlarm as the video client meets it: the time from starting the program to its window
// answering (against a bare window program, rovik-send --listen, and the 0.5 s target), its
// peak memory after start (target 80 MB), and the round trip of 5~00 with 10,000 unread alarms
// (against the raw SQLite query of the same rows, and the 250 ms target).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "platform/module_path.h"
#include "platform/window_link.h"

using namespace rovik::alarm;

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using rovik::platform::SendCopyData;

constexpr int kUnread = 10000;

fs::path BinDir() {
  if (const char* dir = std::getenv("ROVIK_BIN_DIR"); dir && *dir) return dir;
  return fs::path(rovik::platform::ProgramFolder()).parent_path() / "bin";
}

// A program folder of its own, with RUN, REG and the autostart folder inside it, and the
// registry telling that the auto-start question was answered.
struct Folder {
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "rovik-bench-monitor-XXXXXX").string();
    root = mkdtemp(pattern.data());
    bin = root / "bin";
    fs::create_directories(bin / "FILE");
    fs::create_directories(root / "run");
    fs::permissions(root / "run", fs::perms::owner_all, fs::perm_options::replace);
    fs::copy_file(BinDir() / "RovikAlarm", bin / "RovikAlarm");
    std::ofstream(bin / "FILE" / "RovikPush.txt")
        << "http://127.0.0.1:1/\nhttp://127.0.0.1:1/device/reg/\n";
    std::ofstream(bin / "FILE" / "RovikInfo.txt") << "http://127.0.0.1:1";
    fs::create_directories(root / "reg" / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "MERVO");
    std::ofstream(root / "reg" / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "MERVO" / "ROVIK.reg")
        << "\"AUTOALARM\"=dword:00000001\n";
    setenv("ROVIK_RUNTIME_DIR", (root / "run").c_str(), 1);
    setenv("ROVIK_REGISTRY_ROOT", (root / "reg").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
  fs::path bin;
};

pid_t Spawn(const fs::path& program, std::vector<std::string> args = {}) {
  std::vector<char*> argv;
  std::string path = program.string();
  argv.push_back(path.data());
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The programs' own output would mix with the benchmark's table.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void Reap(pid_t pid, bool quitMonitor) {
  if (quitMonitor)
    SendCopyData("ROVIKALARM", 0, 0, "0~", 2);
  else
    kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Seconds until the window `title` answers a command with 1.
double UntilAnswer(const char* title, Clock::time_point start) {
  while (SendCopyData(title, 0, 0, "99~", 3, std::chrono::milliseconds(1000)) != 1) {
    if (Clock::now() - start > std::chrono::seconds(30)) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakRssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

void BM_StartToEndpointAnswer(benchmark::State& state) {
  Folder folder;
  fs::copy_file(BinDir() / "rovik-send", folder.bin / "rovik-send");
  double monitorTotal = 0, bareTotal = 0;
  long peakKb = 0;
  int runs = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    pid_t pid = Spawn(folder.bin / "RovikAlarm");
    double seconds = UntilAnswer("ROVIKALARM", start);
    if (seconds < 0) {
      state.SkipWithError("the monitor's window never answered");
      Reap(pid, false);
      break;
    }
    state.SetIterationTime(seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // settled after start
    peakKb = std::max(peakKb, PeakRssKb(pid));
    Reap(pid, true);

    // The reference: a bare program with a window of the same kind.
    auto bareStart = Clock::now();
    pid_t bare = Spawn(folder.bin / "rovik-send", {"--listen", "BareWindow", "--reply", "1"});
    double bareSeconds = UntilAnswer("BareWindow", bareStart);
    Reap(bare, false);
    monitorTotal += seconds;
    bareTotal += bareSeconds;
    ++runs;
  }
  if (runs > 0) {
    state.counters["start_s"] = monitorTotal / runs;
    state.counters["vs_target_0.5s"] = monitorTotal / runs / 0.5;
    state.counters["vs_bare_window"] = monitorTotal / bareTotal;
    state.counters["peak_rss_MB"] = peakKb / 1024.0;
    state.counters["rss_vs_target_80MB"] = peakKb / 1024.0 / 80.0;
  }
}
BENCHMARK(BM_StartToEndpointAnswer)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void FillUnread(const fs::path& folder) {
  MdSQLite store;
  store.Open(folder.string());
  AlarmRecord r;
  ClearRecord(r);
  rovik::alarm::CopyField(r.account, "13800000000");
  rovik::alarm::CopyField(r.ipcId, "A1");
  rovik::alarm::CopyField(r.ipcName, "客厅摄像机");
  rovik::alarm::CopyField(r.deviceType, "DS");
  rovik::alarm::CopyField(r.userName, u"张三");
  for (int i = 0; i < kUnread; ++i) {
    rovik::alarm::CopyField(r.deviceName, "前门 " + std::to_string(i));
    char time[32];
    std::snprintf(time, sizeof time, "2015-03-%02d %02d:%02d:%02d", 1 + i / 3600 % 28, i / 60 % 60,
                  i % 60, i % 60);
    rovik::alarm::CopyField(r.alarmTime, time);
    store.InsertAlarm(r);
  }
}

// The same rows read straight from SQLite, for comparison.
double RawUnreadQuery(const fs::path& folder) {
  sqlite3* db = nullptr;
  sqlite3_open_v2((folder / "ROVIK_ALARM.sdb").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  auto start = Clock::now();
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(
      db,
      "select Alarm_ID, Alarm_Account, Alarm_Username, Alarm_IpcID,Alarm_IpcName,Alarm_DevName,"
      "Alarm_DevType,Alarm_Time,Alarm_ReadTime,Alarm_State from Alarm where Alarm_State = '0' "
      "order by Alarm_Time desc;",
      -1, &stmt, nullptr);
  std::size_t bytes = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    for (int c = 0; c < 10; ++c) bytes += static_cast<std::size_t>(sqlite3_column_bytes(stmt, c));
  }
  sqlite3_finalize(stmt);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_close(db);
  benchmark::DoNotOptimize(bytes);
  return seconds;
}

void BM_ListUnread10k(benchmark::State& state) {
  Folder folder;
  FillUnread(folder.bin);
  std::atomic<int> listed{-1};
  rovik::platform::WindowLink client;
  client.Listen("RovikClient", [&](const rovik::platform::CopyDataMessage& m) -> int64_t {
    std::string text(m.data.begin(), m.data.end());
    if (text.rfind("6~", 0) == 0) listed = std::atoi(text.c_str() + 2);
    return 1;
  });
  pid_t pid = Spawn(folder.bin / "RovikAlarm");
  if (UntilAnswer("ROVIKALARM", Clock::now()) < 0) {
    state.SkipWithError("the monitor's window never answered");
    Reap(pid, false);
    return;
  }
  double roundTrips = 0, raw = 0;
  int runs = 0;
  for (auto _ : state) {
    listed = -1;
    auto start = Clock::now();
    int64_t result = SendCopyData("ROVIKALARM", 0, 0, "5~00", 4);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (result != 1 || listed.load() <= 0) {
      state.SkipWithError("5~00 was not answered with a list");
      break;
    }
    state.SetIterationTime(seconds);
    roundTrips += seconds;
    raw += RawUnreadQuery(folder.bin);
    ++runs;
  }
  Reap(pid, true);
  client.Close();
  if (runs > 0) {
    state.counters["lines_in_block"] = listed.load();
    state.counters["vs_target_250ms"] = roundTrips / runs / 0.25;
    state.counters["vs_raw_sqlite_query"] = roundTrips / raw;
  }
}
BENCHMARK(BM_ListUnread10k)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
