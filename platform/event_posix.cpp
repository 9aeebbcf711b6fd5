#include "platform/event.h"

#include <condition_variable>
#include <mutex>

namespace rovik::platform {
namespace {

// One lock and one condition for every event of the process: a WaitAny over several
// events then needs no registration with each of them. Events are few and rarely set.
std::mutex& eventLock() {  // guards Event::set_ of every event
  static std::mutex m;
  return m;
}

std::condition_variable& eventChanged() {
  static std::condition_variable cv;
  return cv;
}

}  // namespace

Event::Event(bool manualReset, bool initiallySet) : manualReset_(manualReset), set_(initiallySet) {}

Event::~Event() = default;

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(eventLock());
    set_ = true;
  }
  eventChanged().notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(eventLock());
  set_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(eventLock());
  return set_;
}

bool Event::TryConsumeLocked() {
  if (!set_) return false;
  if (!manualReset_) set_ = false;
  return true;
}

bool Event::Wait(std::chrono::milliseconds timeout) {
  Event* self = this;
  return WaitAny(std::span<Event* const>(&self, 1), timeout) == 0;
}

void Event::Wait() { Wait(std::chrono::milliseconds(-1)); }

int WaitAny(std::span<Event* const> events, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(eventLock());
  auto firstSet = [&]() -> int {
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (events[i] != nullptr && events[i]->TryConsumeLocked()) return static_cast<int>(i);
    }
    return kWaitTimeout;
  };
  int which = firstSet();
  if (which != kWaitTimeout) return which;
  if (timeout.count() < 0) {
    eventChanged().wait(lock, [&] { return (which = firstSet()) != kWaitTimeout; });
    return which;
  }
  auto deadline = std::chrono::steady_clock::now() + timeout;
  eventChanged().wait_until(lock, deadline, [&] { return (which = firstSet()) != kWaitTimeout; });
  return which;
}

}  // namespace rovik::platform
