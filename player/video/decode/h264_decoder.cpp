#include "player/video/decode/h264_decoder.h"

#include "player/media/picture_limits.h"

#include <cstring>
#include <limits>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace rovik::player {
namespace {

// Added to the level of this decoder's messages: even a fatal one (8) lands past AV_LOG_TRACE.
constexpr int kQuietLogOffset = AV_LOG_TRACE - AV_LOG_FATAL + 8;

bool ViewOf(const AVFrame* frame, I420View& out) {
  if (frame->width <= 0 || frame->height <= 0 || frame->data[0] == nullptr) {
    return false;
  }
  out.y = frame->data[0];
  out.u = frame->data[1];
  out.v = frame->data[2];
  out.yStride = frame->linesize[0];
  out.uStride = frame->linesize[1];
  out.vStride = frame->linesize[2];
  out.width = frame->width;
  out.height = frame->height;
  out.chromaWidth = (frame->width + 1) / 2;
  out.chromaHeight = (frame->height + 1) / 2;
  return out.yStride >= out.width && out.uStride >= out.chromaWidth &&
         out.vStride >= out.chromaWidth;
}

}  // namespace

DecodedPicture::~DecodedPicture() { av_frame_free(&frame_); }

void DecodedPicture::Release() {
  if (frame_ != nullptr) {
    av_frame_unref(frame_);
  }
  view_ = I420View{};
}

void DecodedPicture::Swap(DecodedPicture& other) noexcept {
  std::swap(frame_, other.frame_);
  std::swap(view_, other.view_);
}

H264Decoder::H264Decoder() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (codec == nullptr) {
    return;
  }
  context_ = avcodec_alloc_context3(codec);
  if (context_ == nullptr) {
    return;
  }
  // Live pictures: show each one as soon as its unit is in, no frame-threading delay.
  context_->thread_count = 1;
  context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  // A stream whose parameter sets claim a picture beyond the player's limit gets no picture
  // buffers at all: libavcodec refuses to allocate them.
  context_->max_pixels = kMaxPicturePixels;
  // Broken camera streams are routine; this decoder's complaints about them are not news. Only
  // this context's messages are moved below every level a process logs at (past AV_LOG_TRACE);
  // the process's own log level and libavcodec's other users are left alone.
  context_->log_level_offset = kQuietLogOffset;
  if (avcodec_open2(context_, codec, nullptr) < 0) {
    avcodec_free_context(&context_);
    return;
  }
  picture_ = av_frame_alloc();
  incoming_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (picture_ == nullptr || incoming_ == nullptr || packet_ == nullptr) {
    av_frame_free(&picture_);
    av_frame_free(&incoming_);
    av_packet_free(&packet_);
  }
}

H264Decoder::~H264Decoder() {
  sws_freeContext(scaler_);
  av_frame_free(&converted_);
  av_frame_free(&picture_);
  av_frame_free(&incoming_);
  av_packet_free(&packet_);
  avcodec_free_context(&context_);
  av_buffer_unref(&unit_);
}

bool H264Decoder::Decode(const uint8_t* data, size_t size, I420View& out) {
  if (!Ready() || data == nullptr || size == 0 ||
      size > static_cast<size_t>(std::numeric_limits<int>::max() - AV_INPUT_BUFFER_PADDING_SIZE)) {
    return false;
  }
  // The last unit's buffer serves again unless libavcodec still holds it, it is too small, or
  // it is much larger than this unit (a unit much larger than the stream's usual ones does
  // not pin its copy).
  const size_t padded = size + AV_INPUT_BUFFER_PADDING_SIZE;
  if (unit_ != nullptr && (!av_buffer_is_writable(unit_) || unit_->size < padded ||
                           (unit_->size > kKeptUnitBytes && unit_->size > 2 * padded))) {
    av_buffer_unref(&unit_);
  }
  if (unit_ == nullptr && (unit_ = av_buffer_alloc(padded)) == nullptr) {
    return false;
  }
  std::memcpy(unit_->data, data, size);
  std::memset(unit_->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  packet_->buf = av_buffer_ref(unit_);
  if (packet_->buf == nullptr) {
    return false;
  }
  packet_->data = unit_->data;
  packet_->size = static_cast<int>(size);
  const int sent = avcodec_send_packet(context_, packet_);
  av_packet_unref(packet_);
  if (sent < 0 && sent != AVERROR(EAGAIN)) {
    return false;
  }
  // Take every picture that is ready; the last one is shown. Each is received into a frame of
  // its own and only then moved over the previous one: receiving clears the frame it is given
  // even when nothing comes, which would release the picture just taken.
  bool got = false;
  while (avcodec_receive_frame(context_, incoming_) == 0) {
    av_frame_unref(picture_);
    av_frame_move_ref(picture_, incoming_);
    got = ToI420(picture_, out);
  }
  return got;
}

bool H264Decoder::Decode(const uint8_t* data, size_t size, DecodedPicture& out) {
  I420View view;
  if (!Decode(data, size, view)) {
    return false;
  }
  if (out.frame_ == nullptr) {
    out.frame_ = av_frame_alloc();
    if (out.frame_ == nullptr) {
      return false;
    }
  }
  out.Release();
  // The decoder's own picture is handed on whole (this side needs it no longer); a converted
  // one stays referenced here too, so that the next conversion sees it is held.
  const bool own = view.y == picture_->data[0];
  if (own) {
    av_frame_move_ref(out.frame_, picture_);
  } else if (av_frame_ref(out.frame_, converted_) < 0) {
    out.Release();
    return false;
  }
  if (!ViewOf(out.frame_, out.view_)) {
    out.Release();
    return false;
  }
  return true;
}

bool H264Decoder::ToI420(AVFrame* frame, I420View& out) {
  if (frame->data[0] == nullptr || !PictureSizeAllowed(frame->width, frame->height)) {
    return false;
  }
  AVFrame* src = frame;
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) {
    if (converted_ == nullptr) {
      converted_ = av_frame_alloc();
      if (converted_ == nullptr) {
        return false;
      }
    }
    // A converted picture handed out and still held is not written over: a fresh buffer then.
    if (converted_->buf[0] == nullptr || converted_->width != frame->width ||
        converted_->height != frame->height || av_frame_is_writable(converted_) == 0) {
      av_frame_unref(converted_);
      converted_->format = AV_PIX_FMT_YUV420P;
      converted_->width = frame->width;
      converted_->height = frame->height;
      if (av_frame_get_buffer(converted_, 32) < 0) {
        av_frame_unref(converted_);
        return false;
      }
    }
    scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height, format, frame->width,
                                   frame->height, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr,
                                   nullptr);
    if (scaler_ == nullptr) {
      return false;
    }
    sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, converted_->data,
              converted_->linesize);
    src = converted_;
  }
  return ViewOf(src, out);
}

}  // namespace rovik::player
