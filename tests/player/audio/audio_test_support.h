// Helpers shared by the audio suites: thread counting and back ends that misbehave on purpose.
#pragma once

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "player/audio/backends/audio_backend.h"
#include "tests/fixtures/wait_until.h"

using namespace rovik::player;

using rovik::fixtures::WaitUntil;

// Threads of this process right now.
inline int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
  }
  return n;
}

// Threads of this process before the code under test starts any, counted once the runtime's own
// threads exist: a sanitizer runtime may start a helper thread of its own with the first thread
// the process creates, so one thread is made and joined first. Counts taken later are compared
// with this one exactly.
inline int ThreadBaseline() {
  static const bool warmed = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmed;
  return ThreadCount();
}
