// The H.264 player on the null display back end: what it decodes and shows, the input queue's
// rules seen through the player, Refresh, snapshots, the recorder hand-over, the on-screen text,
// damaged units, resolution changes and pictures larger than the initial surface.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "tests/player/fixtures/player_test_util.h"

extern "C" {
#include <libavutil/log.h>
}

using namespace rovik::player;
using namespace player_test;

namespace {

// The solid clip's colour: red 0x20, green 0x80, blue 0xE0; the codec and the limited range
// allow a few steps either way.
constexpr int kTolerance = 8;
bool IsClipBlue(const Colour& c) { return Close(c, 0x20, 0x80, 0xE0, kTolerance); }

std::atomic<FakeRecorder*> gRecorder{nullptr};
std::unique_ptr<FrameRecorder> MakeFakeRecorder() {
  auto recorder = std::make_unique<FakeRecorder>();
  gRecorder.store(recorder.get());
  return recorder;
}

class RecordingSnapshots : public SnapshotWriter {
 public:
  bool WritePicture(const char* path, const SurfaceView& picture) override {
    std::lock_guard<std::mutex> hold(lock);
    paths.push_back(path);
    const auto rgb = SurfaceToRgb(picture, picture.width, picture.height);
    width = picture.width;
    height = picture.height;
    if (!rgb.empty()) {
      centre = {rgb[(picture.height / 2 * picture.width + picture.width / 2) * 3],
                rgb[(picture.height / 2 * picture.width + picture.width / 2) * 3 + 1],
                rgb[(picture.height / 2 * picture.width + picture.width / 2) * 3 + 2]};
    }
    return true;
  }
  bool WriteJpeg(const char*, const uint8_t*, size_t) override { return false; }

  std::mutex lock;
  std::vector<std::string> paths;
  int width = 0;
  int height = 0;
  Colour centre{0, 0, 0};
};

// Feeds frames as a live camera does, never so fast that a key frame finds more than ten
// waiting (which would discard them).
void FeedPaced(CVideoPlayer& player, const std::vector<ClipFrame>& frames) {
  for (size_t i = 0; i < frames.size(); ++i) {
    WaitFor([&] { return player.InputQueue().Count() < 5; });
    player.InputFrame(frames[i].bytes.data(), static_cast<int32_t>(frames[i].bytes.size()),
                      frames[i].key, static_cast<uint32_t>(i));
  }
}

void Feed(CVideoPlayer& player, const std::vector<ClipFrame>& frames, size_t from, size_t to) {
  for (size_t i = from; i < to && i < frames.size(); ++i) {
    player.InputFrame(frames[i].bytes.data(), static_cast<int32_t>(frames[i].bytes.size()),
                      frames[i].key, static_cast<uint32_t>(i));
  }
}

class H264PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clip_ = ReadH264Clip("solid_320x240.h264");
    if (!clip_.empty()) {
      ASSERT_EQ(clip_.size(), 40u);
      ASSERT_EQ(clip_[0].key, 1);
      ASSERT_EQ(clip_[10].key, 1);
      ASSERT_EQ(clip_[1].key, 0);
    }
  }
  std::vector<ClipFrame> clip_;
};

}  // namespace

TEST_F(H264PlayerTest, DecodesAndShowsTheClipsColour) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  CH264Player player(1, NullHooks());
  ASSERT_TRUE(player.DecoderReady());
  ASSERT_EQ(player.Display()->Format(), kPixelFormatRgb32);
  player.Start();
  FeedPaced(player, clip_);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 40; }));
  const auto shown = NullBackend(player.Display())->LastShown();
  ASSERT_EQ(shown.width, 320);
  ASSERT_EQ(shown.height, 240);
  for (auto [x, y] : {std::pair{0, 0}, {160, 120}, {319, 239}, {319, 0}, {0, 239}}) {
    EXPECT_TRUE(IsClipBlue(ShownAt(shown, x, y))) << x << "," << y;
  }
  int32_t w = 0;
  int32_t h = 0;
  player.StoredSize(&w, &h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
}

