#include "player/video/decode/jpeg_decoder.h"

#include <turbojpeg.h>

#include <limits>

#include "player/media/picture_limits.h"

namespace rovik::player {
namespace {

int Flags() {
  int flags = TJFLAG_NOREALLOC;
#ifdef TJFLAG_LIMITSCANS
  // A progressive picture with absurdly many scans costs time without end; refuse it.
  flags |= TJFLAG_LIMITSCANS;
#endif
  return flags;
}

}  // namespace

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder() {
  if (handle_ != nullptr) {
    tjDestroy(static_cast<tjhandle>(handle_));
  }
}

void JpegDecoder::Reset() {
  // After an error the decompressor may refuse everything that follows; start afresh.
  if (handle_ != nullptr) {
    tjDestroy(static_cast<tjhandle>(handle_));
  }
  handle_ = tjInitDecompress();
}

bool JpegDecoder::ReadSize(const uint8_t* bytes, size_t length, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  if (handle_ == nullptr || bytes == nullptr || length == 0 ||
      length > static_cast<size_t>(std::numeric_limits<unsigned long>::max())) {
    return false;
  }
  int w = 0;
  int h = 0;
  int subsampling = 0;
  int colorspace = 0;
  if (tjDecompressHeader3(static_cast<tjhandle>(handle_), bytes, static_cast<unsigned long>(length),
                          &w, &h, &subsampling, &colorspace) != 0) {
    Reset();
    return false;
  }
  if (!PictureSizeAllowed(w, h)) {
    return false;
  }
  *width = w;
  *height = h;
  return true;
}

bool JpegDecoder::Decode(const uint8_t* bytes, size_t length, const SurfaceView& dst) {
  int32_t w = 0;
  int32_t h = 0;
  if (!ReadSize(bytes, length, &w, &h) || dst.pixels == nullptr || w > dst.width ||
      h > dst.height) {
    return false;
  }
  auto* handle = static_cast<tjhandle>(handle_);
  const auto decode = [&](uint8_t* out, int pitch, int pixelFormat) {
    const int rc = tjDecompress2(handle, bytes, static_cast<unsigned long>(length), out, w, pitch,
                                 h, pixelFormat, Flags());
    // A warning (data ended early, a damaged segment) still leaves a usable picture.
    const bool usable = rc == 0 || tjGetErrorCode(handle) == TJERR_WARNING;
    if (rc != 0) {
      Reset();
    }
    return usable;
  };
  switch (dst.format) {
    case kPixelFormatRgb32:
      return decode(dst.pixels, dst.pitch, TJPF_BGRA);  // alpha 0xFF
    case kPixelFormatRgb24:
      return decode(dst.pixels, dst.pitch, TJPF_BGR);
    case kPixelFormatRgb565:
    case kPixelFormatRgb555: {
      scratch_.resize(static_cast<size_t>(w) * h * 3);
      const bool usable = decode(scratch_.data(), w * 3, TJPF_RGB);
      if (usable) {
        for (int32_t row = 0; row < h; ++row) {
          const uint8_t* s = scratch_.data() + static_cast<size_t>(row) * w * 3;
          uint8_t* d = dst.pixels + static_cast<size_t>(row) * dst.pitch;
          for (int32_t x = 0; x < w; ++x, s += 3, d += 2) {
            PackPixel(dst.format, s[0], s[1], s[2], d);
          }
        }
      }
      if (scratch_.capacity() > kKeptScratchBytes) {
        std::vector<uint8_t>().swap(scratch_);  // one large picture does not pin its space
      }
      return usable;
    }
    case kPixelFormatNone:
      break;
  }
  return false;
}

}  // namespace rovik::player
