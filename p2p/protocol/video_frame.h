// The 32-byte header in front of every video frame a camera delivers (little-endian):
// offset 4 frame type (0 H.264 key, 1 H.264 non-key, 2+ JPEG), 8 frame value, 16 payload length;
// the compressed picture follows at offset 32. The other bytes are not read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rovik::p2p {

inline constexpr size_t kVideoFrameHeaderBytes = 32;

// Frame types.
inline constexpr uint8_t kFrameH264Key = 0;
inline constexpr uint8_t kFrameH264NonKey = 1;
inline constexpr uint8_t kFrameJpeg = 2;  // and every type above

struct VideoFrameHeader {
  uint8_t frameType = 0;
  uint32_t frameValue = 0;
  uint32_t payloadLength = 0;
};

// Fills the 32 header bytes (unused ones zero).
void WriteVideoFrameHeader(uint8_t* out, const VideoFrameHeader& header);

// Reads a delivered frame. False when it is shorter than the header or its payload length goes
// past the bytes delivered: such a frame must be dropped.
bool ParseVideoFrame(const uint8_t* data, int64_t length, VideoFrameHeader* out);

}  // namespace rovik::p2p
