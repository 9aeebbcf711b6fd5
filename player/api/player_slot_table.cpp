#include "player/api/player_slot_table.h"

#include <cstring>

#include "player/video/record_chain.h"

#include "player/audio/audio.h"
#include "player/record/recorder.h"
#include "player/record/snapshot_writer.h"
#include "player/video/video_player.h"

namespace rovik::player {
namespace {

// The capture's receiver: every captured block goes to the library's callback.
void CaptureForwarder(const uint8_t* pcm, int length, intptr_t user) {
  PlayerSlotTable::Instance().ForwardCapture(pcm, length, static_cast<uintptr_t>(user));
}

PlayerHooks MakeHooks() {
  PlayerHooks hooks;
  hooks.makeRecorder = &Recorder::Make;
  hooks.snapshots = JpegSnapshotWriter::Instance();
  return hooks;
}

}  // namespace

PlayerSlot::PlayerSlot() = default;
PlayerSlot::~PlayerSlot() = default;

PlayerSlotTable::PlayerSlotTable() = default;

PlayerSlotTable::~PlayerSlotTable() {
  // At unload: whatever the caller left running is stopped, so no thread outlives the code.
  std::lock_guard<std::mutex> guard(apiLock_);
  FreeAllSlots();
  if (capture_) {
    capture_->Stop();
    capture_.reset();
  }
}

PlayerSlotTable& PlayerSlotTable::Instance() {
  static PlayerSlotTable table;
  return table;
}

void PlayerSlotTable::ReleasePlayers(PlayerSlot& slot) {
  slot.video.reset();
  slot.audio.reset();
}

void PlayerSlotTable::FreeSlot(PlayerSlot& slot) {
  ReleasePlayers(slot);
  slot.record.reset();
  slot.inUse = 0;
}

void PlayerSlotTable::FreeAllSlots() {
  for (PlayerSlot& slot : slots_) {
    if (slot.inUse == 1) FreeSlot(slot);
  }
}

int PlayerSlotTable::Initial() {
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ == 1) return kOk;
  initialised_ = 1;
  for (PlayerSlot& slot : slots_) FreeSlot(slot);
  // Without callbackLock_: a capture thread that outlived its stop may hold it while its
  // callback waits for apiLock_.
  callback_.store(nullptr);
  callbackUser_.store(0);
  return kOk;
}

int PlayerSlotTable::DeInitial() {
  std::unique_ptr<CWaveIn> capture;
  {
    std::lock_guard<std::mutex> guard(apiLock_);
    if (initialised_ != 1) return kNoPlayer;
    initialised_ = 0;
    FreeAllSlots();
    capture = std::move(capture_);
  }
  StopCaptureUnlocked(std::move(capture));
  return kOk;
}

void PlayerSlotTable::StopCaptureUnlocked(std::unique_ptr<CWaveIn> capture) {
  // The capture thread may be inside the caller's callback, which may be waiting for apiLock_
  // (the callback may call any export): the stop, which waits for that thread, runs without it.
  if (capture) {
    capture->Stop();
    capture.reset();
  }
}

int PlayerSlotTable::CreateInstance(int* index) {
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  // Reserving a slot nobody learns of would lose it for good.
  if (index == nullptr) return kBadArgument;
  for (uint32_t i = 0; i < kSlotCount; ++i) {
    if (slots_[i].inUse != 0) continue;
    slots_[i].inUse = 1;
    *index = static_cast<int>(i);
    return kOk;
  }
  return kTableFull;
}

int PlayerSlotTable::DestroyInstance(int index) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  FreeSlot(slot);
  return kOk;
}

int PlayerSlotTable::DestroyAllInstance() {
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  FreeAllSlots();
  return kOk;
}

int PlayerSlotTable::StartPlay(int index, int decoderKind, uintptr_t window) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  if (decoderKind != QX_PLAY_DECODER_H264 && decoderKind != QX_PLAY_DECODER_JPEG) {
    return kBadArgument;
  }
  slot.audio.reset();
  slot.video.reset();
  if (decoderKind == QX_PLAY_DECODER_JPEG) {
    slot.video = std::make_unique<CJPEGPlayer>(window, MakeHooks());
  } else {
    slot.video = std::make_unique<CH264Player>(window, MakeHooks());
  }
  slot.video->Start();
  return kOk;
}

int PlayerSlotTable::StopPlay(int index) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  if (!slot.video) return kNoPlayer;
  slot.audio.reset();
  slot.video.reset();
  return kOk;
}

int PlayerSlotTable::StopAll() {
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  for (PlayerSlot& slot : slots_) {
    if (slot.inUse == 1) ReleasePlayers(slot);
  }
  return kOk;
}

int PlayerSlotTable::PlayAudio(int index) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  slot.audio.reset();
  slot.audio = std::make_unique<AudioPlayer>();
  slot.audio->Start();  // no output device is not an error here: the audio is dropped
  return kOk;
}

int PlayerSlotTable::StopAudio(int index) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  slot.audio.reset();
  return kOk;
}

