/* A client of the installed camera session library, built with nothing but
 *   cc session_client.c $(pkg-config --cflags --libs rovik-qx)
 * The library brings the player library and the peer-to-peer library it needs from the program
 * folder. Prints "session ok". */
#include <qx_api.h>
#include <stdio.h>

int main(void) {
  if (QXAPI_GetAPIVersion() != 0) return 1;
  if (QXAPI_DeInitial() != -1) return 2;   /* not initialised */
  if (QXAPI_StopVideo(64) != -4) return 3; /* no such index */
  if (QXAPI_Initial(0) != 0) return 4;
  if (QXAPI_DeInitial() != 0) return 5;
  puts("session ok");
  return 0;
}
