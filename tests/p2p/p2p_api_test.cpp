// P2PAPI against the camera simulator: login, the three starts and their refusals, video frames
// with their header, audio blocks, talk-back to the camera's file, messages both ways.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "p2p/p2p_api.h"
#include "p2p/protocol/video_frame.h"
#include "tests/fixtures/camsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/wait_until.h"

namespace {

using namespace rovik::p2p;

using namespace std::chrono_literals;
using rovik::fixtures::CamsimProcess;
using rovik::fixtures::WaitUntil;

struct Seen {
  std::mutex lock;  // guards everything below
  std::vector<VideoFrameHeader> frames;
  std::vector<int32_t> audioLengths;
  std::vector<std::array<intptr_t, 3>> messages;
  std::vector<intptr_t> users;
  int badFrames = 0;
  int32_t handle = -1;
  int wrongHandle = 0;
};
Seen* g_seen = nullptr;

void OnAV(int32_t handle, int32_t kind, const uint8_t* data, int32_t length, intptr_t user) {
  std::lock_guard<std::mutex> hold(g_seen->lock);
  if (handle != g_seen->handle) ++g_seen->wrongHandle;
  g_seen->users.push_back(user);
  if (kind == P2PAPI_MEDIA_VIDEO) {
    VideoFrameHeader h;
    if (ParseVideoFrame(data, length, &h) &&
        h.payloadLength == static_cast<uint32_t>(length) - kVideoFrameHeaderBytes) {
      g_seen->frames.push_back(h);
    } else {
      ++g_seen->badFrames;
    }
  } else {
    g_seen->audioLengths.push_back(length);
  }
}

void OnMessage(int32_t handle, intptr_t v1, intptr_t v2, intptr_t v3, intptr_t user) {
  std::lock_guard<std::mutex> hold(g_seen->lock);
  if (handle != g_seen->handle) ++g_seen->wrongHandle;
  g_seen->users.push_back(user);
  g_seen->messages.push_back({v1, v2, v3});
}

class P2PApi : public testing::Test {
 protected:
  void SetUp() override {
    g_seen = &seen_;
    P2PAPI_InitialWithServer(0);
    ASSERT_EQ(P2PAPI_CreateInstance(&handle_), P2PAPI_OK);
    seen_.handle = handle_;
    P2PAPI_SetAVDataCallBack(handle_, &OnAV, 7);
    P2PAPI_SetMessageCallBack(handle_, &OnMessage, 7);
  }
  void TearDown() override {
    P2PAPI_DestroyInstance(handle_);
    P2PAPI_DeInitial();
  }
  int32_t Connect(CamsimProcess& cam, const char* user = "admin", const char* pass = "admin") {
    const std::string address = cam.address();
    return P2PAPI_Connect(handle_, reinterpret_cast<intptr_t>(address.c_str()),
                          reinterpret_cast<intptr_t>(user), reinterpret_cast<intptr_t>(pass));
  }

  Seen seen_;
  int32_t handle_ = -1;
};

TEST_F(P2PApi, StreamsVideoAndAudioWithTheirShapes) {
  CamsimProcess cam;
  ASSERT_TRUE(cam.Start());
  ASSERT_EQ(Connect(cam), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_StartVideo(handle_, 0), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_StartAudio(handle_), P2PAPI_OK);
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> hold(seen_.lock);
        return seen_.frames.size() >= 30 && seen_.audioLengths.size() >= 20;
      },
      5000ms));
  EXPECT_EQ(P2PAPI_StopVideo(handle_), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_StopAudio(handle_), P2PAPI_OK);
  std::lock_guard<std::mutex> hold(seen_.lock);
  EXPECT_EQ(seen_.badFrames, 0);
  EXPECT_EQ(seen_.wrongHandle, 0);
  EXPECT_EQ(seen_.frames[0].frameType, 0) << "the clip starts with a key frame";
  int keys = 0;
  for (size_t i = 0; i < seen_.frames.size(); ++i) {
    EXPECT_LE(seen_.frames[i].frameType, 1);
    keys += seen_.frames[i].frameType == 0;
    if (i > 0) {
      EXPECT_EQ(seen_.frames[i].frameValue, seen_.frames[i - 1].frameValue + 40);
    }
  }
  EXPECT_GE(keys, 1);
  EXPECT_LT(keys, static_cast<int>(seen_.frames.size()));
  for (int32_t n : seen_.audioLengths) EXPECT_EQ(n, 640);
  for (intptr_t u : seen_.users) EXPECT_EQ(u, 7);
  // The first message is the library's own: connected.
  ASSERT_FALSE(seen_.messages.empty());
  EXPECT_EQ(seen_.messages[0][0], P2PAPI_MSG_STATUS);
  EXPECT_EQ(seen_.messages[0][1], P2PAPI_STATUS_CONNECTED);
}

