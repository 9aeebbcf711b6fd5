// The pictures the decoder hands out for another thread: they must equal the decoder's own
// pictures byte for byte and stay unchanged while they are held, even after the decoder is
// gone -- pictures libavcodec decodes in 4:2:0 as well as pictures converted from another
// layout, whose conversion buffer the decoder reuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "player/video/decode/h264_decoder.h"
#include "tests/player/fixtures/player_test_util.h"

using namespace rovik::player;
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

// The decoder's own view of every picture of `frames`, packed.
std::vector<std::vector<uint8_t>> OwnPictures(const std::vector<ClipFrame>& frames) {
  H264Decoder own;
  std::vector<std::vector<uint8_t>> pictures;
  for (const ClipFrame& f : frames) {
    I420View view;
    pictures.push_back(own.Decode(f.bytes.data(), f.bytes.size(), view) ? Packed(view)
                                                                        : std::vector<uint8_t>{});
  }
  return pictures;
}

}  // namespace

// Held pictures, one from early on and the last one, while decoding goes on through other
// holders as the player's threads pass them around, and after the decoder is gone.
TEST(DecodedPicture, HeldPictureStaysUnchangedWhileDecodingGoesOnAndAfterTheDecoder) {
  for (const char* name : {"bench_720p.h264", "moving_422_320x240.h264"}) {
    auto clip = ReadH264Clip(name);
    SKIP_WITHOUT(clip, name);
    clip.resize(std::min<size_t>(clip.size(), 20));
    const auto own = OwnPictures(clip);
    auto decoder = std::make_unique<H264Decoder>();
    DecodedPicture held;
    for (size_t i = 0; i <= 4; ++i) {
      ASSERT_TRUE(decoder->Decode(clip[i].bytes.data(), clip[i].bytes.size(), held)) << name;
    }
    ASSERT_TRUE(Packed(held.View()) == own[4]) << name;
    ASSERT_FALSE(own[4] == own[5]) << name << ": the clip should move";
    DecodedPicture a;
    DecodedPicture b;
    for (size_t i = 5; i < clip.size(); ++i) {
      ASSERT_TRUE(decoder->Decode(clip[i].bytes.data(), clip[i].bytes.size(), a)) << name;
      ASSERT_TRUE(Packed(a.View()) == own[i]) << name << " unit " << i;
      a.Swap(b);
      if (i + 1 < clip.size()) {
        b.Release();
      }
    }
    EXPECT_TRUE(Packed(held.View()) == own[4]) << name << ": changed while held";
    EXPECT_TRUE(Packed(b.View()) == own.back()) << name;
    decoder.reset();
    EXPECT_TRUE(Packed(held.View()) == own[4]) << name << ": readable after the decoder is gone";
    EXPECT_TRUE(Packed(b.View()) == own.back()) << name;
    held.Release();
    EXPECT_TRUE(held.Empty());
  }
}
