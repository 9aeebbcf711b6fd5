#include "camsession/instance_table.h"

#include <cstring>

#include "p2p/p2p_api.h"
#include "p2p/video_frame.h"
#include "player/qx_play_api.h"

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kNotInitialised = -1;
constexpr int32_t kNoInstance = -3;
constexpr int32_t kBadIndex = -4;
constexpr int32_t kRefused = -6;

}  // namespace

InstanceTable& InstanceTable::Get() {
  static InstanceTable table;
  return table;
}

template <typename Op>
int32_t InstanceTable::WithSlot(int32_t index, Op op) {
  // Taken as unsigned: negative indexes are above 63 too. Checked before the lock.
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kSlots)) return kBadIndex;
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  InstanceSlot& slot = slots_[index];
  if (slot.inUse == 0) return kBadIndex;
  return op(slot);
}

void InstanceTable::ResetSlot(InstanceSlot& slot) {
  slot.p2pHandle = -1;
  slot.playerHandle = -1;
  slot.inUse = 0;
  slot.videoWindow = 0;
  slot.talkOn = 0;
  slot.audioOn = 0;
  slot.videoStarted = 0;
}

int32_t InstanceTable::Initial(intptr_t server) {
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  if (initialised_ != 0) return kOk;
  initialised_ = 1;
  // The table is cleared without destroying what it held.
  for (InstanceSlot& slot : slots_) {
    ResetSlot(slot);
    std::lock_guard<std::mutex> osd(osdLock_);
    std::memset(slot.osdText, 0, sizeof slot.osdText);
  }
  P2PAPI_InitialWithServer(server);
  QX_PLAY_API_Initial();
  QX_PLAY_API_SetPCMDataCallBack(&InstanceTable::TalkForwarder, 0);
  QX_PLAY_API_StartCapture();
  return kOk;
}

int32_t InstanceTable::DeInitial() {
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  if (initialised_ == 0) return kNotInitialised;
  initialised_ = 0;
  QX_PLAY_API_StopCapture();
  P2PAPI_DeInitial();
  QX_PLAY_API_DeInitial();
  return kOk;
}

int32_t InstanceTable::CreateInstance(int32_t* index) {
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  int32_t free = -1;
  for (int32_t i = 0; i < kSlots; ++i) {
    if (slots_[i].inUse == 0) {
      free = i;
      break;
    }
  }
  if (free < 0) return kNoInstance;
  int32_t p2p = -1;
  if (P2PAPI_CreateInstance(&p2p) < 0) return kNoInstance;
  int player = -1;
  if (QX_PLAY_API_CreateInstance(&player) < 0) {
    P2PAPI_DestroyInstance(p2p);
    return kNoInstance;
  }
  if (index != nullptr) *index = free;
  InstanceSlot& slot = slots_[free];
  slot.inUse = 1;
  slot.p2pHandle = p2p;
  slot.playerHandle = player;
  slot.videoWindow = 0;
  slot.talkOn = 0;
  slot.audioOn = 0;
  slot.videoStarted = 0;  // osdText stays as it was
  P2PAPI_SetMessageCallBack(p2p, &InstanceTable::MessageForwarder, free);
  P2PAPI_SetAVDataCallBack(p2p, &InstanceTable::AVForwarder, free);
  return kOk;
}

int32_t InstanceTable::DestroyInstance(int32_t index) {
  return WithSlot(index, [this](InstanceSlot& slot) {
    P2PAPI_DestroyInstance(slot.p2pHandle);
    QX_PLAY_API_DestroyInstance(slot.playerHandle);
    ResetSlot(slot);
    return kOk;
  });
}

int32_t InstanceTable::DestroyAllInstance() {
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  for (InstanceSlot& slot : slots_) {
    P2PAPI_DestroyInstance(slot.p2pHandle);
    QX_PLAY_API_DestroyInstance(slot.playerHandle);
    ResetSlot(slot);
  }
  return kOk;
}

int32_t InstanceTable::Start(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3) {
  return WithSlot(index, [&](InstanceSlot& slot) {
    P2PAPI_Connect(slot.p2pHandle, v1, v2, v3);
    return kOk;
  });
}

int32_t InstanceTable::Stop(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    const int32_t p2p = slot.p2pHandle;
    P2PAPI_Close(p2p);
    P2PAPI_StopTalk(p2p);
    P2PAPI_StopVideo(p2p);
    P2PAPI_StopAudio(p2p);
    const int player = slot.playerHandle;
    QX_PLAY_API_StopRecord(player);
    QX_PLAY_API_StopAudio(player);
    QX_PLAY_API_StopPlay(player);
    return kOk;
  });
}

int32_t InstanceTable::StopAll() {
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  for (InstanceSlot& slot : slots_) {
    if (slot.inUse != 1) continue;
    const int32_t p2p = slot.p2pHandle;
    P2PAPI_Close(p2p);
    P2PAPI_StopTalk(p2p);
    P2PAPI_StopVideo(p2p);
    P2PAPI_StopAudio(p2p);
  }
  return kOk;
}

int32_t InstanceTable::StartVideo(int32_t index, uintptr_t window, int32_t parameter) {
  return WithSlot(index, [&](InstanceSlot& slot) {
    if (P2PAPI_StartVideo(slot.p2pHandle, parameter) == kRefused) return kRefused;
    slot.videoWindow = window;
    slot.videoStarted = 0;  // the next frame starts the player with the decoder it needs
    return kOk;
  });
}

int32_t InstanceTable::StopVideo(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    P2PAPI_StopVideo(slot.p2pHandle);
    QX_PLAY_API_StopPlay(slot.playerHandle);
    slot.videoStarted = 0;
    return kOk;
  });
}

