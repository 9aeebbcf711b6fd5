// The recorder's CPU per second of 720p25 recording (budget: 2 % of a core, 20 ms a second)
// against libavformat's AVI muxer writing the same samples at the same pace; and a 720p snapshot
// (budget 40 ms) against libjpeg-turbo encoding the same picture with nothing around it.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <turbojpeg.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/thread_cpu.h"
#include "player/record/recorder.h"
#include "player/record/snapshot_writer.h"

namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 25;
constexpr double kCpuBudgetMsPerSecond = 20.0;  // 2 % of a core
constexpr double kSnapshotBudgetMs = 40.0;

double g_recorderMsPerSecond = 0;
double g_muxerMsPerSecond = 0;
double g_snapshotMs = 0;
double g_turboMs = 0;

std::string ScratchFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("rovik-bench-") + name)).string();
}

// Compressed 720p frames of typical sizes: a 60 KB key frame each second, 12 KB between.
std::vector<std::vector<uint8_t>> Frames() {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < kFps; ++i) {
    std::vector<uint8_t> f(i == 0 ? 60000 : 12000);
    for (size_t k = 0; k < f.size(); ++k) f[k] = static_cast<uint8_t>(k * 31 + i) | 0x80;
    const uint8_t start[5] = {0, 0, 0, 1, static_cast<uint8_t>(i == 0 ? 0x65 : 0x41)};
    std::copy(start, start + 5, f.begin());
    frames.push_back(std::move(f));
  }
  return frames;
}

double OwnCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void BM_RecorderCpu720p25(benchmark::State& state) {
  const int seconds = static_cast<int>(state.range(0));
  const auto frames = Frames();
  const std::string path = ScratchFile("recorder.avi");
  for (auto _ : state) {
    rovik::player::Recorder recorder;
    recorder.Start(path.c_str(), rovik::player::kRecordH264);
    std::this_thread::sleep_for(30ms);
    const double before = ThreadCpuSeconds("avi-recorder");
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < seconds * kFps; ++i) {
      const auto& f = frames[static_cast<size_t>(i % kFps)];
      recorder.Push(f.data(), static_cast<int32_t>(f.size()), i % kFps == 0 ? 1 : 0, kWidth,
                    kHeight);
      next += std::chrono::milliseconds(1000 / kFps);
      std::this_thread::sleep_until(next);
    }
    const double used = ThreadCpuSeconds("avi-recorder") - before;
    recorder.Stop();
    g_recorderMsPerSecond = used * 1000.0 / seconds;
    state.counters["cpu_ms_per_s"] = g_recorderMsPerSecond;
    state.counters["ratio_to_2pct_budget"] = g_recorderMsPerSecond / kCpuBudgetMsPerSecond;
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_RecorderCpu720p25)
    ->Arg(4)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The reference: the same samples, 50 a second, through libavformat's AVI muxer on this thread.
