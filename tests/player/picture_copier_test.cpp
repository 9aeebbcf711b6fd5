// The decoder's hand-over copies: taken band by band while the picture is decoded, they must
// equal the decoder's own pictures byte for byte at every size (cropped ones included), fall
// back to whole copies when the bands do not cover a picture, and stay unchanged while they
// are held, even after the decoder is gone. The streaming plane copy underneath copies
// exactly the rows asked for and nothing beyond them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "player/h264_decoder.h"
#include "player/picture_copy.h"
#include "tests/player/player_test_util.h"

using namespace qxplay;
using namespace player_test;

namespace {

// The rows of a picture, tightly packed: Y, then U, then V.
std::vector<uint8_t> Packed(const I420View& p) {
  std::vector<uint8_t> out;
  for (int32_t r = 0; r < p.height; ++r) {
    out.insert(out.end(), p.y + static_cast<size_t>(r) * p.yStride,
               p.y + static_cast<size_t>(r) * p.yStride + p.width);
  }
  for (const auto& [plane, stride] : {std::pair{p.u, p.uStride}, std::pair{p.v, p.vStride}}) {
    for (int32_t r = 0; r < p.chromaHeight; ++r) {
      out.insert(out.end(), plane + static_cast<size_t>(r) * stride,
                 plane + static_cast<size_t>(r) * stride + p.chromaWidth);
    }
  }
  return out;
}

// Decodes `frames` twice side by side, as copies and as the decoder's own pictures, and checks
// every copy against its twin. Returns the number of pictures compared.
size_t CompareCopies(const std::vector<ClipFrame>& frames, H264Decoder& copies) {
  H264Decoder own;
  DecodedPicture picture;
  size_t compared = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const ClipFrame& f = frames[i];
    I420View view;
    const bool gotOwn = own.Decode(f.bytes.data(), f.bytes.size(), view);
    const bool gotCopy = copies.Decode(f.bytes.data(), f.bytes.size(), picture);
    EXPECT_EQ(gotCopy, gotOwn) << "unit " << i;
    if (!gotOwn || !gotCopy) {
      continue;
    }
    const I420View& copy = picture.View();
    EXPECT_EQ(copy.width, view.width);
    EXPECT_EQ(copy.height, view.height);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(copy.y) % 16, 0u) << "rows on 16-byte boundaries";
    EXPECT_TRUE(Packed(copy) == Packed(view)) << "unit " << i << " differs";
    ++compared;
  }
  return compared;
}

}  // namespace

TEST(PictureCopier, CopiesEqualTheDecodersOwnPicturesAtEverySize) {
  for (const char* name : {"solid_320x240.h264", "light_176x144.h264", "solid_1282x722.h264",
                           "solid_1920x1080.h264", "bench_720p.h264"}) {
    auto clip = ReadH264Clip(name);
    SKIP_WITHOUT(clip, name);
    if (clip.size() > 30) {
      clip.resize(30);
    }
    H264Decoder copies;
    const size_t compared = CompareCopies(clip, copies);
    EXPECT_EQ(compared, clip.size()) << name;
    // Clean frame pictures are copied from their bands, none copied again afterwards.
    EXPECT_EQ(copies.Copier().FromBands(), copies.Copier().Taken()) << name;
    EXPECT_EQ(copies.Copier().Taken(), compared) << name;
  }
}

TEST(PictureCopier, DamagedUnitsStillGiveExactCopies) {
  auto clip = ReadH264Clip("bench_720p.h264");
  SKIP_WITHOUT(clip, "bench_720p.h264");
  clip.resize(24);
  // Two units cut short: the decoder conceals the rows it lost at the end of the picture,
  // after the bands it did finish were copied; the copies must show what the decoder shows.
  for (size_t i : {5u, 13u}) {
    clip[i].bytes.resize(clip[i].bytes.size() / 2);
  }
  H264Decoder copies;
  EXPECT_GT(CompareCopies(clip, copies), 10u);
  EXPECT_LT(copies.Copier().FromBands(), copies.Copier().Taken()) << "no picture was copied whole";
}

TEST(PictureCopier, HeldCopyStaysUnchangedWhileDecodingGoesOnAndAfterTheDecoder) {
  auto clip = ReadH264Clip("bench_720p.h264");
  SKIP_WITHOUT(clip, "bench_720p.h264");
  clip.resize(20);
  auto decoder = std::make_unique<H264Decoder>();
  DecodedPicture held;
  for (size_t i = 0; i <= 4; ++i) {
    ASSERT_TRUE(decoder->Decode(clip[i].bytes.data(), clip[i].bytes.size(), held));
  }
  const std::vector<uint8_t> before = Packed(held.View());
  // More pictures through other holders, as the player's threads pass them around.
  DecodedPicture a;
  DecodedPicture b;
  for (size_t i = 5; i < clip.size(); ++i) {
    ASSERT_TRUE(decoder->Decode(clip[i].bytes.data(), clip[i].bytes.size(), a));
    a.Swap(b);
    b.Release();
  }
  EXPECT_TRUE(Packed(held.View()) == before);
  decoder.reset();
  EXPECT_TRUE(Packed(held.View()) == before) << "readable after the decoder is gone";
  held.Release();
  EXPECT_TRUE(held.Empty());
}

TEST(StreamCopy, CopiesExactlyTheRowsAskedForAndNothingBeyond) {
  constexpr uint8_t kGuard = 0xC3;
  std::vector<uint8_t> source(300 * 6);
  for (size_t i = 0; i < source.size(); ++i) {
    source[i] = static_cast<uint8_t>(i * 31 + 7);
  }
  for (int32_t width : {1, 15, 16, 17, 63, 64, 65, 130, 257}) {
    for (int32_t misalign : {0, 1, 8, 15}) {
      const int32_t stride = 300;
      const int32_t rows = 5;
      std::vector<uint8_t> target(static_cast<size_t>(stride) * (rows + 1) + 64, kGuard);
      // Start at a chosen distance from a 16-byte boundary.
      uint8_t* base = target.data() +
                      (16 - reinterpret_cast<uintptr_t>(target.data()) % 16) % 16 + misalign;
      StreamCopyPlane(base, stride, source.data() + 3, stride + 1, width, rows);
      StreamCopyDone();
      for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* got = base + static_cast<size_t>(r) * stride;
        const uint8_t* want = source.data() + 3 + static_cast<size_t>(r) * (stride + 1);
        ASSERT_EQ(std::memcmp(got, want, width), 0) << "width " << width << " row " << r;
        ASSERT_EQ(got[width], kGuard) << "wrote past the row, width " << width;
      }
      if (base > target.data()) {
        ASSERT_EQ(base[-1], kGuard) << "wrote before the first row";
      }
    }
  }
  StreamCopyPlane(nullptr, 16, source.data(), 16, 16, 1);  // refused, no crash
  StreamCopyPlane(source.data(), 16, source.data(), 16, 0, 1);
}
