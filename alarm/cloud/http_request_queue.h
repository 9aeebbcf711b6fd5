// The process's HTTP request queue: callers post requests, one worker thread sends them one at a
// time in posting order and hands each reply to the request's event sink on that thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "alarm/cloud/http_request.h"

namespace rovik::alarm {

// Thread messages of the worker.
inline constexpr unsigned WM_HTTPQUEUE_PROCESS = 8024;  // the queue is not empty: send it all
inline constexpr unsigned WM_HTTPQUEUE_QUIT = 9024;     // end the worker

struct HttpQueueMessages;

class HttpRequestQueue {
 public:
  // The process's queue, created with its worker on the first call; null after DestroyInstance.
  static HttpRequestQueue* GetInstance();
  // At exit: ends the worker and frees the queue; requests still queued are dropped unsent.
  static void DestroyInstance();

  // A queue of its own (tests; the process uses GetInstance). The worker runs before the
  // constructor returns, so no wake-up is lost.
  explicit HttpRequestQueue(std::chrono::milliseconds abortGrace = std::chrono::milliseconds(500));
  // Quit message; the worker finishes what it is sending and what was queued before it. If it has
  // not ended after abortGrace, the request in flight is aborted (its reply is the Exception text)
  // and the rest of the queue is dropped without replies. Then the worker is joined.
  ~HttpRequestQueue();
  HttpRequestQueue(const HttpRequestQueue&) = delete;
  HttpRequestQueue& operator=(const HttpRequestQueue&) = delete;

  // Appends the request and wakes the worker; the queue owns the request from here on. False
  // (the request dropped unsent, without a reply) when kMaxQueued requests wait already: a
  // service that stops answering never makes the queue grow without end.
  static constexpr std::size_t kMaxQueued = 64;
  bool Post(std::unique_ptr<HttpRequest> request);

 private:
  void Run();
  std::unique_ptr<HttpRequest> TakeFront();

  std::chrono::milliseconds abortGrace_;
  std::atomic<bool> abort_{false};               // set by the destructor after the grace time
  std::unique_ptr<HttpQueueMessages> messages_;  // the worker's thread message queue
  std::mutex mutex_;
  std::deque<std::unique_ptr<HttpRequest>> queue_;  // guarded by mutex_
  bool done_ = false;                               // guarded by mutex_: the worker has ended
  std::condition_variable doneChanged_;
  std::thread worker_;  // owned; joined by the destructor
};

}  // namespace rovik::alarm
