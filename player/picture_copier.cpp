#include "player/picture_copier.h"

#include <algorithm>
#include <limits>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "player/picture_copy.h"

namespace qxplay {
namespace {

int32_t Align64(int32_t n) { return (n + 63) & ~63; }

// Row and column of `plane` inside the plane starting at `base` with rows `stride` apart;
// false when it does not lie in it.
bool OffsetIn(const uint8_t* base, int32_t stride, const uint8_t* plane, int32_t* row,
              int32_t* column) {
  if (base == nullptr || plane == nullptr || stride <= 0 || plane < base) {
    return false;
  }
  const ptrdiff_t offset = plane - base;
  if (offset / stride > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  *row = static_cast<int32_t>(offset / stride);
  *column = static_cast<int32_t>(offset % stride);
  return true;
}

}  // namespace

PictureCopier::~PictureCopier() {
  av_frame_free(&bands_);
  av_buffer_pool_uninit(&pool_);
}

bool PictureCopier::Allocate(AVFrame* frame, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
    return false;
  }
  const int32_t lumaStride = Align64(width);
  const int32_t chromaStride = Align64((width + 1) / 2);
  const size_t lumaBytes = static_cast<size_t>(lumaStride) * height;
  const size_t chromaBytes = static_cast<size_t>(chromaStride) * ((height + 1) / 2);
  const size_t bytes = lumaBytes + 2 * chromaBytes + 64;
  if (pool_ == nullptr || poolBytes_ != bytes) {
    // Buffers of the old size still held are freed when they are released.
    av_buffer_pool_uninit(&pool_);
    poolBytes_ = 0;
    pool_ = av_buffer_pool_init(bytes, nullptr);
    if (pool_ == nullptr) {
      return false;
    }
    poolBytes_ = bytes;
  }
  AVBufferRef* buffer = av_buffer_pool_get(pool_);
  if (buffer == nullptr) {
    return false;
  }
  uint8_t* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(buffer->data) + 63) &
                                             ~static_cast<uintptr_t>(63));
  frame->buf[0] = buffer;
  frame->data[0] = base;
  frame->data[1] = base + lumaBytes;
  frame->data[2] = base + lumaBytes + chromaBytes;
  frame->linesize[0] = lumaStride;
  frame->linesize[1] = chromaStride;
  frame->linesize[2] = chromaStride;
  frame->width = width;
  frame->height = height;
  frame->format = AV_PIX_FMT_YUV420P;
  return true;
}

void PictureCopier::DropBands() {
  if (bands_ != nullptr) {
    av_frame_unref(bands_);
  }
  source_ = nullptr;
  rowsDone_ = 0;
  chromaDone_ = 0;
  broken_ = false;
}

void PictureCopier::OnBand(const AVFrame* source, int y, int height, bool frameBand) {
  if (source == nullptr || source->buf[0] == nullptr || source->data[0] == nullptr) {
    return;
  }
  // The first band of a picture starts at its top row; a buffer the decoder reuses brings back
  // the same buffer for a new picture, so the row tells as much as the buffer.
  if (source->buf[0]->buffer != source_ || y <= 0) {
    DropBands();
    source_ = source->buf[0]->buffer;
    const auto format = static_cast<AVPixelFormat>(source->format);
    if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) {
      broken_ = true;
      return;
    }
    if (bands_ == nullptr) {
      bands_ = av_frame_alloc();
    }
    if (bands_ == nullptr || !Allocate(bands_, source->width, source->height)) {
      broken_ = true;
      return;
    }
    for (int i = 0; i < 3; ++i) {
      sourcePlanes_[i] = source->data[i];
    }
  }
  if (broken_) {
    return;
  }
  const int32_t end = std::min<int32_t>(y + std::max(height, 0), bands_->height);
  if (!frameBand || y > rowsDone_ || source->data[0] != sourcePlanes_[0]) {
    broken_ = true;  // a field, or a gap: this picture is copied whole when it comes out
    return;
  }
  if (end <= rowsDone_) {
    return;
  }
  const int32_t width = bands_->width;
  StreamCopyPlane(bands_->data[0] + static_cast<ptrdiff_t>(rowsDone_) * bands_->linesize[0],
                  bands_->linesize[0],
                  source->data[0] + static_cast<ptrdiff_t>(rowsDone_) * source->linesize[0],
                  source->linesize[0], width, end - rowsDone_);
  rowsDone_ = end;
  // Chroma rows go with the luma rows above them; the last band takes the odd last one too.
  const int32_t chromaEnd = end >= bands_->height ? (bands_->height + 1) / 2 : end / 2;
  if (chromaEnd > chromaDone_) {
    for (int plane = 1; plane <= 2; ++plane) {
      StreamCopyPlane(bands_->data[plane] + static_cast<ptrdiff_t>(chromaDone_) * bands_->linesize[plane],
                                      bands_->linesize[plane],
                      source->data[plane] +
                          static_cast<ptrdiff_t>(chromaDone_) * source->linesize[plane],
                      source->linesize[plane], (width + 1) / 2, chromaEnd - chromaDone_);
    }
    chromaDone_ = chromaEnd;
  }
}

bool PictureCopier::Take(const AVFrame* picture, const I420View& view, bool fromDecoder,
                         AVFrame* out) {
  ++taken_;
  bool whole = true;
  const int32_t chromaRows = (view.height + 1) / 2;
  const int32_t chromaWidth = (view.width + 1) / 2;
  if (fromDecoder && !broken_ && bands_ != nullptr && bands_->buf[0] != nullptr &&
      picture->buf[0] != nullptr && picture->buf[0]->buffer == source_ &&
      picture->decode_error_flags == 0 && (picture->flags & AV_FRAME_FLAG_CORRUPT) == 0) {
    // Where the picture, cropped, lies in the copy.
    int32_t top = 0;
    int32_t left = 0;
    int32_t chromaTop = 0;
    int32_t chromaLeft = 0;
    if (OffsetIn(sourcePlanes_[0], picture->linesize[0], view.y, &top, &left) &&
        OffsetIn(sourcePlanes_[1], picture->linesize[1], view.u, &chromaTop, &chromaLeft) &&
        picture->linesize[1] == picture->linesize[2] &&
        view.v - sourcePlanes_[2] == view.u - sourcePlanes_[1] &&
        top + view.height <= rowsDone_ && chromaTop + chromaRows <= chromaDone_ &&
        left + view.width <= bands_->width && chromaLeft + chromaWidth <= (bands_->width + 1) / 2) {
      av_frame_move_ref(out, bands_);
      out->data[0] += static_cast<ptrdiff_t>(top) * out->linesize[0] + left;
      out->data[1] += static_cast<ptrdiff_t>(chromaTop) * out->linesize[1] + chromaLeft;
      out->data[2] += static_cast<ptrdiff_t>(chromaTop) * out->linesize[2] + chromaLeft;
      out->width = view.width;
      out->height = view.height;
      whole = false;
      ++fromBands_;
    }
  }
  DropBands();
  if (whole) {
    if (!Allocate(out, view.width, view.height)) {
      return false;
    }
    StreamCopyPlane(out->data[0], out->linesize[0], view.y, view.yStride, view.width, view.height);
    StreamCopyPlane(out->data[1], out->linesize[1], view.u, view.uStride, chromaWidth, chromaRows);
    StreamCopyPlane(out->data[2], out->linesize[2], view.v, view.vStride, chromaWidth, chromaRows);
  }
  StreamCopyDone();
  return true;
}

}  // namespace qxplay
