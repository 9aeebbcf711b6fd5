// QXDll against recording stand-ins of P2PAPI and the player: the order of calls of every
// export, the result codes, the slot table, and the three forwarders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "camsession/qx_api.h"
#include "p2p/protocol/video_frame.h"
#include "tests/camsession/recording_libs.h"

namespace {

using namespace rovik::p2p;

using Calls = std::vector<std::string>;

std::vector<uint8_t> Frame(uint8_t type, uint32_t value, size_t payload) {
  std::vector<uint8_t> f(kVideoFrameHeaderBytes + payload, 0x5a);
  WriteVideoFrameHeader(f.data(), VideoFrameHeader{type, value, static_cast<uint32_t>(payload)});
  return f;
}

struct CallbackLog {
  std::vector<std::string> av;
  std::vector<std::string> messages;
};
CallbackLog* g_log = nullptr;

void OnAV(int32_t index, int32_t kind, const uint8_t*, int32_t length, intptr_t context) {
  g_log->av.push_back(std::to_string(index) + "," + std::to_string(kind) + "," +
                      std::to_string(length) + "," + std::to_string(context));
}

void OnMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3, intptr_t context) {
  g_log->messages.push_back(std::to_string(index) + "," + std::to_string(v1) + "," +
                            std::to_string(v2) + "," + std::to_string(v3) + "," +
                            std::to_string(context));
}

class Session : public testing::Test {
 protected:
  void SetUp() override {
    QXAPI_DeInitial();
    recording::Reset();
    ASSERT_EQ(QXAPI_Initial(0), 0);
    g_log = &log_;
    QXAPI_SetAVDataCallBack(&OnAV, 77);
    QXAPI_SetMessageCallBack(&OnMessage, 88);
    recording::Take();
  }
  void TearDown() override {
    QXAPI_SetAVDataCallBack(nullptr, 0);
    QXAPI_SetMessageCallBack(nullptr, 0);
    QXAPI_DestroyAllInstance();
    QXAPI_DeInitial();
  }

  // Creates a camera instance; the stand-ins hand out P2PAPI 100+n and player 200+n.
  int32_t Create() {
    int32_t index = -1;
    EXPECT_EQ(QXAPI_CreateInstance(&index), 0);
    return index;
  }

  // Plays P2PAPI's part: delivers a block to the forwarder registered for the handle.
  void Deliver(int32_t p2p, int32_t kind, const std::vector<uint8_t>& data) {
    const recording::Registered r = recording::RegisteredFor(p2p);
    ASSERT_NE(r.av, nullptr);
    r.av(p2p, kind, data.data(), static_cast<int32_t>(data.size()), r.avUser);
  }

  CallbackLog log_;
};

TEST_F(Session, InitialAndDeInitialCallInOrder) {
  QXAPI_DeInitial();
  recording::Take();
  EXPECT_EQ(QXAPI_Initial(5), 0);
  EXPECT_EQ(recording::Take(),
            (Calls{"P2PAPI_InitialWithServer(5)", "QX_PLAY_API_Initial()",
                   "QX_PLAY_API_SetPCMDataCallBack(0)", "QX_PLAY_API_StartCapture()"}));
  EXPECT_EQ(QXAPI_Initial(5), 0);
  EXPECT_TRUE(recording::Take().empty()) << "a second Initial does nothing";
  const int32_t index = Create();
  recording::Take();
  EXPECT_EQ(QXAPI_DeInitial(), 0);
  EXPECT_EQ(recording::Take(),
            (Calls{"QX_PLAY_API_StopCapture()", "P2PAPI_DeInitial()", "QX_PLAY_API_DeInitial()"}));
  EXPECT_EQ(QXAPI_DeInitial(), -1);
  EXPECT_EQ(QXAPI_Refresh(index), 0) << "DeInitial keeps the table";
  EXPECT_EQ(QXAPI_GetAPIVersion(), 0);
}

TEST_F(Session, CreateRegistersBothForwardersWithTheIndex) {
  EXPECT_EQ(Create(), 0);
  EXPECT_EQ(recording::Take(),
            (Calls{"P2PAPI_CreateInstance()", "QX_PLAY_API_CreateInstance()",
                   "P2PAPI_SetMessageCallBack(100,0)", "P2PAPI_SetAVDataCallBack(100,0)"}));
}

