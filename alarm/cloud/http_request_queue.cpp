#include "alarm/cloud/http_request_queue.h"

#include "alarm/cloud/http_transport.h"
#include "platform/thread_queue.h"

namespace rovik::alarm {

struct HttpQueueMessages {
  rovik::platform::ThreadQueue queue;
};

namespace {

// A request that goes unsent tells its sink so.
void Drop(std::unique_ptr<HttpRequest> request) {
  if (request && request->events)
    request->events->OnHttpDropped(request->requestCode, request->context);
}

std::mutex g_instanceMutex;
HttpRequestQueue* g_instance = nullptr;  // guarded by g_instanceMutex
bool g_destroyed = false;                // guarded by g_instanceMutex

}  // namespace

HttpRequestQueue* HttpRequestQueue::GetInstance() {
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  if (g_destroyed) return nullptr;
  if (!g_instance) g_instance = new HttpRequestQueue();
  return g_instance;
}

void HttpRequestQueue::DestroyInstance() {
  HttpRequestQueue* queue = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    queue = g_instance;
    g_instance = nullptr;
    g_destroyed = true;
  }
  // Outside the lock: a reply handler still running on the worker may ask for the queue (and is
  // told there is none) while the worker is being joined.
  delete queue;
}

HttpRequestQueue::HttpRequestQueue(std::chrono::milliseconds abortGrace)
    : abortGrace_(abortGrace), messages_(std::make_unique<HttpQueueMessages>()) {
  // The message queue exists before the thread starts, so a wake-up posted at once is kept.
  worker_ = std::thread(&HttpRequestQueue::Run, this);
}

HttpRequestQueue::~HttpRequestQueue() {
  messages_->queue.Post(WM_HTTPQUEUE_QUIT);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!doneChanged_.wait_for(lock, abortGrace_, [this] { return done_; })) {
      // A request hangs on the network: end it cooperatively instead of killing the thread.
      abort_ = true;
    }
  }
  worker_.join();
  messages_->queue.Close();
  // Requests still queued are dropped unsent and without a reply.
  std::deque<std::unique_ptr<HttpRequest>> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left.swap(queue_);
  }
  for (auto& request : left) Drop(std::move(request));
}

bool HttpRequestQueue::Post(std::unique_ptr<HttpRequest> request) {
  if (!request) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kMaxQueued) return false;
    queue_.push_back(std::move(request));
  }
  messages_->queue.Post(WM_HTTPQUEUE_PROCESS);
  return true;
}

std::unique_ptr<HttpRequest> HttpRequestQueue::TakeFront() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return nullptr;
  std::unique_ptr<HttpRequest> front = std::move(queue_.front());
  queue_.pop_front();
  return front;
}

void HttpRequestQueue::Run() {
  for (;;) {
    std::optional<rovik::platform::ThreadMessage> message = messages_->queue.Get();
    if (!message || message->message == WM_HTTPQUEUE_QUIT) break;
    if (message->message != WM_HTTPQUEUE_PROCESS) continue;
    // One wake-up sends everything queued by now, and what is posted meanwhile.
    while (std::unique_ptr<HttpRequest> request = TakeFront()) {
      if (abort_) {  // exit is under way: drop the rest unsent
        Drop(std::move(request));
        continue;
      }
      try {
        ExecuteRequest(*request, &abort_);
      } catch (...) {
        // A sink that throws loses its own reply, never the worker.
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  doneChanged_.notify_all();
}

}  // namespace rovik::alarm
