// Turns each alarm message into a stored alarm: the record is filled, the repeat rule applied,
// the alarm stored and handed to the delivery. Nothing the broker was told we have is dropped:
// an alarm the store cannot take (another program holds the database, the disk is full) waits in
// order in a bounded queue and is stored again with back-off; the alarms after it queue behind
// it, and the push channel stops taking messages from the broker while the queue is full (the
// broker keeps them). The first failure of a run of failures is logged and shown once.
//
// Owner: the push thread (every call). Not locked.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "alarm/push/alarm_spill.h"
#include "alarm/push/reconnect_policy.h"
#include "alarm/record/alarm_record.h"

namespace rovik::alarm {

class AlarmDelivery;
class MdSQLite;
struct SubscribedAccount;

// Told, once per run of store failures, SQLite's text of the failure (the popup shows it).
using StoreTroubleHandler = std::function<void(const std::string& error)>;

struct IntakeSettings {
  std::size_t pendingLimit = 10000;          // alarms waiting for the store at most
  std::chrono::milliseconds busyWait{1000};  // one insert waits this long for a locked store
  BackoffSettings retry{std::chrono::milliseconds(200), std::chrono::seconds(5)};
};

class AlarmIntake {
 public:
  AlarmIntake(MdSQLite* store, AlarmDelivery& delivery, IntakeSettings settings,
              JitterSource jitter);

  void SetClock(UtcClock clock) { clock_ = std::move(clock); }
  void SetTroubleHandler(StoreTroubleHandler handler) { trouble_ = std::move(handler); }

  // One message on a watched topic (`account` its subscription). `redelivered`: the broker marked
  // it as sent before; one whose delivery key the store knows is dropped.
  void Take(std::string_view topic, const SubscribedAccount& account, const void* payload,
            std::size_t length, bool redelivered);
  // Stores the waiting alarms when their retry is due.
  void RetryPending(std::chrono::steady_clock::time_point now);
  // The queue is at its limit: take no more messages from the broker.
  bool Full() const { return pending_.size() >= settings_.pendingLimit; }
  std::size_t PendingCount() const { return pending_.size(); }
  // The waiting alarms, oldest first, taken out of the queue (to be kept over a stop).
  std::vector<SpilledAlarm> TakePending();
  // Alarms kept over the last stop wait again, before any new one.
  void Resume(std::vector<SpilledAlarm> alarms);

 private:
  using Pending = SpilledAlarm;
  void StorePending(std::chrono::steady_clock::time_point now);

  MdSQLite* store_;
  AlarmDelivery& delivery_;
  IntakeSettings settings_;
  UtcClock clock_ = CurrentUtcTime;
  StoreTroubleHandler trouble_;
  RepeatState repeat_;           // the repeat rule's memory
  std::deque<Pending> pending_;  // accepted alarms not yet stored, oldest first
  Backoff retry_;                // when the oldest is tried again
  bool troubleTold_ = false;     // the current run of failures was logged and shown
};

}  // namespace rovik::alarm