TEST_F(Session, SixtyFifthInstanceFailsAndFreedSlotsAreReusedLowestFirst) {
  for (int i = 0; i < 64; ++i) ASSERT_EQ(Create(), i);
  recording::Take();
  int32_t out = 12345;
  EXPECT_EQ(QXAPI_CreateInstance(&out), -3);
  EXPECT_EQ(out, 12345) << "nothing written";
  EXPECT_TRUE(recording::Take().empty()) << "no library is asked when the table is full";
  EXPECT_EQ(QXAPI_DestroyInstance(5), 0);
  EXPECT_EQ(QXAPI_DestroyInstance(3), 0);
  EXPECT_EQ(Create(), 3);
  EXPECT_EQ(Create(), 5);
}

TEST_F(Session, FailedCreationLeavesNothingAllocated) {
  recording::script().p2pCreate = -1;
  int32_t out = -7;
  EXPECT_EQ(QXAPI_CreateInstance(&out), -3);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_CreateInstance()"}));
  recording::script().p2pCreate = 0;
  recording::script().playerCreate = -3;
  EXPECT_EQ(QXAPI_CreateInstance(&out), -3);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_CreateInstance()", "QX_PLAY_API_CreateInstance()",
                                      "P2PAPI_DestroyInstance(101)"}));
  EXPECT_EQ(out, -7);
  recording::script().playerCreate = 0;
  EXPECT_EQ(Create(), 0) << "slot 0 is still free";
}

TEST_F(Session, BadIndexesAndFreeSlotsAnswerMinusFourAndCallNothing) {
  for (int32_t bad : {-1, 64, 1000}) {
    EXPECT_EQ(QXAPI_Stop(bad), -4);
    EXPECT_EQ(QXAPI_StartVideo(bad, 1, 0), -4);
    EXPECT_EQ(QXAPI_SetOSD(bad, "x"), -4);
  }
  EXPECT_EQ(QXAPI_DestroyInstance(0), -4);
  EXPECT_EQ(QXAPI_SendMessage(0, 1, 2, 3), -4);
  EXPECT_TRUE(recording::Take().empty());
}

TEST_F(Session, DestroyAllWithNoneDestroysMinusOneSixtyFourTimes) {
  EXPECT_EQ(QXAPI_DestroyAllInstance(), 0);
  const Calls calls = recording::Take();
  ASSERT_EQ(calls.size(), 128u);
  for (size_t i = 0; i < calls.size(); i += 2) {
    EXPECT_EQ(calls[i], "P2PAPI_DestroyInstance(-1)");
    EXPECT_EQ(calls[i + 1], "QX_PLAY_API_DestroyInstance(-1)");
  }
}

TEST_F(Session, StopAndStopAllCallInOrderAndKeepTheMarks) {
  const int32_t a = Create();
  Create();
  const int32_t c = Create();
  QXAPI_DestroyInstance(1);
  QXAPI_StartTalk(a);
  recording::Take();
  EXPECT_EQ(QXAPI_Stop(a), 0);
  EXPECT_EQ(recording::Take(),
            (Calls{"P2PAPI_Close(100)", "P2PAPI_StopTalk(100)", "P2PAPI_StopVideo(100)",
                   "P2PAPI_StopAudio(100)", "QX_PLAY_API_StopRecord(200)",
                   "QX_PLAY_API_StopAudio(200)", "QX_PLAY_API_StopPlay(200)"}));
  EXPECT_EQ(QXAPI_StopAll(), 0);
  EXPECT_EQ(recording::Take(),
            (Calls{"P2PAPI_Close(100)", "P2PAPI_StopTalk(100)", "P2PAPI_StopVideo(100)",
                   "P2PAPI_StopAudio(100)", "P2PAPI_Close(102)", "P2PAPI_StopTalk(102)",
                   "P2PAPI_StopVideo(102)", "P2PAPI_StopAudio(102)"}));
  (void)c;
  // Talk-back stays on after Stop: captured audio is still offered until StopTalk.
  const uint8_t pcm[640] = {};
  recording::PcmCallback()(pcm, 640, 0);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_TalkData(100,640)"}));
  EXPECT_EQ(QXAPI_StopTalk(a), 0);
  recording::Take();
  recording::PcmCallback()(pcm, 640, 0);
  EXPECT_TRUE(recording::Take().empty());
}

