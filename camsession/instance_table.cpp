#include "camsession/instance_table.h"

#include <cstring>

#include "p2p/p2p_api.h"
#include "p2p/protocol/video_frame.h"
#include "player/api/qx_play_api.h"

namespace rovik::camsession {

using p2p::kFrameH264NonKey;
using p2p::kFrameJpeg;
using p2p::kVideoFrameHeaderBytes;
using p2p::ParseVideoFrame;
using p2p::VideoFrameHeader;

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kNotInitialised = -1;
constexpr int32_t kBadArgument = -2;
constexpr int32_t kNoInstance = -3;
constexpr int32_t kBadIndex = -4;
constexpr int32_t kRecordFailed = -5;
constexpr int32_t kRefused = -6;
constexpr int kPlayerRecordFailed = -6;  // QX_PLAY_API_StopRecord, QX_PLAY_API_GetRecordState

}  // namespace

InstanceTable& InstanceTable::Get() {
  static InstanceTable table;
  return table;
}

int32_t InstanceTable::Claim(int32_t index, Handles* handles) {
  // Taken as unsigned: negative indexes are above 63 too. Checked before the lock.
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kSlots)) return kBadIndex;
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  const InstanceSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  handles->p2p = slot.p2pHandle;
  handles->player = slot.playerHandle;
  return kOk;
}

template <typename Op>
int32_t InstanceTable::IfStillOwned(int32_t index, int32_t p2p, Op op) {
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  InstanceSlot& slot = slots_[index];
  if (slot.inUse == 0 || slot.p2pHandle != p2p) return kBadIndex;  // destroyed meanwhile
  return op(slot);
}

void InstanceTable::ResetSlot(InstanceSlot& slot) {
  slot.p2pHandle = -1;
  slot.playerHandle = -1;
  slot.inUse = 0;
  slot.talkOn = 0;
  // Not under the play lock: the table lock is taken inside the player's capture callback, so
  // nothing is locked while it is held. The player goes with the slot.
  slot.videoWindow = 0;
  slot.audioOn = 0;
  slot.videoStarted = 0;
  slot.recordOn = 0;
}

int32_t InstanceTable::Initial(intptr_t server) {
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    if (initialised_ != 0) return kOk;
    initialised_ = 1;
    // The table is cleared without destroying what it held.
    for (InstanceSlot& slot : slots_) {
      ResetSlot(slot);
      std::lock_guard<std::mutex> osd(osdLock_);
      std::memset(slot.osdText, 0, sizeof slot.osdText);
    }
  }
  P2PAPI_InitialWithServer(server);
  QX_PLAY_API_Initial();
  QX_PLAY_API_SetPCMDataCallBack(&InstanceTable::TalkForwarder, 0);
  QX_PLAY_API_StartCapture();
  return kOk;
}

int32_t InstanceTable::DeInitial() {
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    if (initialised_ == 0) return kNotInitialised;
    initialised_ = 0;
  }
  // Stopping the capture waits for its thread, which may be waiting for the table lock in the
  // talk-back forwarder: the lock is not held here.
  QX_PLAY_API_StopCapture();
  P2PAPI_DeInitial();
  QX_PLAY_API_DeInitial();
  return kOk;
}

int32_t InstanceTable::CreateInstance(int32_t* index) {
  int32_t free = -1;
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    for (int32_t i = 0; i < kSlots; ++i) {
      if (slots_[i].inUse == 0 && !slots_[i].reserved) {
        free = i;
        break;
      }
    }
    if (free < 0) return kNoInstance;
    slots_[free].reserved = true;
  }
  auto release = [&] {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    slots_[free].reserved = false;
  };
  int32_t p2p = -1;
  if (P2PAPI_CreateInstance(&p2p) < 0) {
    release();
    return kNoInstance;
  }
  int player = -1;
  if (QX_PLAY_API_CreateInstance(&player) < 0) {
    P2PAPI_DestroyInstance(p2p);
    release();
    return kNoInstance;
  }
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    InstanceSlot& slot = slots_[free];
    slot.reserved = false;
    slot.inUse = 1;
    slot.p2pHandle = p2p;
    slot.playerHandle = player;
    slot.talkOn = 0;
    slot.videoWindow = 0;
    slot.audioOn = 0;
    slot.videoStarted = 0;  // osdText stays as it was
  }
  if (index != nullptr) *index = free;
  // Not connected yet: nothing is delivered before both forwarders are in place.
  P2PAPI_SetMessageCallBack(p2p, &InstanceTable::MessageForwarder, free);
  P2PAPI_SetAVDataCallBack(p2p, &InstanceTable::AVForwarder, free);
  return kOk;
}

