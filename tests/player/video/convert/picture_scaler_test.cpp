// The reduction of pictures for windows smaller than them: the filters are sound (weights sum
// to one, stay inside the input), every SIMD path agrees with the scalar reference
// on every byte at every ratio, plain areas stay plain, and nothing outside the planes is read
// (each plane is a buffer of its own, exactly its size, for the address sanitizer).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "player/video/convert/picture_scaler.h"
#include "tests/player/fixtures/reduction_quality.h"

using namespace rovik::player;

namespace {

struct Planes {
  std::vector<uint8_t> y, u, v;
  I420View view;
};

// A picture with the decoder's rounded-up chroma and rows `pad` bytes longer than the picture.
Planes MakePlanes(int w, int h, int pad, uint32_t seed, bool flat = false) {
  std::mt19937 rng(seed);
  Planes p;
  const int cw = (w + 1) / 2;
  const int ch = (h + 1) / 2;
  p.y.resize(static_cast<size_t>(w + pad) * (h - 1) + w);
  p.u.resize(static_cast<size_t>(cw + pad) * (ch - 1) + cw);
  p.v.resize(p.u.size());
  for (auto* plane : {&p.y, &p.u, &p.v}) {
    for (auto& b : *plane) {
      b = flat ? 77 : static_cast<uint8_t>(rng());
    }
  }
  p.view = {p.y.data(), p.u.data(), p.v.data(), w + pad, cw + pad, cw + pad, w, h, cw, ch};
  return p;
}

std::vector<uint8_t> Copy(const I420View& v) {
  std::vector<uint8_t> out;
  for (int r = 0; r < v.height; ++r) {
    out.insert(out.end(), v.y + static_cast<size_t>(r) * v.yStride,
               v.y + static_cast<size_t>(r) * v.yStride + v.width);
  }
  for (const uint8_t* plane : {v.u, v.v}) {
    for (int r = 0; plane != nullptr && r < v.chromaHeight; ++r) {
      out.insert(out.end(), plane + static_cast<size_t>(r) * v.uStride,
                 plane + static_cast<size_t>(r) * v.uStride + v.chromaWidth);
    }
  }
  return out;
}

}  // namespace

TEST(PictureScaler, FiltersWeighOneAndStayInsideTheInput) {
  for (auto [from, to] : {std::pair{1280, 640},
                          {1280, 320},
                          {704, 400},
                          {576, 225},
                          {1281, 1280},
                          {3, 2},
                          {2, 1},
                          {4096, 17},
                          {26, 1},
                          {9, 9},
                          {360, 718},
                          {1, 5},
                          {10, 20}}) {
    const ScaleAxis axis = ScaleAxis::Make(from, to);
    ASSERT_EQ(axis.start.size(), static_cast<size_t>(to));
    ASSERT_EQ(axis.stride % 8, 0);
    for (int j = 0; j < to; ++j) {
      ASSERT_GE(axis.start[j], 0);
      ASSERT_LE(axis.start[j] + axis.taps, from) << from << "->" << to << " at " << j;
      if (j > 0) {
        ASSERT_GE(axis.start[j], axis.start[j - 1]) << "starts must only grow";
      }
      if (axis.Identity()) {
        continue;
      }
      // Wide reductions weigh in 14 bits, the rest in the kernels' 6.
      ASSERT_EQ(axis.fine, static_cast<double>(from) / to > ScaleAxis::kMostCoarseRatio);
      ASSERT_EQ(axis.fine ? axis.weights.size() : axis.fineWeights.size(), 0u);
      int sum = 0;
      for (int k = 0; k < axis.stride; ++k) {
        const size_t at = static_cast<size_t>(j) * axis.stride + k;
        const int w = axis.fine ? axis.fineWeights[at] : axis.weights[at];
        ASSERT_GE(w, 0);
        if (k >= axis.taps) {
          ASSERT_EQ(w, 0) << "weights past the taps must be zero";
        }
        sum += w;
      }
      ASSERT_EQ(sum, axis.fine ? ScaleAxis::kFineOne : ScaleAxis::kOne)
          << from << "->" << to << " at " << j;
    }
  }
}

