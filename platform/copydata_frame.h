// The WM_COPYDATA frame on a window socket, encoded and parsed in this one place.
//     request = u32 magic 0x44434D57 · u32 msg 0x004A · u64 wParam · u64 dwData · u32 cbData ·
//     cbData bytes reply   = i64 result                                         (all little-endian)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rovik::platform {

constexpr std::size_t kCopyDataHeaderSize = 28;
constexpr std::size_t kCopyDataReplySize = 8;

struct CopyDataHeader {
  uint64_t wParam = 0;
  uint64_t dwData = 0;
  uint32_t cbData = 0;
};

// Checks magic, message number and the 4 MiB bound of the first kCopyDataHeaderSize bytes.
// False (with a reason) for anything else, including a short buffer.
bool ParseCopyDataHeader(const uint8_t* bytes, std::size_t size, CopyDataHeader* out,
                         std::string* error = nullptr);

// The whole request frame (header and payload).
std::vector<uint8_t> EncodeCopyDataRequest(uint64_t wParam, uint64_t dwData, const void* data,
                                           std::size_t size);

void EncodeCopyDataReply(int64_t result, uint8_t out[kCopyDataReplySize]);
int64_t DecodeCopyDataReply(const uint8_t in[kCopyDataReplySize]);

}  // namespace rovik::platform
