// QXDll with the real P2PAPI stand-in and player, against camsim and cameras that stop reading:
// the caller calls back into the library from its callbacks (refresh, messages, reconnecting,
// stopping, destroying, de-initialising), and a camera that does not read holds up nobody.
// Every wait here is bounded by the test's time-out: a deadlock shows as a time-out.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsession/qx_api.h"
#include "p2p/p2p_api.h"
#include "tests/camsession/mute_camera.h"
#include "tests/fixtures/camsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/wait_until.h"

namespace {

using namespace std::chrono_literals;
using rovik::fixtures::CamsimProcess;
using rovik::fixtures::WaitUntil;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// What the callbacks saw, and what they are to do: the test sets a hook per camera index.
struct Callbacks {
  std::mutex lock;                                // guards messages, onMessage, onFrame
  std::vector<std::array<intptr_t, 4>> messages;  // index, v1, v2, v3
  std::function<void(int32_t, intptr_t, intptr_t, intptr_t)> onMessage;
  std::function<void(int32_t)> onFrame;
  std::atomic<int> frames[64] = {};

  bool Saw(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3) {
    std::lock_guard<std::mutex> hold(lock);
    for (const auto& m : messages) {
      if (m[0] == index && m[1] == v1 && m[2] == v2 && m[3] == v3) return true;
    }
    return false;
  }
  int Count(int32_t index, intptr_t v1, intptr_t v2) {
    std::lock_guard<std::mutex> hold(lock);
    int n = 0;
    for (const auto& m : messages) n += m[0] == index && m[1] == v1 && m[2] == v2;
    return n;
  }
};
Callbacks* g_cb = nullptr;

void OnMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3, intptr_t) {
  std::function<void(int32_t, intptr_t, intptr_t, intptr_t)> hook;
  {
    std::lock_guard<std::mutex> hold(g_cb->lock);
    g_cb->messages.push_back({index, v1, v2, v3});
    hook = g_cb->onMessage;
  }
  if (hook) hook(index, v1, v2, v3);
}

void OnAV(int32_t index, int32_t kind, const uint8_t*, int32_t, intptr_t) {
  if (kind == 0 || index < 0 || index >= 64) return;
  ++g_cb->frames[index];
  std::function<void(int32_t)> hook;
  {
    std::lock_guard<std::mutex> hold(g_cb->lock);
    hook = g_cb->onFrame;
  }
  if (hook) hook(index);
}

class CallBack : public testing::Test {
 protected:
  void SetUp() override {
    g_cb = &cb_;
    ASSERT_TRUE(cam_.Start({"--talk-out", (dir_ / "talk.pcm").string()}));
    ASSERT_EQ(QXAPI_Initial(0), 0);
    QXAPI_SetMessageCallBack(&OnMessage, 0);
    QXAPI_SetAVDataCallBack(&OnAV, 0);
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> hold(cb_.lock);
      cb_.onMessage = nullptr;
      cb_.onFrame = nullptr;
    }
    QXAPI_DestroyAllInstance();
    QXAPI_DeInitial();
    QXAPI_SetMessageCallBack(nullptr, 0);
    QXAPI_SetAVDataCallBack(nullptr, 0);
  }

  int32_t Create() {
    int32_t index = -1;
    EXPECT_EQ(QXAPI_CreateInstance(&index), 0);
    return index;
  }
  // QXAPI_Start with camsim's address (or another), user and password "admin".
  static int32_t Start(int32_t index, const std::string& address) {
    static const char* const kAdmin = "admin";
    return QXAPI_Start(index, reinterpret_cast<intptr_t>(address.c_str()),
                       reinterpret_cast<intptr_t>(kAdmin), reinterpret_cast<intptr_t>(kAdmin));
  }
  void OnMessageDo(std::function<void(int32_t, intptr_t, intptr_t, intptr_t)> f) {
    std::lock_guard<std::mutex> hold(cb_.lock);
    cb_.onMessage = std::move(f);
  }
  void OnFrameDo(std::function<void(int32_t)> f) {
    std::lock_guard<std::mutex> hold(cb_.lock);
    cb_.onFrame = std::move(f);
  }

  rovik::fixtures::TempDir dir_;
  CamsimProcess cam_;
  Callbacks cb_;
  std::string address_;
};

