/* The exported interface compiled as C: the header must stand alone in a C program. */
#include "player/api/qx_play_api.h"

static unsigned int c_calls;

static void c_receiver(const unsigned char* pcm, uint32_t length, uintptr_t user) {
  (void)pcm;
  (void)length;
  (void)user;
  ++c_calls;
}

/* Called by the C++ suite: exercises the declarations from C and reports what it saw. */
int rovik_c_header_check(void) {
  PcmDataCallback callback = c_receiver;
  int index = -1;
  if (QX_PLAY_API_GetAPIVersion() != 0) return 1;
  if (QX_PLAY_API_SetPCMDataCallBack(callback, (uintptr_t)0) != 0) return 2;
  if (QX_PLAY_API_StartPlay(128, QX_PLAY_DECODER_H264, (uintptr_t)0) != -2) return 3;
  if (QX_PLAY_API_CreateInstance(&index) != -1) return 4; /* before QX_PLAY_API_Initial */
  if (QX_PLAY_API_InputVideoFrame(-1, 1, (const unsigned char*)0, 0, 0u) != -2) return 5;
  return c_calls == 0 ? 0 : 6;
}
