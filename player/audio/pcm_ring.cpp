#include "player/audio/pcm_ring.h"

#include <cstring>

namespace rovik::player {

PcmRing::PcmRing() : buffer_(new uint8_t[kCapacity]) {}

PcmRing::~PcmRing() = default;

void PcmRing::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  readPos_ = 0;
  writePos_ = 0;
  fill_ = 0;
}

int PcmRing::Write(const uint8_t* bytes, int n) {
  if (n < 0 || (n > 0 && bytes == nullptr)) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  if (!buffer_) return 0;
  // Compared in 64 bits: fill + n must not wrap for huge n.
  if (static_cast<int64_t>(capacity_) < static_cast<int64_t>(fill_) + n) return 0;
  const int room = capacity_ - writePos_;
  if (n < room) {
    std::memcpy(buffer_.get() + writePos_, bytes, static_cast<size_t>(n));
    writePos_ += n;
  } else {
    // The block reaches or crosses the end: the rest goes to the start, and a block that ends
    // exactly at the end leaves the write position at 0.
    std::memcpy(buffer_.get() + writePos_, bytes, static_cast<size_t>(room));
    std::memcpy(buffer_.get(), bytes + room, static_cast<size_t>(n - room));
    writePos_ = n - room;
  }
  fill_ += n;
  return n;
}

int PcmRing::ReadChunk(uint8_t* out) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!buffer_ || fill_ < kPcmChunkBytes) return 0;
  const int room = capacity_ - readPos_;
  if (kPcmChunkBytes <= room) {
    std::memcpy(out, buffer_.get() + readPos_, kPcmChunkBytes);
  } else {
    std::memcpy(out, buffer_.get() + readPos_, static_cast<size_t>(room));
    std::memcpy(out + room, buffer_.get(), static_cast<size_t>(kPcmChunkBytes - room));
  }
  readPos_ = (readPos_ + kPcmChunkBytes) % capacity_;
  fill_ -= kPcmChunkBytes;
  return kPcmChunkBytes;
}

int PcmRing::TakeFillSnapshot() {
  std::lock_guard<std::mutex> hold(lock_);
  fillSeen_ = fill_;
  return fillSeen_;
}

void PcmRing::Release() {
  std::lock_guard<std::mutex> hold(lock_);
  buffer_.reset();
  fill_ = 0;
  readPos_ = 0;
  writePos_ = 0;
}

int PcmRing::fill() const {
  std::lock_guard<std::mutex> hold(lock_);
  return fill_;
}

int PcmRing::readPosition() const {
  std::lock_guard<std::mutex> hold(lock_);
  return readPos_;
}

int PcmRing::writePosition() const {
  std::lock_guard<std::mutex> hold(lock_);
  return writePos_;
}

}  // namespace rovik::player