TEST_F(CallBack, RefreshAndMessagesFromCallbacksWhileStopRuns) {
  const std::string address = cam_.address();
  const int32_t a = Create();
  // Every frame and every camera message calls back into the library for the same camera.
  std::atomic<int> answered{0};
  std::atomic<bool> inside{false};
  OnFrameDo([&](int32_t index) {
    // Announces that the connection's thread is in here, so that Stop comes while it is; the
    // pause only lets Stop get under way before the calls back.
    if (!inside.exchange(true)) std::this_thread::sleep_for(50ms);
    QXAPI_Refresh(index);
    if (g_cb->frames[index] % 5 == 0) QXAPI_SendMessage(index, 100, 0, 0);
  });
  OnMessageDo([&](int32_t index, intptr_t v1, intptr_t, intptr_t) {
    if (v1 == 101) {
      ++answered;
      QXAPI_Refresh(index);
      QXAPI_SnapShot(index, nullptr);
    }
  });
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(Start(a, address), 0);
    ASSERT_EQ(QXAPI_StartVideo(a, 0, 0), 0);
    const int before = cb_.frames[a];
    ASSERT_TRUE(WaitUntil([&] { return cb_.frames[a] >= before + 10; }, 5s)) << "round " << round;
    // Stop while the connection's thread is inside the callbacks, calling back.
    inside = false;
    ASSERT_TRUE(WaitUntil([&] { return inside.load(); }, 5s));
    EXPECT_EQ(QXAPI_Stop(a), 0);
    const int after = cb_.frames[a];
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(cb_.frames[a], after) << "nothing is delivered once Stop has returned";
  }
  EXPECT_GT(answered, 0) << "the camera's answers reached the callback";
  EXPECT_EQ(QXAPI_DestroyInstance(a), 0);
}

TEST_F(CallBack, ReconnectFromTheConnectionsOwnCallback) {
  const std::string address = cam_.address();
  const int32_t a = Create();
  std::atomic<int> connects{0};
  std::atomic<int32_t> reconnectResult{-100};
  OnMessageDo([&](int32_t index, intptr_t v1, intptr_t v2, intptr_t) {
    if (index != a || v1 != P2PAPI_MSG_STATUS || v2 != P2PAPI_STATUS_CONNECTED) return;
    // On the first connection's own thread: start again, which ends that very connection.
    if (++connects == 1) reconnectResult = Start(index, address);
  });
  ASSERT_EQ(Start(a, address), 0);
  ASSERT_TRUE(WaitUntil([&] { return connects >= 2; }, 10s));
  EXPECT_EQ(reconnectResult.load(), 0);
  // The new connection works, and the old one's end is no loss.
  ASSERT_EQ(QXAPI_StartVideo(a, 0, 0), 0);
  EXPECT_TRUE(WaitUntil([&] { return cb_.frames[a] >= 5; }, 5s));
  EXPECT_EQ(cb_.Count(a, P2PAPI_MSG_STATUS, P2PAPI_STATUS_LOST), 0);
  // Reconnecting from a frame of the running stream too; then the camera answers messages.
  std::atomic<bool> again{true};
  OnFrameDo([&](int32_t index) {
    if (index == a && again.exchange(false)) Start(index, address);
  });
  ASSERT_TRUE(WaitUntil([&] { return connects >= 3; }, 10s));
  EXPECT_EQ(QXAPI_SendMessage(a, 41, 1, 2), 0);
  EXPECT_TRUE(WaitUntil([&] { return cb_.Saw(a, 42, 1, 2); }, 5s));
  EXPECT_EQ(QXAPI_Stop(a), 0);
}

