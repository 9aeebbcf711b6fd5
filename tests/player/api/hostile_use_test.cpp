// The exports under hostile use: a PCM callback that calls back into the library while the
// capture is stopped and started at any pace, and pictures whose headers claim sizes far beyond
// any camera's, shown in a real X window with the process's memory measured around them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <thread>

#include "player/api/qx_play_api.h"
#include "tests/fixtures/test_window.h"
#include "tests/fixtures/wait_until.h"
#include "tests/player/fixtures/hostile_media.h"

using namespace rovik_test;
using namespace std::chrono_literals;
using rovik::fixtures::Rgb;
using rovik::fixtures::TestWindow;
using rovik::fixtures::WaitUntil;

namespace {

constexpr size_t kMiB = size_t{1} << 20;

// Runs `steps` on a thread of its own; when they have not ended within `limit` the library is
// locked up for good, and the process ends with a failure rather than hang the suite.
void WithinOrDie(std::chrono::seconds limit, const char* what, const std::function<void()>& steps) {
  std::packaged_task<void()> task(steps);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: %s did not end within %lld s: the exports are locked up\n", what,
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(1);
  }
  runner.join();
  done.get();
}

class HostileUse : public ::testing::Test {
 protected:
  void SetUp() override {
    QX_PLAY_API_DeInitial();
    ASSERT_EQ(QX_PLAY_API_Initial(), 0);
    ASSERT_EQ(QX_PLAY_API_CreateInstance(&slot_), 0);
  }
  void TearDown() override {
    QX_PLAY_API_StopCapture();
    QX_PLAY_API_DeInitial();
    QX_PLAY_API_SetPCMDataCallBack(nullptr, 0);
  }

  // Maps the test's window; false without an X display.
  bool OpenWindow() {
    window_ = std::make_unique<TestWindow>(kWidth, kHeight);
    return window_->Valid();
  }

  // Waits until the middle of the window shows the colour (the server draws asynchronously).
  // Like a caller answering an expose, the test asks for a repaint of the stored picture while
  // the colour is not there.
  bool Shows(int r, int g, int b) {
    Rgb got{-1, -1, -1};
    const bool seen = WaitUntil(
        [&] {
          got = window_->PixelAt(kWidth / 2, kHeight / 2);
          if (rovik::fixtures::Near(got, {r, g, b}, 40)) {
            return true;
          }
          QX_PLAY_API_Refresh(slot_);
          return false;
        },
        10000ms);
    if (!seen) ADD_FAILURE() << "window shows " << got.r << "," << got.g << "," << got.b;
    return seen;
  }

  int Input(const std::vector<uint8_t>& frame) {
    return QX_PLAY_API_InputVideoFrame(slot_, 1, frame.data(), static_cast<int>(frame.size()), 0);
  }

  static constexpr int kWidth = 320;
  static constexpr int kHeight = 240;
  int slot_ = -1;
  std::unique_ptr<TestWindow> window_;
};

// What the callback of the capture tests does with every chunk: calls exports, including one
// that waits for the library lock.
struct CallingBack {
  std::atomic<int> slot{-1};
  std::atomic<int> calls{0};
  std::atomic<int> failures{0};
};
CallingBack g_back;

void CallExportsFromCallback(const unsigned char* pcm, uint32_t length, uintptr_t user) {
  g_back.calls.fetch_add(1);
  // Stay a while, so that stops and starts often find the callback running.
  std::this_thread::sleep_for(8ms);
  if (QX_PLAY_API_InputPCMData(g_back.slot.load(), pcm, static_cast<int>(length)) != 0) {
    g_back.failures.fetch_add(1);
  }
  QX_PLAY_API_Refresh(g_back.slot.load());
  QX_PLAY_API_SetPCMDataCallBack(&CallExportsFromCallback, user);
}

void StopCaptureFromCallback(const unsigned char*, uint32_t, uintptr_t) {
  g_back.calls.fetch_add(1);
  if (QX_PLAY_API_StopCapture() != 0) g_back.failures.fetch_add(1);
}

}  // namespace