int32_t InstanceTable::DestroyInstance(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kSlots)) return kBadIndex;
  Handles h;
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    InstanceSlot& slot = slots_[index];
    if (slot.inUse == 0) return kBadIndex;
    h.p2p = slot.p2pHandle;
    h.player = slot.playerHandle;
    ResetSlot(slot);
  }
  // The slot is free already; its connection's thread is ended (and joined, unless this runs
  // inside one of its callbacks) outside the lock.
  P2PAPI_DestroyInstance(h.p2p);
  QX_PLAY_API_DestroyInstance(h.player);
  return kOk;
}

int32_t InstanceTable::DestroyAllInstance() {
  Handles all[kSlots];
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    for (int i = 0; i < kSlots; ++i) {
      all[i].p2p = slots_[i].p2pHandle;
      all[i].player = slots_[i].playerHandle;
      ResetSlot(slots_[i]);
    }
  }
  for (const Handles& h : all) {
    P2PAPI_DestroyInstance(h.p2p);
    QX_PLAY_API_DestroyInstance(h.player);
  }
  return kOk;
}

int32_t InstanceTable::Start(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  // A failure has been reported through the message callback already, by P2PAPI.
  return P2PAPI_Connect(h.p2p, v1, v2, v3) == 0 ? kOk : kRefused;
}

int32_t InstanceTable::Stop(int32_t index) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  P2PAPI_Close(h.p2p);
  P2PAPI_StopTalk(h.p2p);
  P2PAPI_StopVideo(h.p2p);
  P2PAPI_StopAudio(h.p2p);
  {
    std::lock_guard<std::mutex> play(slots_[index].playLock);
    if (slots_[index].p2pHandle == h.p2p) slots_[index].recordOn = 0;
  }
  QX_PLAY_API_StopRecord(h.player);
  QX_PLAY_API_StopAudio(h.player);
  QX_PLAY_API_StopPlay(h.player);
  return kOk;
}

int32_t InstanceTable::StopAll() {
  int32_t inUse[kSlots];
  int count = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    for (const InstanceSlot& slot : slots_) {
      if (slot.inUse == 1) inUse[count++] = slot.p2pHandle;
    }
  }
  for (int i = 0; i < count; ++i) {
    P2PAPI_Close(inUse[i]);
    P2PAPI_StopTalk(inUse[i]);
    P2PAPI_StopVideo(inUse[i]);
    P2PAPI_StopAudio(inUse[i]);
  }
  return kOk;
}

int32_t InstanceTable::StartVideo(int32_t index, uintptr_t window, int32_t parameter) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  if (P2PAPI_StartVideo(h.p2p, parameter) == kRefused) return kRefused;
  InstanceSlot& slot = slots_[index];
  std::lock_guard<std::mutex> play(slot.playLock);
  if (slot.p2pHandle != h.p2p) return kBadIndex;  // destroyed meanwhile
  slot.videoWindow = window;
  slot.videoStarted = 0;  // the next frame starts the player with the decoder it needs
  return kOk;
}

int32_t InstanceTable::StopVideo(int32_t index) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  P2PAPI_StopVideo(h.p2p);
  std::lock_guard<std::mutex> play(slots_[index].playLock);
  QX_PLAY_API_StopPlay(h.player);
  if (slots_[index].p2pHandle == h.p2p) slots_[index].videoStarted = 0;
  return kOk;
}

int32_t InstanceTable::StartAudio(int32_t index) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  if (P2PAPI_StartAudio(h.p2p) == kRefused) return kRefused;
  std::lock_guard<std::mutex> play(slots_[index].playLock);
  if (slots_[index].p2pHandle != h.p2p) return kBadIndex;  // destroyed meanwhile
  QX_PLAY_API_PlayAudio(h.player);
  slots_[index].audioOn = 1;
  return kOk;
}

int32_t InstanceTable::StopAudio(int32_t index) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  P2PAPI_StopAudio(h.p2p);
  std::lock_guard<std::mutex> play(slots_[index].playLock);
  QX_PLAY_API_StopAudio(h.player);
  if (slots_[index].p2pHandle == h.p2p) slots_[index].audioOn = 0;
  return kOk;
}

