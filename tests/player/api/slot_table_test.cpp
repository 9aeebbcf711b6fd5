// The player library's exports over the slot table, called through the C header: result codes
// and their order, the 128 slots, the library state, the capture and its callback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "player/api/qx_play_api.h"
#include "tests/player/fixtures/media_clips.h"

extern "C" int rovik_c_header_check(void);

using namespace std::chrono_literals;

namespace {

// Every test starts from an uninitialised library and leaves one behind.
class PlayApi : public ::testing::Test {
 protected:
  void SetUp() override {
    QX_PLAY_API_DeInitial();
    QX_PLAY_API_SetPCMDataCallBack(nullptr, 0);
  }
  void TearDown() override {
    QX_PLAY_API_StopCapture();
    QX_PLAY_API_DeInitial();
    QX_PLAY_API_SetPCMDataCallBack(nullptr, 0);
  }
  static int Create() {
    int index = -100;
    EXPECT_EQ(QX_PLAY_API_CreateInstance(&index), 0);
    return index;
  }
};

// The exports that take an index, each called on `index` with harmless arguments.
std::vector<std::pair<const char*, int>> CallAllIndexed(int index) {
  const unsigned char byte = 0;
  return {
      {"DestroyInstance", QX_PLAY_API_DestroyInstance(index)},
      {"StartPlay", QX_PLAY_API_StartPlay(index, 0, 0)},
      {"StopPlay", QX_PLAY_API_StopPlay(index)},
      {"PlayAudio", QX_PLAY_API_PlayAudio(index)},
      {"StopAudio", QX_PLAY_API_StopAudio(index)},
      {"Refresh", QX_PLAY_API_Refresh(index)},
      {"SetOSD", QX_PLAY_API_SetOSD(index, "x")},
      {"SnapShot", QX_PLAY_API_SnapShot(index, "/nonexistent/x.jpg")},
      {"StartRecord", QX_PLAY_API_StartRecord(index, "/nonexistent/x.avi")},
      {"StopRecord", QX_PLAY_API_StopRecord(index)},
      {"GetRecordState", QX_PLAY_API_GetRecordState(index)},
      {"InputVideoFrame", QX_PLAY_API_InputVideoFrame(index, 1, &byte, 1, 0)},
      {"InputPCMData", QX_PLAY_API_InputPCMData(index, &byte, 1)},
  };
}

struct Captured {
  std::atomic<int> calls{0};
  std::atomic<uint32_t> lastLength{0};
  std::atomic<uintptr_t> lastUser{0};
};
Captured g_captured;

void CountingCallback(const unsigned char* pcm, uint32_t length, uintptr_t user) {
  if (pcm == nullptr) return;
  g_captured.lastLength = length;
  g_captured.lastUser = user;
  g_captured.calls.fetch_add(1);
}

}  // namespace

TEST(PlayApiHeader, CompilesAndCallsFromC) { EXPECT_EQ(rovik_c_header_check(), 0); }

TEST(PlayApiHeader, TheLibraryExportsExactlyTheTwentyTwoFunctions) {
  const char* bin = std::getenv("ROVIK_BIN_DIR");
  if (bin == nullptr || !rovik_test::HaveTool("nm")) GTEST_SKIP() << "ROVIK_BIN_DIR or nm missing";
  int status = 0;
  const std::string out = rovik_test::RunCommand(
      std::string("nm -D --defined-only '") + bin + "/libQXPlayDll.so' | awk '{print $3}'",
      &status);
  ASSERT_EQ(status, 0);
  std::set<std::string> names;
  std::istringstream in(out);
  std::string name;
  while (in >> name) names.insert(name);
  const std::set<std::string> expected = {"QX_PLAY_API_Initial",
                                          "QX_PLAY_API_DeInitial",
                                          "QX_PLAY_API_GetAPIVersion",
                                          "QX_PLAY_API_CreateInstance",
                                          "QX_PLAY_API_DestroyInstance",
                                          "QX_PLAY_API_DestroyAllInstance",
                                          "QX_PLAY_API_StartPlay",
                                          "QX_PLAY_API_StopPlay",
                                          "QX_PLAY_API_StopAll",
                                          "QX_PLAY_API_PlayAudio",
                                          "QX_PLAY_API_StopAudio",
                                          "QX_PLAY_API_StartCapture",
                                          "QX_PLAY_API_StopCapture",
                                          "QX_PLAY_API_Refresh",
                                          "QX_PLAY_API_SetOSD",
                                          "QX_PLAY_API_SnapShot",
                                          "QX_PLAY_API_StartRecord",
                                          "QX_PLAY_API_StopRecord",
                                          "QX_PLAY_API_InputVideoFrame",
                                          "QX_PLAY_API_InputPCMData",
                                          "QX_PLAY_API_SetPCMDataCallBack",
                                          "QX_PLAY_API_GetRecordState"};
  EXPECT_EQ(names, expected);
}

