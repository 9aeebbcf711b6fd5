// The 22 exports of QXPlayDll. Each forwards to the slot table; nothing thrown inside the library
// crosses this boundary (an allocation that fails becomes -5, "could not be done").
#include "player/api/qx_play_api.h"

#include <exception>

#include "player/api/player_slot_table.h"

namespace {

using rovik::player::PlayerSlotTable;

template <typename Fn>
int Guarded(Fn&& fn) noexcept {
  try {
    return fn(PlayerSlotTable::Instance());
  } catch (...) {
    return PlayerSlotTable::kNoPlayer;
  }
}

}  // namespace

extern "C" {

int QX_PLAY_API_Initial(void) {
  return Guarded([](PlayerSlotTable& t) { return t.Initial(); });
}

int QX_PLAY_API_DeInitial(void) {
  return Guarded([](PlayerSlotTable& t) { return t.DeInitial(); });
}

int QX_PLAY_API_GetAPIVersion(void) { return 0; }

int QX_PLAY_API_CreateInstance(int* index) {
  return Guarded([&](PlayerSlotTable& t) { return t.CreateInstance(index); });
}

int QX_PLAY_API_DestroyInstance(int index) {
  return Guarded([&](PlayerSlotTable& t) { return t.DestroyInstance(index); });
}

int QX_PLAY_API_DestroyAllInstance(void) {
  return Guarded([](PlayerSlotTable& t) { return t.DestroyAllInstance(); });
}

int QX_PLAY_API_StartPlay(int index, int decoderKind, uintptr_t window) {
  return Guarded([&](PlayerSlotTable& t) { return t.StartPlay(index, decoderKind, window); });
}

int QX_PLAY_API_StopPlay(int index) {
  return Guarded([&](PlayerSlotTable& t) { return t.StopPlay(index); });
}

int QX_PLAY_API_StopAll(void) {
  return Guarded([](PlayerSlotTable& t) { return t.StopAll(); });
}

int QX_PLAY_API_PlayAudio(int index) {
  return Guarded([&](PlayerSlotTable& t) { return t.PlayAudio(index); });
}

int QX_PLAY_API_StopAudio(int index) {
  return Guarded([&](PlayerSlotTable& t) { return t.StopAudio(index); });
}

int QX_PLAY_API_StartCapture(void) {
  return Guarded([](PlayerSlotTable& t) { return t.StartCapture(); });
}

int QX_PLAY_API_StopCapture(void) {
  return Guarded([](PlayerSlotTable& t) { return t.StopCapture(); });
}

int QX_PLAY_API_Refresh(int index) {
  return Guarded([&](PlayerSlotTable& t) { return t.Refresh(index); });
}

int QX_PLAY_API_SetOSD(int index, const char* text) {
  return Guarded([&](PlayerSlotTable& t) { return t.SetOSD(index, text); });
}

int QX_PLAY_API_SnapShot(int index, const char* path) {
  return Guarded([&](PlayerSlotTable& t) { return t.SnapShot(index, path); });
}

int QX_PLAY_API_StartRecord(int index, const char* path) {
  return Guarded([&](PlayerSlotTable& t) { return t.StartRecord(index, path); });
}

int QX_PLAY_API_StopRecord(int index) {
  return Guarded([&](PlayerSlotTable& t) { return t.StopRecord(index); });
}

int QX_PLAY_API_GetRecordState(int index) {
  return Guarded([&](PlayerSlotTable& t) { return t.GetRecordState(index); });
}

int QX_PLAY_API_InputVideoFrame(int index, int keyFlag, const unsigned char* frame, int length,
                                uint32_t frameValue) {
  return Guarded([&](PlayerSlotTable& t) {
    return t.InputVideoFrame(index, keyFlag, frame, length, frameValue);
  });
}

int QX_PLAY_API_InputPCMData(int index, const unsigned char* pcm, int length) {
  return Guarded([&](PlayerSlotTable& t) { return t.InputPCMData(index, pcm, length); });
}

int QX_PLAY_API_SetPCMDataCallBack(PcmDataCallback callback, uintptr_t user) {
  return Guarded([&](PlayerSlotTable& t) { return t.SetPCMDataCallBack(callback, user); });
}

}  // extern "C"
