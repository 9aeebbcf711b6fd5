// The copies of decoded pictures that a decoder hands to another thread. While libavcodec
// decodes a picture it reports each band of rows that is final; the copier writes each band
// out right then, while those rows are still in the decoding core's nearest caches, and the
// stores drain to memory while decoding goes on. When the picture comes out and the bands
// covered it, that copy is handed over as it is; otherwise (field pictures, bands missing, a
// picture mended after its bands by error concealment, pictures that come out in another order)
// the picture is copied whole at that point. Either way the copy is written around the caches
// (picture_copy.h). Used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "player/pixel_format.h"

struct AVBufferPool;
struct AVFrame;

namespace qxplay {

class PictureCopier {
 public:
  PictureCopier() = default;
  ~PictureCopier();  // buffers handed out stay valid; the pool goes with the last of them
  PictureCopier(const PictureCopier&) = delete;
  PictureCopier& operator=(const PictureCopier&) = delete;

  // Rows [y, y + height) of `source`, a picture being decoded, are final. `frameBand` is false
  // for bands of a single field, which are not copied (the picture is then copied whole).
  void OnBand(const AVFrame* source, int y, int height, bool frameBand);

  // Puts a copy of `picture` (as it came out of the decoder, 8-bit 4:2:0, `view` its planes)
  // into `out`, an allocated empty frame. `fromDecoder` is false when `view` is not the
  // decoder's own frame (a picture converted from another layout): bands are then not used.
  // False when no buffer could be had.
  bool Take(const AVFrame* picture, const I420View& view, bool fromDecoder, AVFrame* out);

  // Forgets the bands of the picture being decoded (when its copy is not wanted).
  void DropBands();

  // Pictures handed over so far that came from their bands, and in all (for tests).
  uint64_t FromBands() const { return fromBands_; }
  uint64_t Taken() const { return taken_; }

 private:
  // A buffer of the pool laid out as a width x height 4:2:0 picture, rows 64-byte aligned.
  bool Allocate(AVFrame* frame, int32_t width, int32_t height);

  AVBufferPool* pool_ = nullptr;
  size_t poolBytes_ = 0;

  // The picture being copied band by band.
  const void* source_ = nullptr;            // its buffer: which picture the bands belong to
  const uint8_t* sourcePlanes_[3] = {};     // its uncropped planes
  AVFrame* bands_ = nullptr;                // the copy being filled; empty when none
  int32_t rowsDone_ = 0;                    // luma rows 0 .. rowsDone_ - 1 copied
  int32_t chromaDone_ = 0;                  // chroma rows 0 .. chromaDone_ - 1 copied
  bool broken_ = false;                     // a band was missed or could not be copied

  uint64_t fromBands_ = 0;
  uint64_t taken_ = 0;
};

}  // namespace qxplay