int32_t InstanceTable::StartTalk(int32_t index) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  if (P2PAPI_StartTalk(h.p2p) == kRefused) return kRefused;
  return IfStillOwned(index, h.p2p, [](InstanceSlot& slot) {
    slot.talkOn = 1;
    return kOk;
  });
}

int32_t InstanceTable::StopTalk(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kSlots)) return kBadIndex;
  int32_t p2p = -1;
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    InstanceSlot& slot = slots_[index];
    if (slot.inUse == 0) return kBadIndex;
    slot.talkOn = 0;  // first: no more captured audio goes out
    p2p = slot.p2pHandle;
  }
  P2PAPI_StopTalk(p2p);
  return kOk;
}

int32_t InstanceTable::SnapShot(int32_t index, const char* path) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  // A path the player cannot write whole is refused there (-4), never written elsewhere.
  return QX_PLAY_API_SnapShot(h.player, path) == -4 ? kBadArgument : kOk;
}

int32_t InstanceTable::SetOSD(int32_t index, const char* text) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  {
    std::lock_guard<std::mutex> osd(osdLock_);
    char* kept = slots_[index].osdText;
    std::memset(kept, 0, InstanceSlot::kOsdBytes);
    if (text != nullptr) {
      // Kept for later streams: at most 127 bytes, the rest is cut.
      size_t n = 0;
      while (n < InstanceSlot::kOsdBytes - 1 && text[n] != '\0') ++n;
      std::memcpy(kept, text, n);
    }
  }
  QX_PLAY_API_SetOSD(h.player, text);
  return kOk;
}

int32_t InstanceTable::StartRecord(int32_t index, const char* path) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  // Kept whole for later streams, or refused: never cut.
  if (path == nullptr || path[0] == '\0' ||
      strnlen(path, QXAPI_MAX_PATH_BYTES) >= QXAPI_MAX_PATH_BYTES) {
    return kBadArgument;
  }
  InstanceSlot& slot = slots_[index];
  std::lock_guard<std::mutex> play(slot.playLock);
  if (slot.p2pHandle != h.p2p) return kBadIndex;  // destroyed meanwhile
  std::memset(slot.recordPath, 0, sizeof slot.recordPath);
  std::memcpy(slot.recordPath, path, std::strlen(path));
  slot.recordFailureReported = false;
  slot.recordOn = 1;
  // Starts at once on a playing player; otherwise with the player, at the stream's first frame.
  QX_PLAY_API_StartRecord(h.player, slot.recordPath);
  return kOk;
}

int32_t InstanceTable::StopRecord(int32_t index) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  std::lock_guard<std::mutex> play(slots_[index].playLock);
  if (slots_[index].p2pHandle == h.p2p) slots_[index].recordOn = 0;
  return QX_PLAY_API_StopRecord(h.player) == kPlayerRecordFailed ? kRecordFailed : kOk;
}

int32_t InstanceTable::Refresh(int32_t index) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  QX_PLAY_API_Refresh(h.player);
  return kOk;
}

int32_t InstanceTable::SendMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3) {
  Handles h;
  if (Claim(index, &h) != kOk) return kBadIndex;
  return P2PAPI_SendMessage(h.p2p, v1, v2, v3) != 0 ? kRefused : kOk;
}

int32_t InstanceTable::SetMessageCallBack(QXAPI_MessageCallback callback, intptr_t context) {
  std::lock_guard<std::recursive_mutex> hold(messageLock_);
  messageCallback_ = callback;
  messageContext_ = context;
  return kOk;
}

int32_t InstanceTable::SetAVDataCallBack(QXAPI_AVDataCallback callback, intptr_t context) {
  std::lock_guard<std::recursive_mutex> hold(avLock_);
  avCallback_ = callback;
  avContext_ = context;
  return kOk;
}

void InstanceTable::AVForwarder(int32_t handle, int32_t mediaKind, const uint8_t* data,
                                int32_t length, intptr_t index) {
  Get().OnAV(handle, mediaKind, data, length, index);
}

void InstanceTable::MessageForwarder(int32_t, intptr_t v1, intptr_t v2, intptr_t v3,
                                     intptr_t index) {
  Get().OnMessage(v1, v2, v3, index);
}

void InstanceTable::TalkForwarder(const unsigned char* pcm, uint32_t length, uintptr_t) {
  Get().OnTalk(pcm, length);
}

