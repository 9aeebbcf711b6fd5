// The camera protocol on TCP (p2p/protocol/PROTOCOL.md): frames of a 12-byte header
// (u32 magic "RVP1", u16 type, u16 zero, u32 payload length; little-endian) and a payload.
// Every byte received from a peer goes through WireStream and the Parse* functions below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rovik::p2p {

inline constexpr uint32_t kWireMagic = 0x31505652;  // "RVP1"
inline constexpr size_t kWireHeaderBytes = 12;
inline constexpr uint32_t kWireMaxPayload = 8u << 20;  // larger frames break the stream
inline constexpr size_t kWireMaxName = 64;             // user and password bytes
inline constexpr uint32_t kWireMaxTalk = 64u << 10;

enum WireType : uint16_t {
  kWireLogin = 1,        // c->s: u8 n, user, u8 n, password
  kWireLoginReply = 2,   // s->c: i32 (0 accepted, otherwise refused)
  kWireStartVideo = 3,   // c->s: i32 video parameter
  kWireStopVideo = 4,    // c->s: empty
  kWireStartAudio = 5,   // c->s: empty
  kWireStopAudio = 6,    // c->s: empty
  kWireStartTalk = 7,    // c->s: empty
  kWireStopTalk = 8,     // c->s: empty
  kWireStartReply = 9,   // s->c: u16 request type, i32 result (0 started, -6 refused)
  kWireTalkData = 10,    // c->s: PCM
  kWireVideoFrame = 11,  // s->c: 32-byte frame header and payload
  kWireAudioData = 12,   // s->c: PCM
  kWireMessage = 13,     // both: three i64 values
};

struct WireFrame {
  uint16_t type = 0;
  const uint8_t* payload = nullptr;  // valid until the next Feed or Next
  uint32_t length = 0;
};

// Incremental, bounded reader of a byte stream into frames.
class WireStream {
 public:
  explicit WireStream(uint32_t maxPayload = kWireMaxPayload);

  // Appends received bytes. False once the stream is broken (bad magic, reserved bits, or a
  // length above the bound): the connection must then be closed.
  bool Feed(const uint8_t* data, size_t n);
  // Takes the next whole frame; false when none is complete yet.
  bool Next(WireFrame* out);
  bool broken() const { return broken_; }
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  uint32_t maxPayload_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;  // first unread byte
  bool broken_ = false;
};

// One whole frame on the wire.
std::vector<uint8_t> EncodeWireFrame(uint16_t type, const void* payload, size_t length);
std::vector<uint8_t> EncodeLogin(const std::string& user, const std::string& password);
std::vector<uint8_t> EncodeInt32(uint16_t type, int32_t value);
std::vector<uint8_t> EncodeStartReply(uint16_t request, int32_t result);
std::vector<uint8_t> EncodeMessage(int64_t v1, int64_t v2, int64_t v3);

// Payload readers: false when the payload does not have the exact shape.
bool ParseLogin(const uint8_t* p, size_t n, std::string* user, std::string* password);
bool ParseInt32(const uint8_t* p, size_t n, int32_t* value);
bool ParseStartReply(const uint8_t* p, size_t n, uint16_t* request, int32_t* result);
bool ParseMessage(const uint8_t* p, size_t n, int64_t values[3]);

}  // namespace rovik::p2p
