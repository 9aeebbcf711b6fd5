// QXDll end to end: the real player and P2PAPI stand-in against the camera simulator, video in
// an X11 window, audio to the player's output device (ALSA's file PCM, see CMakeLists.txt),
// microphone talk-back to the camera's file, messages both ways, and a camera sending hostile
// frame headers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "camsession/qx_api.h"
#include "p2p/protocol/p2p_wire.h"
#include "p2p/protocol/video_frame.h"
#include "tests/camsession/scripted_camera.h"
#include "tests/fixtures/camsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/wait_until.h"

// Xlib last: its macros (None, Status, ...) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace rovik::p2p;

using namespace std::chrono_literals;
using rovik::fixtures::CamsimProcess;
using rovik::fixtures::WaitUntil;

std::atomic<int> g_video[2];
std::atomic<int> g_audio[2];
std::mutex g_messagesLock;  // guards g_messages
std::vector<std::array<intptr_t, 4>> g_messages;

void OnAV(int32_t index, int32_t kind, const uint8_t*, int32_t, intptr_t) {
  if (index < 0 || index > 1) return;
  (kind != 0 ? g_video[index] : g_audio[index])++;
}

void OnMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3, intptr_t) {
  std::lock_guard<std::mutex> hold(g_messagesLock);
  g_messages.push_back({index, v1, v2, v3});
}

// Distinct colours in the window's picture.
size_t ColoursIn(Display* d, Window w, int width, int height) {
  XImage* image = XGetImage(d, w, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                            AllPlanes, ZPixmap);
  if (image == nullptr) return 0;
  std::set<unsigned long> colours;
  for (int y = 0; y < height; y += 4) {
    for (int x = 0; x < width; x += 4) colours.insert(XGetPixel(image, x, y));
  }
  XDestroyImage(image);
  return colours.size();
}

// A camera whose frame headers lie.
void SendLyingFrames(int, const ScriptedCamera::Send& send) {
  std::vector<uint8_t> lying(kVideoFrameHeaderBytes + 8, 0);
  WriteVideoFrameHeader(lying.data(), VideoFrameHeader{0, 1, 1u << 30});  // 1 GiB claimed
  send(EncodeWireFrame(kWireVideoFrame, lying.data(), lying.size()));
  const uint8_t shortFrame[10] = {0, 0, 0, 0, 2};  // header of 10 bytes
  send(EncodeWireFrame(kWireVideoFrame, shortFrame, sizeof shortFrame));
}

TEST(CamSessionEndToEnd, CameraShowsPlaysTalksAndAnswers) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') GTEST_SKIP() << "needs an X display (xvfb-run)";
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) GTEST_SKIP() << "cannot open the X display";
  const char* played = std::getenv("ROVIK_E2E_PLAYED");
  ASSERT_NE(played, nullptr);
  std::filesystem::remove(played);

  rovik::fixtures::TempDir dir;
  const auto talk = dir / "talk.pcm";
  CamsimProcess cam;
  ASSERT_TRUE(cam.Start({"--talk-out", talk.string()}));
  ScriptedCamera hostile(&SendLyingFrames);

  const int width = 320, height = 240;
  const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, width, height, 0, 0, 0);
  XMapWindow(d, window);
  XSync(d, False);

  ASSERT_EQ(QXAPI_Initial(0), 0);
  QXAPI_SetAVDataCallBack(&OnAV, 1);
  QXAPI_SetMessageCallBack(&OnMessage, 2);
  int32_t index = -1, bad = -1;
  ASSERT_EQ(QXAPI_CreateInstance(&index), 0);
  ASSERT_EQ(QXAPI_CreateInstance(&bad), 0);
  ASSERT_EQ(index, 0);
  ASSERT_EQ(bad, 1);
  const std::string address = cam.address();
  const std::string hostileAddress = hostile.address();
  const char* user = "admin";
  ASSERT_EQ(QXAPI_Start(index, reinterpret_cast<intptr_t>(address.c_str()),
                        reinterpret_cast<intptr_t>(user), reinterpret_cast<intptr_t>(user)),
            0);
  ASSERT_EQ(QXAPI_Start(bad, reinterpret_cast<intptr_t>(hostileAddress.c_str()),
                        reinterpret_cast<intptr_t>(user), reinterpret_cast<intptr_t>(user)),
            0);
  ASSERT_EQ(QXAPI_SetOSD(index, "Camera 1"), 0);
  // Audio first: the player is only started by the first video frame, which resets its audio;
  // the sound must survive that.
  ASSERT_EQ(QXAPI_StartAudio(index), 0);
  ASSERT_EQ(QXAPI_StartVideo(index, window, 0), 0);
  ASSERT_EQ(QXAPI_StartTalk(index), 0);
  ASSERT_EQ(QXAPI_StartVideo(bad, window, 0), 0);

  // Video: frames arrive and the picture shows in the window.
  EXPECT_TRUE(WaitUntil([] { return g_video[0] >= 50; }, 10s)) << g_video[0];
  EXPECT_TRUE(WaitUntil([&] { return ColoursIn(d, window, width, height) >= 4; }, 5s))
      << "the test picture's colour bars show in the window";
  // Audio: the player's output device receives the camera's tone.
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::error_code ec;
        return std::filesystem::file_size(played, ec) >= 10 * 640 && !ec;
      },
      5s));
  const std::string pcm = rovik::fixtures::ReadWholeFile(played);
  size_t sounding = 0;
  for (char c : pcm) sounding += c != '\0';
  EXPECT_GE(sounding, 5u * 640u / 2u) << "the camera's tone, not silence";
  // Talk-back: captured microphone audio reaches the camera's file in whole chunks.
  EXPECT_TRUE(
      WaitUntil([&] { return rovik::fixtures::ReadWholeFile(talk).size() >= 5 * 640; }, 5s));
  // Messages both ways.
  EXPECT_EQ(QXAPI_SendMessage(index, 41, 5, 6), 0);
  EXPECT_TRUE(WaitUntil(
      [] {
        std::lock_guard<std::mutex> hold(g_messagesLock);
        for (const auto& m : g_messages) {
          if (m[0] == 0 && m[1] == 42 && m[2] == 5 && m[3] == 6) return true;
        }
        return false;
      },
      3s));
  // The hostile camera's frames reached the callback and were survived.
  EXPECT_TRUE(WaitUntil([] { return g_video[1] >= 20; }, 5s));

  EXPECT_EQ(QXAPI_StopTalk(index), 0);
  EXPECT_EQ(QXAPI_StopAudio(index), 0);
  EXPECT_EQ(QXAPI_StopVideo(index), 0);
  EXPECT_EQ(QXAPI_Stop(index), 0);
  EXPECT_EQ(QXAPI_Stop(bad), 0);
  EXPECT_EQ(QXAPI_DestroyAllInstance(), 0);
  EXPECT_EQ(QXAPI_DeInitial(), 0);
  const size_t talked = rovik::fixtures::ReadWholeFile(talk).size();
  EXPECT_EQ(talked % 640, 0u);
  XDestroyWindow(d, window);
  XCloseDisplay(d);
}

}  // namespace
