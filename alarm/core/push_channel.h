// The push channel: keeps the monitor subscribed at the push service's MQTT broker to one topic
// per watched account, turns each alarm message into an AlarmRecord, drops repeats, stores it and
// hands it on, to the video client's window when it runs, otherwise to the owner (the popup).
// The broker's address and the login are fetched over HTTP at start; a heartbeat names the
// watched accounts to the service's server.
//
// Threads: the push thread makes every MQTT call and runs intake, subscriptions, heartbeats and
// unread-count reports. HTTP replies arrive on the request queue's thread and only record what
// they carry; a connection they call for is made by the push thread. The user-interface thread
// calls Start, Stop, the two Request functions and the destructor.
//
// Liveness: the MQTT keep-alive ends a dead connection (one that swallows every byte) within two
// keep-alive intervals, and the channel connects again at once; the session at the broker is
// persistent, so alarms published meanwhile are delivered when it is back, and a message the
// broker sends again is stored once (its delivery key). No MQTT call blocks the push thread for
// more than a few seconds, and Stop returns within its bound whatever the broker does.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "alarm/cloud/http_events.h"
#include "alarm/core/alarm_record.h"
#include "alarm/core/broker_params.h"
#include "alarm/core/mqtt_client.h"
#include "platform/event.h"

class MdSQLite;
class PushChannel;

// Receives, on the push thread, each stored alarm while the video client's window is absent
// (message 3025): a copy of the record that the receiver owns. The popup posts it on to its own
// thread.
using AlarmOwner = std::function<void(std::unique_ptr<AlarmRecord>)>;

// How the channel reaches the push service and the service's server. Each function queues one
// request whose reply goes to the given sink; false when it could not be queued.
struct PushServiceRequests {
  std::function<bool(IHttpEvents*)> brokerLookup;        // 5510
  std::function<bool(IHttpEvents*)> deviceRegistration;  // 5511
  std::function<bool(IHttpEvents*, const std::string& account, const std::string& password,
                     const std::string& accountList)>
      heartbeat;  // 5507

  // The cloud requests through the process's HTTP request queue.
  static PushServiceRequests Cloud();
  // Requests that go nowhere (intake tests, fuzzing).
  static PushServiceRequests None();
};

// The channel's cadences, measured on the steady clock (a pass takes no fixed time: after a pass
// that took a message the next one does not wait). Tests shorten them.
struct PushTiming {
  std::chrono::milliseconds heartbeatInterval{std::chrono::minutes(8)};
  // While disconnected: a broker lookup (and a registration while no login is known) this often,
  std::chrono::milliseconds lookupInterval{std::chrono::seconds(15)};
  // and a connect with the parameters in hand this often.
  std::chrono::milliseconds reconnectInterval{std::chrono::seconds(5)};
  // Failed subscriptions are retried while a heartbeat cycle is younger than this.
  std::chrono::milliseconds resubscribeWindow{std::chrono::seconds(60)};
  // How long Stop waits for the push thread.
  std::chrono::milliseconds stopBound{5000};
};

// The exit status of a process whose push thread did not end within Stop's bound: nothing can
// safely go on in the process, so it ends at once.
inline constexpr int kPushThreadStuckExitCode = 70;

// Receives the replies of the channel's HTTP requests (IHttpEvents) and hands them to the
// channel while it is attached. It outlives the channel while requests naming it are queued.
class CAlarmServerHttpEventsHandler : public IHttpEvents {
 public:
  explicit CAlarmServerHttpEventsHandler(PushChannel* channel) : channel_(channel) {}
  void OnHttpResult(const std::string& reply, int flag, int requestCode, int context) override;
  void OnHttpDropped(int requestCode, int context) override;  // settles the request's share

  void AddPending();   // a request naming this sink is about to be queued
  void DropPending();  // ... and could not be
  // The channel lets go: no more replies reach it; the handler is freed now, or after the last
  // pending reply.
  static void Release(CAlarmServerHttpEventsHandler* handler);

 private:
  ~CAlarmServerHttpEventsHandler() override = default;
  bool ReleasedAndIdleLocked() const { return released_ && pending_ <= 0; }

  std::mutex mutex_;  // guards channel_, pending_, released_; held while a reply is handled
  PushChannel* channel_;
  int pending_ = 0;
  bool released_ = false;
};

// One subscribed account (768 bytes): its password as stored and its display name.
struct SubscribedAccount {
  char password[256];
  char16_t displayName[256];
};
static_assert(sizeof(SubscribedAccount) == 768);

class PushChannel {
 public:
  // `store` null: the process's alarm store (MdSQLite::GetInstance()).
  explicit PushChannel(MdSQLite* store = nullptr,
                       PushServiceRequests requests = PushServiceRequests::Cloud(),
                       PushTiming timing = {});
  // Stops the thread if it runs, unsubscribes every topic and frees the subscription table.
  ~PushChannel();
  PushChannel(const PushChannel&) = delete;
  PushChannel& operator=(const PushChannel&) = delete;