TEST_F(H264PlayerTest, SmallerWindowGetsTheReducedPictureAndTextButSnapshotsTakeItWhole) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  RecordingSnapshots snapshots;
  PlayerHooks hooks = NullHooks();
  hooks.snapshots = &snapshots;
  CH264Player player(1, hooks);
  auto* backend = NullBackend(player.Display());
  backend->SetClientSize(161, 97);
  player.Start();
  Feed(player, clip_, 0, 5);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 5; }));
  // Reduced by the player to the window's size: the window system has nothing to scale.
  auto shown = backend->LastShown();
  EXPECT_EQ(shown.width, 161);
  EXPECT_EQ(shown.height, 97);
  for (auto [x, y] : {std::pair{0, 0}, {80, 48}, {160, 96}}) {
    EXPECT_TRUE(IsClipBlue(ShownAt(shown, x, y))) << x << "," << y;
  }
  // A snapshot is written from the whole picture; the picture after it is reduced again.
  ASSERT_EQ(player.SnapShot("/tmp/unused.jpg"), 1);
  ASSERT_TRUE(WaitFor([&] { return !player.Display()->SnapshotPending(); }));
  {
    std::lock_guard<std::mutex> hold(snapshots.lock);
    EXPECT_EQ(snapshots.width, 320);
    EXPECT_EQ(snapshots.height, 240);
  }
  Feed(player, clip_, 5, 6);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 6; }));
  EXPECT_EQ(backend->LastShown().width, 161);
  // With the text on, the text is reduced with the picture, to where the reduction takes it:
  // its light box at the bottom left (from (5, 220) of the picture) and the clock's at the top
  // right (from (145, 5)), the blue picture between them.
  player.SetOSDText("Front door");
  player.EnableOSD(1);
  Feed(player, clip_, 6, 7);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 7; }));
  shown = backend->LastShown();
  ASSERT_EQ(shown.width, 161);
  ASSERT_EQ(shown.height, 97);
  const auto light = [&](int x0, int y0, int x1, int y1) {
    int count = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        count += Close(ShownAt(shown, x, y), 0xDC, 0xDC, 0xDC, 16) ? 1 : 0;
      }
    }
    return count;
  };
  EXPECT_GT(light(3, 89, 12, 96), 10) << "text box";
  EXPECT_GT(light(74, 2, 150, 8), 30) << "clock box";
  EXPECT_EQ(light(20, 20, 140, 80), 0) << "the picture itself";
  EXPECT_TRUE(IsClipBlue(ShownAt(shown, 80, 48)));
  // A window larger than the picture is left to the window system.
  player.EnableOSD(0);
  backend->SetClientSize(640, 120);
  Feed(player, clip_, 7, 8);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 8; }));
  shown = backend->LastShown();
  EXPECT_EQ(shown.width, 320);
  EXPECT_EQ(shown.height, 120);
}

TEST_F(H264PlayerTest, FramesBeforeTheFirstKeyFrameAreNeverDecoded) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  CH264Player player(1, NullHooks());
  Feed(player, clip_, 1, 10);  // the stream joined after its key frame
  EXPECT_EQ(player.InputQueue().Count(), 0u);
  player.Start();
  Feed(player, clip_, 10, 20);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 10; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(player.PicturesShown(), 10u);
}

TEST_F(H264PlayerTest, KeyFrameBehindTwelveWaitingDiscardsThemAndTenAreKept) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  // Twelve waiting (the thread is not yet running), then the next key frame: decoding resumes
  // there and the twelve are never decoded.
  {
    CH264Player player(1, NullHooks());
    Feed(player, clip_, 0, 12);
    ASSERT_EQ(player.InputQueue().Count(), 12u);
    // frames 10 and 11 were among them; feed from key frame 20 on.
    Feed(player, clip_, 20, 30);
    EXPECT_EQ(player.InputQueue().Count(), 10u);
    player.Start();
    ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 10; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(player.PicturesShown(), 10u);
  }
  // Ten waiting, then a key frame: nothing discarded, all twenty shown.
  {
    CH264Player player(1, NullHooks());
    Feed(player, clip_, 0, 10);
    Feed(player, clip_, 10, 20);
    EXPECT_EQ(player.InputQueue().Count(), 20u);
    player.Start();
    ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 20; }));
  }
}

