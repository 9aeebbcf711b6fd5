// A worker thread's message queue (PostThreadMessageW / GetMessageW).
//
// The queue is an object of its own, created by whoever starts the worker, before the
// worker starts: a message posted right after creation is therefore never lost, whether or
// not the worker has reached its first Get() yet. Post() may be called from any thread.
//
//     ThreadQueue queue;                        // exists before the thread does
//     std::thread worker([&] { for (;;) { ThreadMessage m = queue.Get(); if (m.message == kQuit)
//     break; ... } }); queue.Post(kWork, 0, reinterpret_cast<intptr_t>(job)); queue.Post(kQuit);
//     worker.join();
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace rovik::platform {

struct ThreadMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class ThreadQueue {
 public:
  ThreadQueue() = default;
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // Appends a message. False once the queue is closed: the caller still owns whatever
  // wParam/lParam point to.
  bool Post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

  // Blocks until a message arrives. After Close() and once the queue is empty it returns
  // nullopt at once.
  std::optional<ThreadMessage> Get();

  // As Get(), giving up after `timeout`.
  std::optional<ThreadMessage> GetFor(std::chrono::milliseconds timeout);

  // PeekMessage with PM_REMOVE: the next message if one is waiting.
  std::optional<ThreadMessage> TryGet();

  // Refuses further posts and wakes every waiting Get(). Messages already queued are still
  // handed out; Drain() takes them all (so their payloads can be freed).
  void Close();
  std::deque<ThreadMessage> Drain();

  bool IsClosed() const;
  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;  // guards messages_, closed_
  std::condition_variable arrived_;
  std::deque<ThreadMessage> messages_;
  bool closed_ = false;
};

}  // namespace rovik::platform
