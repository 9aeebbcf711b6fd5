#include "alarm/push/push_channel.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "alarm/cloud/cloud_api.h"
#include "alarm/cloud/cloud_reply.h"
#include "alarm/push/client_link.h"
#include "alarm/record/account_text.h"
#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"
#include "platform/debug_log.h"

namespace rovik::alarm {

using rovik::platform::Event;
using rovik::platform::kWaitTimeout;
using rovik::platform::WaitAny;
using namespace std::chrono_literals;

namespace {

constexpr auto kPassWait = 100ms;  // the wait for the events, and the receive, of one pass
// Connect results by which the broker refuses the login itself: fetch another at once.
constexpr int kRefusedIdentifier = 2;
constexpr int kBadLogin = 4;
constexpr int kNotAuthorised = 5;

// The randomness of one kind of wait: from the system unless the timing names a seed (each
// monitor must draw its own waits, or a crowd would come back in lock-step again).
JitterSource Jitter(const PushTiming& timing, uint64_t kind) {
  return MakeJitterSource(timing.jitterSeed == 0 ? 0 : timing.jitterSeed + kind);
}

void Log(const std::string& text) { rovik::platform::DebugLog("RovikAlarm", "push: " + text); }

bool ValidUtf8(std::string_view text) { return Utf16ToUtf8(Utf8ToUtf16(text)) == text; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Requests and reply sink

PushServiceRequests PushServiceRequests::Cloud() {
  PushServiceRequests r;
  r.brokerLookup = [](IHttpEvents* events) { return RequestBrokerAddress(events); };
  r.deviceRegistration = [](IHttpEvents* events) { return RegisterDevice(events); };
  r.heartbeat = [](IHttpEvents* events, const std::string& account, const std::string& password,
                   const std::string& list) {
    return SendHeartbeat(events, account, password, list);
  };
  return r;
}

PushServiceRequests PushServiceRequests::None() {
  PushServiceRequests r;
  r.brokerLookup = [](IHttpEvents*) { return false; };
  r.deviceRegistration = [](IHttpEvents*) { return false; };
  r.heartbeat = [](IHttpEvents*, const std::string&, const std::string&, const std::string&) {
    return false;
  };
  return r;
}

bool CAlarmServerHttpEventsHandler::Settle(const std::function<void(PushChannel&)>& hand) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (channel_ != nullptr) {
    hand(*channel_);
  }
  --pending_;
  return ReleasedAndIdleLocked();
}

void CAlarmServerHttpEventsHandler::OnHttpResult(const std::string& reply, int, int requestCode,
                                                 int) {
  if (Settle([&](PushChannel& channel) { channel.OnHttpReply(reply, requestCode); })) {
    delete this;
  }
}

void CAlarmServerHttpEventsHandler::OnHttpDropped(int requestCode, int) {
  if (Settle([&](PushChannel& channel) { channel.OnHttpDropped(requestCode); })) {
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
      httpEvents_(new CAlarmServerHttpEventsHandler(this)),
      delivery_(timing.deliveryBound),
      intake_(store_, delivery_, timing.intake, Jitter(timing, 0)),
      heartbeat_(timing.heartbeatInterval),
      connectRetry_(timing.connectBackoff, Jitter(timing, 1)),
      lookupRetry_(timing.lookupBackoff, Jitter(timing, 2)),
      registrationRetry_(timing.registrationBackoff, Jitter(timing, 3)),
      resubscribeRetry_(timing.resubscribeBackoff, Jitter(timing, 4)) {}

PushChannel::~PushChannel() {
  Stop();
  CAlarmServerHttpEventsHandler::Release(httpEvents_);
  // The table goes without unsubscribing: the broker keeps the session's subscriptions, and the
  // alarms published meanwhile, for the monitor's next start.
}

bool PushChannel::Start(AlarmOwner owner) {
  if (thread_.joinable()) {
    return false;
  }
  delivery_.SetOwner(std::move(owner));
  // The login of the last registration reply: the broker session under its client id goes on.
  std::string login;
  if (store_ != nullptr && store_->LoadSetting(kBrokerLoginSetting, login) && !login.empty()) {
    brokerLogin_ = login;
    std::lock_guard<std::mutex> guard(replyLock_);
    reply_.loginKnown = true;
  }
  // Alarms kept over the last stop are stored first.
  if (store_ != nullptr) {
    intake_.Resume(TakeSpilledAlarms(SpillPath()));
  }
  stopEvent_ = std::make_unique<Event>();
  resubscribeEvent_ = std::make_unique<Event>();
  unreadCountEvent_ = std::make_unique<Event>();
  stopping_ = false;
  {
    std::lock_guard<std::mutex> guard(doneLock_);
    threadDone_ = false;
  }
  if (!delivery_.Start()) {
    return false;
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
  delivery_.RequestStop();
  if (thread_.joinable()) {
    // A store call waiting for another program's lock ends now instead of after its bound.
    if (store_ != nullptr) {
      store_->InterruptWaits(true);
    }
    bool ended = false;
    {
      std::unique_lock<std::mutex> lock(doneLock_);
      ended = doneChanged_.wait_for(lock, timing_.stopBound, [this] { return threadDone_; });
    }
    if (!ended) {
      // The thread is inside a third-party call that outlasted every bound it was given; it
      // still uses this object, the store and the request queue, so nothing may be freed under it.
      Log("the push thread did not end in time; ending the process");
      std::_Exit(kPushThreadStuckExitCode);
    }
    thread_.join();
    if (store_ != nullptr) {
      store_->InterruptWaits(false);
    }
    // The alarms the store could not take are kept beside it for the next start.
    const std::vector<SpilledAlarm> waiting = intake_.TakePending();
    if (!waiting.empty()) {
      const bool kept = SpillAlarms(SpillPath(), waiting);
      Log(std::to_string(waiting.size()) + " alarm(s) the store could not take " +
          (kept ? "are kept for the next start"
                : "are lost: " + SpillPath() + " cannot be written"));
    }
  }
  delivery_.Stop();
}

std::string PushChannel::SpillPath() const {
  const std::string database = store_ != nullptr ? store_->FilePath() : std::string();
  return database.empty() ? database : database + ".pending";
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
  bool loginKnown = false;
  {
    std::lock_guard<std::mutex> guard(replyLock_);
    loginKnown = reply_.loginKnown;
  }
  if (!loginKnown) {
    QueueDeviceRegistration();
  }
  const SteadyTime begin = std::chrono::steady_clock::now();
  heartbeat_.Restart(begin);
  lookupRetry_.Failed(begin);  // the next lookup is not due before its wait
  bool busy = false;           // the last pass took a message: do not wait in this one
  Event* const events[] = {resubscribeEvent_.get(), unreadCountEvent_.get(), stopEvent_.get()};
  for (;;) {
    const int which = WaitAny(events, busy ? 0ms : kPassWait);
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
    const SteadyTime now = std::chrono::steady_clock::now();
    TakeReplyWork(now);
    intake_.RetryPending(now);
    busy = false;
    if (connected_ && client_.Exists()) {
      busy = ConnectedPass(now);
    } else {
      DisconnectedPass(now);
    }
  }
  LeaveBroker();
}

// One pass while connected: a message taken, refused subscriptions tried again, the heartbeat.
// True when a message was taken.
bool PushChannel::ConnectedPass(SteadyTime now) {
  // While the store cannot take alarms and the waiting ones fill the queue, the broker keeps the
  // rest (unacknowledged) until there is room.
  const bool took = intake_.Full() ? false : Receive(now);
  if (!connected_) {
    return took;
  }
  if (subscriptions_.HasRefused() && resubscribeRetry_.Due(now) && !Stopping()) {
    if (subscriptions_.RetryRefused(client_)) {
      resubscribeRetry_.Reset();
      Log("every subscription holds again");
      refusalLogged_ = false;
    } else {
      resubscribeRetry_.Failed(now);
    }
  }
  if (heartbeat_.Due(now)) {
    Heartbeat();
    heartbeat_.Restart(now);
  }
  if (!heldReset_ && now - connectedSince_ >= timing_.heldLongEnough) {
    // The connection holds: the next outage starts with short waits again.
    heldReset_ = true;
    shortSessions_ = 0;
    connectRetry_.Reset();
    lookupRetry_.Reset();
    registrationRetry_.Reset();
  }
  return took;
}

// One pass while disconnected: a lookup, a registration and a connect, each when its wait is over.
void PushChannel::DisconnectedPass(SteadyTime now) {
  if (lookupRetry_.Due(now) && QueueBrokerLookup()) {
    lookupRetry_.Failed(now);
  }
  if (needLogin_ && registrationRetry_.Due(now) && QueueDeviceRegistration()) {
    registrationRetry_.Failed(now);
  }
  // A broker that came back at the same address answers the lookup with the address in use,
  // which calls for nothing: try the parameters we have.
  if (haveParams_ && connectRetry_.Due(now)) {
    const int rc = Connect();
    if (rc != 0) {
      ConnectFailed(now, rc);
    }
  }
}

// One receive of a connected pass; true when a message was taken.
bool PushChannel::Receive(SteadyTime now) {
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
    Log("reconnected; " + std::to_string(redelivered_) + " redelivered alarm message(s)");
    redelivered_ = -1;
  }
  if (rc != 0) {
    ConnectionLost(now, rc);
  }
  return got;
}

// The connection failed. The next connect waits a random while that grows with each failure;
// a connection lost soon after another short one (another machine with our client id takes the
// session over, and is taken over in turn) waits longer still.
void PushChannel::ConnectionLost(SteadyTime now, int rc) {
  Log("connection lost (" + std::to_string(rc) + ")");
  lossLogged_ = true;
  connected_ = false;
  connectedFlag_ = false;
  const auto lifetime = now - connectedSince_;
  shortSessions_ = lifetime < timing_.heldLongEnough ? shortSessions_ + 1 : 0;
  // A dead path takes a keep-alive interval to notice; a takeover ends a session at once.
  const bool takenOver = lifetime < timing_.takeoverWithin && shortSessions_ >= 2;
  if (takenOver) {
    Log("the session was lost again soon after connecting (another machine with our client id?); "
        "waiting longer");
  }
  connectRetry_.Failed(now, takenOver ? timing_.takeoverWait : 0ms);
  lookupRetry_.Failed(now);
}

void PushChannel::ConnectFailed(SteadyTime now, int rc) {
  connectRetry_.Failed(now);
  if (rc == kBadLogin || rc == kNotAuthorised || rc == kRefusedIdentifier) {
    if (!needLogin_) {
      Log("the broker refuses the login (" + std::to_string(rc) + "); fetching a new one");
    }
    needLogin_ = true;
  } else if (rc > 0 && ++refusedInRow_ >= timing_.refusalsBeforeRegistration) {
    needLogin_ = true;
  }
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
  connectedFlag_ = false;
}

// Work the HTTP replies called for: a connection with new parameters, another heartbeat account.
void PushChannel::TakeReplyWork(SteadyTime now) {
  std::optional<BrokerParams> params;
  bool choose = false;
  {
    std::lock_guard<std::mutex> guard(replyLock_);
    params.swap(reply_.params);
    std::swap(choose, reply_.chooseHeartbeat);
  }
  if (choose) {
    subscriptions_.ChooseHeartbeatAccount();
  }
  if (params) {
    if (params->clientId != params_.clientId || params->userName != params_.userName ||
        params->password != params_.password) {
      needLogin_ = false;  // a new login came
      refusedInRow_ = 0;
    }
    params_ = std::move(*params);
    haveParams_ = true;
    const int rc = Connect();
    if (rc != 0) {
      ConnectFailed(now, rc);
    }
  }
}

// 0 when connected; otherwise the client's result.
int PushChannel::Connect() {
  const bool wasConnected = connected_;
  connected_ = false;
  connectedFlag_ = false;
  if (client_.Exists()) {
    client_.Disconnect(0);
    client_.Destroy();
    hasClient_ = false;
  }
  if (Stopping()) {
    return -1;
  }
  int rc = client_.Create(params_.ServerText(), params_.clientId);
  if (rc != 0) {
    return rc;
  }
  hasClient_ = true;
  MqttConnectOptions options;
  options.userName = params_.userName;
  options.password = params_.password;
  options.tls = BrokerTlsSettings(params_.scheme, params_.ServerText(), BrokerCaFile());
  rc = client_.Connect(options);
  if (rc != 0) {
    if (wasConnected || !lossLogged_) {
      Log("cannot connect to " + params_.ServerText() + " (" + std::to_string(rc) +
          "); trying again");
      lossLogged_ = true;
    }
    return rc;
  }
  const SteadyTime now = std::chrono::steady_clock::now();
  LogConnected();
  connectedSince_ = now;
  heldReset_ = false;
  refusedInRow_ = 0;
  needLogin_ = false;
  TakeRefusedSubscriptions(now);
  if (!announced_) {
    announced_ = true;
    // With the video client running, it manages the accounts; otherwise take the stored ones.
    if (FindClientWindow()) {
      delivery_.HandText("1~0");
      UserList users;
      if (store_ != nullptr) {
        store_->LoadUsers(users);
      }
      subscriptions_.Know(users);
    } else {
      SubscribeAll();
    }
  }
  connected_ = true;
  connectedFlag_ = true;
  return 0;
}

void PushChannel::LogConnected() {
  const std::string session = client_.SessionPresent() ? "session kept" : "new session";
  if (everConnected_) {
    Log("reconnected to " + params_.ServerText() + " (" + session + ")");
    redelivered_ = 0;  // counted until the broker has nothing more for us
  } else {
    Log("connected to " + params_.ServerText() + " (" + session + ")");
  }
  everConnected_ = true;
  lossLogged_ = false;
}

// The topics the broker did not grant (on a new session, or just now) are tried again with
// back-off until they hold.
void PushChannel::TakeRefusedSubscriptions(SteadyTime now) {
  subscriptions_.NoteRefused(client_.TakeRefusedTopics());
  if (subscriptions_.HasRefused()) {
    if (!refusalLogged_) {
      Log("a subscription was refused or not answered (" +
          std::to_string(subscriptions_.RefusalCount()) + " so far); trying again");
      refusalLogged_ = true;
    }
    resubscribeRetry_.Failed(now);
  }
}

void PushChannel::SubscribeAll() {
  UserList users;
  if (store_ != nullptr) {
    store_->LoadUsers(users);
  }
  if (!subscriptions_.SubscribeAll(client_, users, Stopping())) {
    return;
  }
  TakeRefusedSubscriptions(std::chrono::steady_clock::now());
  Heartbeat();
}

void PushChannel::Heartbeat() {
  std::string account, password, list;
  if (!subscriptions_.HeartbeatArguments(account, password, list)) {
    return;
  }
  httpEvents_->AddPending();
  if (!requests_.heartbeat(httpEvents_, account, password, list)) {
    httpEvents_->DropPending();
  }
}

void PushChannel::ReportUnreadCount() {
  const int count = store_ != nullptr ? store_->GetUnreadCount() : 1;
  if (FindClientWindow()) {
    delivery_.HandText("10~" + std::to_string(count));
  }
}

bool PushChannel::QueueBrokerLookup() {
  return QueueOnce(&ReplyState::lookupPending, requests_.brokerLookup);
}

bool PushChannel::QueueDeviceRegistration() {
  return QueueOnce(&ReplyState::registrationPending, requests_.deviceRegistration);
}

// However long the push service takes to answer, the queue holds at most one request of a kind.
// True when a request was queued now.
bool PushChannel::QueueOnce(bool ReplyState::*pending,
                            const std::function<bool(IHttpEvents*)>& send) {
  {
    std::lock_guard<std::mutex> guard(replyLock_);
    if (reply_.*pending) {
      return false;
    }
    reply_.*pending = true;
  }
  httpEvents_->AddPending();
  if (!send(httpEvents_)) {
    httpEvents_->DropPending();
    std::lock_guard<std::mutex> guard(replyLock_);
    reply_.*pending = false;
    return false;
  }
  return true;
}

void PushChannel::MessageIntake(std::string_view topic, const void* payload, long length,
                                bool redelivered) {
  if (payload == nullptr || topic.empty() || length <= 0) {
    return;
  }
  // Topics are account texts: one with zero bytes or broken UTF-8 names no account.
  if (topic.find('\0') != std::string_view::npos || !ValidUtf8(topic)) {
    return;
  }
  if (const SubscribedAccount* account = subscriptions_.Block(std::string(topic))) {
    intake_.Take(topic, *account, payload, static_cast<std::size_t>(length), redelivered);
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
  OnHttpDropped(requestCode);  // the request is settled: another of its kind may go
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
      // The service's new login replaces the kept one: the next start resumes its session.
      brokerLogin_ = *login;
      if (store_ != nullptr) {
        store_->SaveSetting(kBrokerLoginSetting, brokerLogin_);
      }
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

}  // namespace rovik::alarm