TEST_F(H264PlayerTest, RefreshRepaintsTheStoredPictureWithoutDecoding) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  CH264Player player(1, NullHooks());
  auto* backend = NullBackend(player.Display());
  player.Refresh();
  EXPECT_EQ(backend->Presents(), 0u) << "nothing to repaint yet";
  player.Start();
  Feed(player, clip_, 0, 5);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 5; }));
  const uint64_t presents = backend->Presents();
  player.Refresh();
  player.Refresh();
  EXPECT_EQ(backend->Presents(), presents + 2);
  EXPECT_EQ(player.PicturesShown(), 5u);
  EXPECT_TRUE(IsClipBlue(ShownAt(backend->LastShown(), 100, 100)));
}

TEST_F(H264PlayerTest, DamagedUnitAndNoiseAreSurvived) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  CH264Player player(1, NullHooks());
  player.Start();
  Feed(player, clip_, 0, 5);
  std::vector<uint8_t> damaged = clip_[5].bytes;
  for (size_t i = damaged.size() / 3; i < damaged.size(); i += 3) {
    damaged[i] ^= 0x5A;
  }
  player.InputFrame(damaged.data(), static_cast<int32_t>(damaged.size()), 0, 0);
  std::vector<uint8_t> noise(3000);
  for (size_t i = 0; i < noise.size(); ++i) {
    noise[i] = static_cast<uint8_t>(i * 131 + 7);
  }
  player.InputFrame(noise.data(), static_cast<int32_t>(noise.size()), 0, 0);
  player.InputFrame(noise.data(), 0, 0, 0);
  Feed(player, clip_, 10, 20);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() >= 15; }));
  ASSERT_TRUE(WaitFor([&] { return player.InputQueue().Count() == 0; }));
  EXPECT_TRUE(IsClipBlue(ShownAt(NullBackend(player.Display())->LastShown(), 50, 50)));
}

TEST_F(H264PlayerTest, ResolutionChangeMidStreamShowsTheNewSize) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  const auto light = ReadH264Clip("light_176x144.h264");
  SKIP_WITHOUT(light, "light_176x144.h264");
  CH264Player player(1, NullHooks());
  player.Start();
  Feed(player, clip_, 0, 10);
  Feed(player, light, 0, light.size());
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 10 + light.size(); }));
  const auto shown = NullBackend(player.Display())->LastShown();
  EXPECT_EQ(shown.width, 176);
  EXPECT_EQ(shown.height, 144);
  EXPECT_TRUE(Close(ShownAt(shown, 175, 143), 0xE0, 0xC0, 0x40, kTolerance));
}

TEST(H264PlayerLarge, PicturesBeyondTheInitialSurfaceAreShownWhole) {
  for (const char* name : {"solid_1920x1080.h264", "solid_1282x722.h264"}) {
    const auto clip = ReadH264Clip(name);
    SKIP_WITHOUT(clip, name);
    CH264Player player(1, NullHooks());
    player.Start();
    Feed(player, clip, 0, clip.size());
    ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == clip.size(); })) << name;
    auto* backend = NullBackend(player.Display());
    const auto shown = backend->LastShown();
    int32_t w = 0;
    int32_t h = 0;
    player.StoredSize(&w, &h);
    ASSERT_EQ(shown.width, w) << name;
    ASSERT_EQ(shown.height, h) << name;
    int32_t capacityWidth = 0;
    int32_t capacityHeight = 0;
    backend->Capacity(&capacityWidth, &capacityHeight);
    EXPECT_GE(capacityWidth, w);
    EXPECT_GE(capacityHeight, h);
    // The last column and row are converted too, not left from an earlier picture.
    for (auto [x, y] : {std::pair{w - 1, h - 1}, {w - 1, 0}, {0, h - 1}, {w / 2, h / 2}}) {
      EXPECT_TRUE(Close(ShownAt(shown, x, y), 0x20, 0x80, 0xE0, kTolerance))
          << name << " at " << x << "," << y;
    }
  }
}

TEST_F(H264PlayerTest, DestroyingWithFramesQueuedFreesThem) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  {
    CH264Player idle(1, NullHooks());
    Feed(idle, clip_, 0, 10);
    EXPECT_EQ(idle.InputQueue().Count(), 10u);
  }
  {
    CH264Player busy(1, NullHooks());
    busy.Start();
    Feed(busy, clip_, 0, clip_.size());
  }
  SUCCEED() << "the sanitizer reports any frame not freed";
}

