#include "tests/camsession/recording_libs.h"

#include <map>
#include <sstream>

namespace recording {
namespace {

std::mutex g_lock;  // guards everything below
std::vector<std::string> g_calls;
Script g_script;
std::map<int32_t, Registered> g_registered;
PcmDataCallback g_pcm = nullptr;
int32_t g_nextP2P = 100;
int g_nextPlayer = 200;
const unsigned char* g_lastFrame = nullptr;

template <typename... Args>
void Log(const char* name, Args... args) {
  std::ostringstream s;
  s << name << "(";
  bool first = true;
  ((s << (first ? "" : ",") << args, first = false), ...);
  s << ")";
  std::lock_guard<std::mutex> hold(g_lock);
  g_calls.push_back(s.str());
}

}  // namespace

void Reset() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_calls.clear();
  g_script = Script();
  g_registered.clear();
  g_pcm = nullptr;
  g_nextP2P = 100;
  g_nextPlayer = 200;
  g_lastFrame = nullptr;
}

Script& script() { return g_script; }

std::vector<std::string> Calls() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_calls;
}

std::vector<std::string> Take() {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<std::string> out;
  out.swap(g_calls);
  return out;
}

size_t Count(const std::string& prefix) {
  std::lock_guard<std::mutex> hold(g_lock);
  size_t n = 0;
  for (const auto& c : g_calls) n += c.rfind(prefix, 0) == 0;
  return n;
}

Registered RegisteredFor(int32_t p2pHandle) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_registered[p2pHandle];
}

PcmDataCallback PcmCallback() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_pcm;
}

const unsigned char* LastFramePointer() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_lastFrame;
}

}  // namespace recording

using namespace recording;

extern "C" {

int32_t P2PAPI_InitialWithServer(intptr_t server) {
  Log("P2PAPI_InitialWithServer", server);
  return 0;
}
int32_t P2PAPI_DeInitial(void) {
  Log("P2PAPI_DeInitial");
  return 0;
}
int32_t P2PAPI_CreateInstance(int32_t* handle) {
  int32_t h;
  int32_t result;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    result = g_script.p2pCreate;
    h = g_nextP2P++;
  }
  Log("P2PAPI_CreateInstance");
  if (result >= 0) *handle = h;
  return result;
}
int32_t P2PAPI_DestroyInstance(int32_t handle) {
  Log("P2PAPI_DestroyInstance", handle);
  return 0;
}
int32_t P2PAPI_SetMessageCallBack(int32_t handle, P2PAPI_MessageCallback callback, intptr_t user) {
  Log("P2PAPI_SetMessageCallBack", handle, user);
  std::lock_guard<std::mutex> hold(g_lock);
  g_registered[handle].message = callback;
  g_registered[handle].messageUser = user;
  return 0;
}
int32_t P2PAPI_SetAVDataCallBack(int32_t handle, P2PAPI_AVDataCallback callback, intptr_t user) {
  Log("P2PAPI_SetAVDataCallBack", handle, user);
  std::lock_guard<std::mutex> hold(g_lock);
  g_registered[handle].av = callback;
  g_registered[handle].avUser = user;
  return 0;
}
int32_t P2PAPI_Connect(int32_t handle, intptr_t v1, intptr_t v2, intptr_t v3) {
  Log("P2PAPI_Connect", handle, v1, v2, v3);
  return 0;
}
int32_t P2PAPI_Close(int32_t handle) {
  Log("P2PAPI_Close", handle);
  return 0;
}
int32_t P2PAPI_StartVideo(int32_t handle, int32_t parameter) {
  Log("P2PAPI_StartVideo", handle, parameter);
  return g_script.startVideo;
}
int32_t P2PAPI_StopVideo(int32_t handle) {
  Log("P2PAPI_StopVideo", handle);
  return 0;
}
int32_t P2PAPI_StartAudio(int32_t handle) {
  Log("P2PAPI_StartAudio", handle);
  return g_script.startAudio;
}
int32_t P2PAPI_StopAudio(int32_t handle) {
  Log("P2PAPI_StopAudio", handle);
  return 0;
}
int32_t P2PAPI_StartTalk(int32_t handle) {
  Log("P2PAPI_StartTalk", handle);
  return g_script.startTalk;
}
int32_t P2PAPI_StopTalk(int32_t handle) {
  Log("P2PAPI_StopTalk", handle);
  return 0;
}
int32_t P2PAPI_TalkData(int32_t handle, const uint8_t*, int32_t length) {
  Log("P2PAPI_TalkData", handle, length);
  return 0;
}
int32_t P2PAPI_SendMessage(int32_t handle, intptr_t v1, intptr_t v2, intptr_t v3) {
  Log("P2PAPI_SendMessage", handle, v1, v2, v3);
  return g_script.sendMessage;
}