void BM_AvformatAviMuxer720p25(benchmark::State& state) {
  const int seconds = static_cast<int>(state.range(0));
  const auto frames = Frames();
  const std::string path = ScratchFile("muxer.avi");
  for (auto _ : state) {
    AVFormatContext* ctx = nullptr;
    avformat_alloc_output_context2(&ctx, nullptr, "avi", path.c_str());
    AVStream* st = avformat_new_stream(ctx, nullptr);
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_H264;
    st->codecpar->width = kWidth;
    st->codecpar->height = kHeight;
    st->time_base = AVRational{1, 50};
    if (avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(ctx, nullptr) < 0) {
      state.SkipWithError("AVI muxer could not be set up");
      avformat_free_context(ctx);
      return;
    }
    AVPacket* pkt = av_packet_alloc();
    const double before = OwnCpuSeconds();
    auto next = std::chrono::steady_clock::now();
    for (int tick = 0; tick < seconds * 50; ++tick) {
      av_packet_unref(pkt);
      if (tick % 2 == 0) {
        const auto& f = frames[static_cast<size_t>((tick / 2) % kFps)];
        pkt->data = const_cast<uint8_t*>(f.data());
        pkt->size = static_cast<int>(f.size());
      }
      pkt->flags = AV_PKT_FLAG_KEY;
      pkt->pts = pkt->dts = tick;
      pkt->stream_index = 0;
      av_write_frame(ctx, pkt);
      next += 20ms;
      std::this_thread::sleep_until(next);
    }
    // Paced like the recorder, sleeps included: the same 50 wake-ups a second.
    const double used = OwnCpuSeconds() - before;
    av_packet_free(&pkt);
    av_write_trailer(ctx);
    avio_closep(&ctx->pb);
    avformat_free_context(ctx);
    g_muxerMsPerSecond = used * 1000.0 / seconds;
    state.counters["cpu_ms_per_s"] = g_muxerMsPerSecond;
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_AvformatAviMuxer720p25)
    ->Arg(4)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

std::vector<uint8_t> Picture720p() {
  std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight * 4);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * kWidth + x) * 4];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>((x ^ y) * 3);
      p[3] = 0;
    }
  }
  return px;
}

void BM_Snapshot720p(benchmark::State& state) {
  const auto px = Picture720p();
  const std::string path = ScratchFile("snapshot.jpg");
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = rovik::player::WriteSnapshotJpeg(path.c_str(), px.data(), kWidth * 4, kWidth,
                                                     kHeight, rovik::player::kPixelFormatRgb32);
    const auto t1 = std::chrono::steady_clock::now();
    if (!ok) state.SkipWithError("snapshot not written");
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  std::filesystem::remove(path);
}

void BM_TurboJpegReference720p(benchmark::State& state) {
  const auto px = Picture720p();
  tjhandle h = tjInitCompress();
  for (auto _ : state) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(h, px.data(), kWidth, kWidth * 4, kHeight, TJPF_BGRX, &jpeg, &size, TJSAMP_444, 100,
                TJFLAG_ACCURATEDCT);
    benchmark::DoNotOptimize(jpeg);
    tjFree(jpeg);
  }
  tjDestroy(h);
}

// Mean milliseconds of one call, measured outside the framework for the summary line.
template <typename Fn>
double MeanMs(Fn&& fn, int runs) {
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) fn();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
         runs;
}

}  // namespace

BENCHMARK(BM_Snapshot720p)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurboJpegReference720p)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  const auto px = Picture720p();
  const std::string path = ScratchFile("summary.jpg");
  g_snapshotMs = MeanMs(
      [&] {
        rovik::player::WriteSnapshotJpeg(path.c_str(), px.data(), kWidth * 4, kWidth, kHeight,
                                         rovik::player::kPixelFormatRgb32);
      },
      10);
  tjhandle h = tjInitCompress();
  g_turboMs = MeanMs(
      [&] {
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(h, px.data(), kWidth, kWidth * 4, kHeight, TJPF_BGRX, &jpeg, &size, TJSAMP_444,
                    100, TJFLAG_ACCURATEDCT);
        tjFree(jpeg);
      },
      10);
  tjDestroy(h);
  std::filesystem::remove(path);

  std::printf(
      "\nrecorder, 720p25: %.2f ms CPU per second of recording (%.2f %% of a core; budget 2 %%)"
      "; libavformat AVI muxer %.2f ms; ratio %.2f\n",
      g_recorderMsPerSecond, g_recorderMsPerSecond / 10.0, g_muxerMsPerSecond,
      g_muxerMsPerSecond > 0 ? g_recorderMsPerSecond / g_muxerMsPerSecond : 0.0);
  std::printf("snapshot, 720p: %.2f ms (budget %.0f ms); bare libjpeg-turbo %.2f ms; ratio %.2f\n",
              g_snapshotMs, kSnapshotBudgetMs, g_turboMs,
              g_turboMs > 0 ? g_snapshotMs / g_turboMs : 0.0);
  return 0;
}
