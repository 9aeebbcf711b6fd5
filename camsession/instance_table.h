// The camera instance table of QXDll: 64 fixed slots, the initialised mark, the caller's two
// callbacks, and the three forwarders that P2PAPI and the player call. Three locks, never
// nested: the table lock, the AV-callback lock and the message-callback lock; below them two
// leaf locks (a slot's play lock, the on-screen text lock) that only guard calls into the player.
// The table lock is taken inside the player's capture callback (the talk-back forwarder), so no
// other lock is ever taken, and nothing is called, while it is held (the text lock excepted,
// which guards bytes only).
//
// Any export may be called from any callback, for the same camera or another. The table lock is
// only held to read or change slots: every call into P2PAPI (which may wait on a camera, or for
// a connection's thread) and into the player is made after it is released, with the handles
// copied out of the slot. Marks changed after such a call are only written while the slot still
// holds the same P2PAPI handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "camsession/qx_api.h"

namespace rovik::camsession {

struct InstanceSlot {
  static constexpr int kOsdBytes = 128;

  // Written under the table lock; the AV forwarder reads them holding only the AV lock, so they
  // are atomics.
  std::atomic<int32_t> p2pHandle{-1};
  std::atomic<int32_t> playerHandle{-1};
  int32_t inUse = 0;               // table lock
  bool reserved = false;           // table lock: a creation in progress holds this free slot
  std::atomic<int32_t> talkOn{0};  // read by the talk-back forwarder under the table lock
  // The player's start and audio state, changed together with the player calls that set it so
  // that the player and the marks never disagree (a stop racing the first frame).
  std::mutex playLock;  // guards the writes of videoWindow, videoStarted, audioOn while in use
  std::atomic<uintptr_t> videoWindow{0};
  std::atomic<int32_t> videoStarted{0};
  std::atomic<int32_t> audioOn{0};
  // The recording asked for, kept across restarts of the video: started on the player whenever
  // the player is started. recordPath is written under the play lock.
  std::atomic<int32_t> recordOn{0};
  std::atomic<bool> recordFailureReported{false};
  char recordPath[QXAPI_MAX_PATH_BYTES] = {};
  char osdText[kOsdBytes] = {};  // osdLock
};

class InstanceTable {
 public:
  static constexpr int kSlots = 64;

  static InstanceTable& Get();

  int32_t Initial(intptr_t server);
  int32_t DeInitial();
  int32_t CreateInstance(int32_t* index);
  int32_t DestroyInstance(int32_t index);
  int32_t DestroyAllInstance();
  int32_t Start(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3);
  int32_t Stop(int32_t index);
  int32_t StopAll();
  int32_t StartVideo(int32_t index, uintptr_t window, int32_t parameter);
  int32_t StopVideo(int32_t index);
  int32_t StartAudio(int32_t index);
  int32_t StopAudio(int32_t index);
  int32_t StartTalk(int32_t index);
  int32_t StopTalk(int32_t index);
  int32_t SnapShot(int32_t index, const char* path);
  int32_t SetOSD(int32_t index, const char* text);
  int32_t StartRecord(int32_t index, const char* path);
  int32_t StopRecord(int32_t index);
  int32_t Refresh(int32_t index);
  int32_t SendMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3);
  int32_t SetMessageCallBack(QXAPI_MessageCallback callback, intptr_t context);
  int32_t SetAVDataCallBack(QXAPI_AVDataCallback callback, intptr_t context);

  // The forwarders, as P2PAPI and the player call them.
  static void AVForwarder(int32_t handle, int32_t mediaKind, const uint8_t* data, int32_t length,
                          intptr_t index);
  static void MessageForwarder(int32_t handle, intptr_t v1, intptr_t v2, intptr_t v3,
                               intptr_t index);
  static void TalkForwarder(const unsigned char* pcm, uint32_t length, uintptr_t context);

 private:
  InstanceTable() = default;

  // The two handles of an in-use slot, copied under the table lock.
  struct Handles {
    int32_t p2p = -1;
    int player = -1;
  };
  // Copies the handles of an in-use slot: 0, or -4 for a bad index or a free slot.
  int32_t Claim(int32_t index, Handles* handles);
  // Runs op on the slot under the table lock if it still belongs to the camera instance with
  // this P2PAPI handle: op's result, or -4.
  template <typename Op>
  int32_t IfStillOwned(int32_t index, int32_t p2p, Op op);
  void ResetSlot(InstanceSlot& slot);
  void OnAV(int32_t handle, int32_t mediaKind, const uint8_t* data, int32_t length, intptr_t index);
  // OnAV's work under the AV lock: true when a failed recording is to be reported.
  bool ForwardAV(int32_t handle, int32_t mediaKind, const uint8_t* data, int32_t length,
                 intptr_t index);
  // The first frame of a stream: starts the player and what rides on it; the slot's play lock
  // held.
  void StartPlayer(InstanceSlot& slot, int player, uintptr_t window, uint8_t frameType);
  void OnMessage(intptr_t v1, intptr_t v2, intptr_t v3, intptr_t index);
  void OnTalk(const unsigned char* pcm, uint32_t length);

  std::recursive_mutex tableLock_;  // guards slots_ (inUse, reserved, every handle and talkOn
                                    // write), initialised_
  InstanceSlot slots_[kSlots];
  int32_t initialised_ = 0;

  std::recursive_mutex avLock_;  // guards avCallback_, avContext_
  QXAPI_AVDataCallback avCallback_ = nullptr;
  intptr_t avContext_ = 0;

  std::recursive_mutex messageLock_;  // guards messageCallback_, messageContext_
  QXAPI_MessageCallback messageCallback_ = nullptr;
  intptr_t messageContext_ = 0;

  // A leaf lock for the bytes of every slot's osdText: the AV forwarder copies them while the
  // table lock's holders may write them. Nothing is called while it is held.
  std::mutex osdLock_;
};

}  // namespace rovik::camsession
