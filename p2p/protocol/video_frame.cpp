#include "p2p/protocol/video_frame.h"

#include <cstring>

namespace rovik::p2p {

namespace {

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void WriteVideoFrameHeader(uint8_t* out, const VideoFrameHeader& header) {
  std::memset(out, 0, kVideoFrameHeaderBytes);
  out[4] = header.frameType;
  Put32(out + 8, header.frameValue);
  Put32(out + 16, header.payloadLength);
}

bool ParseVideoFrame(const uint8_t* data, int64_t length, VideoFrameHeader* out) {
  if (data == nullptr || out == nullptr || length < static_cast<int64_t>(kVideoFrameHeaderBytes)) {
    return false;
  }
  VideoFrameHeader h;
  h.frameType = data[4];
  h.frameValue = Get32(data + 8);
  h.payloadLength = Get32(data + 16);
  if (static_cast<int64_t>(h.payloadLength) >
      length - static_cast<int64_t>(kVideoFrameHeaderBytes)) {
    return false;
  }
  *out = h;
  return true;
}

}  // namespace rovik::p2p
