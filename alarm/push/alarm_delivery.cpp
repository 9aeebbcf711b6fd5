#include "alarm/push/alarm_delivery.h"

#include <system_error>
#include <utility>

#include "alarm/push/client_link.h"
#include "platform/debug_log.h"
#include "platform/window_link.h"

namespace rovik::alarm {

namespace {

// While the client stays silent it is asked again this often; the alarms in between go to the
// popup.
constexpr auto kAskSilentClientEvery = std::chrono::seconds(10);

}  // namespace

AlarmDelivery::AlarmDelivery(std::chrono::milliseconds bound) : bound_(bound) {}

AlarmDelivery::~AlarmDelivery() { Stop(); }

void AlarmDelivery::SetOwner(AlarmOwner owner) { owner_ = std::move(owner); }

bool AlarmDelivery::Start() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (started_) {
    return false;
  }
  stopping_ = false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  started_ = true;
  return true;
}

void AlarmDelivery::RequestStop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
}

void AlarmDelivery::Stop() {
  RequestStop();
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool AlarmDelivery::Queue(Item item) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!started_) {
      return false;
    }
    if (!stopping_) {
      queue_.push_back(std::move(item));
    }
  }
  changed_.notify_one();
  return true;
}

void AlarmDelivery::Hand(const AlarmRecord& record) {
  if (!Queue(Item{record, {}})) {
    Deliver(record);
  }
}

void AlarmDelivery::HandText(std::string text) {
  Item item;
  ClearRecord(item.record);
  item.text = text;
  if (!Queue(std::move(item))) {
    SendTextToClient(text);
  }
}

void AlarmDelivery::Run() {
  for (;;) {
    Item item;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) {
        return;
      }
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    if (item.text.empty()) {
      Deliver(item.record);
    } else {
      int64_t result = 0;
      rovik::platform::SendCopyDataOutcome(kClientWindowTitle, 0, 0, item.text.data(),
                                           item.text.size(), &result, bound_);
    }
  }
}

void AlarmDelivery::Deliver(const AlarmRecord& record) {
  const auto now = std::chrono::steady_clock::now();
  bool delivered = false;
  if (!clientSilent_ || now >= askAgain_) {
    // The client's block carries no store ID (as it always has); the popup's copy does.
    AlarmRecord forClient = record;
    forClient.id = 0;
    forClient.state = 0;
    const AlarmBlock block = MakeAlarmBlock(forClient);
    int64_t result = 0;
    const auto outcome = rovik::platform::SendCopyDataOutcome(
        kClientWindowTitle, 0, 0, block.data(), block.size(), &result, bound_);
    delivered = outcome == rovik::platform::SendOutcome::Answered;
    const bool silent = outcome == rovik::platform::SendOutcome::NoAnswer;
    if (silent && !clientSilent_) {
      rovik::platform::DebugLog(
          "RovikAlarm", "push: the video client did not take an alarm in time; the popup shows it");
    }
    clientSilent_ = silent;
    askAgain_ = now + kAskSilentClientEvery;
  }
  if (!delivered && owner_) {
    owner_(std::make_unique<AlarmRecord>(record));
  }
}

}  // namespace rovik::alarm
