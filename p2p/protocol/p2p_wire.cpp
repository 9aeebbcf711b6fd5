#include "p2p/protocol/p2p_wire.h"

#include <cstring>

namespace rovik::p2p {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | static_cast<uint64_t>(Get32(p + 4)) << 32;
}

void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void Put64(std::vector<uint8_t>& v, uint64_t x) {
  for (int i = 0; i < 8; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

}  // namespace

WireStream::WireStream(uint32_t maxPayload) : maxPayload_(maxPayload) {}

bool WireStream::Feed(const uint8_t* data, size_t n) {
  if (broken_) return false;
  if (n == 0) return true;
  if (data == nullptr) {
    broken_ = true;
    return false;
  }
  // Drop what was read before appending, so the buffer stays within one frame and a read.
  if (start_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + n);
  // Check the header as soon as it is complete, before any payload is waited for.
  if (buffer_.size() >= kWireHeaderBytes) {
    const uint8_t* h = buffer_.data();
    if (Get32(h) != kWireMagic || Get16(h + 6) != 0 || Get32(h + 8) > maxPayload_) {
      broken_ = true;
      return false;
    }
  }
  return true;
}

bool WireStream::Next(WireFrame* out) {
  if (broken_ || out == nullptr) return false;
  const size_t have = buffer_.size() - start_;
  if (have < kWireHeaderBytes) return false;
  const uint8_t* h = buffer_.data() + start_;
  if (Get32(h) != kWireMagic || Get16(h + 6) != 0 || Get32(h + 8) > maxPayload_) {
    broken_ = true;
    return false;
  }
  const uint32_t length = Get32(h + 8);
  if (have - kWireHeaderBytes < length) return false;
  out->type = Get16(h + 4);
  out->payload = h + kWireHeaderBytes;
  out->length = length;
  start_ += kWireHeaderBytes + length;
  return true;
}

std::vector<uint8_t> EncodeWireFrame(uint16_t type, const void* payload, size_t length) {
  std::vector<uint8_t> v;
  v.reserve(kWireHeaderBytes + length);
  Put32(v, kWireMagic);
  Put16(v, type);
  Put16(v, 0);
  Put32(v, static_cast<uint32_t>(length));
  const auto* p = static_cast<const uint8_t*>(payload);
  if (length > 0 && p != nullptr) v.insert(v.end(), p, p + length);
  return v;
}

std::vector<uint8_t> EncodeLogin(const std::string& user, const std::string& password) {
  std::vector<uint8_t> p;
  const size_t u = user.size() < kWireMaxName ? user.size() : kWireMaxName;
  const size_t w = password.size() < kWireMaxName ? password.size() : kWireMaxName;
  p.push_back(static_cast<uint8_t>(u));
  p.insert(p.end(), user.begin(), user.begin() + static_cast<std::ptrdiff_t>(u));
  p.push_back(static_cast<uint8_t>(w));
  p.insert(p.end(), password.begin(), password.begin() + static_cast<std::ptrdiff_t>(w));
  return EncodeWireFrame(kWireLogin, p.data(), p.size());
}

std::vector<uint8_t> EncodeInt32(uint16_t type, int32_t value) {
  std::vector<uint8_t> p;
  Put32(p, static_cast<uint32_t>(value));
  return EncodeWireFrame(type, p.data(), p.size());
}

std::vector<uint8_t> EncodeStartReply(uint16_t request, int32_t result) {
  std::vector<uint8_t> p;
  Put16(p, request);
  Put32(p, static_cast<uint32_t>(result));
  return EncodeWireFrame(kWireStartReply, p.data(), p.size());
}

std::vector<uint8_t> EncodeMessage(int64_t v1, int64_t v2, int64_t v3) {
  std::vector<uint8_t> p;
  Put64(p, static_cast<uint64_t>(v1));
  Put64(p, static_cast<uint64_t>(v2));
  Put64(p, static_cast<uint64_t>(v3));
  return EncodeWireFrame(kWireMessage, p.data(), p.size());
}

bool ParseLogin(const uint8_t* p, size_t n, std::string* user, std::string* password) {
  if (p == nullptr || n < 2) return false;
  const size_t u = p[0];
  if (u > kWireMaxName || n < 1 + u + 1) return false;
  const size_t w = p[1 + u];
  if (w > kWireMaxName || n != 1 + u + 1 + w) return false;
  user->assign(reinterpret_cast<const char*>(p + 1), u);
  password->assign(reinterpret_cast<const char*>(p + 2 + u), w);
  return true;
}

bool ParseInt32(const uint8_t* p, size_t n, int32_t* value) {
  if (p == nullptr || n != 4) return false;
  *value = static_cast<int32_t>(Get32(p));
  return true;
}

bool ParseStartReply(const uint8_t* p, size_t n, uint16_t* request, int32_t* result) {
  if (p == nullptr || n != 6) return false;
  *request = Get16(p);
  *result = static_cast<int32_t>(Get32(p + 2));
  return true;
}

bool ParseMessage(const uint8_t* p, size_t n, int64_t values[3]) {
  if (p == nullptr || n != 24) return false;
  for (int i = 0; i < 3; ++i) values[i] = static_cast<int64_t>(Get64(p + 8 * i));
  return true;
}

}  // namespace rovik::p2p
