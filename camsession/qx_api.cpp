// The 23 QXAPI_ exports: each hands over to the instance table; nothing throws out of here.
#include "camsession/qx_api.h"

#include "camsession/instance_table.h"

namespace rovik::camsession {
namespace {

template <typename Fn>
int32_t Guarded(Fn fn) {
  try {
    return fn(InstanceTable::Get());
  } catch (...) {
    return -1;
  }
}

}  // namespace
}  // namespace rovik::camsession

using namespace rovik::camsession;

extern "C" {

int32_t QXAPI_Initial(intptr_t server) {
  return Guarded([&](InstanceTable& t) { return t.Initial(server); });
}
int32_t QXAPI_DeInitial(void) {
  return Guarded([](InstanceTable& t) { return t.DeInitial(); });
}
int32_t QXAPI_GetAPIVersion(void) { return 0; }
int32_t QXAPI_CreateInstance(int32_t* index) {
  return Guarded([&](InstanceTable& t) { return t.CreateInstance(index); });
}
int32_t QXAPI_DestroyInstance(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.DestroyInstance(index); });
}
int32_t QXAPI_DestroyAllInstance(void) {
  return Guarded([](InstanceTable& t) { return t.DestroyAllInstance(); });
}
int32_t QXAPI_Start(int32_t index, intptr_t value1, intptr_t value2, intptr_t value3) {
  return Guarded([&](InstanceTable& t) { return t.Start(index, value1, value2, value3); });
}
int32_t QXAPI_Stop(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.Stop(index); });
}
int32_t QXAPI_StopAll(void) {
  return Guarded([](InstanceTable& t) { return t.StopAll(); });
}
int32_t QXAPI_StartVideo(int32_t index, uintptr_t window, int32_t videoParameter) {
  return Guarded([&](InstanceTable& t) { return t.StartVideo(index, window, videoParameter); });
}
int32_t QXAPI_StopVideo(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.StopVideo(index); });
}
int32_t QXAPI_StartAudio(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.StartAudio(index); });
}
int32_t QXAPI_StopAudio(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.StopAudio(index); });
}
int32_t QXAPI_StartTalk(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.StartTalk(index); });
}
int32_t QXAPI_StopTalk(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.StopTalk(index); });
}
int32_t QXAPI_SnapShot(int32_t index, const char* path) {
  return Guarded([&](InstanceTable& t) { return t.SnapShot(index, path); });
}
int32_t QXAPI_SetOSD(int32_t index, const char* text) {
  return Guarded([&](InstanceTable& t) { return t.SetOSD(index, text); });
}
int32_t QXAPI_StartRecord(int32_t index, const char* path, int32_t, int32_t) {
  return Guarded([&](InstanceTable& t) { return t.StartRecord(index, path); });
}
int32_t QXAPI_StopRecord(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.StopRecord(index); });
}
int32_t QXAPI_Refresh(int32_t index) {
  return Guarded([&](InstanceTable& t) { return t.Refresh(index); });
}
int32_t QXAPI_SendMessage(int32_t index, intptr_t value1, intptr_t value2, intptr_t value3) {
  return Guarded([&](InstanceTable& t) { return t.SendMessage(index, value1, value2, value3); });
}
int32_t QXAPI_SetMessageCallBack(QXAPI_MessageCallback callback, intptr_t context) {
  return Guarded([&](InstanceTable& t) { return t.SetMessageCallBack(callback, context); });
}
int32_t QXAPI_SetAVDataCallBack(QXAPI_AVDataCallback callback, intptr_t context) {
  return Guarded([&](InstanceTable& t) { return t.SetAVDataCallBack(callback, context); });
}

}  // extern "C"
