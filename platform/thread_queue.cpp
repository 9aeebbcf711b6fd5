#include "platform/thread_queue.h"

namespace rovik::platform {

bool ThreadQueue::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    messages_.push_back(ThreadMessage{message, wParam, lParam});
  }
  arrived_.notify_one();
  return true;
}

std::optional<ThreadMessage> ThreadQueue::Get() {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait(lock, [this] { return !messages_.empty() || closed_; });
  if (messages_.empty()) return std::nullopt;
  ThreadMessage m = messages_.front();
  messages_.pop_front();
  return m;
}

std::optional<ThreadMessage> ThreadQueue::GetFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty() || closed_; })) {
    return std::nullopt;
  }
  if (messages_.empty()) return std::nullopt;
  ThreadMessage m = messages_.front();
  messages_.pop_front();
  return m;
}

std::optional<ThreadMessage> ThreadQueue::TryGet() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) return std::nullopt;
  ThreadMessage m = messages_.front();
  messages_.pop_front();
  return m;
}

void ThreadQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  arrived_.notify_all();
}

std::deque<ThreadMessage> ThreadQueue::Drain() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::deque<ThreadMessage> out;
  out.swap(messages_);
  return out;
}

bool ThreadQueue::IsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

std::size_t ThreadQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

}  // namespace rovik::platform
