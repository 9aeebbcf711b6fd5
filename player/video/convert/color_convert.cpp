#include "player/video/convert/color_convert.h"

#include <algorithm>
#include <cstdint>

#include "player/video/convert/color_convert_kernels.h"

namespace rovik::player {
namespace {

using convert::ConvertPixel;

bool ViewsUsable(const I420View& src, const SurfaceView& dst) {
  if (src.y == nullptr || src.width <= 0 || src.height <= 0 || src.yStride < src.width) {
    return false;
  }
  if (dst.pixels == nullptr || dst.width <= 0 || dst.height <= 0) {
    return false;
  }
  const int bpp = BytesPerPixel(dst.format);
  if (bpp == 0 || dst.pitch < static_cast<int64_t>(dst.width) * bpp) {
    return false;
  }
  if (src.chromaWidth > 0 && src.chromaHeight > 0) {
    if (src.u == nullptr || src.v == nullptr || src.uStride < src.chromaWidth ||
        src.vStride < src.chromaWidth) {
      return false;
    }
  }
  return true;
}

// Pixels [from, to) of one row, the chroma column (x >> chromaShift) clamped into the plane.
void ScalarRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, int chromaWidth,
               int chromaShift, uint8_t* d, int from, int to, PixelFormatCode format) {
  const int bpp = BytesPerPixel(format);
  for (int x = from; x < to; ++x) {
    uint8_t cu = 128;
    uint8_t cv = 128;
    if (chromaWidth > 0) {
      const int c = std::min(x >> chromaShift, chromaWidth - 1);
      cu = u[c];
      cv = v[c];
    }
    ConvertPixel(y[x], cu, cv, format, d + static_cast<size_t>(x) * bpp);
  }
}

void Convert(convert::RowKernel kernel, const I420View& src, const SurfaceView& dst,
             Stores stores) {
  if (!ViewsUsable(src, dst)) {
    return;
  }
  const int w = std::min(src.width, dst.width);
  const int h = std::min(src.height, dst.height);
  const bool hasChroma = src.chromaWidth > 0 && src.chromaHeight > 0;
  const int chromaWidth = hasChroma ? src.chromaWidth : 0;
  // Columns have a chroma sample each when the plane is as wide as the picture (the reference
  // converts them); else the kernels read one per two pixels and stop where the plane ends.
  const bool columnChroma = hasChroma && src.width > 1 && src.chromaWidth >= src.width;
  const int chromaShift = columnChroma ? 0 : 1;
  const int kernelSpan = hasChroma && !columnChroma ? std::min(w, 2 * chromaWidth) : 0;
  // Rows go in pairs sharing a chroma row, or one by one when each has its own.
  const bool rowChroma = hasChroma && src.height > 1 && src.chromaHeight >= src.height;
  for (int row = 0; row < h; row += rowChroma ? 1 : 2) {
    const bool pair = !rowChroma && row + 1 < h;
    const uint8_t* y0 = src.y + static_cast<size_t>(row) * src.yStride;
    const uint8_t* y1 = pair ? y0 + src.yStride : nullptr;
    uint8_t* d0 = dst.pixels + static_cast<size_t>(row) * dst.pitch;
    uint8_t* d1 = pair ? d0 + dst.pitch : nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    if (hasChroma) {
      const int chromaRow = rowChroma ? row : std::min(row / 2, src.chromaHeight - 1);
      u = src.u + static_cast<size_t>(chromaRow) * src.uStride;
      v = src.v + static_cast<size_t>(chromaRow) * src.vStride;
    }
    int done = 0;
    if (kernel != nullptr && kernelSpan > 0) {
      done = kernel(y0, y1, u, v, d0, d1, kernelSpan, dst.format, stores == Stores::kAroundCaches);
    }
    ScalarRow(y0, u, v, chromaWidth, chromaShift, d0, done, w, dst.format);
    if (pair) {
      ScalarRow(y1, u, v, chromaWidth, chromaShift, d1, done, w, dst.format);
    }
  }
  if (stores == Stores::kAroundCaches) {
    // Once for the whole picture: a fence per row stalls every row until its stores drain.
    convert::FenceStores();
  }
}

ConvertPath DetectBest() {
  if (convert::KernelFor(ConvertPath::kAvx2) != nullptr) {
    return ConvertPath::kAvx2;
  }
  if (convert::KernelFor(ConvertPath::kSse2) != nullptr) {
    return ConvertPath::kSse2;
  }
  return ConvertPath::kScalar;
}

}  // namespace

ConvertPath BestConvertPath() {
  static const ConvertPath best = DetectBest();
  return best;
}

bool ConvertPathSupported(ConvertPath path) {
  return path == ConvertPath::kScalar || convert::KernelFor(path) != nullptr;
}

const char* ConvertPathName(ConvertPath path) {
  switch (path) {
    case ConvertPath::kSse2:
      return "sse2";
    case ConvertPath::kAvx2:
      return "avx2";
    case ConvertPath::kScalar:
      break;
  }
  return "scalar";
}

void ConvertI420With(ConvertPath path, const I420View& src, const SurfaceView& dst, Stores stores) {
  Convert(path == ConvertPath::kScalar ? nullptr : convert::KernelFor(path), src, dst, stores);
}

void ConvertI420(const I420View& src, const SurfaceView& dst, Stores stores) {
  static const convert::RowKernel best = convert::KernelFor(BestConvertPath());
  Convert(best, src, dst, stores);
}

}  // namespace rovik::player