TEST_F(Session, TalkBackFeedsEveryInstanceWithTalkOn) {
  for (int i = 0; i < 4; ++i) Create();
  QXAPI_StartTalk(1);
  QXAPI_StartTalk(3);
  recording::Take();
  const uint8_t pcm[640] = {};
  recording::PcmCallback()(pcm, 640, 0);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_TalkData(101,640)", "P2PAPI_TalkData(103,640)"}));
  QXAPI_DestroyInstance(3);
  recording::Take();
  recording::PcmCallback()(pcm, 640, 0);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_TalkData(101,640)"}));
}

TEST_F(Session, OnlyMinusSixIsARefusal) {
  const int32_t i = Create();
  recording::script().startVideo = -6;
  recording::script().startAudio = -6;
  recording::script().startTalk = -6;
  recording::Take();
  EXPECT_EQ(QXAPI_StartVideo(i, 9, 1), -6);
  EXPECT_EQ(QXAPI_StartAudio(i), -6);
  EXPECT_EQ(QXAPI_StartTalk(i), -6);
  EXPECT_EQ(recording::Take(),
            (Calls{"P2PAPI_StartVideo(100,1)", "P2PAPI_StartAudio(100)", "P2PAPI_StartTalk(100)"}));
  Deliver(100, 1, Frame(0, 1, 8));
  Deliver(100, 0, std::vector<uint8_t>(640));
  const uint8_t pcm[640] = {};
  recording::PcmCallback()(pcm, 640, 0);
  EXPECT_TRUE(recording::Take().empty()) << "refusals change no mark";

  recording::script().startAudio = -5;
  EXPECT_EQ(QXAPI_StartAudio(i), 0);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_StartAudio(100)", "QX_PLAY_API_PlayAudio(200)"}));
  recording::script().sendMessage = 3;
  EXPECT_EQ(QXAPI_SendMessage(i, 1, 2, 3), -6);
  recording::script().sendMessage = 0;
  EXPECT_EQ(QXAPI_SendMessage(i, 1, 2, 3), 0);
}

TEST_F(Session, WindowZeroSendsFramesOnlyToTheCallback) {
  const int32_t i = Create();
  ASSERT_EQ(QXAPI_StartVideo(i, 0, 0), 0);
  recording::Take();
  Deliver(100, 1, Frame(0, 1, 100));
  Deliver(100, 1, Frame(1, 2, 50));
  EXPECT_TRUE(recording::Take().empty());
  EXPECT_EQ(log_.av, (std::vector<std::string>{"0,1,132,77", "0,1,82,77"}));
}

TEST_F(Session, FirstFrameTypeChoosesTheDecoderAndTheOsdIsReapplied) {
  const int32_t i = Create();
  ASSERT_EQ(QXAPI_SetOSD(i, "Front door"), 0);
  ASSERT_EQ(QXAPI_StartVideo(i, 0x4400001, 0), 0);
  recording::Take();
  const auto jpeg = Frame(2, 40, 10);
  Deliver(100, 1, jpeg);
  EXPECT_EQ(recording::Take(), (Calls{"QX_PLAY_API_StartPlay(200,1,71303169)",
                                      "QX_PLAY_API_SetOSD(200,\"Front door\")",
                                      "QX_PLAY_API_InputVideoFrame(200,1,10,40)"}));
  EXPECT_EQ(recording::LastFramePointer(), jpeg.data() + 32) << "the payload is not copied";
  Deliver(100, 1, Frame(3, 80, 10));
  EXPECT_EQ(recording::Take(), (Calls{"QX_PLAY_API_InputVideoFrame(200,1,10,80)"}));

  ASSERT_EQ(QXAPI_StopVideo(i), 0);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_StopVideo(100)", "QX_PLAY_API_StopPlay(200)"}));
  ASSERT_EQ(QXAPI_StartVideo(i, 0x4400001, 0), 0);
  recording::Take();
  Deliver(100, 1, Frame(0, 120, 7));
  EXPECT_EQ(recording::Take(), (Calls{"QX_PLAY_API_StartPlay(200,0,71303169)",
                                      "QX_PLAY_API_SetOSD(200,\"Front door\")",
                                      "QX_PLAY_API_InputVideoFrame(200,1,7,120)"}));
}

