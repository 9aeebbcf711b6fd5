// The push channel's MQTT client: a thin layer over Paho's synchronous MQTTClient API that offers
// the calls the channel relies on (create, connect, subscribe, unsubscribe, receive, disconnect,
// destroy) with their results. Beyond Paho it remembers the topics it was asked to subscribe and
// subscribes them again after a connect that found no session at the broker, so a reconnection
// never leaves the channel deaf.
//
// Every call is bounded: the connect by its time-out, un/subscribe by Paho's command time-out
// (its floor, 5 s), the disconnect by its own argument.
//
// Not thread-safe: one thread (the push thread) makes every call.
#pragma once

#include <chrono>
#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "alarm/push/mqtt_tls.h"

namespace rovik::alarm {

// What the connect sends (the broker login from the device registration reply).
// The defaults keep the monitor from going deaf: a keep-alive whose unanswered ping ends a dead
// connection within about 40 s of its last byte (Paho looks at the keep-alive every 5 s, so a ping
// goes out up to 5 s late and its missing answer is noticed up to 5 s late), and a persistent
// session (the broker keeps the subscriptions
// and the QoS 1 messages published while the monitor is away) under the stable client id.
struct MqttConnectOptions {
  int keepAliveInterval = 15;  // seconds
  bool cleanSession = false;
  bool reliable = false;
  std::string userName;
  std::string password;
  int connectTimeout = 3;  // seconds: bounds how long a broker that never answers holds the caller
  int retryInterval = 20;  // seconds
  MqttTlsSettings tls;     // for an ssl:// or mqtts:// broker
};

// One delivered message: the full topic (it may hold zero bytes) and the payload bytes.
struct MqttMessage {
  std::string topic;
  std::vector<unsigned char> payload;
  bool duplicate = false;  // the broker sends it again (QoS 1 redelivery): it may have come before
};

class MqttClient {
 public:
  MqttClient() = default;
  ~MqttClient();  // Destroy()
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // A client for `serverUri` ("tcp://host:port" or "host:port") with `clientId`; 0 on success.
  // Without persistence. A client that exists already is destroyed first.
  int Create(const std::string& serverUri, const std::string& clientId);
  bool Exists() const { return handle_ != nullptr; }

  // 0 when connected; unless the broker kept our session, every topic held is subscribed again
  // (those the broker refuses are kept for TakeRefusedTopics). Otherwise Paho's code: 1..5 the
  // broker's refusal (4 bad login, 5 not authorised), below 0 no answer.
  int Connect(const MqttConnectOptions& options);
  // The topics the last connect's re-subscription did not get granted; emptied by the call.
  std::set<std::string> TakeRefusedTopics() { return std::exchange(refused_, {}); }
  // The broker kept the session of the client id (subscriptions and queued messages) at the
  // last successful connect.
  bool SessionPresent() const { return sessionPresent_; }
  // Adds the topic to the ones held and subscribes it (QoS 1); 0 when the broker granted it
  // (a refusal, granted QoS 0x80, is not 0).
  int Subscribe(const std::string& topic);
  // Drops the topic from the ones held and unsubscribes it.
  int Unsubscribe(const std::string& topic);
  const std::set<std::string>& Topics() const { return topics_; }

  // Waits up to `timeout` for a message. 0 = no error (`delivered` tells whether `message` was
  // filled); anything else = the connection failed (a message may still have been delivered).
  int Receive(MqttMessage& message, bool& delivered, std::chrono::milliseconds timeout);

  void Disconnect(int timeoutMs);
  void Destroy();

 private:
  void* handle_ = nullptr;         // MQTTClient
  std::set<std::string> topics_;   // subscribed again after a connect without a kept session
  std::set<std::string> refused_;  // of those, the ones not granted
  bool sessionPresent_ = false;
};

}  // namespace rovik::alarm