TEST_F(HostileUse, CaptureStopsAndStartsAtAnyPaceWhileTheCallbackCallsExports) {
  g_back.slot = slot_;
  g_back.calls = 0;
  g_back.failures = 0;
  ASSERT_EQ(QX_PLAY_API_PlayAudio(slot_), 0);
  ASSERT_EQ(QX_PLAY_API_SetPCMDataCallBack(&CallExportsFromCallback, 3), 0);
  WithinOrDie(60s, "40 stops and starts of the capture", [] {
    std::mt19937 rng(20);
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(QX_PLAY_API_StartCapture(), 0);
      // Back to back, or after one or a few chunks.
      std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 4 == 0 ? 0 : rng() % 90));
      EXPECT_EQ(QX_PLAY_API_StopCapture(), 0);
    }
  });
  EXPECT_GT(g_back.calls.load(), 5) << "the callback ran while the capture came and went";
  EXPECT_EQ(g_back.failures.load(), 0);
  // The library still answers: a new capture delivers to the callback.
  const int before = g_back.calls.load();
  WithinOrDie(10s, "a start after the sequence", [] { EXPECT_EQ(QX_PLAY_API_StartCapture(), 0); });
  EXPECT_TRUE(WaitUntil([&] { return g_back.calls.load() > before; }, 5000ms));
  int index = -1;
  EXPECT_EQ(QX_PLAY_API_CreateInstance(&index), 0);
}

TEST_F(HostileUse, CallbackMayStopTheCaptureItRunsOn) {
  g_back.calls = 0;
  g_back.failures = 0;
  ASSERT_EQ(QX_PLAY_API_SetPCMDataCallBack(&StopCaptureFromCallback, 0), 0);
  WithinOrDie(10s, "a capture stopped from its callback", [] {
    ASSERT_EQ(QX_PLAY_API_StartCapture(), 0);
    ASSERT_TRUE(WaitUntil([] { return g_back.calls.load() >= 1; }, 5000ms));
    // Stopped by its first chunk: no more come. Started again, it delivers (and stops) again.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_back.calls.load(), 1);
    ASSERT_EQ(QX_PLAY_API_StartCapture(), 0);
    EXPECT_TRUE(WaitUntil([] { return g_back.calls.load() >= 2; }, 5000ms));
  });
  EXPECT_EQ(g_back.failures.load(), 0);
}

TEST_F(HostileUse, JpegClaimingAHugeSizeCostsNoMemoryAndTheNextPictureShows) {
  if (!OpenWindow()) GTEST_SKIP() << "no X display: run under xvfb-run";
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot_, QX_PLAY_DECODER_JPEG, window_->Id()), 0);
  ASSERT_EQ(QX_PLAY_API_SetOSD(slot_, ""), 0);
  // A few hundred bytes claiming 8000 x 8000 pixels; a picture at the largest size taken.
  const auto hostile = JpegClaiming(SolidJpeg(64, 48, 0, 255, 0), 8000, 8000);
  ASSERT_LT(hostile.size(), 2000u);
  const auto largest = SolidJpeg(4096, 2304, 0, 255, 0);
  const auto blue = SolidJpeg(kWidth, kHeight, 0, 0, 255);
  ASSERT_EQ(Input(SolidJpeg(kWidth, kHeight, 255, 0, 0)), 0);
  ASSERT_TRUE(Shows(255, 0, 0));
  const size_t before = ResidentBytes();

  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(Input(hostile), 0);
    std::this_thread::sleep_for(30ms);
  }
  // The largest picture is shown, and its space given back once the pictures are small again.
  ASSERT_EQ(Input(largest), 0);
  ASSERT_TRUE(Shows(0, 255, 0));
  ASSERT_EQ(Input(blue), 0);
  ASSERT_TRUE(Shows(0, 0, 255));
  const size_t after = ResidentBytes();
  std::printf("resident memory %zu MiB before, %zu MiB after\n", before / kMiB, after / kMiB);
  EXPECT_LE(after, before + 100 * kMiB);
}

TEST_F(HostileUse, H264ParameterSetsClaimingAHugeSizeCostNoMemoryAndTheNextPictureShows) {
  if (!OpenWindow()) GTEST_SKIP() << "no X display: run under xvfb-run";
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot_, QX_PLAY_DECODER_H264, window_->Id()), 0);
  ASSERT_EQ(Input(SolidH264Unit(kWidth, kHeight, 81, 90, 240)), 0);  // red
  ASSERT_TRUE(Shows(255, 0, 0));
  const size_t before = ResidentBytes();

  // Parameter sets claiming 8000 x 8000 and 16384 x 16384, each with a slice of a few
  // macroblocks, between normal pictures that bring their own parameter sets again.
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Input(PcmH264Unit(8000, 8000, 4, 81, 90, 240)), 0);
    ASSERT_EQ(Input(PcmH264Unit(16384, 16384, 2, 81, 90, 240)), 0);
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(Input(SolidH264Unit(kWidth, kHeight, 41, 240, 110)), 0);  // blue
  ASSERT_TRUE(Shows(0, 0, 255));
  const size_t after = ResidentBytes();
  std::printf("resident memory %zu MiB before, %zu MiB after\n", before / kMiB, after / kMiB);
  EXPECT_LE(after, before + 100 * kMiB);
}
