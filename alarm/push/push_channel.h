// The push channel: keeps the monitor subscribed at the push service's MQTT broker to one topic
// per watched account, turns each alarm message into an AlarmRecord, drops repeats, stores it and
// hands it on, to the video client's window when it runs and answers, otherwise to the owner (the
// popup). The broker's address and the login are fetched over HTTP; the login is kept in the
// store and used again at the next start. A heartbeat names the watched accounts to the
// service's server.
//
// Parts and the threads that own them:
//   SubscriptionSet  (subscription_set.h)  push thread: topics, refused subscriptions, heartbeat
//   account AlarmIntake      (alarm_intake.h)      push thread: record, repeat rule, store, waiting
//   alarms AlarmDelivery    (alarm_delivery.h)    its own thread: client window or popup, bounded
//   HeartbeatSchedule (below)              push thread
//   Backoff          (reconnect_policy.h)  push thread: connects, lookups, registrations,
//   re-subscriptions
// HTTP replies arrive on the request queue's thread and only record what they carry; a connection
// they call for is made by the push thread. The user-interface thread calls Start, Stop, the two
// Request functions and the destructor.
//
// Liveness: the MQTT keep-alive ends a dead connection within two keep-alive intervals; the
// channel connects again after a random wait that grows with each failure (at most the cap), so a
// broker that comes back is rejoined within about half a minute and a crowd of monitors does not
// come back at once. The session at the broker is persistent, so alarms published meanwhile are
// delivered when it is back, and a message the broker sends again is stored once (its delivery
// key). No MQTT or store call holds the push thread for more than a few seconds, and Stop returns
// within its bound whatever the broker, the store or the client does.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "alarm/cloud/http_events.h"
#include "alarm/push/alarm_delivery.h"
#include "alarm/push/alarm_intake.h"
#include "alarm/push/broker_params.h"
#include "alarm/push/mqtt_client.h"
#include "alarm/push/reconnect_policy.h"
#include "alarm/push/subscription_set.h"
#include "alarm/record/alarm_record.h"
#include "platform/event.h"

namespace rovik::alarm {

class MdSQLite;
class PushChannel;

// How the channel reaches the push service and the service's server. Each function queues one
// request whose reply goes to the given sink; false when it could not be queued.
struct PushServiceRequests {
  std::function<bool(IHttpEvents*)> brokerLookup;        // HTTP_REQ_BROKER_LOOKUP
  std::function<bool(IHttpEvents*)> deviceRegistration;  // HTTP_REQ_DEVICE_REG
  std::function<bool(IHttpEvents*, const std::string& account, const std::string& password,
                     const std::string& accountList)>
      heartbeat;  // HTTP_REQ_HEARTBEAT

  // The cloud requests through the process's HTTP request queue.
  static PushServiceRequests Cloud();
  // Requests that go nowhere (intake tests, fuzzing).
  static PushServiceRequests None();
};

// The channel's cadences, measured on the steady clock. Tests shorten them.
struct PushTiming {
  std::chrono::milliseconds heartbeatInterval{std::chrono::minutes(8)};
  // Waits before the next try after a failure (full jitter, doubling to the cap).
  BackoffSettings connectBackoff{};
  BackoffSettings lookupBackoff{};
  BackoffSettings registrationBackoff{};
  BackoffSettings resubscribeBackoff{std::chrono::seconds(1), std::chrono::seconds(30)};
  // A connection that held this long starts the waits over.
  std::chrono::milliseconds heldLongEnough{std::chrono::minutes(1)};
  // A connection lost within takeoverWithin of its start, after another that did not hold
  // either: another machine with our client id takes the session over. The next connect waits
  // at least takeoverWait.
  std::chrono::milliseconds takeoverWithin{std::chrono::seconds(10)};
  std::chrono::milliseconds takeoverWait{std::chrono::seconds(15)};
  // Refused connects in a row (other than a refused login, which counts at once) after which
  // the login is fetched again.
  int refusalsBeforeRegistration = 3;
  // How long the video client may take to answer an alarm before the popup shows it.
  std::chrono::milliseconds deliveryBound{std::chrono::seconds(2)};
  IntakeSettings intake{};
  // How long Stop waits for the push thread.
  std::chrono::milliseconds stopBound{5000};
  // Seed of the waits' randomness; 0 draws one from the system.
  uint64_t jitterSeed = 0;
};

// The exit status of a process whose push thread did not end within Stop's bound: nothing can
// safely go on in the process, so it ends at once.
inline constexpr int kPushThreadStuckExitCode = 70;

// The store setting that keeps the login of the last registration reply ("c~u~p").
inline constexpr char kBrokerLoginSetting[] = "PushLogin";

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
  // Settles one request; true when the handler is to be freed.
  bool Settle(const std::function<void(PushChannel&)>& hand);