TEST_F(H264PlayerTest, NoWindowShowsNothingWhileDecodingGoesOn) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  CH264Player player(0, NullHooks());
  EXPECT_EQ(player.Display()->Format(), kPixelFormatNone);
  EXPECT_EQ(player.Display()->Backend(), nullptr);
  player.Start();
  Feed(player, clip_, 0, 5);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 5; }));
  int32_t w = 0;
  int32_t h = 0;
  player.StoredSize(&w, &h);
  EXPECT_EQ(w, 320);
  player.Refresh();
}

TEST_F(H264PlayerTest, ShownFramesGoToTheRecorderWithThePictureSize) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  PlayerHooks hooks = NullHooks();
  hooks.makeRecorder = &MakeFakeRecorder;
  CH264Player player(1, hooks);
  EXPECT_EQ(player.OfferToRecorder(clip_[0].bytes.data(), 10, 1, 1, 1), 0);
  EXPECT_EQ(player.StartRecord("/tmp/x/rec.avi"), 1);
  FakeRecorder* recorder = gRecorder.load();
  ASSERT_NE(recorder, nullptr);
  EXPECT_EQ(recorder->started, "/tmp/x/rec.avi");
  EXPECT_EQ(recorder->startedKind, kRecordH264);
  player.Start();
  Feed(player, clip_, 0, 12);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 12; }));
  ASSERT_EQ(recorder->queue.Count(), 12u);
  QueuedFrame first;
  ASSERT_TRUE(recorder->queue.Pop(first));
  EXPECT_EQ(first.bytes, clip_[0].bytes);
  EXPECT_EQ(first.keyFlag, 1);
  EXPECT_EQ(first.frameValue, 0u);
  EXPECT_EQ(first.width, 320);
  EXPECT_EQ(first.height, 240);
  EXPECT_EQ(player.StopRecord(), 1);
  EXPECT_FALSE(player.Recording());
}

TEST_F(H264PlayerTest, SnapshotIsWrittenByTheNextDraw) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  RecordingSnapshots snapshots;
  PlayerHooks hooks = NullHooks();
  hooks.snapshots = &snapshots;
  CH264Player player(1, hooks);
  // No picture yet: the request waits for the first one.
  EXPECT_EQ(player.SnapShot("/tmp/first.jpg"), 1);
  EXPECT_TRUE(player.Display()->SnapshotPending());
  EXPECT_TRUE(snapshots.paths.empty());
  // A second request before that replaces the path; one file only.
  player.SnapShot("/tmp/second.jpg");
  player.Start();
  Feed(player, clip_, 0, 3);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 3; }));
  {
    std::lock_guard<std::mutex> hold(snapshots.lock);
    ASSERT_EQ(snapshots.paths, (std::vector<std::string>{"/tmp/second.jpg"}));
    EXPECT_EQ(snapshots.width, 320);
    EXPECT_EQ(snapshots.height, 240);
    EXPECT_TRUE(Close(snapshots.centre, 0x20, 0x80, 0xE0, kTolerance));
  }
  // With a stored picture the snapshot is taken at once.
  player.SnapShot("/tmp/third.jpg");
  std::lock_guard<std::mutex> hold(snapshots.lock);
  EXPECT_EQ(snapshots.paths.back(), "/tmp/third.jpg");
  EXPECT_FALSE(player.Display()->SnapshotPending());
}

// A writer that is slow on its first picture: it waits at a gate until the test opens it.
class GatedSnapshots : public SnapshotWriter {
 public:
  bool WritePicture(const char* path, const SurfaceView&) override {
    std::unique_lock<std::mutex> hold(lock);
    paths.push_back(path);
    if (paths.size() == 1) {
      opened.wait(hold, [this] { return open; });
    }
    return true;
  }
  bool WriteJpeg(const char*, const uint8_t*, size_t) override { return false; }

  std::mutex lock;
  std::condition_variable opened;
  bool open = false;
  std::vector<std::string> paths;
};

