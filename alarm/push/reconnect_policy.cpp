#include "alarm/push/reconnect_policy.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace rovik::alarm {

JitterSource MakeJitterSource(uint64_t seed) {
  if (seed == 0) {
    std::random_device device;
    seed = (static_cast<uint64_t>(device()) << 32) ^ device();
  }
  // Shared by the copies of the function; each channel has its own.
  auto engine = std::make_shared<std::mt19937_64>(seed);
  return [engine](int64_t bound) -> int64_t {
    if (bound <= 0) {
      return 0;
    }
    return std::uniform_int_distribution<int64_t>(0, bound)(*engine);
  };
}

Backoff::Backoff(BackoffSettings settings, JitterSource jitter)
    : settings_(settings), jitter_(jitter ? std::move(jitter) : MakeJitterSource()) {}

void Backoff::Failed(Clock::time_point now, std::chrono::milliseconds floor) {
  const int64_t first = std::max<int64_t>(1, settings_.first.count());
  const int64_t cap = std::max<int64_t>(first, settings_.cap.count());
  int64_t step = first;
  for (int i = 0; i < failures_ && step < cap; ++i) {
    step *= 2;
  }
  step = std::min(step, cap);
  ++failures_;
  const int64_t wait = std::max<int64_t>(floor.count(), jitter_(step));
  due_ = now + std::chrono::milliseconds(wait);
}

void Backoff::Reset() {
  failures_ = 0;
  due_ = {};
}

}  // namespace rovik::alarm