int32_t InstanceTable::StartAudio(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    if (P2PAPI_StartAudio(slot.p2pHandle) == kRefused) return kRefused;
    QX_PLAY_API_PlayAudio(slot.playerHandle);
    slot.audioOn = 1;
    return kOk;
  });
}

int32_t InstanceTable::StopAudio(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    P2PAPI_StopAudio(slot.p2pHandle);
    QX_PLAY_API_StopAudio(slot.playerHandle);
    slot.audioOn = 0;
    return kOk;
  });
}

int32_t InstanceTable::StartTalk(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    if (P2PAPI_StartTalk(slot.p2pHandle) == kRefused) return kRefused;
    slot.talkOn = 1;
    return kOk;
  });
}

int32_t InstanceTable::StopTalk(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    slot.talkOn = 0;
    P2PAPI_StopTalk(slot.p2pHandle);
    return kOk;
  });
}

int32_t InstanceTable::SnapShot(int32_t index, const char* path) {
  return WithSlot(index, [&](InstanceSlot& slot) {
    QX_PLAY_API_SnapShot(slot.playerHandle, path);
    return kOk;
  });
}

int32_t InstanceTable::SetOSD(int32_t index, const char* text) {
  return WithSlot(index, [&](InstanceSlot& slot) {
    {
      std::lock_guard<std::mutex> osd(osdLock_);
      std::memset(slot.osdText, 0, sizeof slot.osdText);
      if (text != nullptr) {
        // Kept for later streams: at most 127 bytes, the rest is cut.
        size_t n = 0;
        while (n < sizeof slot.osdText - 1 && text[n] != '\0') ++n;
        std::memcpy(slot.osdText, text, n);
      }
    }
    QX_PLAY_API_SetOSD(slot.playerHandle, text);
    return kOk;
  });
}

int32_t InstanceTable::StartRecord(int32_t index, const char* path) {
  return WithSlot(index, [&](InstanceSlot& slot) {
    QX_PLAY_API_StartRecord(slot.playerHandle, path);
    return kOk;
  });
}

int32_t InstanceTable::StopRecord(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    QX_PLAY_API_StopRecord(slot.playerHandle);
    return kOk;
  });
}

int32_t InstanceTable::Refresh(int32_t index) {
  return WithSlot(index, [](InstanceSlot& slot) {
    QX_PLAY_API_Refresh(slot.playerHandle);
    return kOk;
  });
}

int32_t InstanceTable::SendMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3) {
  return WithSlot(index, [&](InstanceSlot& slot) {
    return P2PAPI_SendMessage(slot.p2pHandle, v1, v2, v3) != 0 ? kRefused : kOk;
  });
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

void InstanceTable::AVForwarder(int32_t, int32_t mediaKind, const uint8_t* data, int32_t length,
                                intptr_t index) {
  Get().OnAV(mediaKind, data, length, index);
}

void InstanceTable::MessageForwarder(int32_t, intptr_t v1, intptr_t v2, intptr_t v3,
                                     intptr_t index) {
  Get().OnMessage(v1, v2, v3, index);
}

void InstanceTable::TalkForwarder(const unsigned char* pcm, uint32_t length, uintptr_t) {
  Get().OnTalk(pcm, length);
}

void InstanceTable::OnAV(int32_t mediaKind, const uint8_t* data, int32_t length, intptr_t index) {
  std::lock_guard<std::recursive_mutex> hold(avLock_);
  // The caller sees every block first, whatever the camera instance's state.
  if (avCallback_ != nullptr) {
    avCallback_(static_cast<int32_t>(index), mediaKind, data, length, avContext_);
  }
  if (index < 0 || index >= kSlots || data == nullptr || length <= 0) return;
  InstanceSlot& slot = slots_[index];
  const int player = slot.playerHandle;
  if (mediaKind != 0) {
    // A frame too short for its header, or whose payload runs past the data, is dropped.
    VideoFrameHeader header;
    if (!ParseVideoFrame(data, length, &header)) return;
    const uintptr_t window = slot.videoWindow;
    if (window != 0 && slot.videoStarted == 0) {
      slot.videoStarted = 1;
      QX_PLAY_API_StartPlay(player, header.frameType >= 2 ? QX_PLAY_DECODER_JPEG : QX_PLAY_DECODER_H264,
                            window);
      char osd[InstanceSlot::kOsdBytes];
      {
        std::lock_guard<std::mutex> copy(osdLock_);
        std::memcpy(osd, slot.osdText, sizeof osd);
      }
      QX_PLAY_API_SetOSD(player, osd);
      // Starting play resets the player's audio too: audio switched on before this first
      // frame would otherwise fall silent for good.
      if (slot.audioOn == 1) {
        QX_PLAY_API_PlayAudio(player);
      }
    }
    if (slot.videoStarted == 1) {
      QX_PLAY_API_InputVideoFrame(player, header.frameType == 1 ? 0 : 1,
                                  data + kVideoFrameHeaderBytes,
                                  static_cast<int>(header.payloadLength), header.frameValue);
    }
  } else if (slot.audioOn == 1) {
    QX_PLAY_API_InputPCMData(player, data, length);
  }
}

void InstanceTable::OnMessage(intptr_t v1, intptr_t v2, intptr_t v3, intptr_t index) {
  std::lock_guard<std::recursive_mutex> hold(messageLock_);
  if (messageCallback_ != nullptr) {
    messageCallback_(static_cast<int32_t>(index), v1, v2, v3, messageContext_);
  }
}

void InstanceTable::OnTalk(const unsigned char* pcm, uint32_t length) {
  std::lock_guard<std::recursive_mutex> hold(tableLock_);
  for (InstanceSlot& slot : slots_) {
    if (slot.talkOn != 0) P2PAPI_TalkData(slot.p2pHandle, pcm, static_cast<int32_t>(length));
  }
}
