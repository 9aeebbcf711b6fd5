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

#include "bench/thread_cpu.h"
#include "player/audio/audio.h"

using namespace rovik::player;

namespace {

using namespace std::chrono_literals;

constexpr double kBudgetMsPerSecond = 10.0;  // 1 % of a core

void Report(benchmark::State& state, const char* what, double cpuSeconds, double audioSeconds) {
  const double msPerSecond = cpuSeconds * 1000.0 / audioSeconds;
  state.counters["cpu_ms_per_audio_s"] = msPerSecond;
  state.counters["ratio_to_1pct_budget"] = msPerSecond / kBudgetMsPerSecond;
  std::printf("%s: %.3f ms CPU per second of audio, %.3f of the 1 %% budget\n", what, msPerSecond,
              msPerSecond / kBudgetMsPerSecond);
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
