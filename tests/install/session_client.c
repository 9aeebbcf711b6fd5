/* A client of the installed camera session library and the player library together, built with
 * nothing but
 *   cc session_client.c $(pkg-config --cflags --libs rovik-qx rovik-qxplay)
 * It needs the peer-to-peer library in the program folder. Prints "session ok". */
#include <qx_api.h>
#include <qx_play_api.h>
#include <stdio.h>

int main(void) {
  if (QXAPI_GetAPIVersion() != 0 || QX_PLAY_API_GetAPIVersion() != 0) return 1;
  if (QXAPI_DeInitial() != -1) return 2;              /* not initialised */
  if (QXAPI_StopVideo(64) != -4) return 3;            /* no such index */
  puts("session ok");
  return 0;
}