TEST_F(PlayApi, NothingButVersionAndCallbackWorksBeforeInitial) {
  int index = 77;
  EXPECT_EQ(QX_PLAY_API_CreateInstance(&index), -1);
  EXPECT_EQ(index, 77);
  for (const auto& [name, code] : CallAllIndexed(0)) EXPECT_EQ(code, -1) << name;
  EXPECT_EQ(QX_PLAY_API_DestroyAllInstance(), -1);
  EXPECT_EQ(QX_PLAY_API_StopAll(), -1);
  EXPECT_EQ(QX_PLAY_API_StartCapture(), -1);
  EXPECT_EQ(QX_PLAY_API_StopCapture(), -1);
  EXPECT_EQ(QX_PLAY_API_DeInitial(), -5);
  EXPECT_EQ(QX_PLAY_API_GetAPIVersion(), 0);
  EXPECT_EQ(QX_PLAY_API_SetPCMDataCallBack(&CountingCallback, 1), 0);
}

TEST_F(PlayApi, IndexesAbove127AreRefusedBeforeTheStateIsLookedAt) {
  for (int index : {128, -1, 1000}) {
    for (const auto& [name, code] : CallAllIndexed(index))
      EXPECT_EQ(code, -2) << name << " " << index;
  }
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  for (int index : {128, -1}) {
    for (const auto& [name, code] : CallAllIndexed(index))
      EXPECT_EQ(code, -2) << name << " " << index;
  }
}

TEST_F(PlayApi, SlotsAreHandedOutLowestFirstUpTo128) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  for (int i = 0; i < 128; ++i) ASSERT_EQ(Create(), i);
  int index = 555;
  EXPECT_EQ(QX_PLAY_API_CreateInstance(&index), -3);
  EXPECT_EQ(index, 555);  // left unwritten
  EXPECT_EQ(QX_PLAY_API_DestroyInstance(5), 0);
  EXPECT_EQ(QX_PLAY_API_DestroyInstance(5), -2);  // no longer in use
  EXPECT_EQ(Create(), 5);
  EXPECT_EQ(QX_PLAY_API_CreateInstance(nullptr), -4);  // nobody would learn of the slot
  EXPECT_EQ(QX_PLAY_API_DestroyAllInstance(), 0);
  EXPECT_EQ(Create(), 0);
}

