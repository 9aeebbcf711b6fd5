// A fixed-capacity FIFO of buffers lent to a device: the back ends' queue of pending buffers.
// Not locked: each back end guards it with its device lock. No allocation after construction.
#pragma once

#include <array>
#include <cstddef>

#include "player/audio/backends/audio_backend.h"

namespace rovik::player {

class AudioQueue {
 public:
  static constexpr size_t kCapacity = 64;

  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }
  AudioBuffer* front() const { return count_ ? items_[head_] : nullptr; }

  bool push(AudioBuffer* b) {
    if (count_ == kCapacity) return false;
    items_[(head_ + count_) % kCapacity] = b;
    ++count_;
    return true;
  }

  AudioBuffer* pop() {
    if (count_ == 0) return nullptr;
    AudioBuffer* b = items_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return b;
  }

 private:
  std::array<AudioBuffer*, kCapacity> items_{};
  size_t head_ = 0;
  size_t count_ = 0;
};

// Marks a buffer lent to a device; refuses one that is unprepared or already lent.
inline int LendAudioBuffer(AudioBuffer* b) {
  if (b == nullptr) return kAudioInvalidParam;
  const uint32_t flags = b->flags.load();
  if (!(flags & kAudioBufferPrepared)) return kAudioUnprepared;
  if (flags & kAudioBufferQueued) return kAudioStillPlaying;
  b->flags.store((flags & ~kAudioBufferDone) | kAudioBufferQueued);
  return kAudioOk;
}

// Marks a buffer given back by the device.
inline void ReturnAudioBuffer(AudioBuffer* b) {
  b->flags.store((b->flags.load() & ~kAudioBufferQueued) | kAudioBufferDone);
}

// Lends `buffer` to a device and appends it to the device's `queue` (device lock held). A buffer
// for capture starts empty. When the queue is full the buffer is given back: kAudioNoMemory.
inline int QueueLentBuffer(AudioQueue& queue, AudioBuffer* buffer, bool forCapture = false) {
  if (int r = LendAudioBuffer(buffer); r != kAudioOk) return r;
  if (forCapture) buffer->bytesRecorded = 0;
  if (!queue.push(buffer)) {
    ReturnAudioBuffer(buffer);
    return kAudioNoMemory;
  }
  return kAudioOk;
}

// Gives every queued buffer back (device lock held) and moves them, in order, to `returned`, so
// that their completions can be reported once the lock is released. Capture buffers hold nothing.
inline void TakeBackAll(AudioQueue& queue, AudioQueue& returned, bool forCapture = false) {
  while (AudioBuffer* b = queue.pop()) {
    if (forCapture) b->bytesRecorded = 0;
    ReturnAudioBuffer(b);
    returned.push(b);
  }
}

}  // namespace rovik::player