  // Starts the push thread, which at once asks for the broker address and the login. False when
  // it could not be started (then call Stop).
  bool Start(AlarmOwner owner);
  // Asks the thread to end and joins it; the thread disconnects from the broker (without
  // unsubscribing: the session keeps the subscriptions while the monitor is away). Waits at most
  // timing.stopBound; a thread still running then ends the process (kPushThreadStuckExitCode).
  // Safe to call more than once, and before Start.
  void Stop();

  // Reload the accounts and subscribe again / report the unread count to the video client.
  // False when the channel is not running.
  bool RequestResubscribe();
  bool RequestUnreadCount();

  // True once the channel's MQTT client exists (a connection attempt got as far as creating it).
  bool HasMqttClient() const { return hasClient_.load(); }

  // Reply handling, on the HTTP request queue's thread (codes 5507, 5510, 5511).
  void OnHttpReply(const std::string& reply, int requestCode);
  // A request of the channel went unsent: one of its kind may be queued again.
  void OnHttpDropped(int requestCode);

  // Push-thread operations, public so that tests and the intake fuzz target can drive them on
  // a channel that was not started. Never call them while the thread runs.
  // `redelivered`: the broker marked the message as sent before; one whose delivery key the store
  // knows is dropped.
  void MessageIntake(std::string_view topic, const void* payload, long length, bool redelivered = false);
  void SubscribeAll();
  void SetClock(UtcClock clock) { clock_ = std::move(clock); }
  void SetOwner(AlarmOwner owner) { owner_ = std::move(owner); }

 private:
  using SteadyTime = std::chrono::steady_clock::time_point;
  // What the reply thread hands the push thread, and which requests wait for their reply.
  struct ReplyState {
    std::optional<BrokerParams> params;  // a connect the replies called for
    bool chooseHeartbeat = false;        // the server refused the heartbeat account
    bool loginKnown = false;             // a registration reply gave a login
    bool lookupPending = false;          // a broker lookup is queued or under way
    bool registrationPending = false;    // a device registration is queued or under way
  };

  void Run();
  bool Receive();
  void LeaveBroker();
  void TakeReplyWork();
  void Connect();
  void LogConnected();
  void KnowStoredAccounts();
  // Unsubscribes every topic but those in `keep`, and empties the table.
  void UnsubscribeAll(const std::set<std::string>& keep = {});
  void ResubscribeKnownTopics();
  void Heartbeat();
  void ChooseHeartbeatAccount();
  void ReportUnreadCount();
  void QueueBrokerLookup();
  void QueueDeviceRegistration();
  // Queues one request unless one of its kind waits for its reply (`pending`, under replyLock_).
  void QueueOnce(bool ReplyState::*pending, const std::function<bool(IHttpEvents*)>& send);
  void TryConnect();  // reply thread
  bool Stopping() const { return stopping_.load(); }

  MdSQLite* store_;
  PushServiceRequests requests_;
  PushTiming timing_;
  UtcClock clock_ = CurrentUtcTime;
  CAlarmServerHttpEventsHandler* httpEvents_ = nullptr;  // released, not deleted, by the channel

  // Push thread only (and the constructing/destroying thread while no thread runs):
  AlarmOwner owner_;
  BrokerParams params_;        // host, port, clientId, userName, password of the last connect
  bool haveParams_ = false;    // params_ were given by the replies
  AlarmRecord currentRecord_;  // the record being built from the message in hand
  MqttClient client_;
  bool connected_ = false;
  bool announced_ = false;
  bool everConnected_ = false;  // a connection was made once: later ones are reconnections
  bool lossLogged_ = false;     // the current outage was logged
  int redelivered_ = -1;        // alarms taken since the reconnection; -1 when not counting
  SteadyTime cycleStart_{};     // the heartbeat cycle began (and the resubscription window)
  SteadyTime lastLookup_{};     // the last lookup while disconnected
  SteadyTime lastAttempt_{};    // the last connect attempt while disconnected
  int accountCount_ = 0;
  int heartIndex_ = -1;
  int subscribeFailures_ = 0;
  std::map<std::string, std::unique_ptr<SubscribedAccount>> subscriptions_;  // by account text
  std::string heartAccount_;
  std::string heartPassword_;
  std::string accountList_;
  std::string lastKey_;
  std::string lastTopic_;
  SystemTime lastAlarmTime_;

  // Reply thread only:
  std::string brokerAddress_;  // "c" of the last broker lookup reply
  std::string brokerLogin_;    // c "~" u "~" p of the last device registration reply

  std::mutex replyLock_;  // guards reply_
  ReplyState reply_;

  std::atomic<bool> stopping_{false};  // Stop was called: no new long call is begun
  std::mutex doneLock_;                // guards threadDone_
  bool threadDone_ = false;            // the push thread has left Run
  std::condition_variable doneChanged_;

  std::atomic<bool> hasClient_{false};
  std::unique_ptr<rovik::platform::Event> stopEvent_;
  std::unique_ptr<rovik::platform::Event> resubscribeEvent_;
  std::unique_ptr<rovik::platform::Event> unreadCountEvent_;
  std::thread thread_;  // the push thread; owned, joined by Stop
};
