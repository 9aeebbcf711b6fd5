#include "alarm/core/push_channel.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/cloud_reply.h"
#include "alarm/core/client_link.h"
#include "alarm/core/utf_text.h"
#include "alarm/store/md_sqlite.h"

using rovik::CopyField;
using rovik::FieldText;
using rovik::platform::Event;
using rovik::platform::kWaitTimeout;
using rovik::platform::WaitAny;
using namespace std::chrono_literals;

namespace {

constexpr auto kPassWait = 100ms;     // the wait for the events, and the receive, of one pass
constexpr std::size_t kAccountRoom = 31;  // the 32-byte topic buffer of a subscription
constexpr std::size_t kDisplayNameRoom = 254;

bool ValidUtf8(std::string_view text) { return rovik::Utf16ToUtf8(rovik::Utf8ToUtf16(text)) == text; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Requests and reply sink

PushServiceRequests PushServiceRequests::Cloud() {
  PushServiceRequests r;
  r.brokerLookup = [](IHttpEvents* events) { return RequestBrokerAddress(events); };
  r.deviceRegistration = [](IHttpEvents* events) { return RegisterDevice(events); };
  r.heartbeat = [](IHttpEvents* events, const std::string& account, const std::string& password,
                   const std::string& list) { return SendHeartbeat(events, account, password, list); };
  return r;
}

PushServiceRequests PushServiceRequests::None() {
  PushServiceRequests r;
  r.brokerLookup = [](IHttpEvents*) { return false; };
  r.deviceRegistration = [](IHttpEvents*) { return false; };
  r.heartbeat = [](IHttpEvents*, const std::string&, const std::string&, const std::string&) { return false; };
  return r;
}

void CAlarmServerHttpEventsHandler::OnHttpResult(const std::string& reply, int, int requestCode, int) {
  bool last = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (channel_ != nullptr) {
      channel_->OnHttpReply(reply, requestCode);
    }
    --pending_;
    last = ReleasedAndIdleLocked();
  }
  if (last) {
    delete this;
  }
}

void CAlarmServerHttpEventsHandler::AddPending() {
  std::lock_guard<std::mutex> guard(mutex_);
  ++pending_;
}

void CAlarmServerHttpEventsHandler::DropPending() {
  bool last = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    --pending_;
    last = ReleasedAndIdleLocked();
  }
  if (last) {
    delete this;
  }
}

void CAlarmServerHttpEventsHandler::Release(CAlarmServerHttpEventsHandler* handler) {
  if (handler == nullptr) {
    return;
  }
  bool idle = false;
  {
    std::lock_guard<std::mutex> guard(handler->mutex_);
    handler->channel_ = nullptr;
    handler->released_ = true;
    idle = handler->ReleasedAndIdleLocked();
  }
  if (idle) {
    delete handler;
  }
}

// ---------------------------------------------------------------------------------------------
// Life cycle

PushChannel::PushChannel(MdSQLite* store, PushServiceRequests requests, PushTiming timing)
    : store_(store != nullptr ? store : MdSQLite::GetInstance()),
      requests_(std::move(requests)),
      timing_(timing),
      httpEvents_(new CAlarmServerHttpEventsHandler(this)) {
  ClearRecord(currentRecord_);
}

PushChannel::~PushChannel() {
  Stop();
  CAlarmServerHttpEventsHandler::Release(httpEvents_);
  UnsubscribeAll();
  subscriptions_.clear();
}

