#include "p2p/thread_reaper.h"

namespace rovik::p2p {

namespace {
thread_local bool t_reader = false;
}  // namespace

ThreadReaper& ThreadReaper::Get() {
  static ThreadReaper reaper;
  return reaper;
}

ThreadReaper::~ThreadReaper() { JoinRetired(); }

void ThreadReaper::MarkReaderThread() { t_reader = true; }

bool ThreadReaper::OnReaderThread() { return t_reader; }

void ThreadReaper::JoinOrRetire(std::thread t) {
  if (!t.joinable()) return;
  // A reader may be waiting for a lock that a reader's callback holds (the session library's
  // callback locks): a reader never waits for another reader, and never for itself.
  if (OnReaderThread()) {
    std::lock_guard<std::mutex> hold(lock_);
    retired_.push_back(std::move(t));
    return;
  }
  t.join();
}

void ThreadReaper::JoinRetired() {
  if (OnReaderThread()) return;
  std::vector<std::thread> joining;
  {
    std::lock_guard<std::mutex> hold(lock_);
    joining.swap(retired_);
  }
  for (std::thread& t : joining) t.join();
}

}  // namespace rovik::p2p
