#include "alarm/core/push_channel.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/cloud_reply.h"
#include "alarm/core/account_text.h"
#include "alarm/core/client_link.h"
#include "alarm/core/delivery_key.h"
#include "alarm/core/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "platform/debug_log.h"

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

void CAlarmServerHttpEventsHandler::OnHttpDropped(int requestCode, int) {
  bool last = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (channel_ != nullptr) {
      channel_->OnHttpDropped(requestCode);
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
  // The table goes without unsubscribing: the broker keeps the session's subscriptions, and the
  // alarms published meanwhile, for the monitor's next start.
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
  stopping_ = false;
  {
    std::lock_guard<std::mutex> guard(doneLock_);
    threadDone_ = false;
  }
  try {
    thread_ = std::thread([this] {
      Run();
      {
        std::lock_guard<std::mutex> guard(doneLock_);
        threadDone_ = true;
      }
      doneChanged_.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void PushChannel::Stop() {
  stopping_ = true;
  if (stopEvent_) {
    stopEvent_->Set();
  }
  if (!thread_.joinable()) {
    return;
  }
  bool ended = false;
  {
    std::unique_lock<std::mutex> lock(doneLock_);
    ended = doneChanged_.wait_for(lock, timing_.stopBound, [this] { return threadDone_; });
  }
  if (!ended) {
    // The thread is inside a call that outlasted every bound it was given; it still uses this
    // object, the store and the request queue, so nothing may be freed under it.
    rovik::platform::DebugLog("RovikAlarm", "push: the push thread did not end in time; ending the process");
    std::_Exit(kPushThreadStuckExitCode);
  }
  thread_.join();
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
  cycleStart_ = std::chrono::steady_clock::now();
  lastLookup_ = cycleStart_;
  lastAttempt_ = cycleStart_;
  bool delivered = false;  // the last pass took a message: do not wait in this one
  Event* const events[] = {resubscribeEvent_.get(), unreadCountEvent_.get(), stopEvent_.get()};
  for (;;) {
    const int which = WaitAny(events, delivered ? 0ms : kPassWait);
    if (which == 0) {
      if (!Stopping()) {
        SubscribeAll();
      }
    } else if (which == 1) {
      ReportUnreadCount();
    } else if (which != kWaitTimeout) {
      break;  // stop
    }
    if (Stopping()) {
      break;
    }
    TakeReplyWork();
    delivered = false;
    const SteadyTime now = std::chrono::steady_clock::now();
    if (connected_ && client_.Exists()) {
      delivered = Receive();
      if (subscribeFailures_ != 0 && now - cycleStart_ < timing_.resubscribeWindow && !Stopping()) {
        ResubscribeKnownTopics();
      }
      if (now - cycleStart_ >= timing_.heartbeatInterval) {
        Heartbeat();
        cycleStart_ = now;
      }
      lastLookup_ = now;
      lastAttempt_ = now;
      continue;
    }
    if (now - lastLookup_ >= timing_.lookupInterval) {
      lastLookup_ = now;
      QueueBrokerLookup();
      bool loginKnown = false;
      {
        std::lock_guard<std::mutex> guard(replyLock_);
        loginKnown = reply_.loginKnown;
      }
      if (!loginKnown) {
        QueueDeviceRegistration();  // the first registration failed: without a login no connect
      }
    }
    // A broker that came back at the same address answers the lookup with the address in use,
    // which calls for nothing: try the parameters we have.
    if (haveParams_ && now - lastAttempt_ >= timing_.reconnectInterval) {
      lastAttempt_ = now;
      Connect();
    }
  }
  LeaveBroker();
}

// One receive of a connected pass; true when a message was taken.
bool PushChannel::Receive() {
  MqttMessage message;
  bool got = false;
  const int rc = client_.Receive(message, got, kPassWait);
  if (got) {
    if (message.duplicate && redelivered_ >= 0) {
      ++redelivered_;
    }
    MessageIntake(message.topic, message.payload.data(), static_cast<long>(message.payload.size()),
                  message.duplicate);
  } else if (redelivered_ >= 0 && rc == 0) {
    // What the broker kept for us has come: tell how much.
    rovik::platform::DebugLog("RovikAlarm", "push: reconnected; " + std::to_string(redelivered_) +
                                                " redelivered alarm message(s)");
    redelivered_ = -1;
  }
  if (rc != 0) {
    rovik::platform::DebugLog("RovikAlarm", "push: connection lost (" + std::to_string(rc) + "); connecting again");
    lossLogged_ = true;
    Connect();
    if (!connected_) {
      QueueBrokerLookup();
    }
  }
  return got;
}

// On the way out: a bounded disconnect. Nothing is unsubscribed: the session keeps the
// subscriptions at the broker.
void PushChannel::LeaveBroker() {
  if (client_.Exists()) {
    client_.Disconnect(0);
    client_.Destroy();
    hasClient_ = false;
  }
  connected_ = false;
}

// Work the HTTP replies called for: a connection with new parameters, another heartbeat account.
void PushChannel::TakeReplyWork() {
  std::optional<BrokerParams> params;
  bool choose = false;
  {
    std::lock_guard<std::mutex> guard(replyLock_);
    params.swap(reply_.params);
    std::swap(choose, reply_.chooseHeartbeat);
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
  const bool wasConnected = connected_;
  connected_ = false;
  if (client_.Exists()) {
    client_.Disconnect(0);
    client_.Destroy();
    hasClient_ = false;
  }
  if (Stopping()) {
    return;
  }
  if (client_.Create(params_.ServerText(), params_.clientId) != 0) {
    return;
  }
  hasClient_ = true;
  MqttConnectOptions options;
  options.userName = params_.userName;
  options.password = params_.password;
  options.tls = BrokerTlsSettings(params_.scheme, params_.ServerText(), BrokerCaFile());
  const int rc = client_.Connect(options);
  if (rc != 0) {
    if (wasConnected || !lossLogged_) {
      rovik::platform::DebugLog("RovikAlarm", "push: cannot connect to " + params_.ServerText() + " (" +
                                                  std::to_string(rc) + "); trying again");
      lossLogged_ = true;
    }
    return;
  }
  LogConnected();
  if (!announced_) {
    announced_ = true;
    // With the video client running, it manages the accounts; otherwise take the stored ones.
    if (SendTextToClient("1~0")) {
      KnowStoredAccounts();
    } else {
      SubscribeAll();
    }
  }
  connected_ = true;
}

void PushChannel::LogConnected() {
  const std::string session = client_.SessionPresent() ? "session kept" : "new session";
  if (everConnected_) {
    rovik::platform::DebugLog("RovikAlarm", "push: reconnected to " + params_.ServerText() + " (" + session + ")");
    redelivered_ = 0;  // counted until the broker has nothing more for us
  } else {
    rovik::platform::DebugLog("RovikAlarm", "push: connected to " + params_.ServerText() + " (" + session + ")");
  }
  everConnected_ = true;
  lossLogged_ = false;
}

namespace {

// The subscription block of a stored account, or null when its text may not be watched.
std::unique_ptr<SubscribedAccount> AccountBlock(const UserRecord& user, std::string& account) {
  char topic[32];
  CopyField(topic, FieldText(user.account), kAccountRoom);
  account.assign(FieldText(topic));
  if (!IsWatchableAccount(account)) {
    return nullptr;
  }
  auto block = std::make_unique<SubscribedAccount>();
  CopyField(block->password, FieldText(user.password));
  CopyField(block->displayName, rovik::Utf8ToUtf16(FieldText(user.name)), kDisplayNameRoom);
  return block;
}

}  // namespace

// With the video client managing the accounts, nothing is subscribed until it says so; but the
// session the broker kept may deliver alarms of the stored accounts at once, and they are taken.
void PushChannel::KnowStoredAccounts() {
  UserList users;
  if (store_ == nullptr || store_->LoadUsers(users) <= 0) {
    return;
  }
  for (const auto& user : users) {
    std::string account;
    if (auto block = AccountBlock(*user, account)) {
      subscriptions_.try_emplace(account, std::move(block));
    }
  }
}

void PushChannel::SubscribeAll() {
  UserList users;
  if (store_ != nullptr) {
    store_->LoadUsers(users);
  }
  std::vector<std::pair<std::string, std::unique_ptr<SubscribedAccount>>> accounts;
  std::set<std::string> keep;
  for (const auto& user : users) {
    std::string account;
    if (auto block = AccountBlock(*user, account)) {  // else a text that would watch other topics, or none
      keep.insert(account);
      accounts.emplace_back(std::move(account), std::move(block));
    }
  }
  UnsubscribeAll(keep);
  if (users.empty()) {
    return;
  }
  subscribeFailures_ = 0;
  for (auto& [account, block] : accounts) {
    if (!Stopping()) {
      subscribeFailures_ += client_.Subscribe(account);
    }
    if (!accountList_.empty()) {
      accountList_ += ',';
    }
    accountList_ += account;
    subscriptions_.try_emplace(account, std::move(block));
    ++accountCount_;
  }
  Heartbeat();
}

void PushChannel::UnsubscribeAll(const std::set<std::string>& keep) {
  for (auto& [account, block] : subscriptions_) {
    // A topic watched again at once stays subscribed: no alarm falls between the two calls.
    if (block && keep.count(account) == 0 && !Stopping()) {
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
    if (entry.second && !Stopping()) {
      subscribeFailures_ += client_.Subscribe(entry.first);
    }
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

void PushChannel::QueueBrokerLookup() { QueueOnce(&ReplyState::lookupPending, requests_.brokerLookup); }

void PushChannel::QueueDeviceRegistration() {
  QueueOnce(&ReplyState::registrationPending, requests_.deviceRegistration);
}

// However long the push service takes to answer, the queue holds at most one request of a kind.
void PushChannel::QueueOnce(bool ReplyState::*pending, const std::function<bool(IHttpEvents*)>& send) {
  {
    std::lock_guard<std::mutex> guard(replyLock_);
    if (reply_.*pending) {
      return;
    }
    reply_.*pending = true;
  }
  httpEvents_->AddPending();
  if (!send(httpEvents_)) {
    httpEvents_->DropPending();
    std::lock_guard<std::mutex> guard(replyLock_);
    reply_.*pending = false;
  }
}

void PushChannel::MessageIntake(std::string_view topic, const void* payload, long length, bool redelivered) {
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
  // A message the broker sends again after an outage may have been taken before it: its key says.
  const std::string deliveryKey = DeliveryKey(topic, payload, static_cast<std::size_t>(length));
  if (redelivered && store_ != nullptr && store_->DeliverySeen(deliveryKey)) {
    return;
  }
  ClearRecord(currentRecord_);
  CopyField(currentRecord_.userName, FieldText(block->displayName));
  FillRecordFromMessage(currentRecord_, topic, payload, static_cast<std::size_t>(length));
  if (!AcceptAlarm(topic, MakeDuplicateKey(currentRecord_), lastTopic_, lastKey_, lastAlarmTime_, clock_)) {
    if (store_ != nullptr) {
      store_->NoteDelivery(deliveryKey);  // taken (and dropped): a redelivery is dropped too
    }
    return;
  }
  if (store_ == nullptr || store_->InsertAlarm(currentRecord_, deliveryKey) <= 0) {
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

void PushChannel::OnHttpDropped(int requestCode) {
  std::lock_guard<std::mutex> guard(replyLock_);
  if (requestCode == HTTP_REQ_BROKER_LOOKUP) {
    reply_.lookupPending = false;
  } else if (requestCode == HTTP_REQ_DEVICE_REG) {
    reply_.registrationPending = false;
  }
}

void PushChannel::OnHttpReply(const std::string& reply, int requestCode) {
  {
    std::lock_guard<std::mutex> guard(replyLock_);
    if (requestCode == HTTP_REQ_BROKER_LOOKUP) {
      reply_.lookupPending = false;
    } else if (requestCode == HTTP_REQ_DEVICE_REG) {
      reply_.registrationPending = false;
    }
  }
  if (requestCode == HTTP_REQ_BROKER_LOOKUP) {
    const std::optional<std::string> address = BrokerAddressFromReply(reply);
    if (address && *address != brokerAddress_) {
      brokerAddress_ = *address;
      TryConnect();
    }
  } else if (requestCode == HTTP_REQ_DEVICE_REG) {
    const std::optional<std::string> login = DeviceLoginFromReply(reply);
    if (login) {
      std::lock_guard<std::mutex> guard(replyLock_);
      reply_.loginKnown = true;
    }
    if (login && *login != brokerLogin_) {
      brokerLogin_ = *login;
      TryConnect();
    }
  } else if (requestCode == HTTP_REQ_HEARTBEAT) {
    if (HeartbeatRefused(reply)) {
      std::lock_guard<std::mutex> guard(replyLock_);
      reply_.chooseHeartbeat = true;
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
    reply_.params = std::move(params);
  }
}