bool PushChannel::Start(AlarmOwner owner) {
  if (thread_.joinable()) {
    return false;
  }
  owner_ = std::move(owner);
  stopEvent_ = std::make_unique<Event>();
  resubscribeEvent_ = std::make_unique<Event>();
  unreadCountEvent_ = std::make_unique<Event>();
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void PushChannel::Stop() {
  if (stopEvent_) {
    stopEvent_->Set();
  }
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool PushChannel::RequestResubscribe() {
  if (!resubscribeEvent_ || !thread_.joinable()) {
    return false;
  }
  resubscribeEvent_->Set();
  return true;
}

bool PushChannel::RequestUnreadCount() {
  if (!unreadCountEvent_ || !thread_.joinable()) {
    return false;
  }
  unreadCountEvent_->Set();
  return true;
}

// ---------------------------------------------------------------------------------------------
// The push thread

void PushChannel::Run() {
  QueueBrokerLookup();
  QueueDeviceRegistration();
  int pass = 0;
  int idle = 0;
  bool delivered = false;  // the last pass took a message: do not sleep in this one
  Event* const events[] = {resubscribeEvent_.get(), unreadCountEvent_.get(), stopEvent_.get()};
  for (;;) {
    const int which = WaitAny(events, delivered ? 0ms : kPassWait);
    if (which == 0) {
      SubscribeAll();
    } else if (which == 1) {
      ReportUnreadCount();
    } else if (which != kWaitTimeout) {
      break;  // stop
    }
    TakeReplyWork();
    delivered = false;
    if (connected_ && client_.Exists()) {
      MqttMessage message;
      bool got = false;
      const int rc = client_.Receive(message, got, kPassWait);
      if (got) {
        MessageIntake(message.topic, message.payload.data(), static_cast<long>(message.payload.size()));
        delivered = true;
      }
      if (rc != 0) {
        Connect();
        if (!connected_) {
          QueueBrokerLookup();
        }
      }
      if (subscribeFailures_ != 0 && pass / timing_.resubscribePasses == 0) {
        ResubscribeKnownTopics();
      }
      if (pass >= timing_.heartbeatPasses) {
        Heartbeat();
        pass = 0;
      }
      ++pass;
      idle = 0;
    } else if (++idle >= timing_.lookupIdlePasses) {
      QueueBrokerLookup();
      idle = 0;
      // A broker that came back at the same address answers the lookup with the address in use,
      // which calls for nothing: try the parameters we have.
      if (haveParams_) {
        Connect();
      }
    }
  }
}

// Work the HTTP replies called for: a connection with new parameters, another heartbeat account.
void PushChannel::TakeReplyWork() {
  std::optional<BrokerParams> params;
  bool choose = false;
  {
    std::lock_guard<std::mutex> guard(replyLock_);
    params.swap(pendingParams_);
    std::swap(choose, chooseHeartbeatPending_);
  }
  if (choose) {
    ChooseHeartbeatAccount();
  }
  if (params) {
    params_ = std::move(*params);
    haveParams_ = true;
    Connect();
  }
}

void PushChannel::Connect() {
  connected_ = false;
  if (client_.Exists()) {
    client_.Disconnect(0);
    client_.Destroy();
    hasClient_ = false;
  }
  if (client_.Create(params_.ServerText(), params_.clientId) != 0) {
    return;
  }
  hasClient_ = true;
  MqttConnectOptions options;
  options.userName = params_.userName;
  options.password = params_.password;
  options.tls = BrokerTlsSettings(params_.scheme, params_.ServerText(), BrokerCaFile());
  if (client_.Connect(options) != 0) {
    return;
  }
  if (!announced_) {
    announced_ = true;
    // With the video client running, it manages the accounts; otherwise take the stored ones.
    if (!SendTextToClient("1~0")) {
      SubscribeAll();
    }
  }
  connected_ = true;
}

void PushChannel::SubscribeAll() {
  UnsubscribeAll();
  UserList users;
  if (store_ == nullptr || store_->LoadUsers(users) <= 0) {
    return;
  }
  subscribeFailures_ = 0;
  for (const auto& user : users) {
    char topic[32];
    CopyField(topic, FieldText(user->account), kAccountRoom);
    const std::string account(FieldText(topic));
    subscribeFailures_ += client_.Subscribe(account);
    if (!accountList_.empty()) {
      accountList_ += ',';
    }
    accountList_ += account;
    auto block = std::make_unique<SubscribedAccount>();
    CopyField(block->password, FieldText(user->password));
    CopyField(block->displayName, rovik::Utf8ToUtf16(FieldText(user->name)), kDisplayNameRoom);
    subscriptions_.try_emplace(account, std::move(block));
    ++accountCount_;
  }
  Heartbeat();
}

void PushChannel::UnsubscribeAll() {
  for (auto& [account, block] : subscriptions_) {
    if (block) {
      client_.Unsubscribe(account);
    }
  }
  subscriptions_.clear();
  accountList_.clear();
  heartAccount_.clear();
  heartPassword_.clear();
  accountCount_ = 0;
  heartIndex_ = -1;
}

void PushChannel::ResubscribeKnownTopics() {
  subscribeFailures_ = 0;
  for (const auto& entry : subscriptions_) {
    subscribeFailures_ += client_.Subscribe(entry.first);
  }
}

void PushChannel::Heartbeat() {
  if (accountCount_ <= 0) {
    return;
  }
  if (heartAccount_.empty()) {
    ChooseHeartbeatAccount();
  }
  if (heartAccount_.size() < 2) {
    return;
  }
  httpEvents_->AddPending();
  if (!requests_.heartbeat(httpEvents_, heartAccount_, heartPassword_, accountList_)) {
    httpEvents_->DropPending();
  }
}

void PushChannel::ChooseHeartbeatAccount() {
  if (accountCount_ <= 0) {
    return;
  }
  if (heartIndex_ >= accountCount_) {
    heartIndex_ = -1;
  }
  int position = 0;
  bool lastUsable = false;
  for (const auto& [account, block] : subscriptions_) {
    const bool usable = block && std::strcmp(block->password, "NULL") != 0;
    if (usable) {
      heartAccount_ = account;
      heartPassword_ = std::string(FieldText(block->password));
      if (position > heartIndex_) {
        heartIndex_ = position;
        return;
      }
    }
    lastUsable = usable;
    ++position;
  }
  heartIndex_ = lastUsable ? position - 1 : -1;
}

void PushChannel::ReportUnreadCount() {
  const int count = store_ != nullptr ? store_->GetUnreadCount() : 1;
  SendTextToClient("10~" + std::to_string(count));
}

void PushChannel::QueueBrokerLookup() {
  httpEvents_->AddPending();
  if (!requests_.brokerLookup(httpEvents_)) {
    httpEvents_->DropPending();
  }
}

void PushChannel::QueueDeviceRegistration() {
  httpEvents_->AddPending();
  if (!requests_.deviceRegistration(httpEvents_)) {
    httpEvents_->DropPending();
  }
}

void PushChannel::MessageIntake(std::string_view topic, const void* payload, long length) {
  if (payload == nullptr || topic.empty() || length <= 0) {
    return;
  }
  // Topics are account texts: one with zero bytes or broken UTF-8 names no account.
  if (topic.find('\0') != std::string_view::npos || !ValidUtf8(topic)) {
    return;
  }
  auto& block = subscriptions_[std::string(topic)];  // an unknown topic leaves an empty entry
  if (!block) {
    return;
  }
  ClearRecord(currentRecord_);
  CopyField(currentRecord_.userName, FieldText(block->displayName));
  FillRecordFromMessage(currentRecord_, topic, payload, static_cast<std::size_t>(length));
  if (!AcceptAlarm(topic, MakeDuplicateKey(currentRecord_), lastTopic_, lastKey_, lastAlarmTime_, clock_)) {
    return;
  }
  if (store_ == nullptr || store_->InsertAlarm(currentRecord_) <= 0) {
    return;
  }
  currentRecord_.id = 0;
  currentRecord_.state = 0;
  if (!SendAlarmToClient(currentRecord_) && owner_) {
    owner_(std::make_unique<AlarmRecord>(currentRecord_));
  }
}

// ---------------------------------------------------------------------------------------------
// Replies (HTTP request queue's thread)

void PushChannel::OnHttpReply(const std::string& reply, int requestCode) {
  if (requestCode == HTTP_REQ_BROKER_LOOKUP) {
    const std::optional<std::string> address = BrokerAddressFromReply(reply);
    if (address && *address != brokerAddress_) {
      brokerAddress_ = *address;
      TryConnect();
    }
  } else if (requestCode == HTTP_REQ_DEVICE_REG) {
    const std::optional<std::string> login = DeviceLoginFromReply(reply);
    if (login && *login != brokerLogin_) {
      brokerLogin_ = *login;
      TryConnect();
    }
  } else if (requestCode == HTTP_REQ_HEARTBEAT) {
    if (HeartbeatRefused(reply)) {
      std::lock_guard<std::mutex> guard(replyLock_);
      chooseHeartbeatPending_ = true;
    }
  }
}

void PushChannel::TryConnect() {
  if (brokerAddress_.empty() || brokerLogin_.empty()) {
    return;
  }
  std::optional<BrokerParams> params = ParseBrokerParams(brokerAddress_, brokerLogin_);
  if (params) {
    std::lock_guard<std::mutex> guard(replyLock_);
    pendingParams_ = std::move(params);
  }
}
