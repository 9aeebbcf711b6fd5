// PcmRing: the 1 MiB ring between the caller that appends camera audio and the feeder thread that
// takes it out in whole 640-byte chunks.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "player/media/pcm_format.h"

namespace rovik::player {

class PcmRing {
 public:
  static constexpr int kCapacity = 1048576;

  PcmRing();
  PcmRing(const PcmRing&) = delete;
  PcmRing& operator=(const PcmRing&) = delete;
  ~PcmRing();

  // Empties the ring: positions and fill back to 0.
  void Reset();
  // Appends a whole block; a block that does not fit (or a negative length, or null bytes with a
  // positive length) is refused and nothing is copied. Returns n, or 0 when refused.
  int Write(const uint8_t* bytes, int n);
  // Reads one chunk into out: 640 when a whole chunk was there, else 0 and nothing is taken.
  int ReadChunk(uint8_t* out);
  // The feeder's look at the fill: copies it into fill seen under the lock and returns it.
  int TakeFillSnapshot();
  // Frees the buffer (under the lock); every later write is refused and every read finds nothing.
  void Release();

  int fill() const;
  int readPosition() const;
  int writePosition() const;

 private:
  mutable std::mutex lock_;  // guards buffer_, fill_, readPos_, writePos_, fillSeen_
  std::unique_ptr<uint8_t[]> buffer_;
  const int capacity_ = kCapacity;
  int fill_ = 0;
  int readPos_ = 0;
  int writePos_ = 0;
  int fillSeen_ = 0;
};

}  // namespace rovik::player
