// Reader threads whose connection ended on a reader thread (inside a callback), where they cannot
// be joined: kept here and joined by the next P2PAPI call made from outside every reader thread,
// or when the library is unloaded. A joiner holds no lock while it waits.
#pragma once

#include <mutex>
#include <thread>
#include <vector>

namespace rovik::p2p {

class ThreadReaper {
 public:
  static ThreadReaper& Get();
  ~ThreadReaper();  // joins what is left

  // Marks the calling thread as a connection's reader, for the rest of its life.
  static void MarkReaderThread();
  // True on any connection's reader thread, i.e. inside a P2PAPI callback.
  static bool OnReaderThread();

  // Joins t now when that is safe here, else keeps it for later.
  void JoinOrRetire(std::thread t);
  // Joins every kept thread; does nothing on a reader thread.
  void JoinRetired();

 private:
  ThreadReaper() = default;

  std::mutex lock_;  // guards retired_
  std::vector<std::thread> retired_;
};

}  // namespace rovik::p2p
