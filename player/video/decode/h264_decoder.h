// One H.264 elementary stream decoded with libavcodec: one access unit in, at most one planar
// 4:2:0 picture out. A decoder that could not be created decodes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/media/pixel_format.h"

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace rovik::player {

// A decoded picture held apart from the decoder: a reference to the picture's buffer, valid and
// unchanged while it is held, whatever the decoder does meanwhile (libavcodec never writes into
// a picture it has handed out, and the decoder converts into a fresh buffer while its last
// converted one is held); the buffer goes back to the decoder's pool when released (even after
// the decoder is gone). Not copyable; Swap hands it on without touching the pixels.
class DecodedPicture {
 public:
  DecodedPicture() = default;
  ~DecodedPicture();
  DecodedPicture(const DecodedPicture&) = delete;
  DecodedPicture& operator=(const DecodedPicture&) = delete;

  bool Empty() const { return view_.y == nullptr; }
  // The planes; an empty view when nothing is held.
  const I420View& View() const { return view_; }
  void Release();
  void Swap(DecodedPicture& other) noexcept;

 private:
  friend class H264Decoder;
  AVFrame* frame_ = nullptr;  // kept allocated across pictures; holds a reference when not empty
  I420View view_;
};

// Pictures beyond the player's limit (picture_limits.h) do not come out: libavcodec is told
// not to allocate them.
class H264Decoder {
 public:
  // Room kept between units for the padded copy of a unit; more is let go when units shrink.
  static constexpr size_t kKeptUnitBytes = size_t{1} << 20;

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
  // The same, the picture handed out as a reference the caller keeps (the player's last shown
  // picture, for Refresh and snapshots): no pixel is copied. `out` is left as it was when no
  // picture came out, and released when no reference could be made.
  bool Decode(const uint8_t* data, size_t size, DecodedPicture& out);

 private:
  bool ToI420(AVFrame* frame, I420View& out);

  AVCodecContext* context_ = nullptr;
  AVFrame* picture_ = nullptr;   // the last picture out, held until the next unit or handed out
  AVFrame* incoming_ = nullptr;  // receives from the codec
  AVPacket* packet_ = nullptr;
  AVFrame* converted_ = nullptr;  // 4:2:0 copy of pictures that came in another layout
  SwsContext* scaler_ = nullptr;
  // The unit with the zero padding libavcodec reads past its end, handed over as a reference:
  // a packet that is not one is copied by libavcodec into a buffer it allocates for every unit.
  // Written again only while nobody else holds it.
  AVBufferRef* unit_ = nullptr;
};

}  // namespace rovik::player
