// 1280 x 720 I420 into the 32-bit and 5-6-5 layouts: our conversion (the path chosen at run time,
// and each path by name) against libswscale's unscaled converter in the same run. Prints the
// milliseconds per frame and the ratio ours / swscale (target: at most 1.0).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "player/color_convert.h"

using namespace qxplay;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Picture {
  std::vector<uint8_t> planes;
  I420View view;
  Picture() {
    planes.resize(PackedI420Size(kWidth, kHeight));
    // A smooth picture with noise, like a camera's.
    std::mt19937 rng(3);
    for (size_t i = 0; i < planes.size(); ++i) {
      planes[i] = static_cast<uint8_t>((i % 251) + (rng() & 7));
    }
    view = PackedI420(planes.data(), kWidth, kHeight);
  }
};

const Picture& Source() {
  static const Picture picture;
  return picture;
}

void Ours(benchmark::State& state, PixelFormatCode format, int path) {
  const int bpp = BytesPerPixel(format);
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * bpp);
  const SurfaceView dst{out.data(), kWidth * bpp, kWidth, kHeight, format};
  if (path >= 0 && !ConvertPathSupported(static_cast<ConvertPath>(path))) {
    state.SkipWithError("path not offered by this processor");
    return;
  }
  for (auto _ : state) {
    if (path < 0) {
      ConvertI420(Source().view, dst);
    } else {
      ConvertI420With(static_cast<ConvertPath>(path), Source().view, dst);
    }
    benchmark::DoNotOptimize(out.data());
  }
}

void Swscale(benchmark::State& state, AVPixelFormat target) {
  const int bpp = target == AV_PIX_FMT_BGRA ? 4 : 2;
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * bpp);
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, target,
                                   SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
  const I420View& v = Source().view;
  const uint8_t* src[3] = {v.y, v.u, v.v};
  const int srcStride[3] = {v.yStride, v.uStride, v.vStride};
  uint8_t* dst[1] = {out.data()};
  const int dstStride[1] = {kWidth * bpp};
  for (auto _ : state) {
    sws_scale(sws, src, srcStride, 0, kHeight, dst, dstStride);
    benchmark::DoNotOptimize(out.data());
  }
  sws_freeContext(sws);
}

// Keeps each run's time per iteration for the ratio lines.
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

BENCHMARK_CAPTURE(Ours, rgb32, kPixelFormatRgb32, -1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Ours, rgb32_scalar, kPixelFormatRgb32, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Ours, rgb32_sse2, kPixelFormatRgb32, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Ours, rgb32_avx2, kPixelFormatRgb32, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Swscale, bgra, AV_PIX_FMT_BGRA)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Ours, rgb565, kPixelFormatRgb565, -1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Swscale, rgb565, AV_PIX_FMT_RGB565)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nconversion path chosen at run time: %s\n", ConvertPathName(BestConvertPath()));
  const auto line = [&](const char* what, const char* ours, const char* theirs) {
    const auto a = reporter.ms.find(ours);
    const auto b = reporter.ms.find(theirs);
    if (a != reporter.ms.end() && b != reporter.ms.end() && b->second > 0) {
      std::printf("%s: ours %.3f ms/frame, swscale %.3f ms/frame, ratio %.2f (target <= 1.00)\n",
                  what, a->second, b->second, a->second / b->second);
    }
  };
  line("1280x720 I420 -> 32-bit", "Ours/rgb32/real_time", "Swscale/bgra/real_time");
  line("1280x720 I420 -> 5-6-5 ", "Ours/rgb565/real_time", "Swscale/rgb565/real_time");
  benchmark::Shutdown();
  return 0;
}
