/* A client of the installed player library, built with nothing but
 *   cc play_client.c $(pkg-config --cflags --libs rovik-qxplay)
 * It prints "player ok" when every call answered as the header says. */
#include <qx_play_api.h>
#include <stdio.h>

#define EXPECT(call, want)                                                    \
  do {                                                                        \
    int got_ = (call);                                                        \
    if (got_ != (want)) {                                                     \
      fprintf(stderr, "%s gave %d, expected %d\n", #call, got_, (int)(want)); \
      return 1;                                                               \
    }                                                                         \
  } while (0)

int main(void) {
  int index = -1;
  EXPECT(QX_PLAY_API_GetAPIVersion(), 0);
  EXPECT(QX_PLAY_API_CreateInstance(&index), -1); /* not initialised yet */
  EXPECT(QX_PLAY_API_Initial(), 0);
  EXPECT(QX_PLAY_API_CreateInstance(&index), 0);
  EXPECT(index >= 0 && index <= 127, 1);
  EXPECT(QX_PLAY_API_StartPlay(index, QX_PLAY_DECODER_JPEG, 0), 0);
  EXPECT(QX_PLAY_API_StopPlay(index), 0);
  EXPECT(QX_PLAY_API_StartPlay(128, QX_PLAY_DECODER_H264, 0), -2);
  EXPECT(QX_PLAY_API_DestroyInstance(index), 0);
  EXPECT(QX_PLAY_API_DeInitial(), 0);
  EXPECT(QX_PLAY_API_DeInitial(), -5);
  puts("player ok");
  return 0;
}
