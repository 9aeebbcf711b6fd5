// I420 into the 32-bit and 5-6-5 layouts: our conversion (the path chosen at run time, and each
// path by name) against libswscale's unscaled converter in the same run, at 1280 x 720, both
// writing through the caches. Prints the milliseconds per frame and the ratio ours / swscale
// (target: at most 0.9). For information, ours written around the caches as a window's picture
// is (cheaper for the whole pipeline, dearer alone).
// For the reduction while converting: 1280 x 720 to 640 x 360 and 704 x 576 to 400 x 225,
// ours (scaled, then converted) against libswscale's bilinear scaler to 32-bit, and the PSNR
// of ours against it at a set of window sizes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "player/video/convert/color_convert.h"
#include "player/video/convert/picture_scaler.h"
#include "tests/player/fixtures/reduction_quality.h"

using namespace rovik::player;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Picture {
  std::vector<uint8_t> planes;
  I420View view;
  Picture(int width, int height) {
    planes.resize(PackedI420Size(width, height));
    // A smooth picture with noise, like a camera's.
    std::mt19937 rng(3);
    for (size_t i = 0; i < planes.size(); ++i) {
      planes[i] = static_cast<uint8_t>((i % 251) + (rng() & 7));
    }
    view = PackedI420(planes.data(), width, height);
  }
};

const Picture& Source(int width = kWidth, int height = kHeight) {
  static std::map<std::pair<int, int>, Picture> pictures;
  auto found = pictures.find({width, height});
  if (found == pictures.end()) {
    found = pictures.emplace(std::pair{width, height}, Picture(width, height)).first;
  }
  return found->second;
}

// A 32-byte aligned surface, as the window system's shared pictures are.
struct Surface {
  std::vector<uint8_t> bytes;
  SurfaceView view;
  Surface(int width, int height, PixelFormatCode format) {
    const int bpp = BytesPerPixel(format);
    const int pitch = (width * bpp + 31) / 32 * 32;
    bytes.resize(static_cast<size_t>(pitch) * height + 32);
    uint8_t* aligned = bytes.data() + (32 - reinterpret_cast<uintptr_t>(bytes.data()) % 32) % 32;
    view = {aligned, pitch, width, height, format};
  }
};

void Ours(benchmark::State& state, PixelFormatCode format, int path) {
  Surface surface(kWidth, kHeight, format);
  const SurfaceView& dst = surface.view;
  std::vector<uint8_t>& out = surface.bytes;
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

// Ours as a player writes a window's picture: around the caches (the X server reads it next).
void OursForWindow(benchmark::State& state) {
  Surface surface(kWidth, kHeight, kPixelFormatRgb32);
  for (auto _ : state) {
    ConvertI420(Source().view, surface.view, Stores::kAroundCaches);
    benchmark::DoNotOptimize(surface.bytes.data());
  }
}

// Ours reduced to a smaller window: scaled, then converted.
void OursScaled(benchmark::State& state, int width, int height, int toWidth, int toHeight) {
  Surface surface(toWidth, toHeight, kPixelFormatRgb32);
  const I420View& source = Source(width, height).view;
  PictureScaler scaler;
  for (auto _ : state) {
    ConvertI420(scaler.Scale(source, toWidth, toHeight), surface.view);
    benchmark::DoNotOptimize(surface.bytes.data());
  }
}

void SwscaleAt(benchmark::State& state, AVPixelFormat target, int width, int height, int toWidth,
               int toHeight, int flags) {
  const int bpp = target == AV_PIX_FMT_BGRA ? 4 : 2;
  Surface surface(toWidth, toHeight, bpp == 4 ? kPixelFormatRgb32 : kPixelFormatRgb565);
  SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_YUV420P, toWidth, toHeight, target,
                                   flags, nullptr, nullptr, nullptr);
  const I420View& v = Source(width, height).view;
  const uint8_t* src[3] = {v.y, v.u, v.v};
  const int srcStride[3] = {v.yStride, v.uStride, v.vStride};
  uint8_t* dst[1] = {surface.view.pixels};
  const int dstStride[1] = {surface.view.pitch};
  for (auto _ : state) {
    sws_scale(sws, src, srcStride, 0, height, dst, dstStride);
    benchmark::DoNotOptimize(surface.bytes.data());
  }
  sws_freeContext(sws);
}

void Swscale(benchmark::State& state, AVPixelFormat target) {
  SwscaleAt(state, target, kWidth, kHeight, kWidth, kHeight, SWS_FAST_BILINEAR);
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
BENCHMARK_CAPTURE(Ours, rgb32_scalar, kPixelFormatRgb32, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Ours, rgb32_sse2, kPixelFormatRgb32, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Ours, rgb32_avx2, kPixelFormatRgb32, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Swscale, bgra, AV_PIX_FMT_BGRA)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Ours, rgb565, kPixelFormatRgb565, -1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Swscale, rgb565, AV_PIX_FMT_RGB565)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OursForWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OursScaled, to_640x360, 1280, 720, 640, 360)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(SwscaleAt, to_640x360, AV_PIX_FMT_BGRA, 1280, 720, 640, 360, SWS_BILINEAR)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(OursScaled, to_400x225, 704, 576, 400, 225)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(SwscaleAt, to_400x225, AV_PIX_FMT_BGRA, 704, 576, 400, 225, SWS_BILINEAR)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nconversion path chosen at run time: %s\n", ConvertPathName(BestConvertPath()));
  const auto line = [&](const char* what, const char* ours, const char* theirs, const char* them,
                        const char* target) {
    const auto a = reporter.ms.find(ours);
    const auto b = reporter.ms.find(theirs);
    if (a != reporter.ms.end() && b != reporter.ms.end() && b->second > 0) {
      std::printf("%s: ours %.3f ms/frame, %s %.3f ms/frame, ratio %.2f %s\n", what, a->second,
                  them, b->second, a->second / b->second, target);
    }
  };
  line("1280x720 I420 -> 32-bit", "Ours/rgb32/real_time", "Swscale/bgra/real_time", "swscale",
       "(target <= 0.90)");
  line("1280x720 I420 -> 5-6-5 ", "Ours/rgb565/real_time", "Swscale/rgb565/real_time", "swscale",
       "(target <= 0.90)");
  line("1280x720 I420 -> 32-bit around the caches, as for a window", "OursForWindow/real_time",
       "Swscale/bgra/real_time", "swscale", "(information)");
  line("1280x720 -> 640x360 reduced and converted", "OursScaled/to_640x360/real_time",
       "SwscaleAt/to_640x360/real_time", "swscale bilinear", "(information)");
  line("704x576 -> 400x225 reduced and converted", "OursScaled/to_400x225/real_time",
       "SwscaleAt/to_400x225/real_time", "swscale bilinear", "(information)");
  // For information: how close the reduction comes to libswscale's bilinear one, per window
  // size, on the RGB a window shows (libswscale rounding exactly: see reduction_quality.h).
  for (auto [w, h] : {std::pair{704, 576}, {1920, 1080}}) {
    const ScenePicture picture = MakeScenePicture(w, h);
    std::printf("%dx%d reduced, PSNR against swscale bilinear, exact rounding (dB):", w, h);
    for (auto [tw, th] : {std::pair{1, 1},
                          {3, 3},
                          {10, 10},
                          {20, 16},
                          {50, 40},
                          {1, 97},
                          {300, 1},
                          {161, 97},
                          {400, 225},
                          {401, 225},
                          {479, 271},
                          {480, 270},
                          {640, 360}}) {
      std::printf(" %dx%d %.1f", tw, th, ReducedPsnr(picture.view, tw, th));
    }
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
