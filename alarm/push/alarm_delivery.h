// Hands each stored alarm on: to the video client's window when it runs and answers, otherwise to
// the owner (the popup). A client that does not answer within the bound has not been given the
// alarm, and the popup shows it; while it stays silent, further alarms go to the popup at once
// (it is asked again now and then), so a hung client costs one bound, not one per alarm.
//
// Owner: the push channel. Hand is called by the push thread and never waits on the client;
// the sends run on the delivery thread, which Stop joins.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "alarm/record/alarm_record.h"

namespace rovik::alarm {

// Receives a stored alarm the video client did not take: a copy the receiver owns, carrying its
// store ID. Called on the delivery thread (on the caller's thread before Start).
using AlarmOwner = std::function<void(std::unique_ptr<AlarmRecord>)>;

class AlarmDelivery {
 public:
  // `bound`: how long one send to the client may take before it counts as not delivered.
  explicit AlarmDelivery(std::chrono::milliseconds bound = std::chrono::seconds(2));
  ~AlarmDelivery();  // Stop()
  AlarmDelivery(const AlarmDelivery&) = delete;
  AlarmDelivery& operator=(const AlarmDelivery&) = delete;

  void SetOwner(AlarmOwner owner);
  // Starts the delivery thread; false when it could not be.
  bool Start();
  // Asks the thread to end after the send under way; nothing more is sent.
  void RequestStop();
  // RequestStop, then joins the thread (at most the bound). Alarms still queued stay unread in
  // the store and are shown at the next start.
  void Stop();
  // Queues a stored alarm (push thread). Before Start it is delivered at once on the caller's
  // thread; after Stop it is not delivered.
  void Hand(const AlarmRecord& record);
  // Queues a command text for the client ("1~0", "10~3"); its answer is not used.
  void HandText(std::string text);

 private:
  struct Item {
    AlarmRecord record;
    std::string text;  // a command text instead of an alarm when not empty
  };
  void Run();
  void Deliver(const AlarmRecord& record);
  bool Queue(Item item);

  const std::chrono::milliseconds bound_;
  AlarmOwner owner_;  // set before Start; called by the delivery thread

  std::mutex mutex_;                 // guards queue_, started_ and stopping_
  std::condition_variable changed_;  // queue_ or stopping_ changed
  std::deque<Item> queue_;
  bool started_ = false;
  bool stopping_ = false;

  // Delivery thread only: the client last failed to answer, and when to ask it again.
  bool clientSilent_ = false;
  std::chrono::steady_clock::time_point askAgain_{};

  std::thread thread_;  // the delivery thread; joined by Stop
};

}  // namespace rovik::alarm