int QX_PLAY_API_Initial(void) {
  Log("QX_PLAY_API_Initial");
  return 0;
}
int QX_PLAY_API_DeInitial(void) {
  Log("QX_PLAY_API_DeInitial");
  return 0;
}
int QX_PLAY_API_GetAPIVersion(void) { return 0; }
int QX_PLAY_API_CreateInstance(int* index) {
  int i;
  int result;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    result = g_script.playerCreate;
    i = g_nextPlayer++;
  }
  Log("QX_PLAY_API_CreateInstance");
  if (result >= 0) *index = i;
  return result;
}
int QX_PLAY_API_DestroyInstance(int index) {
  Log("QX_PLAY_API_DestroyInstance", index);
  return 0;
}
int QX_PLAY_API_DestroyAllInstance(void) {
  Log("QX_PLAY_API_DestroyAllInstance");
  return 0;
}
int QX_PLAY_API_StartPlay(int index, int decoderKind, uintptr_t window) {
  Log("QX_PLAY_API_StartPlay", index, decoderKind, window);
  return 0;
}
int QX_PLAY_API_StopPlay(int index) {
  Log("QX_PLAY_API_StopPlay", index);
  return 0;
}
int QX_PLAY_API_StopAll(void) {
  Log("QX_PLAY_API_StopAll");
  return 0;
}
int QX_PLAY_API_PlayAudio(int index) {
  Log("QX_PLAY_API_PlayAudio", index);
  return 0;
}
int QX_PLAY_API_StopAudio(int index) {
  Log("QX_PLAY_API_StopAudio", index);
  return 0;
}
int QX_PLAY_API_StartCapture(void) {
  Log("QX_PLAY_API_StartCapture");
  return 0;
}
int QX_PLAY_API_StopCapture(void) {
  Log("QX_PLAY_API_StopCapture");
  return 0;
}
int QX_PLAY_API_Refresh(int index) {
  Log("QX_PLAY_API_Refresh", index);
  return 0;
}
int QX_PLAY_API_SetOSD(int index, const char* text) {
  Log("QX_PLAY_API_SetOSD", index, std::string("\"") + (text ? text : "(null)") + "\"");
  return 0;
}
int QX_PLAY_API_SnapShot(int index, const char* path) {
  Log("QX_PLAY_API_SnapShot", index, path ? path : "(null)");
  return 0;
}
int QX_PLAY_API_StartRecord(int index, const char* path) {
  Log("QX_PLAY_API_StartRecord", index, path ? path : "(null)");
  return 0;
}
int QX_PLAY_API_StopRecord(int index) {
  Log("QX_PLAY_API_StopRecord", index);
  return script().stopRecord;
}
int QX_PLAY_API_GetRecordState(int) { return script().recordState; }
int QX_PLAY_API_InputVideoFrame(int index, int keyFlag, const unsigned char* frame, int length,
                                uint32_t frameValue) {
  // Touch every byte: reading past the delivered data shows up under AddressSanitizer.
  unsigned sum = 0;
  for (int i = 0; i < length; ++i) sum += frame[i];
  (void)sum;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_lastFrame = frame;
  }
  Log("QX_PLAY_API_InputVideoFrame", index, keyFlag, length, frameValue);
  return 0;
}
int QX_PLAY_API_InputPCMData(int index, const unsigned char* pcm, int length) {
  unsigned sum = 0;
  for (int i = 0; i < length; ++i) sum += pcm[i];
  (void)sum;
  Log("QX_PLAY_API_InputPCMData", index, length);
  return 0;
}
int QX_PLAY_API_SetPCMDataCallBack(PcmDataCallback callback, uintptr_t user) {
  Log("QX_PLAY_API_SetPCMDataCallBack", user);
  std::lock_guard<std::mutex> hold(g_lock);
  g_pcm = callback;
  return 0;
}

}  // extern "C"
