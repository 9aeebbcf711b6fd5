/* P2PAPI: the camera peer-to-peer connection library, as the camera session library (QXDll) uses
 * it. It reaches cameras over TCP with the protocol of p2p/protocol/PROTOCOL.md.
 * Plain C; every call returns a 32-bit int and never throws. */
#ifndef ROVIK_P2P_API_H
#define ROVIK_P2P_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define P2PAPI_EXPORT __attribute__((visibility("default")))
#else
#define P2PAPI_EXPORT
#endif

/* Results. Only P2PAPI_REFUSED has a meaning the session library relies on. */
#define P2PAPI_OK 0
#define P2PAPI_ERR_HANDLE (-1)  /* unknown handle, or a bad argument */
#define P2PAPI_ERR_CONNECT (-2) /* the camera could not be reached */
#define P2PAPI_ERR_LOGIN (-3)   /* the camera refused the user or password */
#define P2PAPI_ERR_NOT_CONNECTED (-5)
#define P2PAPI_REFUSED (-6) /* the camera refused to start video, audio or talk-back */

/* Media kinds of the AV callback. */
#define P2PAPI_MEDIA_AUDIO 0
#define P2PAPI_MEDIA_VIDEO 1

/* Messages the library itself reports: value1 = P2PAPI_MSG_STATUS, value2 one of these. */
#define P2PAPI_MSG_STATUS 1
#define P2PAPI_STATUS_CONNECTED 1
/* P2PAPI_Connect failed; value3 is its result. Reported on the connecting thread before
 * P2PAPI_Connect returns. */
#define P2PAPI_STATUS_CONNECT_FAILED 2
#define P2PAPI_STATUS_LOST 3
/* A camera's own MESSAGE with value1 P2PAPI_MSG_STATUS arrives with this value1 instead, so that
 * a camera can never pass for the library's own state reports. */
#define P2PAPI_MSG_CAMERA_RESERVED (-1)

/* (handle, media kind, data, length, user value). Video data starts with the 32-byte frame
 * header; audio is raw PCM. The data is valid during the call only. */
typedef void (*P2PAPI_AVDataCallback)(int32_t handle, int32_t mediaKind, const uint8_t* data,
                                      int32_t length, intptr_t user);
/* (handle, value1, value2, value3, user value). */
typedef void (*P2PAPI_MessageCallback)(int32_t handle, intptr_t value1, intptr_t value2,
                                       intptr_t value3, intptr_t user);

P2PAPI_EXPORT int32_t P2PAPI_InitialWithServer(intptr_t server);
P2PAPI_EXPORT int32_t P2PAPI_DeInitial(void);
P2PAPI_EXPORT int32_t P2PAPI_CreateInstance(int32_t* handle);
P2PAPI_EXPORT int32_t P2PAPI_DestroyInstance(int32_t handle);
P2PAPI_EXPORT int32_t P2PAPI_SetMessageCallBack(int32_t handle, P2PAPI_MessageCallback callback,
                                                intptr_t user);
P2PAPI_EXPORT int32_t P2PAPI_SetAVDataCallBack(int32_t handle, P2PAPI_AVDataCallback callback,
                                               intptr_t user);
/* value1: camera address "host:port"; value2: user; value3: password (C strings). */
P2PAPI_EXPORT int32_t P2PAPI_Connect(int32_t handle, intptr_t value1, intptr_t value2,
                                     intptr_t value3);
P2PAPI_EXPORT int32_t P2PAPI_Close(int32_t handle);
P2PAPI_EXPORT int32_t P2PAPI_StartVideo(int32_t handle, int32_t videoParameter);
P2PAPI_EXPORT int32_t P2PAPI_StopVideo(int32_t handle);
P2PAPI_EXPORT int32_t P2PAPI_StartAudio(int32_t handle);
P2PAPI_EXPORT int32_t P2PAPI_StopAudio(int32_t handle);
P2PAPI_EXPORT int32_t P2PAPI_StartTalk(int32_t handle);
P2PAPI_EXPORT int32_t P2PAPI_StopTalk(int32_t handle);
P2PAPI_EXPORT int32_t P2PAPI_TalkData(int32_t handle, const uint8_t* data, int32_t length);
P2PAPI_EXPORT int32_t P2PAPI_SendMessage(int32_t handle, intptr_t value1, intptr_t value2,
                                         intptr_t value3);

#ifdef __cplusplus
}
#endif

#endif /* ROVIK_P2P_API_H */