// Each of the exports that end connections, called from a frame callback of camera a while
// camera b streams too: it returns, and the library goes on working.
TEST_F(CallBack, EndingExportsFromInsideCallbacks) {
  const std::string address = cam_.address();
  struct Case {
    const char* name;
    std::function<int32_t(int32_t a, int32_t b)> call;
  };
  const std::vector<Case> cases = {
      {"Stop own", [](int32_t a, int32_t) { return QXAPI_Stop(a); }},
      {"Destroy other", [](int32_t, int32_t b) { return QXAPI_DestroyInstance(b); }},
      {"Destroy own", [](int32_t a, int32_t) { return QXAPI_DestroyInstance(a); }},
      {"StopAll", [](int32_t, int32_t) { return QXAPI_StopAll(); }},
      {"DestroyAll", [](int32_t, int32_t) { return QXAPI_DestroyAllInstance(); }},
      {"DeInitial", [](int32_t, int32_t) { return QXAPI_DeInitial(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QXAPI_Initial(0);  // again after the DeInitial case; does nothing otherwise
    const int32_t a = Create();
    const int32_t b = Create();
    ASSERT_EQ(Start(a, address), 0);
    ASSERT_EQ(Start(b, address), 0);
    ASSERT_EQ(QXAPI_StartVideo(b, 0, 0), 0);
    const int streaming = cb_.frames[b];
    ASSERT_TRUE(WaitUntil([&] { return cb_.frames[b] >= streaming + 3; }, 5s));
    std::atomic<int32_t> result{-100};
    std::atomic<bool> fire{true};
    OnFrameDo([&](int32_t index) {
      if (index == a && fire.exchange(false)) result = c.call(a, b);
    });
    // The first frame may arrive, and destroy a, before StartVideo returns: then it is -4.
    const int32_t started = QXAPI_StartVideo(a, 0, 0);
    ASSERT_TRUE(started == 0 || started == -4) << started;
    ASSERT_TRUE(WaitUntil([&] { return result != -100; }, 5s));
    EXPECT_EQ(result.load(), 0);
    OnFrameDo(nullptr);
    // The library still works: a new camera instance connects and streams.
    QXAPI_Initial(0);
    QXAPI_DestroyAllInstance();
    const int32_t fresh = Create();
    ASSERT_GE(fresh, 0);
    const int before = cb_.frames[fresh];
    ASSERT_EQ(Start(fresh, address), 0);
    ASSERT_EQ(QXAPI_StartVideo(fresh, 0, 0), 0);
    EXPECT_TRUE(WaitUntil([&] { return cb_.frames[fresh] >= before + 3; }, 5s));
    EXPECT_EQ(QXAPI_DestroyAllInstance(), 0);
  }
}

TEST_F(CallBack, ACameraThatStopsReadingHoldsUpNobody) {
  const std::string address = cam_.address();
  // b answers the start of talk-back, then forges the library's state reports and stops
  // reading; c stops reading at once.
  MuteCamera mute(1, {{P2PAPI_MSG_STATUS, P2PAPI_STATUS_LOST, 0},
                      {P2PAPI_MSG_STATUS, P2PAPI_STATUS_CONNECTED, 0}});
  MuteCamera muteToo;
  const int32_t a = Create();
  const int32_t b = Create();
  const int32_t c = Create();
  ASSERT_EQ(Start(a, address), 0);
  ASSERT_EQ(QXAPI_StartTalk(a), 0);
  ASSERT_EQ(Start(b, mute.address()), 0);
  ASSERT_EQ(QXAPI_StartTalk(b), 0) << "microphone audio goes to the stalled camera too";
  ASSERT_EQ(Start(c, muteToo.address()), 0);
  ASSERT_TRUE(WaitUntil([&] { return mute.muted() == 1 && muteToo.muted() == 1; }, 5s));

  // The forged reports arrive as the camera's own messages.
  ASSERT_TRUE(WaitUntil([&] { return cb_.Saw(b, P2PAPI_MSG_CAMERA_RESERVED, 1, 0); }, 5s));
  EXPECT_TRUE(cb_.Saw(b, P2PAPI_MSG_CAMERA_RESERVED, P2PAPI_STATUS_LOST, 0));
  EXPECT_EQ(cb_.Count(b, P2PAPI_MSG_STATUS, P2PAPI_STATUS_LOST), 0);
  EXPECT_EQ(cb_.Count(b, P2PAPI_MSG_STATUS, P2PAPI_STATUS_CONNECTED), 1);

  // Flood b and c with messages until their sends are stuck.
  std::atomic<int32_t> floodEnd{0};
  std::atomic<int64_t> cCallStart{0};  // ms since t0 of the call to c in progress; -1 none
  const auto t0 = Clock::now();
  std::thread floodB([&] {
    for (int i = 0; floodEnd == 0; ++i) {
      const int32_t r = QXAPI_SendMessage(b, 7, i, 0);
      if (r != 0) floodEnd = r;
    }
  });
  std::atomic<int32_t> cEnd{0};
  std::thread floodC([&] {
    for (int i = 0; cEnd == 0; ++i) {
      cCallStart = MsSince(t0);
      const int32_t r = QXAPI_SendMessage(c, 7, i, 0);
      cCallStart = -1;
      if (r != 0) cEnd = r;
    }
  });
  // Meanwhile camera a answers at once, every time.
  int64_t slowest = 0;
  int sent = 0;
  bool destroyedC = false;
  int64_t destroyMs = -1;
  while (floodEnd == 0 || !destroyedC) {
    auto t = Clock::now();
    EXPECT_EQ(QXAPI_Refresh(a), 0);
    EXPECT_EQ(QXAPI_SendMessage(a, 41, sent++, 0), 0);
    slowest = std::max(slowest, MsSince(t));
    // c is destroyed while a send to it is stuck.
    const int64_t inCall = cCallStart;
    if (!destroyedC && inCall >= 0 && MsSince(t0) - inCall > 200) {
      t = Clock::now();
      EXPECT_EQ(QXAPI_DestroyInstance(c), 0);
      destroyMs = MsSince(t);
      destroyedC = true;
    }
    std::this_thread::sleep_for(2ms);
    ASSERT_LT(MsSince(t0), 60000) << "the floods never got stuck";
  }
  floodB.join();
  floodC.join();
  EXPECT_EQ(floodEnd.load(), -6) << "a message the camera did not take fails";
  EXPECT_LT(destroyMs, 2000) << "destroying a stalled camera";
  EXPECT_TRUE(cEnd == -6 || cEnd == -4) << cEnd;
  EXPECT_LT(slowest, 1000) << "calls on camera a never waited for the stalled ones";
  // b's connection was ended and reported lost; a went on answering and receiving talk-back.
  EXPECT_TRUE(
      WaitUntil([&] { return cb_.Count(b, P2PAPI_MSG_STATUS, P2PAPI_STATUS_LOST) == 1; }, 3s));
  EXPECT_EQ(QXAPI_SendMessage(b, 1, 2, 3), -6);
  EXPECT_TRUE(WaitUntil([&] { return cb_.Saw(a, 42, sent - 1, 0); }, 5s));
  const size_t talked = rovik::fixtures::ReadWholeFile(dir_ / "talk.pcm").size();
  EXPECT_TRUE(WaitUntil(
      [&] { return rovik::fixtures::ReadWholeFile(dir_ / "talk.pcm").size() >= talked + 5 * 640; },
      5s))
      << "talk-back to camera a goes on";
  const auto t = Clock::now();
  EXPECT_EQ(QXAPI_DestroyInstance(b), 0);
  EXPECT_LT(MsSince(t), 2000);
}

}  // namespace
