/* QXDll: camera sessions for the video client (plain C).
 *
 * Up to 64 camera instances, named by their index 0..63. Each pairs a connection to one camera
 * (P2PAPI) with one player (QXPlayDll): received video is shown in the window given to
 * QXAPI_StartVideo (an X11 Window id; 0 = none), received audio is played while audio is on, and
 * microphone audio goes to every camera whose talk-back is on.
 *
 * Any export may be called from inside the callbacks below, for the same camera instance or
 * another (answering a message, reconnecting with QXAPI_Start, stopping or destroying a camera,
 * even QXAPI_DeInitial). A connection ended from inside one of its own callbacks delivers nothing
 * after that callback returns; a start of video, audio or talk-back called from a callback of the
 * same camera instance cannot wait for the camera's answer and counts as accepted. A camera that
 * stops reading never holds up calls on other cameras: a message it does not take within about a
 * second fails with -6 and its connection is reported lost; microphone audio for it is dropped.
 *
 * A camera that goes quiet while its video or audio is on (about 10 s without a byte) has its
 * connection ended and reported lost, as one that closed it.
 *
 * A recording asked for with QXAPI_StartRecord is kept by the camera instance until
 * QXAPI_StopRecord: it starts with the first picture of the stream (StartRecord may come before
 * the video has started) and goes on after every restart of the video (a new QXAPI_StartVideo, a
 * reconnect, a change of picture size) in a new file beside the first: "name_1.avi",
 * "name_2.avi", ... An existing file is never overwritten by a continuation.
 *
 * Results: 0 success; -1 QXAPI_DeInitial while not initialised; -2 a path of
 * QXAPI_MAX_PATH_BYTES or more (or none) refused; -3 no camera instance could be created; -4 index
 * above 63 or not in use; -5 the recording could not be written whole (QXAPI_StopRecord: the disk
 * was full; the files hold everything up to the failure); -6 the camera refused (start of video,
 * audio or talk-back, or a message that could not be sent) or could not be reached (QXAPI_Start).
 *
 * The library's own reports come through the message callback as
 * (index, QXAPI_MSG_STATUS, status, detail); a camera's own message never has value1 1.
 */
#ifndef ROVIK_CAMSESSION_QX_API_H
#define ROVIK_CAMSESSION_QX_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define QXAPI_EXPORT __attribute__((visibility("default")))
#else
#define QXAPI_EXPORT
#endif

/* Every received block: (index, media kind: non-zero video / 0 audio, data, length, context).
 * Video data starts with the camera's 32-byte frame header. Runs on the connection's thread;
 * the data is valid during the call only. */
typedef void (*QXAPI_AVDataCallback)(int32_t index, int32_t mediaKind, const uint8_t* data,
                                     int32_t length, intptr_t context);
/* Every camera message: (index, value1, value2, value3, context). */
typedef void (*QXAPI_MessageCallback)(int32_t index, intptr_t value1, intptr_t value2,
                                      intptr_t value3, intptr_t context);

#define QXAPI_MAX_PATH_BYTES 260 /* snapshot and recording paths are shorter than this */

#define QXAPI_MSG_STATUS 1
#define QXAPI_STATUS_CONNECTED 1 /* the connection is up */
#define QXAPI_STATUS_CONNECT_FAILED                                                           \
  2                                  /* QXAPI_Start could not connect; detail: the connection \
                                        library's code. Arrives before QXAPI_Start returns. */
#define QXAPI_STATUS_LOST 3          /* the camera went away or went quiet */
#define QXAPI_STATUS_RECORD_FAILED 4 /* the recording could not be written whole and has ended */

QXAPI_EXPORT int32_t QXAPI_Initial(intptr_t server);
QXAPI_EXPORT int32_t QXAPI_DeInitial(void);
QXAPI_EXPORT int32_t QXAPI_GetAPIVersion(void);
QXAPI_EXPORT int32_t QXAPI_CreateInstance(int32_t* index);
QXAPI_EXPORT int32_t QXAPI_DestroyInstance(int32_t index);
QXAPI_EXPORT int32_t QXAPI_DestroyAllInstance(void);
/* value1..3 go to P2PAPI_Connect unchanged: "host:port", user, password. */
QXAPI_EXPORT int32_t QXAPI_Start(int32_t index, intptr_t value1, intptr_t value2, intptr_t value3);
QXAPI_EXPORT int32_t QXAPI_Stop(int32_t index);
QXAPI_EXPORT int32_t QXAPI_StopAll(void);
QXAPI_EXPORT int32_t QXAPI_StartVideo(int32_t index, uintptr_t window, int32_t videoParameter);
QXAPI_EXPORT int32_t QXAPI_StopVideo(int32_t index);
QXAPI_EXPORT int32_t QXAPI_StartAudio(int32_t index);
QXAPI_EXPORT int32_t QXAPI_StopAudio(int32_t index);
QXAPI_EXPORT int32_t QXAPI_StartTalk(int32_t index);
QXAPI_EXPORT int32_t QXAPI_StopTalk(int32_t index);
QXAPI_EXPORT int32_t QXAPI_SnapShot(int32_t index, const char* path);
/* At most 127 bytes of the text are kept for later streams; longer text is cut. */
QXAPI_EXPORT int32_t QXAPI_SetOSD(int32_t index, const char* text);
QXAPI_EXPORT int32_t QXAPI_StartRecord(int32_t index, const char* path, int32_t value1,
                                       int32_t value2);
QXAPI_EXPORT int32_t QXAPI_StopRecord(int32_t index);
QXAPI_EXPORT int32_t QXAPI_Refresh(int32_t index);
QXAPI_EXPORT int32_t QXAPI_SendMessage(int32_t index, intptr_t value1, intptr_t value2,
                                       intptr_t value3);
QXAPI_EXPORT int32_t QXAPI_SetMessageCallBack(QXAPI_MessageCallback callback, intptr_t context);
QXAPI_EXPORT int32_t QXAPI_SetAVDataCallBack(QXAPI_AVDataCallback callback, intptr_t context);

#ifdef __cplusplus
}
#endif

#endif /* ROVIK_CAMSESSION_QX_API_H */
