// Snapshot files: the shown picture as a JPEG of quality 100 in each of the display's pixel
// layouts, a JPEG frame written byte for byte, and the folders and path rules around them.
#include "player/record/snapshot_writer.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>

#include "player/record/ensure_directories.h"
#include "tests/player/fixtures/media_clips.h"

using namespace rovik_test;

namespace {

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

Decoded Decode(const std::vector<uint8_t>& jpeg) {
  Decoded out;
  tjhandle h = tjInitDecompress();
  int sub = 0, space = 0;
  if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &out.width, &out.height, &sub, &space) ==
      0) {
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    if (tjDecompress2(h, jpeg.data(), jpeg.size(), out.rgb.data(), out.width, 0, out.height,
                      TJPF_RGB, 0) != 0) {
      out.rgb.clear();
    }
  }
  tjDestroy(h);
  return out;
}

// A picture in a display layout: left half one colour, right half another.
std::vector<uint8_t> TwoColourPicture(int format, int width, int height, int pitch,
                                      const uint8_t left[3], const uint8_t right[3]) {
  std::vector<uint8_t> px(static_cast<size_t>(pitch) * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* c = x < width / 2 ? left : right;
      uint8_t* p = &px[static_cast<size_t>(y) * pitch];
      switch (format) {
        case 1: {
          const uint16_t v =
              static_cast<uint16_t>((c[0] >> 3) << 10 | (c[1] >> 3) << 5 | c[2] >> 3);
          p[2 * x] = static_cast<uint8_t>(v);
          p[2 * x + 1] = static_cast<uint8_t>(v >> 8);
          break;
        }
        case 2: {
          const uint16_t v =
              static_cast<uint16_t>((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3);
          p[2 * x] = static_cast<uint8_t>(v);
          p[2 * x + 1] = static_cast<uint8_t>(v >> 8);
          break;
        }
        case 3:
          p[3 * x] = c[2];
          p[3 * x + 1] = c[1];
          p[3 * x + 2] = c[0];
          break;
        case 4:
          p[4 * x] = c[2];
          p[4 * x + 1] = c[1];
          p[4 * x + 2] = c[0];
          p[4 * x + 3] = 0;
          break;
      }
    }
  }
  return px;
}

}  // namespace

TEST(SnapshotJpeg, EveryDisplayLayoutEncodesTheRightColours) {
  const uint8_t left[3] = {200, 40, 16};
  const uint8_t right[3] = {24, 96, 232};
  const int width = 66, height = 34;  // neither a multiple of 8 nor 16
  for (int format = 1; format <= 4; ++format) {
    const int bpp = format <= 2 ? 2 : format;
    const int pitch = width * bpp + 12;  // rows padded, as a surface's are
    const std::vector<uint8_t> px = TwoColourPicture(format, width, height, pitch, left, right);
    const std::vector<uint8_t> jpeg =
        rovik::player::EncodeSnapshotJpeg(px.data(), pitch, width, height, format);
    ASSERT_FALSE(jpeg.empty()) << format;
    const Decoded d = Decode(jpeg);
    ASSERT_EQ(d.width, width);
    ASSERT_EQ(d.height, height);
    ASSERT_FALSE(d.rgb.empty());
    const int tolerance = format <= 2 ? 9 : 3;  // 16-bit layouts keep 5 or 6 bits
    for (int c = 0; c < 3; ++c) {
      const uint8_t* l = &d.rgb[(static_cast<size_t>(height / 2) * width + 4) * 3];
      const uint8_t* r = &d.rgb[(static_cast<size_t>(height / 2) * width + width - 4) * 3];
      EXPECT_NEAR(l[c], left[c], tolerance) << "format " << format << " channel " << c;
      EXPECT_NEAR(r[c], right[c], tolerance) << "format " << format << " channel " << c;
    }
  }
}

TEST(SnapshotJpeg, FullIntensityStaysFullInSixteenBitLayouts) {
  const uint8_t white[3] = {255, 255, 255};
  for (int format = 1; format <= 2; ++format) {
    const std::vector<uint8_t> px = TwoColourPicture(format, 16, 16, 32, white, white);
    const Decoded d = Decode(rovik::player::EncodeSnapshotJpeg(px.data(), 32, 16, 16, format));
    ASSERT_FALSE(d.rgb.empty());
    for (int c = 0; c < 3; ++c) EXPECT_GE(d.rgb[c], 253) << format;
  }
}

