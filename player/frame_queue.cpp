#include "player/frame_queue.h"

#include <new>

namespace qxplay {

bool FrameQueue::Push(const uint8_t* bytes, int32_t length, int32_t keyFlag, uint32_t frameValue,
                      int32_t width, int32_t height) {
  if (length < 0 || (length > 0 && bytes == nullptr) || (keyFlag != 0 && keyFlag != 1)) {
    return false;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (waitingForKey_ && keyFlag == 0) {
    return false;
  }
  waitingForKey_ = false;
  if (keyFlag == 1 && frames_.size() > kFlushLimit) {
    frames_.clear();
  }
  QueuedFrame frame;
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
  arrived_.notify_one();
  return true;
}

bool FrameQueue::Pop(QueuedFrame& out) {
  std::lock_guard<std::mutex> hold(lock_);
  if (frames_.empty()) {
    return false;
  }
  out = std::move(frames_.front());
  frames_.pop_front();
  return true;
}

bool FrameQueue::PopWait(QueuedFrame& out, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  const uint64_t wakeSeen = wakeCount_;
  arrived_.wait_for(hold, timeout, [&] { return !frames_.empty() || wakeCount_ != wakeSeen; });
  if (frames_.empty()) {
    return false;
  }
  out = std::move(frames_.front());
  frames_.pop_front();
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
}

size_t FrameQueue::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return frames_.size();
}

bool FrameQueue::WaitingForKey() const {
  std::lock_guard<std::mutex> hold(lock_);
  return waitingForKey_;
}

}  // namespace qxplay
