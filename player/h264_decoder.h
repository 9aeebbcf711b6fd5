// One H.264 elementary stream decoded with libavcodec: one access unit in, at most one planar
// 4:2:0 picture out. A decoder that could not be created decodes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/pixel_format.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace qxplay {

class H264Decoder {
 public:
  H264Decoder();
  ~H264Decoder();
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // False when the codec could not be found, allocated or opened.
  bool Ready() const { return context_ != nullptr && picture_ != nullptr; }

  // Decodes one access unit. True when a picture came out; `out` then views it (planes of the
  // decoder's own, valid until the next call). Pictures in other layouts (4:2:2, 4:4:4, deeper
  // samples) are converted to 8-bit 4:2:0 first.
  bool Decode(const uint8_t* data, size_t size, I420View& out);

 private:
  bool ToI420(AVFrame* frame, I420View& out);

  AVCodecContext* context_ = nullptr;
  AVFrame* picture_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* converted_ = nullptr;  // 4:2:0 copy of pictures that came in another layout
  SwsContext* scaler_ = nullptr;
  std::vector<uint8_t> padded_;   // the unit with the zero padding libavcodec reads past its end
};

}  // namespace qxplay
