// CPU time of the audio threads per second of audio, on the null back end, against the budget
// of 1 % of one core (10 ms of CPU per second of audio). Prints the ratio: below 1 is in budget.
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "player/audio.h"

namespace {

using namespace std::chrono_literals;

constexpr double kBudgetMsPerSecond = 10.0;  // 1 % of a core

// Summed CPU seconds of this process's threads carrying the given name.
double ThreadCpuSeconds(const std::string& name) {
  double total = 0;
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string got;
    std::getline(comm, got);
    if (got != name) continue;
    const pid_t tid = static_cast<pid_t>(std::stol(e->d_name));
    // The kernel's per-thread CPU clock of a thread id.
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec ts{};
    if (clock_gettime(clock, &ts) == 0) total += static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
  }
  closedir(d);
  return total;
}

void Report(benchmark::State& state, const char* what, double cpuSeconds, double audioSeconds) {
  const double msPerSecond = cpuSeconds * 1000.0 / audioSeconds;
  state.counters["cpu_ms_per_audio_s"] = msPerSecond;
  state.counters["ratio_to_1pct_budget"] = msPerSecond / kBudgetMsPerSecond;
  std::printf("%s: %.3f ms CPU per second of audio, %.3f of the 1 %% budget\n",
              what, msPerSecond, msPerSecond / kBudgetMsPerSecond);
}

// Camera audio arriving at its real pace: one 640-byte block every 40 ms.
void BM_FeederCpu(benchmark::State& state) {
  const int chunks = static_cast<int>(state.range(0));
  std::vector<uint8_t> block(kPcmChunkBytes, 0x40);
  for (auto _ : state) {
    AudioPlayer player(NullAudioBackend());
    player.Start();
    std::this_thread::sleep_for(20ms);
    const double before = ThreadCpuSeconds("audio-feeder");
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < chunks; ++i) {
      player.Append(block.data(), kPcmChunkBytes);
      next += std::chrono::milliseconds(kPcmChunkMillis);
      std::this_thread::sleep_until(next);
    }
    const double used = ThreadCpuSeconds("audio-feeder") - before;
    Report(state, "feeder thread", used, chunks * kPcmChunkMillis / 1000.0);
  }
}
BENCHMARK(BM_FeederCpu)->Arg(75)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void Discard(const uint8_t*, int, void*) {}

void BM_CaptureCpu(benchmark::State& state) {
  const int chunks = static_cast<int>(state.range(0));
  for (auto _ : state) {
    CWaveIn in(NullAudioBackend());
    in.Start(&Discard, nullptr);
    std::this_thread::sleep_for(20ms);
    const double before = ThreadCpuSeconds("audio-capture");
    std::this_thread::sleep_for(std::chrono::milliseconds(chunks * kPcmChunkMillis));
    const double used = ThreadCpuSeconds("audio-capture") - before;
    in.Stop();
    Report(state, "capture thread", used, chunks * kPcmChunkMillis / 1000.0);
  }
}
BENCHMARK(BM_CaptureCpu)->Arg(75)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
