#include "platform/copydata_frame.h"

#include <cstring>

#include "platform/window_link.h"

namespace rovik::platform {
namespace {

uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t load64(const uint8_t* p) { return uint64_t(load32(p)) | uint64_t(load32(p + 4)) << 32; }

void store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void store64(uint8_t* p, uint64_t v) {
  store32(p, uint32_t(v));
  store32(p + 4, uint32_t(v >> 32));
}

}  // namespace

bool ParseCopyDataHeader(const uint8_t* bytes, std::size_t size, CopyDataHeader* out,
                         std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (bytes == nullptr || size < kCopyDataHeaderSize) return fail("short header");
  if (load32(bytes) != kCopyDataMagic) return fail("bad magic");
  if (load32(bytes + 4) != kWmCopyData) return fail("not WM_COPYDATA");
  CopyDataHeader h;
  h.wParam = load64(bytes + 8);
  h.dwData = load64(bytes + 16);
  h.cbData = load32(bytes + 24);
  if (h.cbData > kMaxCopyData) return fail("cbData above 4 MiB");
  if (out) *out = h;
  return true;
}

std::vector<uint8_t> EncodeCopyDataRequest(uint64_t wParam, uint64_t dwData, const void* data,
                                           std::size_t size) {
  std::vector<uint8_t> frame(kCopyDataHeaderSize + size);
  store32(frame.data(), kCopyDataMagic);
  store32(frame.data() + 4, kWmCopyData);
  store64(frame.data() + 8, wParam);
  store64(frame.data() + 16, dwData);
  store32(frame.data() + 24, uint32_t(size));
  if (size > 0) std::memcpy(frame.data() + kCopyDataHeaderSize, data, size);
  return frame;
}

void EncodeCopyDataReply(int64_t result, uint8_t out[kCopyDataReplySize]) {
  store64(out, uint64_t(result));
}

int64_t DecodeCopyDataReply(const uint8_t in[kCopyDataReplySize]) { return int64_t(load64(in)); }

}  // namespace rovik::platform
