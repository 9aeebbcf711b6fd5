// Pictures whose headers claim sizes far beyond any camera's, against the decoders and the
// display surface: nothing beyond the player's limit is decoded or allocated, the off-screen
// picture follows the pictures down again, and the picture after a hostile one is shown.
#include <gtest/gtest.h>

#include <vector>

#include "player/media/picture_limits.h"
#include "player/video/decode/h264_decoder.h"
#include "player/video/decode/jpeg_decoder.h"
#include "player/video/display/display_surface.h"
#include "tests/player/fixtures/hostile_media.h"
#include "tests/player/fixtures/player_test_util.h"

using namespace rovik::player;
using namespace player_test;
using rovik_test::JpegClaiming;
using rovik_test::PcmH264Unit;
using rovik_test::SolidH264Unit;
using rovik_test::SolidJpeg;

namespace {

bool DecodesTo(H264Decoder& decoder, const std::vector<uint8_t>& unit, int width, int height) {
  I420View picture;
  if (!decoder.Decode(unit.data(), unit.size(), picture)) {
    return false;
  }
  return picture.width == width && picture.height == height;
}

int32_t CapacityOf(DisplaySurface& display, int32_t* height) {
  int32_t width = 0;
  NullBackend(&display)->Capacity(&width, height);
  return width;
}

}  // namespace

TEST(HostilePictures, H264ParameterSetsBeyondTheLimitGiveNoPictureAndTheStreamGoesOn) {
  H264Decoder decoder;
  ASSERT_TRUE(decoder.Ready());
  ASSERT_TRUE(DecodesTo(decoder, SolidH264Unit(64, 48, 81, 90, 240), 64, 48));
  I420View picture;
  for (auto [w, h] : {std::pair{8000, 8000}, {16384, 16384}, {4112, 2304}, {64, 4112}}) {
    const auto hostile = PcmH264Unit(w, h, 3, 81, 90, 240);
    EXPECT_FALSE(decoder.Decode(hostile.data(), hostile.size(), picture)) << w << "x" << h;
  }
  // At the limit exactly a picture still comes out, and after it the normal stream.
  EXPECT_TRUE(DecodesTo(decoder, PcmH264Unit(4096, 2304, 3, 41, 240, 110), 4096, 2304));
  ASSERT_TRUE(DecodesTo(decoder, SolidH264Unit(64, 48, 41, 240, 110), 64, 48));
}

TEST(HostilePictures, JpegHeadersBeyondTheLimitAreRefusedBeforeDecoding) {
  JpegDecoder decoder;
  const auto small = SolidJpeg(48, 32, 10, 200, 30);
  int32_t w = 0;
  int32_t h = 0;
  for (auto [cw, ch] : {std::pair{8000, 8000}, {5000, 16}, {16, 5000}, {4096, 2305}}) {
    EXPECT_FALSE(decoder.ReadSize(JpegClaiming(small, cw, ch).data(), small.size(), &w, &h))
        << cw << "x" << ch;
  }
  for (auto [cw, ch] : {std::pair{4096, 2304}, {2304, 4096}}) {
    EXPECT_TRUE(decoder.ReadSize(JpegClaiming(small, cw, ch).data(), small.size(), &w, &h));
    EXPECT_EQ(w, cw);
    EXPECT_EQ(h, ch);
  }
}

TEST(HostilePictures, ThirtyTwoBitPicturesAreOpaque) {
  // An ARGB window shows the fourth byte as alpha: decoded and converted pixels carry 0xFF.
  JpegDecoder decoder;
  const auto jpeg = SolidJpeg(33, 17, 10, 200, 30);
  std::vector<uint8_t> pixels(33 * 17 * 4, 0);
  ASSERT_TRUE(
      decoder.Decode(jpeg.data(), jpeg.size(), {pixels.data(), 33 * 4, 33, 17, kPixelFormatRgb32}));
  for (size_t i = 3; i < pixels.size(); i += 4) {
    ASSERT_EQ(pixels[i], 0xFF) << "pixel " << i / 4;
  }
  std::fill(pixels.begin(), pixels.end(), 0);
  FillBlack({pixels.data(), 33 * 4, 33, 17, kPixelFormatRgb32}, 33, 17);
  for (size_t i = 0; i < pixels.size(); ++i) {
    ASSERT_EQ(pixels[i], i % 4 == 3 ? 0xFF : 0) << "byte " << i;
  }
}

TEST(HostilePictures, OffScreenPictureFollowsThePicturesUpToTheLimitAndBackDown) {
  DisplaySurface display(1, "null");
  ASSERT_EQ(display.SetUp(), 1);
  int32_t h = 0;
  EXPECT_EQ(CapacityOf(display, &h), DisplaySurface::kInitialWidth);

  std::vector<uint8_t> grey(PackedI420Size(4096, 2304), 128);
  ASSERT_EQ(display.Draw(PackedI420(grey.data(), 4096, 2304)), 1);
  EXPECT_EQ(CapacityOf(display, &h), 4096);
  EXPECT_EQ(h, 2304);
  // Beyond the limit: refused, and the off-screen picture is left as it was.
  std::vector<uint8_t> tall(PackedI420Size(16, 8000), 128);
  EXPECT_EQ(display.Draw(PackedI420(tall.data(), 16, 8000)), 0);
  EXPECT_EQ(CapacityOf(display, &h), 4096);
  // Smaller pictures again: the large picture is let go.
  ASSERT_EQ(display.Draw(PackedI420(grey.data(), 320, 240)), 1);
  EXPECT_EQ(CapacityOf(display, &h), DisplaySurface::kInitialWidth);
  EXPECT_EQ(h, DisplaySurface::kInitialHeight);
  // A picture somewhat smaller than the one before keeps the space it has.
  ASSERT_EQ(display.Draw(PackedI420(grey.data(), 1920, 1080)), 1);
  ASSERT_EQ(display.Draw(PackedI420(grey.data(), 1600, 900)), 1);
  EXPECT_EQ(CapacityOf(display, &h), 1920);

  // A JPEG claiming 8000 x 8000 draws no picture and makes nothing larger; the next one shows.
  const auto hostile = JpegClaiming(SolidJpeg(64, 48, 0, 255, 0), 8000, 8000);
  int32_t jw = 0;
  int32_t jh = 0;
  EXPECT_FALSE(DrawJpegFrame(display, hostile.data(), hostile.size(), "", false, &jw, &jh));
  EXPECT_EQ(CapacityOf(display, &h), 1920);
  const auto red = SolidJpeg(64, 48, 255, 0, 0);
  ASSERT_TRUE(DrawJpegFrame(display, red.data(), red.size(), "", false, &jw, &jh));
  const auto shown = NullBackend(&display)->LastShown();
  EXPECT_EQ(shown.width, 64);
  EXPECT_TRUE(Close(ShownAt(shown, 32, 24), 255, 0, 0, 12));
}