TEST_F(Session, NonKeyFrameFirstStillStartsThePlayerWithKeyFlagZero) {
  const int32_t i = Create();
  QXAPI_StartVideo(i, 7, 0);
  recording::Take();
  Deliver(100, 1, Frame(1, 9, 3));
  EXPECT_EQ(recording::Take(),
            (Calls{"QX_PLAY_API_StartPlay(200,0,7)", "QX_PLAY_API_SetOSD(200,\"\")",
                   "QX_PLAY_API_InputVideoFrame(200,0,3,9)"}));
}

TEST_F(Session, HostileFramesAreDroppedWithoutReadingPastThem) {
  const int32_t i = Create();
  QXAPI_StartVideo(i, 7, 0);
  recording::Take();
  auto lying = Frame(0, 1, 16);
  WriteVideoFrameHeader(lying.data(), VideoFrameHeader{0, 1, 1u << 30});  // 1 GiB announced
  Deliver(100, 1, lying);
  Deliver(100, 1, std::vector<uint8_t>(10, 0));  // shorter than the header
  EXPECT_TRUE(recording::Take().empty());
  EXPECT_EQ(log_.av.size(), 2u) << "the caller still sees them";
  Deliver(100, 1, Frame(0, 2, 4));
  EXPECT_EQ(recording::Count("QX_PLAY_API_StartPlay"), 1u) << "the next good frame starts play";
}

TEST_F(Session, AudioGoesToThePlayerOnlyWhileOn) {
  const int32_t i = Create();
  recording::Take();
  Deliver(100, 0, std::vector<uint8_t>(640));
  EXPECT_TRUE(recording::Take().empty());
  EXPECT_EQ(log_.av, (std::vector<std::string>{"0,0,640,77"}));
  ASSERT_EQ(QXAPI_StartAudio(i), 0);
  // Audio switched on before the first frame: starting play at that frame resets the player's
  // audio, so the session switches it on again; blocks keep going to the player.
  QXAPI_StartVideo(i, 7, 0);
  recording::Take();
  Deliver(100, 1, Frame(0, 1, 4));
  Deliver(100, 0, std::vector<uint8_t>(321));  // whole samples only: the odd byte is dropped
  EXPECT_EQ(recording::Take(),
            (Calls{"QX_PLAY_API_StartPlay(200,0,7)", "QX_PLAY_API_SetOSD(200,\"\")",
                   "QX_PLAY_API_PlayAudio(200)", "QX_PLAY_API_InputVideoFrame(200,1,4,1)",
                   "QX_PLAY_API_InputPCMData(200,320)"}));
  ASSERT_EQ(QXAPI_StopAudio(i), 0);
  EXPECT_EQ(recording::Take(), (Calls{"P2PAPI_StopAudio(100)", "QX_PLAY_API_StopAudio(200)"}));
  Deliver(100, 0, std::vector<uint8_t>(640));
  EXPECT_TRUE(recording::Take().empty());
}

// The first frame switches the player's audio on again while audio is on; a stop racing it comes
// wholly before or wholly after, so the player never plays while the instance says off.
TEST_F(Session, StopAudioRacingTheFirstFrameNeverLeavesThePlayerPlaying) {
  const int32_t i = Create();
  const std::vector<uint8_t> frame = Frame(0, 1, 4);
  for (int round = 0; round < 300; ++round) {
    ASSERT_EQ(QXAPI_StartVideo(i, 7, 0), 0);  // the next frame starts the player again
    ASSERT_EQ(QXAPI_StartAudio(i), 0);
    recording::Take();
    std::thread first([&] { Deliver(100, 1, frame); });
    ASSERT_EQ(QXAPI_StopAudio(i), 0);
    first.join();
    const Calls calls = recording::Take();
    std::string last;
    for (const std::string& c : calls) {
      if (c == "QX_PLAY_API_PlayAudio(200)" || c == "QX_PLAY_API_StopAudio(200)") last = c;
    }
    ASSERT_EQ(last, "QX_PLAY_API_StopAudio(200)") << "round " << round;
  }
}

