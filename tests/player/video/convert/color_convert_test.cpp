// The I420 to RGB conversion: the reference arithmetic on known values, the four layouts, and
// the SIMD paths agreeing with the scalar reference on every byte, at every size, without
// touching anything outside the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "player/video/convert/color_convert.h"
#include "player/video/convert/color_convert_kernels.h"

using namespace rovik::player;

namespace {

struct Planes {
  std::vector<uint8_t> y, u, v;
  I420View view;
};

Planes RandomPlanes(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  Planes p;
  p.y.resize(static_cast<size_t>(w) * h);
  p.u.resize(static_cast<size_t>(w / 2) * (h / 2));
  p.v.resize(p.u.size());
  for (auto* plane : {&p.y, &p.u, &p.v}) {
    for (auto& b : *plane) {
      b = static_cast<uint8_t>(rng());
    }
  }
  p.view = PackedI420(p.y.data(), w, h);
  p.view.u = p.u.data();
  p.view.v = p.v.data();
  return p;
}

constexpr uint8_t kGuard = 0xA5;
constexpr int kMargin = 5;

// A destination larger than the picture by a margin, filled with a guard value.
struct Target {
  std::vector<uint8_t> bytes;
  SurfaceView view;
};

Target MakeTarget(int w, int h, PixelFormatCode format) {
  Target t;
  const int bpp = BytesPerPixel(format);
  t.view.pitch = (w + kMargin) * bpp;
  t.bytes.assign(static_cast<size_t>(t.view.pitch) * (h + kMargin), kGuard);
  t.view.pixels = t.bytes.data();
  t.view.width = w;
  t.view.height = h;
  t.view.format = format;
  return t;
}

std::vector<uint8_t> OnePixel(uint8_t y, uint8_t u, uint8_t v, PixelFormatCode format) {
  std::vector<uint8_t> out(BytesPerPixel(format));
  convert::ConvertPixel(y, u, v, format, out.data());
  return out;
}

const PixelFormatCode kFormats[] = {kPixelFormatRgb555, kPixelFormatRgb565, kPixelFormatRgb24,
                                    kPixelFormatRgb32};

}  // namespace

TEST(ColorConvert, ReferenceArithmeticOnKnownValues) {
  // Black and white of the limited range; the fourth byte of a 32-bit pixel is always 0xFF, so
  // that a window with an alpha channel shows the picture opaque.
  EXPECT_EQ(OnePixel(16, 128, 128, kPixelFormatRgb32), (std::vector<uint8_t>{0, 0, 0, 255}));
  EXPECT_EQ(OnePixel(0, 128, 128, kPixelFormatRgb32), (std::vector<uint8_t>{0, 0, 0, 255}));
  EXPECT_EQ(OnePixel(235, 128, 128, kPixelFormatRgb32), (std::vector<uint8_t>{255, 255, 255, 255}));
  // Terms are the high half of the product (floored), sums clamped: Y 81, U 90, V 240 gives
  // luma 75, red 75 + 179, green 75 + 14 - 92, blue 75 - 77.
  EXPECT_EQ(OnePixel(81, 90, 240, kPixelFormatRgb32), (std::vector<uint8_t>{0, 0, 254, 255}));
  EXPECT_EQ(OnePixel(81, 90, 240, kPixelFormatRgb24), (std::vector<uint8_t>{0, 0, 254}));
  // Y 128, U 200, V 60: luma 130, red 21, green 156, blue 275 clamped.
  EXPECT_EQ(OnePixel(128, 200, 60, kPixelFormatRgb32), (std::vector<uint8_t>{255, 156, 21, 255}));
}

TEST(ColorConvert, SixteenBitLayoutsKeepTheTopBits) {
  uint16_t word = 0;
  // red 254, green 156, blue 21 in 5-6-5 and 5-5-5.
  PackPixel(kPixelFormatRgb565, 254, 156, 21, reinterpret_cast<uint8_t*>(&word));
  EXPECT_EQ(word, (31 << 11) | (39 << 5) | 2);
  PackPixel(kPixelFormatRgb555, 254, 156, 21, reinterpret_cast<uint8_t*>(&word));
  EXPECT_EQ(word, (31 << 10) | (19 << 5) | 2);
  EXPECT_EQ(word & 0x8000, 0);
}