TEST(PictureScaler, EveryPathAgreesWithTheReferenceAtEveryRatio) {
  struct Case {
    int w, h, tw, th, pad;
  };
  std::vector<Case> cases = {
      {1280, 720, 640, 360, 0},  {1280, 720, 320, 180, 32}, {704, 576, 400, 225, 0},
      {704, 576, 352, 288, 16},  {1920, 1080, 237, 131, 0}, {1281, 721, 1280, 720, 3},
      {1280, 720, 1280, 361, 0}, {1280, 720, 641, 720, 0},  {33, 17, 5, 3, 1},
      {2, 2, 1, 1, 0},           {7, 5, 7, 5, 0},           {4096, 64, 100, 63, 0},
      {704, 576, 300, 1, 5}};
  std::mt19937 rng(7);
  for (int i = 0; i < 20; ++i) {
    const int w = 1 + static_cast<int>(rng() % 300);
    const int h = 1 + static_cast<int>(rng() % 200);
    cases.push_back({w, h, 1 + static_cast<int>(rng() % w), 1 + static_cast<int>(rng() % h),
                     static_cast<int>(rng() % 40)});
  }
  uint32_t seed = 1;
  for (const Case& c : cases) {
    const Planes p = MakePlanes(c.w, c.h, c.pad, seed++);
    PictureScaler reference;
    const I420View& want = reference.Scale(p.view, c.tw, c.th, ConvertPath::kScalar);
    ASSERT_EQ(want.width, c.tw);
    ASSERT_EQ(want.height, c.th);
    ASSERT_LE(want.chromaWidth, c.tw % 2 == 1 ? c.tw : p.view.chromaWidth);
    const std::vector<uint8_t> wanted = Copy(want);
    for (ConvertPath path : {ConvertPath::kSse2, ConvertPath::kAvx2}) {
      if (!ConvertPathSupported(path)) {
        continue;
      }
      PictureScaler scaler;
      // Twice: the filters kept from the first picture serve the second alike.
      for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Copy(scaler.Scale(p.view, c.tw, c.th, path)), wanted)
            << ConvertPathName(path) << " " << c.w << "x" << c.h << " -> " << c.tw << "x" << c.th;
      }
    }
  }
}

TEST(PictureScaler, EveryWindowSizeComesCloseToSwscaleBilinear) {
  // Odd widths and heights, single rows and columns, and an even wall tile, from a 4CIF picture
  // and from an odd-sized one and a 1080p one (reduced in two steps, as libswscale does); on the
  // RGB the player puts in the window.
  struct Case {
    int w, h, tw, th;
    double least;
  };
  const Case cases[] = {
      {704, 576, 1, 1, 35},     {704, 576, 1, 97, 35},    {704, 576, 300, 1, 35},
      {1920, 1080, 1, 97, 35},  {1920, 1080, 300, 1, 35}, {704, 576, 3, 3, 35},
      {704, 576, 10, 10, 35},   {1920, 1080, 20, 16, 35}, {1920, 1080, 50, 40, 35},
      {704, 576, 401, 225, 35}, {704, 576, 479, 271, 35}, {704, 576, 161, 97, 35},
      {704, 576, 400, 225, 35}, {704, 576, 703, 575, 35}, {1281, 721, 640, 360, 35},
      {1281, 721, 641, 721, 35}};
  for (const Case& c : cases) {
    const ScenePicture picture = MakeScenePicture(c.w, c.h);
    EXPECT_GE(ReducedPsnr(picture.view, c.tw, c.th), c.least)
        << c.w << "x" << c.h << " -> " << c.tw << "x" << c.th;
  }
}

TEST(PictureScaler, PlainAreasStayPlainAndUnusableRequestsGiveNothing) {
  const Planes flat = MakePlanes(1280, 720, 0, 0, true);
  PictureScaler scaler;
  for (auto [tw, th] : {std::pair{640, 360}, {320, 180}, {401, 223}}) {
    for (uint8_t b : Copy(scaler.Scale(flat.view, tw, th))) {
      ASSERT_EQ(b, 77) << tw << "x" << th;
    }
  }
  // A picture without chroma planes stays without them.
  I420View grey = flat.view;
  grey.u = grey.v = nullptr;
  grey.chromaWidth = grey.chromaHeight = 0;
  const I420View& out = scaler.Scale(grey, 100, 50);
  EXPECT_EQ(out.width, 100);
  EXPECT_EQ(out.u, nullptr);
  EXPECT_EQ(out.chromaWidth, 0);
  EXPECT_EQ(scaler.Scale(flat.view, 1281, 720).y, nullptr) << "larger than the picture";
  EXPECT_EQ(scaler.Scale(flat.view, 0, 10).y, nullptr);
  EXPECT_EQ(scaler.Scale(I420View{}, 10, 10).y, nullptr);
}