TEST_F(P2PApi, JpegFramesCarryTypeTwo) {
  rovik::fixtures::TempDir dir;
  // A tiny JPEG is enough: the camera does not look inside it.
  const std::string jpeg("\xFF\xD8\xFF\xE0 not really a picture \xFF\xD9", 26);
  ASSERT_TRUE(dir.WriteFile("a.jpg", jpeg));
  CamsimProcess cam;
  ASSERT_TRUE(cam.Start({"--jpeg", dir.Path().string(), "--fps", "10"}));
  ASSERT_EQ(Connect(cam), P2PAPI_OK);
  ASSERT_EQ(P2PAPI_StartVideo(handle_, 0), P2PAPI_OK);
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> hold(seen_.lock);
        return seen_.frames.size() >= 3;
      },
      3000ms));
  std::lock_guard<std::mutex> hold(seen_.lock);
  for (const auto& f : seen_.frames) {
    EXPECT_EQ(f.frameType, 2);
    EXPECT_EQ(f.payloadLength, jpeg.size());
  }
}

TEST_F(P2PApi, LoginAndRefusals) {
  CamsimProcess cam;
  rovik::fixtures::TempDir dir;
  ASSERT_TRUE(cam.Start({"--refuse", "video,audio,talk", "--user", "u1", "--password-file",
                         rovik::fixtures::WriteSecretFile(dir / "camera.pw", "p1")}));
  EXPECT_EQ(Connect(cam, "u1", "wrong"), P2PAPI_ERR_LOGIN);
  EXPECT_EQ(P2PAPI_StartVideo(handle_, 0), P2PAPI_REFUSED) << "not connected";
  EXPECT_NE(P2PAPI_SendMessage(handle_, 1, 2, 3), 0) << "nothing is sent without a connection";
  ASSERT_EQ(Connect(cam, "u1", "p1"), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_StartVideo(handle_, 0), P2PAPI_REFUSED);
  EXPECT_EQ(P2PAPI_StartAudio(handle_), P2PAPI_REFUSED);
  EXPECT_EQ(P2PAPI_StartTalk(handle_), P2PAPI_REFUSED);
  EXPECT_EQ(P2PAPI_Close(handle_), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_StartAudio(handle_), P2PAPI_REFUSED);

  int32_t other = -1;
  ASSERT_EQ(P2PAPI_CreateInstance(&other), P2PAPI_OK);
  const std::string nowhere = "127.0.0.1:1";
  EXPECT_EQ(P2PAPI_Connect(other, reinterpret_cast<intptr_t>(nowhere.c_str()), 0, 0),
            P2PAPI_ERR_CONNECT);
  EXPECT_EQ(P2PAPI_Connect(other, 0, 0, 0), P2PAPI_ERR_HANDLE);
  EXPECT_EQ(P2PAPI_DestroyInstance(other), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_DestroyInstance(other), P2PAPI_ERR_HANDLE);
}

TEST_F(P2PApi, HandlesMinusOneAndStaleHandlesHarmlessly) {
  EXPECT_EQ(P2PAPI_DestroyInstance(-1), P2PAPI_ERR_HANDLE);
  EXPECT_EQ(P2PAPI_Close(-1), P2PAPI_ERR_HANDLE);
  EXPECT_EQ(P2PAPI_StopVideo(-1), P2PAPI_ERR_HANDLE);
  const uint8_t pcm[640] = {};
  EXPECT_EQ(P2PAPI_TalkData(-1, pcm, 640), P2PAPI_ERR_HANDLE);
  EXPECT_EQ(P2PAPI_TalkData(handle_, nullptr, 640), P2PAPI_ERR_HANDLE);
  EXPECT_EQ(P2PAPI_TalkData(handle_, pcm, -5), P2PAPI_ERR_HANDLE);
  EXPECT_EQ(P2PAPI_CreateInstance(nullptr), P2PAPI_ERR_HANDLE);
}