  std::mutex mutex_;  // guards channel_, pending_, released_; held while a reply is handled
  PushChannel* channel_;
  int pending_ = 0;
  bool released_ = false;
};

// When the next heartbeat is due. Owner: the push thread.
class HeartbeatSchedule {
 public:
  explicit HeartbeatSchedule(std::chrono::milliseconds interval) : interval_(interval) {}
  void Restart(std::chrono::steady_clock::time_point now) { start_ = now; }
  bool Due(std::chrono::steady_clock::time_point now) const { return now - start_ >= interval_; }

 private:
  std::chrono::milliseconds interval_;
  std::chrono::steady_clock::time_point start_{};
};

class PushChannel {
 public:
  // `store` null: the process's alarm store (MdSQLite::GetInstance()).
  explicit PushChannel(MdSQLite* store = nullptr,
                       PushServiceRequests requests = PushServiceRequests::Cloud(),
                       PushTiming timing = {});
  // Stops the threads if they run and frees the subscription table.
  ~PushChannel();
  PushChannel(const PushChannel&) = delete;
  PushChannel& operator=(const PushChannel&) = delete;

  // Starts the push thread, which at once asks for the broker address (and for a login when the
  // store keeps none), and the delivery thread. False when they could not be started (then call
  // Stop).
  bool Start(AlarmOwner owner);
  // Asks the threads to end and joins them; a store call under way is interrupted, and the push
  // thread disconnects from the broker (without unsubscribing: the session keeps the
  // subscriptions while the monitor is away). Waits at most timing.stopBound; a thread still
  // running then ends the process (kPushThreadStuckExitCode). Safe to call more than once, and
  // before Start.
  void Stop();

  // Reload the accounts and subscribe again / report the unread count to the video client.
  // False when the channel is not running.
  bool RequestResubscribe();
  bool RequestUnreadCount();

  // True once the channel's MQTT client exists (a connection attempt got as far as creating it).
  bool HasMqttClient() const { return hasClient_.load(); }
  // True while connected to the broker.
  bool IsConnected() const { return connectedFlag_.load(); }
  // Called once per run of store failures with SQLite's text (on the push thread); set before
  // Start.
  void SetStoreTroubleHandler(StoreTroubleHandler handler) {
    intake_.SetTroubleHandler(std::move(handler));
  }

  // Reply handling, on the HTTP request queue's thread (HTTP_REQ_HEARTBEAT, HTTP_REQ_BROKER_LOOKUP,
  // HTTP_REQ_DEVICE_REG).
  void OnHttpReply(const std::string& reply, int requestCode);
  // A request of the channel went unsent: one of its kind may be queued again.
  void OnHttpDropped(int requestCode);

  // Push-thread operations, public so that tests and the intake fuzz target can drive them on
  // a channel that was not started. Never call them while the thread runs.
  // `redelivered`: the broker marked the message as sent before; one whose delivery key the store
  // knows is dropped.
  void MessageIntake(std::string_view topic, const void* payload, long length,
                     bool redelivered = false);
  void SubscribeAll();
  void SetClock(UtcClock clock) { intake_.SetClock(std::move(clock)); }
  void SetOwner(AlarmOwner owner) { delivery_.SetOwner(std::move(owner)); }

