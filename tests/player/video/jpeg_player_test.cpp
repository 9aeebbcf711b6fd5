// The JPEG player on the null display back end: each frame a whole picture, drawn with the
// on-screen text and the clock; damaged frames; snapshots of the stored frame; the recorder
// receiving every drawn frame, refreshes included.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "player/video/display/osd.h"
#include "tests/player/fixtures/player_test_util.h"

using namespace rovik::player;
using namespace player_test;

namespace {

std::atomic<FakeRecorder*> gRecorder{nullptr};
std::unique_ptr<FrameRecorder> MakeFakeRecorder() {
  auto recorder = std::make_unique<FakeRecorder>();
  gRecorder.store(recorder.get());
  return recorder;
}

class BytesSnapshots : public SnapshotWriter {
 public:
  bool WritePicture(const char*, const SurfaceView&) override { return false; }
  bool WriteJpeg(const char* path, const uint8_t* bytes, size_t length) override {
    lastPath = path;
    written.assign(bytes, bytes + length);
    return true;
  }
  std::string lastPath;
  std::vector<uint8_t> written;
};

void FeedJpeg(CVideoPlayer& player, const std::vector<uint8_t>& jpeg) {
  player.InputFrame(jpeg.data(), static_cast<int32_t>(jpeg.size()), 1, 0);
}

class JpegPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    blue_ = ReadFileBytes(ClipPath("solid_320x240.jpg"));
    light_ = ReadFileBytes(ClipPath("light_200x150.jpg"));
  }
  std::vector<uint8_t> blue_;
  std::vector<uint8_t> light_;
};

}  // namespace

TEST_F(JpegPlayerTest, DrawsThePictureWithTextAndClock) {
  SKIP_WITHOUT(blue_, "solid_320x240.jpg");
  CJPEGPlayer player(1, NullHooks());
  player.SetOSDText("Garage");
  player.Start();
  FeedJpeg(player, blue_);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 1; }));
  const auto shown = NullBackend(player.Display())->LastShown();
  ASSERT_EQ(shown.width, 320);
  ASSERT_EQ(shown.height, 240);
  EXPECT_EQ(shown.overlays, 2u);
  EXPECT_TRUE(Close(ShownAt(shown, 160, 120), 0x20, 0x80, 0xE0, 6));
  EXPECT_GT(DarkPixels(shown, 5, 220, 90, 240), 20) << "text at (5, bottom - 20)";
  EXPECT_GT(DarkPixels(shown, 145, 5, 320, 22), 40) << "clock at (right - 175, 5)";
  EXPECT_EQ(DarkPixels(shown, 0, 40, 320, 200), 0);
}

TEST_F(JpegPlayerTest, EmptyTextLeavesOnlyTheClock) {
  SKIP_WITHOUT(blue_, "solid_320x240.jpg");
  CJPEGPlayer player(1, NullHooks());
  player.Start();
  FeedJpeg(player, blue_);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 1; }));
  const auto shown = NullBackend(player.Display())->LastShown();
  EXPECT_EQ(shown.overlays, 1u);
  EXPECT_EQ(DarkPixels(shown, 0, 200, 160, 240), 0);
  EXPECT_TRUE(Close(ShownAt(shown, 6, 225), 0x20, 0x80, 0xE0, 6));
}