int PlayerSlotTable::StartCapture() {
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  if (capture_) return kOk;
  // The user value is read without callbackLock_ (see the lock order in the header).
  const uintptr_t user = callbackUser_.load();
  capture_ = std::make_unique<CWaveIn>();
  capture_->SetLibraryReceiver(&CaptureForwarder, static_cast<intptr_t>(user));
  capture_->Start();  // without a microphone nothing is ever delivered; still 0
  return kOk;
}

int PlayerSlotTable::StopCapture() {
  std::unique_ptr<CWaveIn> capture;
  {
    std::lock_guard<std::mutex> guard(apiLock_);
    if (initialised_ != 1) return kNotInitialised;
    capture = std::move(capture_);
  }
  StopCaptureUnlocked(std::move(capture));
  return kOk;
}

template <typename Act>
int PlayerSlotTable::WithVideo(int index, Act act) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  if (slots_[index].video) act(*slots_[index].video);
  return kOk;
}

namespace {
bool HasPath(const char* path) { return path != nullptr && path[0] != '\0'; }
// A path that cannot be used whole is refused, never cut.
bool PathTooLong(const char* path) {
  return path != nullptr && strnlen(path, kMaxPathBytes) >= kMaxPathBytes;
}
}  // namespace

int PlayerSlotTable::Refresh(int index) {
  return WithVideo(index, [](CVideoPlayer& video) { video.Refresh(); });
}

int PlayerSlotTable::SetOSD(int index, const char* text) {
  return WithVideo(index,
                   [text](CVideoPlayer& video) { video.SetOSDText(text != nullptr ? text : ""); });
}

int PlayerSlotTable::SnapShot(int index, const char* path) {
  if (ValidIndex(index) && PathTooLong(path)) return kBadArgument;
  return WithVideo(index, [path](CVideoPlayer& video) {
    if (HasPath(path)) video.SnapShot(path);
  });
}

int PlayerSlotTable::StartRecord(int index, const char* path) {
  if (ValidIndex(index) && PathTooLong(path)) return kBadArgument;
  return WithVideo(index, [&](CVideoPlayer& video) {
    if (!HasPath(path)) return;
    PlayerSlot& slot = slots_[index];
    // The same recording again, on a new player: it goes on in its next file.
    if (slot.record == nullptr || slot.record->path != path) {
      slot.record = std::make_shared<RecordChain>(path);
    }
    video.ContinueRecord(slot.record);
  });
}

int PlayerSlotTable::StopRecord(int index) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.video) slot.video->StopRecord();
  // The recorder is stopped: its file is complete, and its outcome known.
  const bool failed = slot.record != nullptr && slot.record->failed.load();
  slot.record.reset();
  return failed ? kRecordFailed : kOk;
}

int PlayerSlotTable::GetRecordState(int index) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  const PlayerSlot& slot = slots_[index];
  return slot.record != nullptr && slot.record->failed.load() ? kRecordFailed : kOk;
}

int PlayerSlotTable::InputVideoFrame(int index, int keyFlag, const unsigned char* frame, int length,
                                     uint32_t frameValue) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  if (keyFlag != 0 && keyFlag != 1) return kBadArgument;
  if (length < 0 || length > QX_PLAY_MAX_FRAME_BYTES || (frame == nullptr && length > 0)) {
    return kBadArgument;
  }
  if (!slot.video) return kNoPlayer;
  slot.video->InputFrame(frame, length, keyFlag, frameValue);
  return kOk;
}

int PlayerSlotTable::InputPCMData(int index, const unsigned char* pcm, int length) {
  if (!ValidIndex(index)) return kBadIndex;
  std::lock_guard<std::mutex> guard(apiLock_);
  if (initialised_ != 1) return kNotInitialised;
  PlayerSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  if (length < 0 || length > QX_PLAY_MAX_PCM_BYTES || (pcm == nullptr && length > 0)) {
    return kBadArgument;
  }
  if (!slot.audio) return kNoPlayer;
  if (length > 0) slot.audio->Append(pcm, length);  // a block that does not fit is dropped
  return kOk;
}

int PlayerSlotTable::SetPCMDataCallBack(PcmDataCallback callback, uintptr_t user) {
  std::lock_guard<std::recursive_mutex> guard(callbackLock_);
  callback_.store(callback);
  callbackUser_.store(user);
  return kOk;
}

void PlayerSlotTable::ForwardCapture(const uint8_t* pcm, int length, uintptr_t user) {
  std::lock_guard<std::recursive_mutex> guard(callbackLock_);
  const PcmDataCallback callback = callback_.load();
  if (callback != nullptr) callback(pcm, static_cast<uint16_t>(length), user);
}

uint64_t PlayerSlotTable::PicturesShown() {
  std::lock_guard<std::mutex> hold(apiLock_);
  uint64_t total = 0;
  for (const PlayerSlot& slot : slots_) {
    if (slot.inUse && slot.video) total += slot.video->PicturesShown();
  }
  return total;
}

}  // namespace rovik::player