 private:
  using SteadyTime = std::chrono::steady_clock::time_point;
  // What the reply thread hands the push thread, and which requests wait for their reply.
  struct ReplyState {
    std::optional<BrokerParams> params;  // a connect the replies called for
    bool chooseHeartbeat = false;        // the server refused the heartbeat account
    bool loginKnown = false;             // a login is in hand (stored or from a reply)
    bool lookupPending = false;          // a broker lookup is queued or under way
    bool registrationPending = false;    // a device registration is queued or under way
  };

  void Run();
  bool ConnectedPass(SteadyTime now);
  void DisconnectedPass(SteadyTime now);
  bool Receive(SteadyTime now);
  void ConnectionLost(SteadyTime now, int rc);
  void LeaveBroker();
  void TakeReplyWork(SteadyTime now);
  int Connect();
  void ConnectFailed(SteadyTime now, int rc);
  void LogConnected();
  void TakeRefusedSubscriptions(SteadyTime now);
  void Heartbeat();
  void ReportUnreadCount();
  bool QueueBrokerLookup();
  bool QueueDeviceRegistration();
  // Queues one request unless one of its kind waits for its reply (`pending`, under replyLock_).
  bool QueueOnce(bool ReplyState::*pending, const std::function<bool(IHttpEvents*)>& send);
  void TryConnect();  // reply thread
  bool Stopping() const { return stopping_.load(); }
  std::string SpillPath() const;  // where alarms the store could not take are kept over a stop

  MdSQLite* store_;
  PushServiceRequests requests_;
  PushTiming timing_;
  CAlarmServerHttpEventsHandler* httpEvents_ = nullptr;  // released, not deleted, by the channel

  // Delivery thread (its own lock inside); the push thread hands it alarms and texts.
  AlarmDelivery delivery_;

  // Push thread only (and the constructing/destroying thread while no thread runs):
  SubscriptionSet subscriptions_;
  AlarmIntake intake_;
  HeartbeatSchedule heartbeat_;
  Backoff connectRetry_;
  Backoff lookupRetry_;
  Backoff registrationRetry_;
  Backoff resubscribeRetry_;
  MqttClient client_;
  BrokerParams params_;      // host, port, clientId, userName, password of the last connect
  bool haveParams_ = false;  // params_ were given by the replies
  bool connected_ = false;
  bool announced_ = false;
  bool everConnected_ = false;  // a connection was made once: later ones are reconnections
  bool lossLogged_ = false;     // the current outage was logged
  bool needLogin_ = false;      // the broker refused the login: fetch it again
  int refusedInRow_ = 0;        // connects the broker refused since the last success
  int shortSessions_ = 0;       // connections in a row lost before heldLongEnough
  bool heldReset_ = false;      // the current connection held long enough and reset the waits
  bool refusalLogged_ = false;  // the current run of refused subscriptions was logged
  int redelivered_ = -1;        // alarms taken since the reconnection; -1 when not counting
  SteadyTime connectedSince_{};

  // Reply thread only:
  std::string brokerAddress_;  // "c" of the last broker lookup reply
  std::string
      brokerLogin_;  // c "~" u "~" p of the last device registration reply (or the stored one)

  std::mutex replyLock_;  // guards reply_
  ReplyState reply_;

  std::atomic<bool> stopping_{false};  // Stop was called: no new long call is begun
  std::mutex doneLock_;                // guards threadDone_
  bool threadDone_ = false;            // the push thread has left Run
  std::condition_variable doneChanged_;

  std::atomic<bool> hasClient_{false};
  std::atomic<bool> connectedFlag_{false};
  std::unique_ptr<rovik::platform::Event> stopEvent_;
  std::unique_ptr<rovik::platform::Event> resubscribeEvent_;
  std::unique_ptr<rovik::platform::Event> unreadCountEvent_;
  std::thread thread_;  // the push thread; owned, joined by Stop
};

}  // namespace rovik::alarm