TEST_F(PlayApi, CodesOfFreeAndReservedSlotsComeInTheirOrder) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  const unsigned char frame[4] = {0, 0, 1, 0x65};
  // A free slot: the five player operations answer 0 and do nothing; the rest -2.
  EXPECT_EQ(QX_PLAY_API_Refresh(3), 0);
  EXPECT_EQ(QX_PLAY_API_SetOSD(3, "text"), 0);
  EXPECT_EQ(QX_PLAY_API_SnapShot(3, "/nonexistent/a.jpg"), 0);
  EXPECT_EQ(QX_PLAY_API_StartRecord(3, "/nonexistent/a.avi"), 0);
  EXPECT_EQ(QX_PLAY_API_StopRecord(3), 0);
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(3, 1, frame, 4, 0), -2);
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(3, 2, frame, 4, 0), -2);  // the slot check comes first
  EXPECT_EQ(QX_PLAY_API_InputPCMData(3, frame, 4), -2);
  EXPECT_EQ(QX_PLAY_API_StartPlay(3, 2, 0), -2);
  EXPECT_EQ(QX_PLAY_API_StopPlay(3), -2);
  EXPECT_EQ(QX_PLAY_API_PlayAudio(3), -2);
  EXPECT_EQ(QX_PLAY_API_StopAudio(3), -2);

  const int slot = Create();
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 2, frame, 4, 0), -4);  // then the key flag
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, frame, 4, 0), -5);  // then the player
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, frame, 4), -5);
  EXPECT_EQ(QX_PLAY_API_StopPlay(slot), -5);
  EXPECT_EQ(QX_PLAY_API_StartPlay(slot, 2, 0), -4);
  EXPECT_EQ(QX_PLAY_API_StartPlay(slot, -1, 0), -4);
  EXPECT_EQ(QX_PLAY_API_StopAudio(slot), 0);  // nothing to stop is no error
  EXPECT_EQ(QX_PLAY_API_StopRecord(slot), 0);
}

TEST_F(PlayApi, LengthsAreCheckedBeforeAnythingIsCopied) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  const int slot = Create();
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot, 1, 0), 0);
  ASSERT_EQ(QX_PLAY_API_PlayAudio(slot), 0);
  const unsigned char data[8] = {};
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, data, -1, 0), -4);
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, data, QX_PLAY_MAX_FRAME_BYTES + 1, 0), -4);
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, nullptr, 8, 0), -4);
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, data, 8, 0), 0);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, data, -640), -4);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, data, QX_PLAY_MAX_PCM_BYTES + 1), -4);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, nullptr, 640), -4);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, nullptr, 0), 0);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, data, 8), 0);
  // On a slot without audio the argument is still refused first.
  EXPECT_EQ(QX_PLAY_API_StopAudio(slot), 0);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, data, -1), -4);
}

TEST_F(PlayApi, StartPlayReplacesThePlayerAndTurnsTheAudioOff) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  const int slot = Create();
  const unsigned char pcm[640] = {};
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot, 0, 0), 0);
  ASSERT_EQ(QX_PLAY_API_PlayAudio(slot), 0);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, pcm, 640), 0);
  // A refused kind leaves player and audio as they were.
  EXPECT_EQ(QX_PLAY_API_StartPlay(slot, 2, 0), -4);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, pcm, 640), 0);
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, pcm, 16, 0), 0);
  // A new player: audio off until PlayAudio.
  EXPECT_EQ(QX_PLAY_API_StartPlay(slot, 1, 0), 0);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, pcm, 640), -5);
  EXPECT_EQ(QX_PLAY_API_PlayAudio(slot), 0);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, pcm, 640), 0);
  // StopPlay ends both.
  EXPECT_EQ(QX_PLAY_API_StopPlay(slot), 0);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(slot, pcm, 640), -5);
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, pcm, 16, 0), -5);
  EXPECT_EQ(QX_PLAY_API_StopPlay(slot), -5);
}

TEST_F(PlayApi, StopAllKeepsTheSlotsReserved) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  const int a = Create();
  const int b = Create();
  ASSERT_EQ(QX_PLAY_API_StartPlay(a, 0, 0), 0);
  ASSERT_EQ(QX_PLAY_API_StartPlay(b, 1, 0), 0);
  ASSERT_EQ(QX_PLAY_API_PlayAudio(b), 0);
  EXPECT_EQ(QX_PLAY_API_StopAll(), 0);
  const unsigned char byte = 0;
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(a, 1, &byte, 1, 0), -5);
  EXPECT_EQ(QX_PLAY_API_InputPCMData(b, &byte, 1), -5);
  EXPECT_EQ(QX_PLAY_API_StartPlay(a, 1, 0), 0);  // no new CreateInstance needed
  EXPECT_EQ(Create(), 2);
}