TEST_F(Session, OsdSurvivesDestroyAndIsCutAt127Bytes) {
  const int32_t i = Create();
  const std::string longText(200, 'x');
  QXAPI_SetOSD(i, longText.c_str());
  EXPECT_EQ(recording::Take().back(), "QX_PLAY_API_SetOSD(200,\"" + longText + "\")")
      << "the player gets the caller's own text";
  QXAPI_DestroyInstance(i);
  ASSERT_EQ(Create(), i);
  QXAPI_StartVideo(i, 7, 0);
  recording::Take();
  Deliver(101, 1, Frame(0, 1, 4));
  EXPECT_EQ(recording::Take()[1], "QX_PLAY_API_SetOSD(201,\"" + std::string(127, 'x') + "\")");
}

TEST_F(Session, PathsAndSimpleForwards) {
  const int32_t i = Create();
  recording::Take();
  EXPECT_EQ(QXAPI_Start(i, 11, 22, 33), 0);
  EXPECT_EQ(QXAPI_SnapShot(i, "/tmp/a.jpg"), 0);
  EXPECT_EQ(QXAPI_StartRecord(i, "/tmp/a.avi", 1, 2), 0);
  EXPECT_EQ(QXAPI_StopRecord(i), 0);
  EXPECT_EQ(QXAPI_Refresh(i), 0);
  EXPECT_EQ(recording::Take(),
            (Calls{"P2PAPI_Connect(100,11,22,33)", "QX_PLAY_API_SnapShot(200,/tmp/a.jpg)",
                   "QX_PLAY_API_StartRecord(200,/tmp/a.avi)", "QX_PLAY_API_StopRecord(200)",
                   "QX_PLAY_API_Refresh(200)"}));
}

TEST_F(Session, ARecordingAskedForRidesOnEveryPlayerAndItsFailureIsReported) {
  const int32_t i = Create();
  EXPECT_EQ(QXAPI_StartRecord(i, std::string(260, 'x').c_str(), 0, 0), -2);
  EXPECT_EQ(QXAPI_StartRecord(i, nullptr, 0, 0), -2);
  ASSERT_EQ(QXAPI_StartRecord(i, "/r/a.avi", 0, 0), 0);  // before any video
  for (int start = 0; start < 2; ++start) {              // the first stream, then a restart
    QXAPI_StartVideo(i, 7, 0);
    recording::Take();
    Deliver(100, 1, Frame(0, 1, 4));
    EXPECT_EQ(recording::Count("QX_PLAY_API_StartRecord(200,/r/a.avi)"), 1u) << start;
  }
  recording::script().recordState = -6;  // the disk filled up
  Deliver(100, 1, Frame(1, 2, 4));
  Deliver(100, 1, Frame(1, 3, 4));
  EXPECT_EQ(log_.messages, (std::vector<std::string>{"0,1,4,0,88"})) << "reported once";
  recording::script().stopRecord = -6;
  EXPECT_EQ(QXAPI_StopRecord(i), -5);
  QXAPI_StartVideo(i, 7, 0);
  recording::Take();
  Deliver(100, 1, Frame(0, 4, 4));
  EXPECT_EQ(recording::Count("QX_PLAY_API_StartRecord"), 0u) << "StopRecord ended it";
}

TEST_F(Session, MessagesReachTheCallbackWithTheIndex) {
  Create();
  const int32_t i = Create();
  const recording::Registered r = recording::RegisteredFor(101);
  ASSERT_NE(r.message, nullptr);
  r.message(101, 4, 5, 6, r.messageUser);
  EXPECT_EQ(log_.messages, (std::vector<std::string>{std::to_string(i) + ",4,5,6,88"}));
  QXAPI_SetMessageCallBack(nullptr, 0);
  r.message(101, 4, 5, 6, r.messageUser);
  EXPECT_EQ(log_.messages.size(), 1u);
}

void Reregister(int32_t, int32_t, const uint8_t*, int32_t, intptr_t) {
  // A callback may set the callbacks again on its own thread.
  QXAPI_SetAVDataCallBack(&OnAV, 78);
}

TEST_F(Session, ACallbackMaySetTheCallbacksAgain) {
  Create();
  QXAPI_SetAVDataCallBack(&Reregister, 0);
  Deliver(100, 0, std::vector<uint8_t>(640));
  Deliver(100, 0, std::vector<uint8_t>(640));
  EXPECT_EQ(log_.av, (std::vector<std::string>{"0,0,640,78"}));
}

}  // namespace
