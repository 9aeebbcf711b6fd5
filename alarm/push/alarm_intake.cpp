#include "alarm/push/alarm_intake.h"

#include <iterator>
#include <utility>

#include "alarm/push/alarm_delivery.h"
#include "alarm/push/delivery_key.h"
#include "alarm/push/subscription_set.h"
#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "platform/debug_log.h"

namespace rovik::alarm {

AlarmIntake::AlarmIntake(MdSQLite* store, AlarmDelivery& delivery, IntakeSettings settings,
                         JitterSource jitter)
    : store_(store),
      delivery_(delivery),
      settings_(settings),
      retry_(settings.retry, std::move(jitter)) {}

void AlarmIntake::Take(std::string_view topic, const SubscribedAccount& account,
                       const void* payload, std::size_t length, bool redelivered) {
  if (store_ == nullptr) {
    return;
  }
  // A message the broker sends again after an outage may have been taken before it: its key says.
  std::string deliveryKey = DeliveryKey(topic, payload, length);
  if (redelivered && store_->DeliverySeen(deliveryKey)) {
    return;
  }
  Pending alarm;
  ClearRecord(alarm.record);
  CopyField(alarm.record.userName, FieldText(account.displayName));
  FillRecordFromMessage(alarm.record, topic, payload, length);
  if (!AcceptAlarm(topic, MakeDuplicateKey(alarm.record), FieldText(alarm.record.alarmTime),
                   repeat_, clock_)) {
    store_->NoteDelivery(deliveryKey);  // taken (and dropped): a redelivery is dropped too
    return;
  }
  alarm.deliveryKey = std::move(deliveryKey);
  pending_.push_back(std::move(alarm));
  // Behind alarms that wait for their retry, this one waits too: the order stays.
  const auto now = std::chrono::steady_clock::now();
  if (pending_.size() == 1 || retry_.Due(now)) {
    StorePending(now);
  }
}

std::vector<SpilledAlarm> AlarmIntake::TakePending() {
  std::vector<SpilledAlarm> alarms(std::make_move_iterator(pending_.begin()),
                                   std::make_move_iterator(pending_.end()));
  pending_.clear();
  return alarms;
}

void AlarmIntake::Resume(std::vector<SpilledAlarm> alarms) {
  pending_.insert(pending_.begin(), std::make_move_iterator(alarms.begin()),
                  std::make_move_iterator(alarms.end()));
}

void AlarmIntake::RetryPending(std::chrono::steady_clock::time_point now) {
  if (!pending_.empty() && retry_.Due(now)) {
    StorePending(now);
  }
}

void AlarmIntake::StorePending(std::chrono::steady_clock::time_point now) {
  const std::size_t waited = troubleTold_ ? pending_.size() : 0;
  while (!pending_.empty()) {
    Pending& alarm = pending_.front();
    const int id = store_->InsertAlarm(alarm.record, alarm.deliveryKey, settings_.busyWait);
    if (id <= 0) {
      retry_.Failed(now);
      if (!troubleTold_) {
        troubleTold_ = true;
        const std::string error = store_->LastError();
        rovik::platform::DebugLog("RovikAlarm", "push: cannot store an alarm (" + error +
                                                    "); it waits and is tried again");
        if (trouble_) {
          trouble_(error);
        }
      }
      return;
    }
    alarm.record.id = id;
    alarm.record.state = 0;
    delivery_.Hand(alarm.record);
    pending_.pop_front();
  }
  retry_.Reset();
  if (troubleTold_) {
    troubleTold_ = false;
    rovik::platform::DebugLog("RovikAlarm", "push: the store takes alarms again; " +
                                                std::to_string(waited) +
                                                " waiting alarm(s) stored");
  }
}

}  // namespace rovik::alarm
