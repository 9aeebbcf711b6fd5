#include "player/h264_decoder.h"

#include <cstring>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace qxplay {

H264Decoder::H264Decoder() {
  // Broken camera streams are routine; libavcodec's complaints about them are not news.
  av_log_set_level(AV_LOG_FATAL);
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
  if (avcodec_open2(context_, codec, nullptr) < 0) {
    avcodec_free_context(&context_);
    return;
  }
  picture_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (picture_ == nullptr || packet_ == nullptr) {
    av_frame_free(&picture_);
    av_packet_free(&packet_);
  }
}

H264Decoder::~H264Decoder() {
  sws_freeContext(scaler_);
  av_frame_free(&converted_);
  av_frame_free(&picture_);
  av_packet_free(&packet_);
  avcodec_free_context(&context_);
}

bool H264Decoder::Decode(const uint8_t* data, size_t size, I420View& out) {
  if (!Ready() || data == nullptr || size == 0 ||
      size > static_cast<size_t>(std::numeric_limits<int>::max() - AV_INPUT_BUFFER_PADDING_SIZE)) {
    return false;
  }
  padded_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
  std::memcpy(padded_.data(), data, size);
  std::memset(padded_.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  packet_->data = padded_.data();
  packet_->size = static_cast<int>(size);
  const int sent = avcodec_send_packet(context_, packet_);
  packet_->data = nullptr;
  packet_->size = 0;
  if (sent < 0 && sent != AVERROR(EAGAIN)) {
    return false;
  }
  // Take every picture that is ready; the last one is shown.
  bool got = false;
  while (avcodec_receive_frame(context_, picture_) == 0) {
    got = ToI420(picture_, out);
  }
  return got;
}

bool H264Decoder::ToI420(AVFrame* frame, I420View& out) {
  if (frame->width <= 0 || frame->height <= 0 || frame->data[0] == nullptr) {
    return false;
  }
  AVFrame* src = frame;
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) {
    if (converted_ == nullptr || converted_->width != frame->width ||
        converted_->height != frame->height) {
      av_frame_free(&converted_);
      converted_ = av_frame_alloc();
      if (converted_ == nullptr) {
        return false;
      }
      converted_->format = AV_PIX_FMT_YUV420P;
      converted_->width = frame->width;
      converted_->height = frame->height;
      if (av_frame_get_buffer(converted_, 32) < 0) {
        av_frame_free(&converted_);
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
  out.y = src->data[0];
  out.u = src->data[1];
  out.v = src->data[2];
  out.yStride = src->linesize[0];
  out.uStride = src->linesize[1];
  out.vStride = src->linesize[2];
  out.width = src->width;
  out.height = src->height;
  out.chromaWidth = (src->width + 1) / 2;
  out.chromaHeight = (src->height + 1) / 2;
  return out.yStride >= out.width && out.uStride >= out.chromaWidth && out.vStride >= out.chromaWidth;
}

}  // namespace qxplay
