// Snapshots and recordings through the exports: an H.264 slot shown in a real X window, a JPEG
// slot, and recordings of both read back with ffprobe.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "player/api/qx_play_api.h"
#include "tests/fixtures/test_window.h"
#include "tests/fixtures/wait_until.h"
#include "tests/player/fixtures/media_clips.h"

using namespace rovik_test;
using namespace std::chrono_literals;
using rovik::fixtures::TestWindow;
using rovik::fixtures::WaitUntil;

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Picture DecodeJpeg(const std::vector<uint8_t>& jpeg) {
  Picture p;
  if (jpeg.empty()) return p;
  tjhandle h = tjInitDecompress();
  int sub = 0, space = 0;
  if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &p.width, &p.height, &sub, &space) == 0) {
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    if (tjDecompress2(h, jpeg.data(), jpeg.size(), p.rgb.data(), p.width, 0, p.height, TJPF_RGB,
                      0) != 0) {
      p.rgb.clear();
    }
  }
  tjDestroy(h);
  return p;
}

// Feeds frames at `fps` for `seconds`, looping the clip.
void Feed(int slot, const std::vector<Frame>& frames, int fps, double seconds) {
  FeedAtPace(frames, fps, seconds, [slot](const Frame& f, size_t i) {
    const int result = QX_PLAY_API_InputVideoFrame(
        slot, f.key, f.bytes.data(), static_cast<int>(f.bytes.size()), static_cast<uint32_t>(i));
    EXPECT_EQ(result, 0);
    return result == 0;
  });
}

class MediaApi : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    QX_PLAY_API_DeInitial();
    ASSERT_EQ(QX_PLAY_API_Initial(), 0);
    ASSERT_EQ(QX_PLAY_API_CreateInstance(&slot_), 0);
  }
  void TearDown() override { QX_PLAY_API_DeInitial(); }

  int slot_ = -1;
  std::unique_ptr<TestWindow> window_;
  ScratchDir dir_;
};

}  // namespace

TEST_F(MediaApi, H264SnapshotIsAJpegOfTheShownPicture) {
  window_ = std::make_unique<TestWindow>(320, 240);
  if (!window_->Valid()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  // A solid colour in 352 x 288 pictures, a size other than the window's.
  const std::vector<Frame> frames = MakeH264Clip(352, 288, 25, 1, 25, "0x2060D0");
  ASSERT_FALSE(frames.empty());
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot_, 0, window_->Id()), 0);

  // Requested before the first picture: pending, and a second request replaces the path.
  const std::string first = dir_ / "shots/first.jpg";
  const std::string second = dir_ / "shots\\second.jpg";
  ASSERT_EQ(QX_PLAY_API_SnapShot(slot_, first.c_str()), 0);
  ASSERT_EQ(QX_PLAY_API_SnapShot(slot_, second.c_str()), 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(FileExists(dir_ / "shots/second.jpg"));
  Feed(slot_, frames, 25, 0.4);
  ASSERT_TRUE(WaitUntil([&] { return FileExists(dir_ / "shots/second.jpg"); }, 5s));
  EXPECT_FALSE(FileExists(first));
  const Picture p = DecodeJpeg(ReadFile(dir_ / "shots/second.jpg"));
  ASSERT_EQ(p.width, 352);
  ASSERT_EQ(p.height, 288);
  ASSERT_FALSE(p.rgb.empty());
  const uint8_t* c = p.At(176, 144);
  EXPECT_NEAR(c[0], 0x20, 14);
  EXPECT_NEAR(c[1], 0x60, 14);
  EXPECT_NEAR(c[2], 0xD0, 14);

  // With pictures shown, the snapshot is written before the call returns.
  const std::string now = dir_ / "now.jpg";
  ASSERT_EQ(QX_PLAY_API_SnapShot(slot_, now.c_str()), 0);
  EXPECT_EQ(DecodeJpeg(ReadFile(now)).width, 352);
}

TEST_F(MediaApi, H264SnapshotIsNeverWrittenWithoutADisplay) {
  const std::vector<Frame> frames = MakeH264Clip(160, 120, 25, 1, 25);
  ASSERT_FALSE(frames.empty());
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot_, 0, 0), 0);  // no window: the display is not set up
  const std::string shot = dir_ / "never.jpg";
  ASSERT_EQ(QX_PLAY_API_SnapShot(slot_, shot.c_str()), 0);
  Feed(slot_, frames, 25, 0.6);
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(FileExists(shot));
}

TEST_F(MediaApi, JpegSnapshotIsTheLastFrameByteForByte) {
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot_, 1, 0), 0);
  const std::string shot = dir_ / "j/last.jpg";
  ASSERT_EQ(QX_PLAY_API_SnapShot(slot_, shot.c_str()), 0);  // no frame yet: nothing written
  EXPECT_FALSE(FileExists(shot));
  std::vector<uint8_t> last;
  for (int i = 0; i < 3; ++i) {
    last = MakeJpeg(160, 120, i);
    ASSERT_EQ(QX_PLAY_API_InputVideoFrame(slot_, 1, last.data(), static_cast<int>(last.size()), 0),
              0);
    std::this_thread::sleep_for(150ms);
  }
  ASSERT_EQ(QX_PLAY_API_SnapShot(slot_, shot.c_str()), 0);
  EXPECT_EQ(ReadFile(shot), last);
}

TEST_F(MediaApi, RecordingAnH264SlotThroughTheExports) {
  const std::vector<Frame> frames = MakeH264Clip(320, 240, 25, 4, 25);
  ASSERT_FALSE(frames.empty());
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot_, 0, 0), 0);
  const std::string file = dir_ / "rec/cam1\\a.avi";
  ASSERT_EQ(QX_PLAY_API_StartRecord(slot_, file.c_str()), 0);
  Feed(slot_, frames, 25, 3.0);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(QX_PLAY_API_StopRecord(slot_), 0);
  EXPECT_EQ(QX_PLAY_API_StopRecord(slot_), 0);  // without a recording: nothing
  auto p = ProbeVideo(dir_ / "rec/cam1/a.avi");
  EXPECT_EQ(p["codec_name"], "h264");
  EXPECT_EQ(p["avg_frame_rate"], "50/1");
  const int samples = std::atoi(p["nb_frames"].c_str());
  EXPECT_GE(samples, 135);
  EXPECT_LE(samples, 160);
  EXPECT_EQ(p["first_flags"].substr(0, 1), "K");
}

TEST_F(MediaApi, RecordingAJpegSlotThroughTheExports) {
  std::vector<Frame> frames;
  for (int i = 0; i < 8; ++i) frames.push_back({MakeJpeg(320, 240, i), 1});
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot_, 1, 0), 0);
  const std::string file = dir_ / "j.avi";
  ASSERT_EQ(QX_PLAY_API_StartRecord(slot_, file.c_str()), 0);
  Feed(slot_, frames, 25, 2.0);
  std::this_thread::sleep_for(100ms);
  // Destroying the slot ends the recording and completes the file.
  ASSERT_EQ(QX_PLAY_API_DestroyInstance(slot_), 0);
  auto p = ProbeVideo(file);
  EXPECT_EQ(p["codec_name"], "mjpeg");
  EXPECT_EQ(p["width"], "320");
  EXPECT_GE(std::atoi(p["nb_frames"].c_str()), 85);
  EXPECT_GE(std::atoi(p["packets"].c_str()), 40);
}
