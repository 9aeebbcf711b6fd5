// Bytes as received from a peer: the first byte picks the piece size the stream is fed in, the
// rest goes through WireStream, and every whole frame through its payload parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "p2p/protocol/p2p_wire.h"
#include "p2p/protocol/video_frame.h"

using namespace rovik::p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  WireStream stream(1 << 16);
  for (size_t at = 1; at < size && !stream.broken(); at += piece) {
    const size_t n = size - at < piece ? size - at : piece;
    stream.Feed(data + at, n);
    WireFrame f;
    while (stream.Next(&f)) {
      std::string user, password;
      int32_t value = 0;
      uint16_t request = 0;
      int64_t values[3];
      VideoFrameHeader header;
      switch (f.type) {
        case kWireLogin:
          ParseLogin(f.payload, f.length, &user, &password);
          break;
        case kWireLoginReply:
        case kWireStartVideo:
          ParseInt32(f.payload, f.length, &value);
          break;
        case kWireStartReply:
          ParseStartReply(f.payload, f.length, &request, &value);
          break;
        case kWireMessage:
          ParseMessage(f.payload, f.length, values);
          break;
        case kWireVideoFrame:
          if (ParseVideoFrame(f.payload, f.length, &header)) {
            // The payload the header announces must lie inside what was received.
            volatile uint8_t last =
                header.payloadLength ? f.payload[kVideoFrameHeaderBytes + header.payloadLength - 1]
                                     : 0;
            (void)last;
          }
          break;
        default:
          break;
      }
    }
  }
  return 0;
}
