// The AVI file itself: the stream header and format the players' recordings carry, the index,
// and a file that stays readable when its writer never closed it.
#include "player/record/avi_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/player/fixtures/media_clips.h"

using namespace rovik_test;
using rovik::player::AviWriter;

namespace {

struct StreamHeader {
  std::string type, handler;
  uint32_t flags, priorityLanguage, initial, scale, rate, start, length, buffer, quality,
      sampleSize;
  uint16_t rect[4];
};

StreamHeader ReadStrh(const std::vector<uint8_t>& d) {
  const size_t at = FindChunk(d, "strh");
  EXPECT_NE(at, SIZE_MAX);
  EXPECT_EQ(ReadLe32(d, at + 4), 56u);
  const size_t p = at + 8;
  StreamHeader h;
  h.type.assign(reinterpret_cast<const char*>(&d[p]), 4);
  h.handler.assign(reinterpret_cast<const char*>(&d[p + 4]), 4);
  h.flags = ReadLe32(d, p + 8);
  h.priorityLanguage = ReadLe32(d, p + 12);
  h.initial = ReadLe32(d, p + 16);
  h.scale = ReadLe32(d, p + 20);
  h.rate = ReadLe32(d, p + 24);
  h.start = ReadLe32(d, p + 28);
  h.length = ReadLe32(d, p + 32);
  h.buffer = ReadLe32(d, p + 36);
  h.quality = ReadLe32(d, p + 40);
  h.sampleSize = ReadLe32(d, p + 44);
  for (int i = 0; i < 4; ++i) h.rect[i] = ReadLe16(d, p + 48 + 2 * i);
  return h;
}

}  // namespace

TEST(AviWriter, StreamHeaderFormatAndIndexAreThoseOfARecording) {
  ScratchDir dir;
  const std::string file = dir / "a.avi";
  {
    AviWriter w(AviWriter::kH264, 704, 576);
    ASSERT_TRUE(w.Open(file));
    const uint8_t odd[3] = {1, 2, 3};
    const uint8_t even[4] = {4, 5, 6, 7};
    ASSERT_TRUE(w.WriteSample(odd, 3));
    ASSERT_TRUE(w.WriteSample(nullptr, 0));
    ASSERT_TRUE(w.WriteSample(even, 4));
    ASSERT_TRUE(w.Close());
    EXPECT_TRUE(w.Close());  // a second close changes nothing
  }
  const std::vector<uint8_t> d = ReadFile(file);
  ASSERT_GT(d.size(), 200u);
  EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "RIFF");
  EXPECT_EQ(ReadLe32(d, 4), d.size() - 8);
  EXPECT_EQ(std::string(d.begin() + 8, d.begin() + 12), "AVI ");

  const StreamHeader h = ReadStrh(d);
  EXPECT_EQ(h.type, "vids");
  EXPECT_EQ(h.handler, "h264");
  EXPECT_EQ(h.flags, 0u);
  EXPECT_EQ(h.priorityLanguage, 0u);
  EXPECT_EQ(h.initial, 0u);
  EXPECT_EQ(h.scale, 1u);
  EXPECT_EQ(h.rate, 50u);
  EXPECT_EQ(h.start, 0u);
  EXPECT_EQ(h.length, 3u);
  EXPECT_EQ(h.buffer, 704u * 576u);
  EXPECT_EQ(h.quality, 0u);
  EXPECT_EQ(h.sampleSize, 0u);
  EXPECT_EQ(h.rect[0], 0);
  EXPECT_EQ(h.rect[1], 0);
  EXPECT_EQ(h.rect[2], 704);
  EXPECT_EQ(h.rect[3], 576);

  const size_t strf = FindChunk(d, "strf");
  ASSERT_NE(strf, SIZE_MAX);
  EXPECT_EQ(ReadLe32(d, strf + 4), 40u);
  const size_t b = strf + 8;
  EXPECT_EQ(ReadLe32(d, b), 40u);
  EXPECT_EQ(ReadLe32(d, b + 4), 704u);
  EXPECT_EQ(ReadLe32(d, b + 8), 576u);
  EXPECT_EQ(ReadLe16(d, b + 12), 1);
  EXPECT_EQ(ReadLe16(d, b + 14), 24);
  EXPECT_EQ(
      std::string(d.begin() + static_cast<long>(b + 16), d.begin() + static_cast<long>(b + 20)),
      "h264");
  for (size_t off = 20; off < 40; off += 4) EXPECT_EQ(ReadLe32(d, b + off), 0u) << off;

  // The index: every sample, the empty one too, flagged as a key frame, pointing at its data.
  const size_t movi = FindChunk(d, "movi");
  const size_t idx = FindChunk(d, "idx1");
  ASSERT_NE(idx, SIZE_MAX);
  ASSERT_EQ(ReadLe32(d, idx + 4), 3u * 16u);
  const uint32_t sizes[3] = {3, 0, 4};
  for (uint32_t i = 0; i < 3; ++i) {
    const size_t e = idx + 8 + 16 * i;
    EXPECT_EQ(std::string(d.begin() + static_cast<long>(e), d.begin() + static_cast<long>(e + 4)),
              "00dc");
    EXPECT_EQ(ReadLe32(d, e + 4), 0x10u);
    const size_t chunk = movi + ReadLe32(d, e + 8);
    EXPECT_EQ(ReadLe32(d, chunk + 4), sizes[i]);
    EXPECT_EQ(ReadLe32(d, e + 12), sizes[i]);
  }
  // The "movi" list ends where the index begins.
  EXPECT_EQ(movi + ReadLe32(d, movi - 4), idx);
}