TEST(ColorConvert, EveryPathAgreesWithTheReferenceAtEverySize) {
  const ConvertPath paths[] = {ConvertPath::kSse2, ConvertPath::kAvx2};
  std::vector<std::pair<int, int>> sizes;
  for (int w = 1; w <= 70; w += 3) {
    sizes.push_back({w, 1 + w % 7});
  }
  sizes.push_back({1282, 722});
  sizes.push_back({1280, 720});
  sizes.push_back({33, 65});
  uint32_t seed = 1;
  for (auto [w, h] : sizes) {
    const Planes p = RandomPlanes(w, h, seed++);
    for (PixelFormatCode format : kFormats) {
      Target reference = MakeTarget(w, h, format);
      ConvertI420With(ConvertPath::kScalar, p.view, reference.view);
      for (ConvertPath path : paths) {
        if (!ConvertPathSupported(path)) {
          continue;
        }
        Target got = MakeTarget(w, h, format);
        ConvertI420With(path, p.view, got.view);
        ASSERT_EQ(got.bytes, reference.bytes)
            << ConvertPathName(path) << " " << w << "x" << h << " format " << format;
      }
      Target best = MakeTarget(w, h, format);
      ConvertI420(p.view, best.view);
      ASSERT_EQ(best.bytes, reference.bytes) << w << "x" << h << " format " << format;
    }
  }
}

TEST(ColorConvert, ReducedPicturesGiveEachRowItsOwnChromaRow) {
  // A reduced picture (picture_scaler.h) has as many chroma rows as rows: row r takes chroma
  // row r, not r / 2, on every path.
  for (auto [w, h] : {std::pair{64, 9}, std::pair{37, 4}, std::pair{400, 225}}) {
    Planes p = RandomPlanes(w, h, 11);
    const int cw = (w + 1) / 2;
    p.u.assign(static_cast<size_t>(cw) * h, 0);
    p.v.assign(p.u.size(), 0);
    std::mt19937 rng(5);
    for (size_t i = 0; i < p.u.size(); ++i) {
      p.u[i] = static_cast<uint8_t>(rng());
      p.v[i] = static_cast<uint8_t>(rng());
    }
    p.view.u = p.u.data();
    p.view.v = p.v.data();
    p.view.uStride = p.view.vStride = cw;
    p.view.chromaWidth = cw;
    p.view.chromaHeight = h;
    Target reference = MakeTarget(w, h, kPixelFormatRgb32);
    ConvertI420With(ConvertPath::kScalar, p.view, reference.view);
    const int row = h - 1;
    const auto want =
        OnePixel(p.y[static_cast<size_t>(row) * w + 2], p.u[static_cast<size_t>(row) * cw + 1],
                 p.v[static_cast<size_t>(row) * cw + 1], kPixelFormatRgb32);
    EXPECT_EQ(
        std::memcmp(reference.bytes.data() + static_cast<size_t>(row) * reference.view.pitch + 8,
                    want.data(), 4),
        0)
        << w << "x" << h;
    for (ConvertPath path : {ConvertPath::kSse2, ConvertPath::kAvx2}) {
      if (ConvertPathSupported(path)) {
        Target got = MakeTarget(w, h, kPixelFormatRgb32);
        ConvertI420With(path, p.view, got.view);
        EXPECT_EQ(got.bytes, reference.bytes) << ConvertPathName(path) << " " << w << "x" << h;
      }
    }
  }
}

TEST(ColorConvert, WrittenAroundTheCachesTheSameBytesWithinTheSameBounds) {
  // A window's picture is written with non-temporal stores where its rows lie on 32-byte
  // boundaries: same bytes as the reference, nothing past the last column or row.
  for (auto [w, h] :
       {std::pair{1280, 720}, std::pair{400, 225}, std::pair{70, 9}, std::pair{33, 2}}) {
    const Planes p = RandomPlanes(w, h, static_cast<uint32_t>(w * h));
    const int32_t pitch = (w * 4 + 31) / 32 * 32 + 32;  // a spare aligned block per row
    const size_t bytes = static_cast<size_t>(pitch) * (h + 1);
    std::vector<uint8_t> referenceStore(bytes + 32, kGuard);
    std::vector<uint8_t> gotStore(bytes + 32, kGuard);
    const auto aligned = [](std::vector<uint8_t>& v) {
      return v.data() + (32 - reinterpret_cast<uintptr_t>(v.data()) % 32) % 32;
    };
    const SurfaceView reference{aligned(referenceStore), pitch, w, h, kPixelFormatRgb32};
    ConvertI420With(ConvertPath::kScalar, p.view, reference);
    for (ConvertPath path : {ConvertPath::kSse2, ConvertPath::kAvx2}) {
      if (!ConvertPathSupported(path)) {
        continue;
      }
      std::fill(gotStore.begin(), gotStore.end(), kGuard);
      const SurfaceView got{aligned(gotStore), pitch, w, h, kPixelFormatRgb32};
      ConvertI420With(path, p.view, got, Stores::kAroundCaches);
      ASSERT_EQ(std::memcmp(got.pixels, reference.pixels, bytes), 0)
          << ConvertPathName(path) << " " << w << "x" << h;
      ASSERT_EQ(got.pixels[static_cast<size_t>(w) * 4], kGuard);
      ASSERT_EQ(got.pixels[static_cast<size_t>(pitch) * h], kGuard);
    }
  }
}

