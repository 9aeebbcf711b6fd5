// The one PCM format of the player's audio paths: signed 16-bit little-endian, mono, 8000 samples
// per second, moved in 640-byte chunks (320 samples, 40 ms). Camera audio and talk-back share it.
#pragma once

#include <cstdint>

namespace rovik::player {

inline constexpr int kPcmSampleRate = 8000;
inline constexpr int kPcmChannels = 1;
inline constexpr int kPcmBitsPerSample = 16;
inline constexpr int kPcmBytesPerSecond = kPcmSampleRate * kPcmChannels * kPcmBitsPerSample / 8;
inline constexpr int kPcmChunkBytes = 640;
inline constexpr int kPcmChunkFrames = kPcmChunkBytes / 2;
inline constexpr int kPcmChunkMillis = 40;

// One 40 ms block of PCM.
struct PcmChunk {
  uint8_t bytes[kPcmChunkBytes];
};

// What a device is opened with: the sample layout and rates of the PCM it takes or gives.
struct AudioFormat {
  uint16_t formatTag = 1;  // PCM
  uint16_t channels = kPcmChannels;
  uint32_t samplesPerSec = kPcmSampleRate;
  uint32_t avgBytesPerSec = kPcmBytesPerSecond;
  uint16_t blockAlign = 2;
  uint16_t bitsPerSample = kPcmBitsPerSample;
  uint16_t extraSize = 0;
};

// True for exactly the format above; back ends accept nothing else.
inline bool IsPlayerPcmFormat(const AudioFormat& f) {
  return f.formatTag == 1 && f.channels == kPcmChannels && f.samplesPerSec == kPcmSampleRate &&
         f.avgBytesPerSec == static_cast<uint32_t>(kPcmBytesPerSecond) && f.blockAlign == 2 &&
         f.bitsPerSample == kPcmBitsPerSample && f.extraSize == 0;
}

}  // namespace rovik::player
