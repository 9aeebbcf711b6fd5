// Processors without the x86 stores: plain copies.
#include <cstddef>
#include <cstring>

#include "player/picture_copy.h"

namespace qxplay {

void StreamCopyPlane(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     int32_t width, int32_t rows) {
  if (dst == nullptr || src == nullptr || width <= 0 || rows <= 0) {
    return;
  }
  for (int32_t row = 0; row < rows; ++row) {
    std::memcpy(dst + static_cast<ptrdiff_t>(row) * dstStride,
                src + static_cast<ptrdiff_t>(row) * srcStride, static_cast<size_t>(width));
  }
}

void StreamCopyDone() {}

}  // namespace qxplay
