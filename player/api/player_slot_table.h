// The player library's state behind its exports: the initialised flag, the table of 128 player
// slots, the microphone capture and the PCM callback pair, with the two locks that guard them.
//
// Every operation returns the export's result code. Operations that take an index refuse one
// above 127 (taken as unsigned) with -2 before taking the library lock or looking at the state.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "player/api/qx_play_api.h"

namespace rovik::player {

class AudioPlayer;
class CWaveIn;
class CVideoPlayer;
struct RecordChain;

// One table entry: reserved or free, the players it owns, and the recording asked for, which
// outlives a replaced player.
struct PlayerSlot {
  int32_t inUse = 0;
  std::unique_ptr<CVideoPlayer> video;
  std::unique_ptr<AudioPlayer> audio;
  std::shared_ptr<RecordChain> record;  // from StartRecord to StopRecord or the slot's end

  PlayerSlot();
  ~PlayerSlot();
};

class PlayerSlotTable {
 public:
  static constexpr uint32_t kSlotCount = 128;

  enum Code : int {
    kOk = 0,
    kNotInitialised = -1,
    kBadIndex = -2,
    kTableFull = -3,
    kBadArgument = -4,
    kNoPlayer = -5,
    kRecordFailed = -6,
  };

  PlayerSlotTable();
  ~PlayerSlotTable();
  PlayerSlotTable(const PlayerSlotTable&) = delete;
  PlayerSlotTable& operator=(const PlayerSlotTable&) = delete;

  // The process's table, behind the exports.
  static PlayerSlotTable& Instance();

  int Initial();
  int DeInitial();
  int CreateInstance(int* index);
  int DestroyInstance(int index);
  int DestroyAllInstance();
  int StartPlay(int index, int decoderKind, uintptr_t window);
  int StopPlay(int index);
  int StopAll();
  int PlayAudio(int index);
  int StopAudio(int index);
  int StartCapture();
  int StopCapture();
  int Refresh(int index);
  int SetOSD(int index, const char* text);
  int SnapShot(int index, const char* path);
  int StartRecord(int index, const char* path);
  int StopRecord(int index);
  int GetRecordState(int index);
  int InputVideoFrame(int index, int keyFlag, const unsigned char* frame, int length,
                      uint32_t frameValue);
  int InputPCMData(int index, const unsigned char* pcm, int length);
  int SetPCMDataCallBack(PcmDataCallback callback, uintptr_t user);

  // Pictures drawn so far by the video players of every slot in use (refreshes not counted);
  // for measurements inside the process, not part of the exports.
  uint64_t PicturesShown();

  // Hands one captured block to the PCM callback under the callback lock: the capture's
  // receiver. `user` is the value captured when the capture was started. The lock stays held
  // through the call so that once SetPCMDataCallBack returns (on another thread) the callback
  // it replaced is no longer running and its user data may be freed; it is recursive, so the
  // callback may set the callback again. It is the only lock held during the call.
  void ForwardCapture(const uint8_t* pcm, int length, uintptr_t user);

 private:
  static bool ValidIndex(int index) { return static_cast<uint32_t>(index) < kSlotCount; }
  // The checks every video export makes (index, initialised), then `act` on the slot's video
  // player when it has one, all under apiLock_.
  template <typename Act>
  int WithVideo(int index, Act act);
  // Deletes the slot's players (video first, then audio); apiLock_ held.
  void ReleasePlayers(PlayerSlot& slot);
  // Frees a slot: its players and its recording; apiLock_ held.
  void FreeSlot(PlayerSlot& slot);
  // Stops and frees a capture taken out of capture_; apiLock_ not held.
  static void StopCaptureUnlocked(std::unique_ptr<CWaveIn> capture);
  // Frees every slot in use; apiLock_ held.
  void FreeAllSlots();

  // Lock order: callbackLock_ before apiLock_, never the other way round. The capture forwarder
  // holds callbackLock_ while the caller's callback runs, and that callback may call any export
  // (which takes apiLock_); so no code holding apiLock_ ever waits for callbackLock_, nor for
  // the capture thread (the capture is stopped after apiLock_ is released). The
  // exports that need the callback pair under apiLock_ (StartCapture reads the user value,
  // Initial clears both) use the atomic fields without callbackLock_.
  std::mutex apiLock_;  // guards initialised_, slots_, capture_ (held through every export)
  int32_t initialised_ = 0;
  PlayerSlot slots_[kSlotCount];
  std::unique_ptr<CWaveIn> capture_;

  // Recursive, so that a callback may set the callback again.
  std::recursive_mutex callbackLock_;  // serialises the writers of callback_ and callbackUser_
                                       // and is held while the callback runs
  std::atomic<PcmDataCallback> callback_{nullptr};
  std::atomic<uintptr_t> callbackUser_{0};
};

}  // namespace rovik::player