TEST(AviWriter, JpegRecordingsAreMjpg) {
  ScratchDir dir;
  const std::string file = dir / "j.avi";
  AviWriter w(AviWriter::kJpeg, 320, 240);
  ASSERT_TRUE(w.Open(file));
  ASSERT_TRUE(w.Close());
  const std::vector<uint8_t> d = ReadFile(file);
  EXPECT_EQ(ReadStrh(d).handler, "mjpg");
  const size_t strf = FindChunk(d, "strf");
  EXPECT_EQ(std::string(d.begin() + static_cast<long>(strf + 24),
                        d.begin() + static_cast<long>(strf + 28)),
            "mjpg");
}

TEST(AviWriter, RefusesWhatCannotBeWritten) {
  ScratchDir dir;
  EXPECT_FALSE(AviWriter(2, 320, 240).Open(dir / "kind.avi"));
  EXPECT_FALSE(AviWriter(AviWriter::kH264, 0, 240).Open(dir / "w.avi"));
  EXPECT_FALSE(AviWriter(AviWriter::kH264, 320, -1).Open(dir / "h.avi"));
  EXPECT_FALSE(AviWriter(AviWriter::kH264, 320, 240).Open(dir / "missing/folder/x.avi"));
  AviWriter w(AviWriter::kH264, 320, 240);
  EXPECT_FALSE(w.WriteSample(nullptr, 0));  // not open
  ASSERT_TRUE(w.Open(dir / "ok.avi"));
  EXPECT_FALSE(w.WriteSample(nullptr, 5));  // data missing for a non-empty sample
  EXPECT_TRUE(w.Close());
  EXPECT_FALSE(w.WriteSample(nullptr, 0));  // closed
}

TEST(AviWriter, FfprobeReadsAClosedAndAnUnclosedFile) {
  if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
  const std::vector<Frame> frames = MakeH264Clip(320, 240, 25, 3, 25);
  ASSERT_EQ(frames.size(), 75u);
  ScratchDir dir;
  const std::string closed = dir / "closed.avi";
  const std::string copy = dir / "unclosed.avi";
  {
    AviWriter w(AviWriter::kH264, 320, 240);
    ASSERT_TRUE(w.Open(closed));
    for (size_t i = 0; i < frames.size(); ++i) {
      ASSERT_TRUE(
          w.WriteSample(frames[i].bytes.data(), static_cast<uint32_t>(frames[i].bytes.size())));
      ASSERT_TRUE(w.WriteSample(nullptr, 0));
      // The file as it stands mid-way: what a killed process leaves.
      if (i == 60) std::filesystem::copy_file(closed, copy);
    }
  }
  auto p = ProbeVideo(closed);
  EXPECT_EQ(p["codec_name"], "h264");
  EXPECT_EQ(p["avg_frame_rate"], "50/1");
  EXPECT_EQ(p["nb_frames"], "150");
  EXPECT_EQ(p["width"], "320");
  EXPECT_EQ(p["packets"], "75");  // ffprobe leaves the empty samples out of its packets
  EXPECT_EQ(p["first_flags"].substr(0, 1), "K");

  p = ProbeVideo(copy);
  EXPECT_EQ(p["codec_name"], "h264");
  EXPECT_EQ(p["nb_frames"], "100");  // the headers of the last whole second
  EXPECT_EQ(p["packets"], "61");     // every sample written, read past the last header update
}
