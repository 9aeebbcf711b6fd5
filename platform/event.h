// Events (CreateEvent / SetEvent / WaitForSingleObject / WaitForMultipleObjects).
//
// An auto-reset event lets exactly one wait through per Set() and resets itself; a
// manual-reset event stays set until Reset(). WaitAny waits on several events at once and
// reports the first signalled one in the order given, consuming only that one:
//
//     Event stop, resubscribe(false), report(false);
//     Event* events[] = {&stop, &resubscribe, &report};
//     int which = WaitAny(events, std::chrono::milliseconds(100));
//     if (which == 0) return;                 // stop
//     if (which == kWaitTimeout) { ... }      // nothing within 100 ms
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

namespace rovik::platform {

constexpr int kWaitTimeout = -1;

class Event {
 public:
  explicit Event(bool manualReset = false, bool initiallySet = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

  // Waits until set (consuming the signal of an auto-reset event). False on time-out.
  bool Wait(std::chrono::milliseconds timeout);
  void Wait();

 private:
  friend int WaitAny(std::span<Event* const> events, std::chrono::milliseconds timeout);
  bool TryConsumeLocked();

  // Both guarded by the process-wide event lock (see event_posix.cpp).
  bool manualReset_;
  bool set_;
};

// Index (into `events`) of the first set event, which is consumed when auto-reset; or
// kWaitTimeout when none was set within `timeout`. A negative timeout waits for ever.
int WaitAny(std::span<Event* const> events, std::chrono::milliseconds timeout);

}  // namespace rovik::platform