TEST_F(H264PlayerTest, SnapshotWriterRunsWithoutTheDisplayLockAndALaterRequestWaits) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  GatedSnapshots snapshots;
  PlayerHooks hooks = NullHooks();
  hooks.snapshots = &snapshots;
  CH264Player player(1, hooks);
  player.Start();
  Feed(player, clip_, 0, 1);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 1; }));
  // The next picture's draw (on the presenting thread) takes the request.
  player.Display()->RequestSnapshot("/tmp/gated-first.jpg", &snapshots);
  Feed(player, clip_, 1, 2);
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> hold(snapshots.lock);
    return !snapshots.paths.empty();
  }));
  // The presenting thread is inside the writer: the display still answers, and the request is
  // pending until the file is written.
  EXPECT_TRUE(player.Display()->SnapshotPending());
  player.SetOSDText("answered");
  EXPECT_EQ(player.Display()->OSDText(), "answered");
  // A repaint meanwhile does not write the same request a second time.
  player.Refresh();
  {
    std::lock_guard<std::mutex> hold(snapshots.lock);
    EXPECT_EQ(snapshots.paths.size(), 1u);
  }
  // A request made meanwhile is not taken for the one being written.
  player.Display()->RequestSnapshot("/tmp/gated-second.jpg", &snapshots);
  {
    std::lock_guard<std::mutex> hold(snapshots.lock);
    snapshots.open = true;
  }
  snapshots.opened.notify_all();
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 2; }));
  EXPECT_TRUE(player.Display()->SnapshotPending());
  player.Refresh();
  EXPECT_FALSE(player.Display()->SnapshotPending());
  std::lock_guard<std::mutex> hold(snapshots.lock);
  EXPECT_EQ(snapshots.paths,
            (std::vector<std::string>{"/tmp/gated-first.jpg", "/tmp/gated-second.jpg"}));
}

TEST_F(H264PlayerTest, OnScreenTextOnlyWhenSwitchedOn) {
  SKIP_WITHOUT(clip_, "solid_320x240.h264");
  CH264Player player(1, NullHooks());
  std::string longText(200, 'W');
  player.SetOSDText(longText.c_str());
  EXPECT_EQ(player.Display()->OSDText(), std::string(127, 'W'));
  player.SetOSDText("Front door");
  player.Start();
  Feed(player, clip_, 0, 2);
  ASSERT_TRUE(WaitFor([&] { return player.PicturesShown() == 2; }));
  auto* backend = NullBackend(player.Display());
  auto shown = backend->LastShown();
  EXPECT_EQ(DarkPixels(shown, 0, 0, 320, 240), 0) << "the switch starts off";

  player.EnableOSD(1);
  player.Refresh();
  shown = backend->LastShown();
  // Text at (5, h - 20), the clock at (w - 175, 5).
  EXPECT_GT(DarkPixels(shown, 5, 220, 100, 240), 20);
  EXPECT_GT(DarkPixels(shown, 145, 5, 320, 22), 40);
  EXPECT_EQ(DarkPixels(shown, 0, 60, 320, 200), 0);
  EXPECT_TRUE(Close(ShownAt(shown, 6, 221), 0xDC, 0xDC, 0xDC, 40) ||
              Close(ShownAt(shown, 6, 221), 0x32, 0x32, 0x32, 40));
}

namespace {
std::atomic<int> gLoudMessages{0};
void CountLoud(void*, int level, const char*, va_list) {
  if (level <= AV_LOG_WARNING) ++gLoudMessages;
}
}  // namespace

TEST(H264DecoderLog, ItsComplaintsStayQuietAndTheProcessLevelIsLeftAlone) {
  av_log_set_level(AV_LOG_WARNING);
  av_log_set_callback(&CountLoud);
  {
    rovik::player::H264Decoder decoder;
    ASSERT_TRUE(decoder.Ready());
    // A picture slice without the parameter sets it names: libavcodec complains at error level.
    const uint8_t orphan[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33, 0xff, 0x12, 0x34};
    rovik::player::I420View view;
    for (int i = 0; i < 5; ++i) decoder.Decode(orphan, sizeof orphan, view);
  }
  av_log(nullptr, AV_LOG_ERROR, "the process's own message\n");
  av_log_set_callback(&av_log_default_callback);
  EXPECT_EQ(av_log_get_level(), AV_LOG_WARNING);
  EXPECT_EQ(gLoudMessages.load(), 1) << "only the process's own message is loud";
}