TEST_F(JpegPlayerTest, DamagedFramesDoNotStopTheNextGoodOne) {
  SKIP_WITHOUT(light_, "light_200x150.jpg");
  PlayerHooks hooks = NullHooks();
  hooks.makeRecorder = &MakeFakeRecorder;
  CJPEGPlayer player(1, hooks);
  player.StartRecord("/tmp/rec.avi");
  FakeRecorder* recorder = gRecorder.load();
  ASSERT_NE(recorder, nullptr);
  EXPECT_EQ(recorder->startedKind, kRecordJpeg);
  player.Start();
  std::vector<uint8_t> truncated(light_.begin(), light_.begin() + light_.size() / 2);
  std::vector<uint8_t> garbage(500, 0xFF);
  std::vector<uint8_t> huge = light_;
  // Declared size far beyond any camera: refused before anything is allocated.
  for (size_t i = 0; i + 8 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = 0xFF;
      huge[i + 6] = 0xFF;
      huge[i + 7] = 0xFF;
      huge[i + 8] = 0xFF;
      break;
    }
  }
  FeedJpeg(player, garbage);
  FeedJpeg(player, huge);
  FeedJpeg(player, truncated);
  FeedJpeg(player, light_);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 4; }));
  const auto shown = NullBackend(player.Display())->LastShown();
  EXPECT_EQ(shown.width, 200);
  EXPECT_TRUE(Close(ShownAt(shown, 100, 75), 0xE0, 0xC0, 0x40, 6));
  // Every frame reached the recorder as a key frame; the undecodable ones with size 0 x 0.
  ASSERT_EQ(recorder->queue.Count(), 4u);
  QueuedFrame f;
  ASSERT_TRUE(recorder->queue.Pop(f));
  EXPECT_EQ(f.keyFlag, 1);
  EXPECT_EQ(f.width, 0);
  EXPECT_EQ(f.height, 0);
  recorder->queue.Pop(f);
  recorder->queue.Pop(f);
  ASSERT_TRUE(recorder->queue.Pop(f));
  EXPECT_EQ(f.width, 200);
  EXPECT_EQ(f.height, 150);
}

TEST_F(JpegPlayerTest, RefreshDrawsAgainAndFeedsTheRecorderAgain) {
  SKIP_WITHOUT(blue_, "solid_320x240.jpg");
  PlayerHooks hooks = NullHooks();
  hooks.makeRecorder = &MakeFakeRecorder;
  CJPEGPlayer player(1, hooks);
  player.Refresh();
  EXPECT_EQ(NullBackend(player.Display())->Presents(), 0u);
  player.StartRecord("/tmp/rec.avi");
  FakeRecorder* recorder = gRecorder.load();
  player.Start();
  FeedJpeg(player, blue_);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 1; }));
  player.Refresh();
  player.Refresh();
  EXPECT_EQ(NullBackend(player.Display())->Presents(), 3u);
  EXPECT_EQ(recorder->queue.Count(), 3u);
  EXPECT_EQ(player.PicturesShown(), 1u);
}

TEST_F(JpegPlayerTest, SnapshotWritesTheLastFrameByteForByte) {
  SKIP_WITHOUT(blue_, "solid_320x240.jpg");
  BytesSnapshots snapshots;
  PlayerHooks hooks = NullHooks();
  hooks.snapshots = &snapshots;
  CJPEGPlayer player(1, hooks);
  EXPECT_EQ(player.SnapShot("/tmp/none.jpg"), 0) << "no frame yet";
  player.Start();
  FeedJpeg(player, blue_);
  ASSERT_TRUE(WaitFor([&] { return !player.StoredJpeg().empty(); }));
  EXPECT_EQ(player.SnapShot("/tmp/shot.jpg"), 1);
  EXPECT_EQ(snapshots.lastPath, "/tmp/shot.jpg");
  EXPECT_EQ(snapshots.written, blue_);
}

TEST(Osd, ClockTextAndCallerTextConversion) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 0;
  when.tm_mday = 5;
  when.tm_hour = 7;
  when.tm_min = 8;
  when.tm_sec = 9;
  when.tm_isdst = -1;
  EXPECT_EQ(OsdClockText(std::mktime(&when)), "2026/01/05 07:08:09");
  EXPECT_EQ(OsdTextToUtf8("Front door", 128), "Front door");
  EXPECT_EQ(OsdTextToUtf8("\xE5\x89\x8D\xE9\x97\xA8", 128), "\xE5\x89\x8D\xE9\x97\xA8");
  // GBK bytes of the same two characters.
  EXPECT_EQ(OsdTextToUtf8("\xC7\xB0\xC3\xC5", 128), "\xE5\x89\x8D\xE9\x97\xA8");
  EXPECT_EQ(OsdTextToUtf8("abc", 2), "ab");
  const OsdImage image = RenderOsdText("Camera", false);
  EXPECT_GT(image.width, 30);
  EXPECT_GE(image.height, 15);
  EXPECT_LE(image.height, 20);
  EXPECT_TRUE(RenderOsdText("", false).pixels.empty());
}
