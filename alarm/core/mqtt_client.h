// The push channel's MQTT client: a thin layer over Paho's synchronous MQTTClient API that offers
// the calls the channel relies on (create, connect, subscribe, unsubscribe, receive, disconnect,
// destroy) with their results. Beyond Paho it remembers the topics it was asked to subscribe and
// subscribes them again after every successful connect, so a reconnection (which starts a clean
// session at the broker) never leaves the channel deaf.
//
// Not thread-safe: one thread (the push thread) makes every call.
#pragma once

#include <chrono>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "alarm/core/mqtt_tls.h"

// What the connect sends (the broker login from the device registration reply).
struct MqttConnectOptions {
  int keepAliveInterval = 10000;  // seconds
  bool cleanSession = true;
  bool reliable = false;
  std::string userName;
  std::string password;
  int connectTimeout = 30;  // seconds
  int retryInterval = 20;   // seconds
  MqttTlsSettings tls;      // for an ssl:// or mqtts:// broker
};

// One delivered message: the full topic (it may hold zero bytes) and the payload bytes.
struct MqttMessage {
  std::string topic;
  std::vector<unsigned char> payload;
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

  // 0 when connected; afterwards every topic held is subscribed again.
  int Connect(const MqttConnectOptions& options);
  // Adds the topic to the ones held and subscribes it (QoS 1); 0 when the broker granted it.
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
  void* handle_ = nullptr;      // MQTTClient
  std::set<std::string> topics_;  // subscribed again after each connect
};
