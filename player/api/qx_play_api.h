/*
 * QXPlayDll: the player library's exported interface (plain C).
 *
 * A caller creates player instances, named by small indexes 0..127, feeds them compressed video
 * frames (H.264 access units or whole JPEG pictures) and 16-bit PCM audio, and has the video
 * shown in a window it owns (an X11 Window id; 0 = no window). Snapshots and AVI recordings are
 * written on request; microphone audio captured for talk-back comes back through the PCM
 * callback, on the capture thread.
 *
 * Every function returns 0 on success or a negative code:
 *   -1  library not initialised
 *   -2  index above 127, or the instance is not in use
 *   -3  every instance is in use (QX_PLAY_API_CreateInstance)
 *   -4  an argument refused: decoder kind or key flag other than 0 or 1, a negative or oversized
 *       length, a null pointer where data is required, a snapshot or recording path of
 *       QX_PLAY_MAX_PATH_BYTES or more (never cut, never written elsewhere)
 *   -5  no video player (StopPlay, InputVideoFrame), no audio player (InputPCMData), or
 *       QX_PLAY_API_DeInitial while not initialised
 *   -6  the recording could not be written whole (StopRecord, GetRecordState): a write failed (a
 *       full disk); the file holds every sample up to the failure and the recording has ended
 *
 * A recording lasts from QX_PLAY_API_StartRecord to QX_PLAY_API_StopRecord (or the instance's
 * destruction). When the instance's player is replaced (QX_PLAY_API_StartPlay) the recording
 * stops with it; a QX_PLAY_API_StartRecord with the same path on the new player goes on in the
 * next file beside the first ("name_1.avi", "name_2.avi", ...; names taken are skipped), never
 * replacing what the recording wrote before. So does a change of picture size, or a file that
 * has reached 300 MiB or a day of samples.
 * The library copies every buffer, text and path before returning.
 */
#ifndef ROVIK_PLAYER_QX_PLAY_API_H
#define ROVIK_PLAYER_QX_PLAY_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QXPLAYDLL_BUILDING)
#define QX_PLAY_API_EXPORT __attribute__((visibility("default")))
#else
#define QX_PLAY_API_EXPORT
#endif

/* Decoder kinds of QX_PLAY_API_StartPlay. */
#define QX_PLAY_DECODER_H264 0
#define QX_PLAY_DECODER_JPEG 1

/* Largest frame QX_PLAY_API_InputVideoFrame takes, and largest PCM block of
 * QX_PLAY_API_InputPCMData (the whole playback ring). */
#define QX_PLAY_MAX_FRAME_BYTES (16 * 1024 * 1024)
#define QX_PLAY_MAX_PCM_BYTES (1024 * 1024)
/* Snapshot and recording paths are shorter than this. */
#define QX_PLAY_MAX_PATH_BYTES 260

/* Captured microphone audio: 16-bit signed little-endian mono PCM at 8000 samples per second,
 * 640 bytes a call. `pcm` is valid only during the call; `length` is the byte count (16-bit
 * value); `user` is the value given to QX_PLAY_API_SetPCMDataCallBack before
 * QX_PLAY_API_StartCapture. Called on the capture thread; it must return promptly. It may call
 * any export. QX_PLAY_API_SetPCMDataCallBack waits for a running call to return (unless it is
 * called from that call), so it is not to be called while holding a lock the callback takes. */
typedef void (*PcmDataCallback)(const unsigned char* pcm, uint32_t length, uintptr_t user);

QX_PLAY_API_EXPORT int QX_PLAY_API_Initial(void);
QX_PLAY_API_EXPORT int QX_PLAY_API_DeInitial(void);
QX_PLAY_API_EXPORT int QX_PLAY_API_GetAPIVersion(void);

QX_PLAY_API_EXPORT int QX_PLAY_API_CreateInstance(int* index);
QX_PLAY_API_EXPORT int QX_PLAY_API_DestroyInstance(int index);
QX_PLAY_API_EXPORT int QX_PLAY_API_DestroyAllInstance(void);

QX_PLAY_API_EXPORT int QX_PLAY_API_StartPlay(int index, int decoderKind, uintptr_t window);
QX_PLAY_API_EXPORT int QX_PLAY_API_StopPlay(int index);
QX_PLAY_API_EXPORT int QX_PLAY_API_StopAll(void);

QX_PLAY_API_EXPORT int QX_PLAY_API_PlayAudio(int index);
QX_PLAY_API_EXPORT int QX_PLAY_API_StopAudio(int index);

QX_PLAY_API_EXPORT int QX_PLAY_API_StartCapture(void);
QX_PLAY_API_EXPORT int QX_PLAY_API_StopCapture(void);

QX_PLAY_API_EXPORT int QX_PLAY_API_Refresh(int index);
QX_PLAY_API_EXPORT int QX_PLAY_API_SetOSD(int index, const char* text);
QX_PLAY_API_EXPORT int QX_PLAY_API_SnapShot(int index, const char* path);
QX_PLAY_API_EXPORT int QX_PLAY_API_StartRecord(int index, const char* path);
QX_PLAY_API_EXPORT int QX_PLAY_API_StopRecord(int index);
/* 0 while the instance's recording (if any) has been written whole so far, -6 once it has
 * failed; the failure stays until QX_PLAY_API_StopRecord. */
QX_PLAY_API_EXPORT int QX_PLAY_API_GetRecordState(int index);

QX_PLAY_API_EXPORT int QX_PLAY_API_InputVideoFrame(int index, int keyFlag,
                                                   const unsigned char* frame, int length,
                                                   uint32_t frameValue);
QX_PLAY_API_EXPORT int QX_PLAY_API_InputPCMData(int index, const unsigned char* pcm, int length);
QX_PLAY_API_EXPORT int QX_PLAY_API_SetPCMDataCallBack(PcmDataCallback callback, uintptr_t user);

#ifdef __cplusplus
}
#endif

#endif /* ROVIK_PLAYER_QX_PLAY_API_H */
