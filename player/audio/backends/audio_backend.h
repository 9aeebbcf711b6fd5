// Audio devices behind one table. The player's output (CWavOut) and capture (CWaveIn) talk to a
// back end only through this table: buffers are lent to a device, queued there, and come back
// through a completion notice.
//
// Back ends: "alsa" (the default; ROVIK_AUDIO=alsa or alsa:<pcm name>) and "null"
// (ROVIK_AUDIO=null: output consumes chunks at real-time pace, input produces silence every 40 ms).
// ROVIK_AUDIO_CAPTURE, when set, chooses the capture back end apart ("null" or "alsa").
#pragma once

#include <atomic>
#include <cstdint>

#include "player/media/pcm_format.h"

namespace rovik::player {

// One buffer lent to a device: where its bytes are and the state of the loan.
struct AudioBuffer {
  uint8_t* data = nullptr;
  uint32_t length = 0;             // bytes at data
  uint32_t bytesRecorded = 0;      // input: bytes the device filled before returning the buffer
  std::atomic<uint32_t> flags{0};  // kAudioBuffer* below; set by the device's thread too
  intptr_t user = 0;
};

inline constexpr uint32_t kAudioBufferDone = 0x01;      // returned by the device
inline constexpr uint32_t kAudioBufferPrepared = 0x02;  // prepared for a device
inline constexpr uint32_t kAudioBufferQueued = 0x10;    // lent to a device, not yet returned

// Result codes of the table's calls.
enum AudioResult : int {
  kAudioOk = 0,
  kAudioError = 1,
  kAudioBadDevice = 2,
  kAudioNoMemory = 7,
  kAudioInvalidParam = 11,
  kAudioBadFormat = 32,
  kAudioStillPlaying = 33,
  kAudioUnprepared = 34,
};

// Notices of an input device: opened, closed, a buffer returned with what was captured.
enum class AudioInputEvent { kOpen, kClose, kData };

// Output completion: the device has taken the buffer and returns it. Called on the back
// end's own thread, or on the caller's thread from outputReset.
using AudioOutputDone = void (*)(void* context, AudioBuffer* buffer);
// Input notice; buffer is null for kOpen and kClose. kOpen and kClose arrive on the thread that
// opens or closes the device, kData on the back end's thread or from inputStop/inputReset.
using AudioInputNotify = void (*)(void* context, AudioInputEvent event, AudioBuffer* buffer);

// What enumerating an input device yields: its name and channel count.
struct AudioDeviceCaps {
  char name[32] = {};
  uint16_t channels = 0;
};

// An open output or input device: each back end derives its own device type from these.
struct AudioOutput {
 protected:
  AudioOutput() = default;
  ~AudioOutput() = default;
};
struct AudioInput {
 protected:
  AudioInput() = default;
  ~AudioInput() = default;
};

struct AudioBackend {
  const char* name;

  int (*outputOpen)(const AudioFormat& format, AudioOutputDone done, void* context,
                    AudioOutput** out);
  // Queues a prepared buffer; its completion follows once the device has taken the bytes.
  int (*outputWrite)(AudioOutput* device, AudioBuffer* buffer);
  // Returns every queued buffer at once, each with a completion.
  int (*outputReset)(AudioOutput* device);
  // Closes the device; refused with kAudioStillPlaying while buffers are queued.
  int (*outputClose)(AudioOutput* device);

  unsigned (*inputDeviceCount)();
  int (*inputDeviceCaps)(unsigned device, AudioDeviceCaps* caps);
  // Whether the device would open with the format; opens nothing.
  int (*inputQueryFormat)(unsigned device, const AudioFormat& format);
  int (*inputOpen)(unsigned device, const AudioFormat& format, AudioInputNotify notify,
                   void* context, AudioInput** out);
  int (*inputAddBuffer)(AudioInput* device, AudioBuffer* buffer);
  int (*inputStart)(AudioInput* device);
  // Stops recording; the buffer being filled returns with what it holds, the others stay queued.
  int (*inputStop)(AudioInput* device);
  // Stops recording and returns every queued buffer.
  int (*inputReset)(AudioInput* device);
  // Closes the device; refused with kAudioStillPlaying while buffers are queued.
  int (*inputClose)(AudioInput* device);
};

// The back end the process uses, chosen once from ROVIK_AUDIO and ROVIK_AUDIO_CAPTURE.
const AudioBackend& CurrentAudioBackend();
// Replaces the process's back end (tests); null goes back to the one ROVIK_AUDIO names.
void SetAudioBackend(const AudioBackend* backend);

const AudioBackend& NullAudioBackend();
const AudioBackend& AlsaAudioBackend();
// The ALSA PCM name the ALSA back end opens: "default" unless ROVIK_AUDIO=alsa:<name>.
const char* AlsaDeviceName();

// Buffer preparation, shared by every back end: a buffer is prepared before it is lent and
// unprepared once it is back.
int PrepareAudioBuffer(AudioBuffer* buffer);
int UnprepareAudioBuffer(AudioBuffer* buffer);

}  // namespace rovik::player
