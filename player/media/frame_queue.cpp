#include "player/media/frame_queue.h"

#include <new>

namespace rovik::player {

void FrameQueue::DiscardAll() {
  dropped_ += frames_.size();
  frames_.clear();
  bytes_ = 0;
}

void FrameQueue::TakeFront(QueuedFrame& out) {
  if (out.bytes.capacity() > 0 && out.bytes.capacity() <= kMostSpareBytes &&
      spares_.size() < kSpares) {
    out.bytes.clear();
    spares_.push_back(std::move(out.bytes));
  }
  out = std::move(frames_.front());
  frames_.pop_front();
  bytes_ -= out.bytes.size();
}

bool FrameQueue::Push(const uint8_t* bytes, int32_t length, int32_t keyFlag, uint32_t frameValue,
                      int32_t width, int32_t height) {
  if (length < 0 || (length > 0 && bytes == nullptr) || (keyFlag != 0 && keyFlag != 1)) {
    return false;
  }
  const size_t size = static_cast<size_t>(length);
  std::unique_lock<std::mutex> hold(lock_);
  if (waitingForKey_ && keyFlag == 0) {
    if (skipping_) {
      ++dropped_;  // lost to the hard limit; frames before the very first key are not counted
    }
    return false;
  }
  const bool overLimit = frames_.size() >= kMaxFrames || bytes_ + size > kMaxBytes;
  if (keyFlag == 1 && (frames_.size() > kFlushLimit || overLimit)) {
    DiscardAll();
  } else if (overLimit) {
    // A consumer this far behind skips to the next key frame.
    DiscardAll();
    ++dropped_;
    waitingForKey_ = true;
    skipping_ = true;
    return false;
  }
  waitingForKey_ = false;
  skipping_ = false;
  QueuedFrame frame;
  if (!spares_.empty()) {
    frame.bytes = std::move(spares_.back());
    spares_.pop_back();
  }
  try {
    frame.bytes.assign(bytes, bytes + length);
    frame.keyFlag = keyFlag;
    frame.frameValue = frameValue;
    frame.width = width;
    frame.height = height;
    frames_.push_back(std::move(frame));
  } catch (const std::bad_alloc&) {
    return false;
  }
  bytes_ += size;
  hold.unlock();
  // After the unlock: the consumer woken does not find the lock still held.
  arrived_.notify_one();
  return true;
}

bool FrameQueue::Pop(QueuedFrame& out) {
  std::lock_guard<std::mutex> hold(lock_);
  if (frames_.empty()) {
    return false;
  }
  TakeFront(out);
  return true;
}

bool FrameQueue::PopWait(QueuedFrame& out, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  const uint64_t wakeSeen = wakeCount_;
  arrived_.wait_for(hold, timeout, [&] { return !frames_.empty() || wakeCount_ != wakeSeen; });
  if (frames_.empty()) {
    return false;
  }
  TakeFront(out);
  return true;
}

void FrameQueue::Wake() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++wakeCount_;
  }
  arrived_.notify_all();
}

void FrameQueue::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  frames_.clear();
  spares_.clear();
  bytes_ = 0;
}

size_t FrameQueue::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return frames_.size();
}

size_t FrameQueue::Bytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return bytes_;
}

bool FrameQueue::WaitingForKey() const {
  std::lock_guard<std::mutex> hold(lock_);
  return waitingForKey_;
}

uint64_t FrameQueue::Dropped() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dropped_;
}

}  // namespace rovik::player
