// What the cloud suites share: the process's request queue destroyed once at the end (as in the
// monitor), and a sink that collects the queue's replies in order.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "alarm/cloud/http_request_queue.h"

namespace rovik::cloud_tests {

using namespace rovik::alarm;

class QueueEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { HttpRequestQueue::DestroyInstance(); }
};
inline const auto* const g_queueEnvironment =
    ::testing::AddGlobalTestEnvironment(new QueueEnvironment);

class ReplySink : public IHttpEvents {
 public:
  struct Reply {
    int code;
    int context;
    std::string text;
  };

  void OnHttpResult(const std::string& reply, int, int code, int context) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      replies_.push_back({code, context, reply});
    }
    changed_.notify_all();
  }
  // The next reply; code -1 when none came within the bound.
  Reply Next(std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, bound, [&] { return !replies_.empty(); }))
      return {-1, -1, "<none>"};
    Reply r = replies_.front();
    replies_.erase(replies_.begin());
    return r;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Reply> replies_;  // guarded by mutex_
};

}  // namespace rovik::cloud_tests