TEST(SnapshotJpeg, BadPicturesMakeNoFile) {
  ScratchDir dir;
  std::vector<uint8_t> px(64 * 64 * 4);
  EXPECT_TRUE(rovik::player::EncodeSnapshotJpeg(px.data(), 256, 64, 64, 0).empty());
  EXPECT_TRUE(
      rovik::player::EncodeSnapshotJpeg(px.data(), 100, 64, 64, 4).empty());  // pitch too small
  EXPECT_TRUE(rovik::player::EncodeSnapshotJpeg(nullptr, 256, 64, 64, 4).empty());
  EXPECT_TRUE(rovik::player::EncodeSnapshotJpeg(px.data(), 256, 0, 64, 4).empty());
  EXPECT_FALSE(
      rovik::player::WriteSnapshotJpeg((dir / "bad.jpg").c_str(), px.data(), 256, 64, 64, 7));
  EXPECT_FALSE(FileExists(dir / "bad.jpg"));
  EXPECT_FALSE(rovik::player::WriteSnapshotJpeg(nullptr, px.data(), 256, 64, 64, 4));
}

TEST(SnapshotJpeg, WriterCreatesFoldersAndWritesTheWholePath) {
  ScratchDir dir;
  std::vector<uint8_t> px(32 * 32 * 4, 0x80);
  rovik::player::SurfaceView view;
  view.pixels = px.data();
  view.pitch = 128;
  view.width = 32;
  view.height = 32;
  view.format = rovik::player::kPixelFormatRgb32;

  const std::string nested = dir.path() + "/shots\\today/a.jpg";
  ASSERT_TRUE(rovik::player::JpegSnapshotWriter::Instance()->WritePicture(nested.c_str(), view));
  EXPECT_EQ(Decode(ReadFile(dir / "shots/today/a.jpg")).width, 32);

  std::string longPath = dir.path() + "/";
  longPath += std::string(250 - longPath.size(), 'p') + ".jpg";
  ASSERT_TRUE(rovik::player::JpegSnapshotWriter::Instance()->WritePicture(longPath.c_str(), view));
  EXPECT_TRUE(FileExists(longPath));
}

TEST(SnapshotBytes, AJpegFrameIsWrittenByteForByte) {
  ScratchDir dir;
  const std::vector<uint8_t> jpeg = MakeJpeg(48, 32, 5);
  const std::string path = dir / "d1\\d2/frame.jpg";
  ASSERT_TRUE(rovik::player::JpegSnapshotWriter::Instance()->WriteJpeg(path.c_str(), jpeg.data(),
                                                                       jpeg.size()));
  EXPECT_EQ(ReadFile(dir / "d1/d2/frame.jpg"), jpeg);
  // An existing file is replaced, not appended to.
  const std::vector<uint8_t> shorter(jpeg.begin(), jpeg.begin() + 10);
  ASSERT_TRUE(rovik::player::WriteSnapshotBytes(path.c_str(), shorter.data(), shorter.size()));
  EXPECT_EQ(ReadFile(dir / "d1/d2/frame.jpg"), shorter);
  // A folder in the way of the file: reported, not thrown.
  std::filesystem::create_directories(dir / "taken.jpg");
  EXPECT_FALSE(
      rovik::player::WriteSnapshotBytes((dir / "taken.jpg").c_str(), jpeg.data(), jpeg.size()));
  // Nothing half-written is left beside it.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2);  // d1 and taken.jpg
}

TEST(EnsureDirectories, BothSeparatorsAndExistingFolders) {
  ScratchDir dir;
  const std::string path = dir.path() + "\\a/b\\c/file.avi";
  rovik::player::EnsureDirectories(path.c_str());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a/b/c/file.avi"));  // only the folders
  rovik::player::EnsureDirectories(path.c_str());                 // all there: nothing fails
  rovik::player::EnsureDirectories(nullptr);
  rovik::player::EnsureDirectories("");
  EXPECT_EQ(rovik::player::NormalizePath("D:\\rec\\cam1/a.avi"), "D:/rec/cam1/a.avi");
}