TEST_F(P2PApi, TalkBackReachesTheCameraAndMessagesRoundTrip) {
  rovik::fixtures::TempDir dir;
  const auto talk = dir / "talk.pcm";
  CamsimProcess cam;
  ASSERT_TRUE(cam.Start({"--talk-out", talk.string()}));
  ASSERT_EQ(Connect(cam), P2PAPI_OK);
  uint8_t pcm[640];
  for (int i = 0; i < 640; ++i) pcm[i] = static_cast<uint8_t>(i);
  // Before StartTalk the camera ignores talk-back.
  EXPECT_EQ(P2PAPI_TalkData(handle_, pcm, 640), P2PAPI_OK);
  ASSERT_EQ(P2PAPI_StartTalk(handle_), P2PAPI_OK);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(P2PAPI_TalkData(handle_, pcm, 640), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_SendMessage(handle_, 41, 5, -6), 0);
  // camsim answers (0, 3, 0) with (1, 3, 0): the library's own "lost" report, forged.
  EXPECT_EQ(P2PAPI_SendMessage(handle_, 0, P2PAPI_STATUS_LOST, 0), 0);
  ASSERT_TRUE(
      WaitUntil([&] { return rovik::fixtures::ReadWholeFile(talk).size() == 5 * 640; }, 3000ms));
  const std::string written = rovik::fixtures::ReadWholeFile(talk);
  EXPECT_EQ(0, memcmp(written.data() + 640, pcm, 640));
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> hold(seen_.lock);
        for (const auto& m : seen_.messages) {
          if (m[0] == 42) return true;
        }
        return false;
      },
      3000ms));
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> hold(seen_.lock);
        for (const auto& m : seen_.messages) {
          if (m[0] == P2PAPI_MSG_CAMERA_RESERVED) return true;
        }
        return false;
      },
      3000ms));
  std::lock_guard<std::mutex> hold(seen_.lock);
  int states = 0;
  for (const auto& m : seen_.messages) {
    if (m[0] == 42) {
      EXPECT_EQ(m[1], 5);
      EXPECT_EQ(m[2], -6);
    }
    if (m[0] == P2PAPI_MSG_CAMERA_RESERVED) {
      EXPECT_EQ(m[1], P2PAPI_STATUS_LOST);
      EXPECT_EQ(m[2], 0);
    }
    if (m[0] == P2PAPI_MSG_STATUS) {
      ++states;
      EXPECT_EQ(m[1], P2PAPI_STATUS_CONNECTED) << "the camera's (1, 3, 0) is not the library's";
    }
  }
  EXPECT_EQ(states, 1);
}

TEST_F(P2PApi, ALostCameraIsReportedAndCloseEndsDelivery) {
  CamsimProcess cam;
  ASSERT_TRUE(cam.Start());
  ASSERT_EQ(Connect(cam), P2PAPI_OK);
  ASSERT_EQ(P2PAPI_StartVideo(handle_, 0), P2PAPI_OK);
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> hold(seen_.lock);
        return seen_.frames.size() >= 2;
      },
      3000ms));
  cam.child().Kill();
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> hold(seen_.lock);
        return !seen_.messages.empty() && seen_.messages.back()[1] == P2PAPI_STATUS_LOST;
      },
      3000ms));
  EXPECT_EQ(P2PAPI_SendMessage(handle_, 1, 1, 1), P2PAPI_ERR_NOT_CONNECTED);
  EXPECT_EQ(P2PAPI_Close(handle_), P2PAPI_OK);
}

std::atomic<int> g_selfDestroyed{-100};

void DestroyOnConnect(int32_t handle, intptr_t v1, intptr_t v2, intptr_t, intptr_t) {
  if (v1 == P2PAPI_MSG_STATUS && v2 == P2PAPI_STATUS_CONNECTED) {
    g_selfDestroyed = P2PAPI_DestroyInstance(handle);  // on the instance's own reader thread
  }
}

TEST(P2PApiCallbacks, AnInstanceMayBeDestroyedFromItsOwnCallback) {
  CamsimProcess cam;
  ASSERT_TRUE(cam.Start());
  int32_t handle = -1;
  ASSERT_EQ(P2PAPI_CreateInstance(&handle), P2PAPI_OK);
  P2PAPI_SetMessageCallBack(handle, &DestroyOnConnect, 0);
  const std::string address = cam.address();
  ASSERT_EQ(
      P2PAPI_Connect(handle, reinterpret_cast<intptr_t>(address.c_str()),
                     reinterpret_cast<intptr_t>("admin"), reinterpret_cast<intptr_t>("admin")),
      P2PAPI_OK);
  ASSERT_TRUE(WaitUntil([] { return g_selfDestroyed != -100; }, 3000ms));
  EXPECT_EQ(g_selfDestroyed.load(), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_StartVideo(handle, 0), P2PAPI_ERR_HANDLE) << "the handle is gone";
  // Another instance still works, and de-initialising joins the destroyed one's thread.
  int32_t other = -1;
  ASSERT_EQ(P2PAPI_CreateInstance(&other), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_DestroyInstance(other), P2PAPI_OK);
  EXPECT_EQ(P2PAPI_DeInitial(), P2PAPI_OK);
}

}  // namespace