TEST_F(PlayApi, InitialIsIdempotentAndDeInitialFreesEverything) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  const int slot = Create();
  ASSERT_EQ(QX_PLAY_API_StartPlay(slot, 0, 0), 0);
  EXPECT_EQ(QX_PLAY_API_Initial(), 0);  // changes nothing
  const unsigned char byte = 0;
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(slot, 1, &byte, 1, 0), 0);
  EXPECT_EQ(Create(), 1);
  EXPECT_EQ(QX_PLAY_API_DeInitial(), 0);
  EXPECT_EQ(QX_PLAY_API_DeInitial(), -5);
  EXPECT_EQ(QX_PLAY_API_Initial(), 0);
  EXPECT_EQ(Create(), 0);  // every slot was freed
  EXPECT_EQ(QX_PLAY_API_InputVideoFrame(0, 1, &byte, 1, 0), -5);
}

TEST_F(PlayApi, CaptureForwardsChunksWithTheUserValueOfItsStart) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  g_captured.calls = 0;
  ASSERT_EQ(QX_PLAY_API_SetPCMDataCallBack(&CountingCallback, 0x1234), 0);
  ASSERT_EQ(QX_PLAY_API_StartCapture(), 0);
  EXPECT_EQ(QX_PLAY_API_StartCapture(), 0);  // already running: no second device
  // A user value set later takes effect only after a restart.
  ASSERT_EQ(QX_PLAY_API_SetPCMDataCallBack(&CountingCallback, 0x9999), 0);
  std::this_thread::sleep_for(1s);
  const int calls = g_captured.calls.load();
  // The null device delivers one 640-byte chunk every 40 ms; two devices would double that.
  EXPECT_GE(calls, 15);
  EXPECT_LE(calls, 32);
  EXPECT_EQ(g_captured.lastLength.load(), 640u);
  EXPECT_EQ(g_captured.lastUser.load(), 0x1234u);

  EXPECT_EQ(QX_PLAY_API_StopCapture(), 0);
  const int stopped = g_captured.calls.load();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(g_captured.calls.load(), stopped);
  EXPECT_EQ(QX_PLAY_API_StopCapture(), 0);  // nothing to stop

  ASSERT_EQ(QX_PLAY_API_StartCapture(), 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_captured.lastUser.load(), 0x9999u);
  // DeInitial ends the capture; the callback pair stays as it was.
  EXPECT_EQ(QX_PLAY_API_DeInitial(), 0);
  const int ended = g_captured.calls.load();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(g_captured.calls.load(), ended);
}

TEST_F(PlayApi, InitialClearsACallbackSetBeforeIt) {
  g_captured.calls = 0;
  ASSERT_EQ(QX_PLAY_API_SetPCMDataCallBack(&CountingCallback, 7), 0);
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  ASSERT_EQ(QX_PLAY_API_StartCapture(), 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_captured.calls.load(), 0);
  // Set after Initial, it is called from the next chunk on.
  ASSERT_EQ(QX_PLAY_API_SetPCMDataCallBack(&CountingCallback, 7), 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_GT(g_captured.calls.load(), 0);
}

TEST_F(PlayApi, ExportsMayBeCalledFromManyThreads) {
  ASSERT_EQ(QX_PLAY_API_Initial(), 0);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures] {
      const unsigned char data[64] = {};
      for (int i = 0; i < 20; ++i) {
        int index = -1;
        if (QX_PLAY_API_CreateInstance(&index) != 0) {
          failures++;
          continue;
        }
        if (QX_PLAY_API_StartPlay(index, i % 2, 0) != 0) failures++;
        if (QX_PLAY_API_InputVideoFrame(index, 1, data, 64, 0) != 0) failures++;
        if (QX_PLAY_API_PlayAudio(index) != 0) failures++;
        if (QX_PLAY_API_InputPCMData(index, data, 64) != 0) failures++;
        if (QX_PLAY_API_DestroyInstance(index) != 0) failures++;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Create(), 0);
}

TEST_F(PlayApi, VersionIsZeroInEveryState) {
  EXPECT_EQ(QX_PLAY_API_GetAPIVersion(), 0);
  QX_PLAY_API_Initial();
  EXPECT_EQ(QX_PLAY_API_GetAPIVersion(), 0);
  QX_PLAY_API_DeInitial();
  EXPECT_EQ(QX_PLAY_API_GetAPIVersion(), 0);
}
