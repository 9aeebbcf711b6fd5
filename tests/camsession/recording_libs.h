// Recording stand-ins for P2PAPI and QXPlayDll, linked into the session library's tests in place
// of the real ones: every call is logged as text, results can be scripted, and the callbacks the
// session library registers are kept so a test can play P2PAPI's and the player's part.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "p2p/p2p_api.h"
#include "player/api/qx_play_api.h"

namespace recording {

struct Script {
  int32_t p2pCreate = 0;  // result of P2PAPI_CreateInstance
  int playerCreate = 0;   // result of QX_PLAY_API_CreateInstance
  int32_t startVideo = 0;
  int32_t startAudio = 0;
  int32_t startTalk = 0;
  int32_t sendMessage = 0;
  int stopRecord = 0;   // result of QX_PLAY_API_StopRecord
  int recordState = 0;  // result of QX_PLAY_API_GetRecordState
};

struct Registered {
  P2PAPI_AVDataCallback av = nullptr;
  intptr_t avUser = -1;
  P2PAPI_MessageCallback message = nullptr;
  intptr_t messageUser = -1;
};

// Clears the log, the script and the registrations; handles count from 100 (P2PAPI) and
// 200 (player) again.
void Reset();
Script& script();
// The calls so far, e.g. "P2PAPI_Close(100)"; Take() also clears them.
std::vector<std::string> Calls();
std::vector<std::string> Take();
size_t Count(const std::string& prefix);
Registered RegisteredFor(int32_t p2pHandle);
PcmDataCallback PcmCallback();
// The payload pointer and bytes of the last QX_PLAY_API_InputVideoFrame.
const unsigned char* LastFramePointer();

}  // namespace recording
