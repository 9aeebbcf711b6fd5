// When the push channel tries again: exponential back-off with full jitter, so that many monitors
// that lost the service together do not come back in lock-step. The n-th wait after a failure is
// drawn evenly from 0 .. min(cap, first * 2^n); a success that held long enough starts over.
//
// Owner: the push thread (one policy each for connects, lookups and registrations). Not locked.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>

namespace rovik::alarm {

// Draws a number evenly from [0, bound] (milliseconds). Tests put a seeded source in place.
using JitterSource = std::function<int64_t(int64_t bound)>;

// A source over a Mersenne Twister seeded from `seed` (0: from the system's random device).
JitterSource MakeJitterSource(uint64_t seed = 0);

struct BackoffSettings {
  std::chrono::milliseconds first{5000};  // the first wait lies in 0 .. first
  std::chrono::milliseconds cap{30000};   // no wait is longer
};

class Backoff {
 public:
  using Clock = std::chrono::steady_clock;

  Backoff(BackoffSettings settings, JitterSource jitter);

  // A failure: the next try is due after a wait drawn from the current step, and the step
  // doubles. `floor` lengthens the wait (a session taken over by another machine).
  void Failed(Clock::time_point now,
              std::chrono::milliseconds floor = std::chrono::milliseconds(0));
  // A success: no wait; the steps start over.
  void Reset();
  // A try is due (always after Reset).
  bool Due(Clock::time_point now) const { return now >= due_; }
  Clock::time_point DueAt() const { return due_; }
  // Failures since the last Reset.
  int Failures() const { return failures_; }

 private:
  BackoffSettings settings_;
  JitterSource jitter_;
  int failures_ = 0;
  Clock::time_point due_{};
};

}  // namespace rovik::alarm