TEST(ColorConvert, FillsEveryColumnAndRowAndNothingBeyond) {
  for (PixelFormatCode format : kFormats) {
    const int w = 21;
    const int h = 7;
    const Planes p = RandomPlanes(w, h, 77);
    Target t = MakeTarget(w, h, format);
    ConvertI420(p.view, t.view);
    const int bpp = BytesPerPixel(format);
    for (int row = 0; row < h + kMargin; ++row) {
      for (int x = 0; x < w + kMargin; ++x) {
        const uint8_t* px = t.bytes.data() + static_cast<size_t>(row) * t.view.pitch + x * bpp;
        if (row < h && x < w) {
          // The last odd column uses the last chroma column, the odd last row the last chroma row.
          const int cx = std::min(x / 2, w / 2 - 1);
          const int cy = std::min(row / 2, h / 2 - 1);
          const auto want =
              OnePixel(p.y[row * w + x], p.u[cy * (w / 2) + cx], p.v[cy * (w / 2) + cx], format);
          ASSERT_EQ(0, std::memcmp(px, want.data(), bpp)) << "pixel " << x << "," << row;
        } else {
          for (int i = 0; i < bpp; ++i) {
            ASSERT_EQ(px[i], kGuard) << "written outside at " << x << "," << row;
          }
        }
      }
    }
  }
}

TEST(ColorConvert, ClipsToTheSmallerOfPictureAndSurface) {
  const Planes p = RandomPlanes(64, 32, 5);
  Target small = MakeTarget(40, 10, kPixelFormatRgb32);
  ConvertI420(p.view, small.view);
  // The margin of the small target stays untouched although the picture is larger.
  EXPECT_EQ(small.bytes[static_cast<size_t>(small.view.pitch) * 10], kGuard);
  EXPECT_EQ(small.bytes[40 * 4], kGuard);
  EXPECT_EQ(small.bytes[3], 0xFF) << "the first pixel was converted";
}

TEST(ColorConvert, PicturesWithoutChromaAreGrey) {
  const uint8_t y[3] = {16, 128, 235};
  I420View view = PackedI420(y, 3, 1);  // 3 x 1: no chroma sample at all
  ASSERT_EQ(view.chromaHeight, 0);
  Target t = MakeTarget(3, 1, kPixelFormatRgb32);
  ConvertI420(view, t.view);
  EXPECT_EQ(t.bytes[0], 0);
  EXPECT_EQ(t.bytes[4], t.bytes[5]);
  EXPECT_EQ(t.bytes[8], 255);
  EXPECT_EQ(t.bytes[12], kGuard);
}

TEST(ColorConvert, UnusableViewsWriteNothing) {
  Target t = MakeTarget(8, 8, kPixelFormatRgb32);
  I420View none;
  ConvertI420(none, t.view);
  const Planes p = RandomPlanes(8, 8, 9);
  SurfaceView bad = t.view;
  bad.format = kPixelFormatNone;
  ConvertI420(p.view, bad);
  bad = t.view;
  bad.pitch = 4;  // narrower than a row
  ConvertI420(p.view, bad);
  for (uint8_t b : t.bytes) {
    ASSERT_EQ(b, kGuard);
  }
}

TEST(ColorConvert, SurfaceUnpacksToRgbForSnapshots) {
  uint8_t pixels[2 * 2] = {};
  PackPixel(kPixelFormatRgb565, 255, 0, 255, pixels);
  PackPixel(kPixelFormatRgb565, 0, 255, 0, pixels + 2);
  const auto rgb = SurfaceToRgb({pixels, 4, 2, 1, kPixelFormatRgb565}, 2, 1);
  EXPECT_EQ(rgb, (std::vector<uint8_t>{255, 0, 255, 0, 255, 0}));
  EXPECT_TRUE(SurfaceToRgb({pixels, 4, 2, 1, kPixelFormatRgb565}, 3, 1).empty());
}