void InstanceTable::OnAV(int32_t handle, int32_t mediaKind, const uint8_t* data, int32_t length,
                         intptr_t index) {
  bool recordFailed;
  {
    std::lock_guard<std::recursive_mutex> hold(avLock_);
    recordFailed = ForwardAV(handle, mediaKind, data, length, index);
  }
  // After the AV lock: no two of the three locks are ever held at once.
  if (recordFailed) OnMessage(QXAPI_MSG_STATUS, QXAPI_STATUS_RECORD_FAILED, 0, index);
}

void InstanceTable::StartPlayer(InstanceSlot& slot, int player, uintptr_t window,
                                uint8_t frameType) {
  slot.videoStarted = 1;
  QX_PLAY_API_StartPlay(
      player, frameType >= kFrameJpeg ? QX_PLAY_DECODER_JPEG : QX_PLAY_DECODER_H264, window);
  char osd[InstanceSlot::kOsdBytes];
  {
    std::lock_guard<std::mutex> copy(osdLock_);
    std::memcpy(osd, slot.osdText, sizeof osd);
  }
  QX_PLAY_API_SetOSD(player, osd);
  // Starting play resets the player's audio too: audio switched on before this first frame
  // would otherwise fall silent for good. Under the play lock, a stop of the audio comes wholly
  // before or wholly after this.
  if (slot.audioOn == 1) QX_PLAY_API_PlayAudio(player);
  // So does a recording: it goes on with the new player, in its next file.
  if (slot.recordOn == 1) QX_PLAY_API_StartRecord(player, slot.recordPath);
}

bool InstanceTable::ForwardAV(int32_t handle, int32_t mediaKind, const uint8_t* data,
                              int32_t length, intptr_t index) {
  // The caller sees every block first, whatever the camera instance's state.
  if (avCallback_ != nullptr) {
    avCallback_(static_cast<int32_t>(index), mediaKind, data, length, avContext_);
  }
  if (index < 0 || index >= kSlots || data == nullptr || length <= 0) return false;
  InstanceSlot& slot = slots_[index];
  // The callback may have destroyed this camera instance, and the slot may hold a new one.
  if (slot.p2pHandle != handle) return false;
  const int player = slot.playerHandle;
  if (mediaKind == P2PAPI_MEDIA_AUDIO) {
    // Whole 16-bit samples only: an odd byte would shift every later sample in the player's
    // byte ring. The trailing byte of an odd block is dropped.
    if (slot.audioOn == 1 && length >= 2) QX_PLAY_API_InputPCMData(player, data, length & ~1);
    return false;
  }
  // A frame too short for its header, or whose payload runs past the data, is dropped.
  VideoFrameHeader header;
  if (!ParseVideoFrame(data, length, &header)) return false;
  if (slot.videoWindow != 0 && slot.videoStarted == 0) {
    std::lock_guard<std::mutex> play(slot.playLock);
    const uintptr_t window = slot.videoWindow;
    if (window != 0 && slot.videoStarted == 0 && slot.p2pHandle == handle) {
      StartPlayer(slot, player, window, header.frameType);
    }
  }
  if (slot.videoStarted != 1) return false;
  const int keyFrame = header.frameType == kFrameH264NonKey ? 0 : 1;
  QX_PLAY_API_InputVideoFrame(player, keyFrame, data + kVideoFrameHeaderBytes,
                              static_cast<int>(header.payloadLength), header.frameValue);
  // A recording that could not be written whole (a full disk) is reported once.
  return slot.recordOn == 1 && !slot.recordFailureReported &&
         QX_PLAY_API_GetRecordState(player) == kPlayerRecordFailed &&
         !slot.recordFailureReported.exchange(true);
}

void InstanceTable::OnMessage(intptr_t v1, intptr_t v2, intptr_t v3, intptr_t index) {
  std::lock_guard<std::recursive_mutex> hold(messageLock_);
  if (messageCallback_ != nullptr) {
    messageCallback_(static_cast<int32_t>(index), v1, v2, v3, messageContext_);
  }
}

void InstanceTable::OnTalk(const unsigned char* pcm, uint32_t length) {
  int32_t talking[kSlots];
  int count = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(tableLock_);
    for (const InstanceSlot& slot : slots_) {
      if (slot.talkOn != 0) talking[count++] = slot.p2pHandle;
    }
  }
  // Outside the lock: a camera that does not keep up has this audio dropped, and never holds up
  // the others.
  for (int i = 0; i < count; ++i) {
    P2PAPI_TalkData(talking[i], pcm, static_cast<int32_t>(length));
  }
}

}  // namespace rovik::camsession
