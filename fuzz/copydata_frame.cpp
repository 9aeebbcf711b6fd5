// WM_COPYDATA request headers as a window socket receives them from any local peer.
#include <cstddef>
#include <cstdint>

#include "platform/copydata_frame.h"
#include "platform/window_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rovik::platform::CopyDataHeader header;
  if (rovik::platform::ParseCopyDataHeader(data, size, &header)) {
    if (header.cbData > rovik::platform::kMaxCopyData) __builtin_trap();
    // A header that parses encodes back to the same bytes.
    auto again = rovik::platform::EncodeCopyDataRequest(header.wParam, header.dwData, nullptr, 0);
    for (size_t i = 0; i < 24; ++i) {
      if (again[i] != data[i]) __builtin_trap();
    }
  }
  return 0;
}
