#include "alarm/push/mqtt_client.h"

#include <MQTTClient.h>

#include <algorithm>
#include <cstring>

namespace rovik::alarm {

namespace {

constexpr int kQos = 1;
constexpr unsigned long kCommandTimeoutMs = 5000;  // the least Paho takes

MQTTClient Handle(void* handle) { return static_cast<MQTTClient>(handle); }

// Paho takes "tcp://host:port"; a bare "host:port" gets the scheme.
std::string WithScheme(const std::string& uri) {
  return uri.find("://") == std::string::npos ? "tcp://" + uri : uri;
}

}  // namespace

MqttClient::~MqttClient() { Destroy(); }

int MqttClient::Create(const std::string& serverUri, const std::string& clientId) {
  Destroy();
  MQTTClient client = nullptr;
  const int rc = MQTTClient_create(&client, WithScheme(serverUri).c_str(), clientId.c_str(),
                                   MQTTCLIENT_PERSISTENCE_NONE, nullptr);
  if (rc != MQTTCLIENT_SUCCESS) {
    if (client != nullptr) {
      MQTTClient_destroy(&client);
    }
    return rc;
  }
  handle_ = client;
  // Un/subscribe wait for the broker's answer no longer than Paho allows at least.
  MQTTClient_setCommandTimeout(client, kCommandTimeoutMs);
  return 0;
}

int MqttClient::Connect(const MqttConnectOptions& options) {
  sessionPresent_ = false;
  if (handle_ == nullptr) {
    return MQTTCLIENT_FAILURE;
  }
  MQTTClient_connectOptions opts = MQTTClient_connectOptions_initializer;
  opts.keepAliveInterval = options.keepAliveInterval;
  opts.cleansession = options.cleanSession ? 1 : 0;
  opts.reliable = options.reliable ? 1 : 0;
  opts.username = options.userName.empty() ? nullptr : options.userName.c_str();
  opts.password = options.password.empty() ? nullptr : options.password.c_str();
  opts.connectTimeout = options.connectTimeout;
  opts.retryInterval = options.retryInterval;
  MqttTlsAttempt tls(options.tls);
  opts.ssl = static_cast<MQTTClient_SSLOptions*>(tls.PahoSslOptions());
  // One protocol version: a second attempt with an older one would double the time a broker
  // that never answers holds the caller. 3.1.1 also tells whether the session was kept.
  opts.MQTTVersion = MQTTVERSION_3_1_1;
  const int rc = MQTTClient_connect(Handle(handle_), &opts);
  tls.Finish(rc);
  if (rc != MQTTCLIENT_SUCCESS) {
    return rc;
  }
  sessionPresent_ = !opts.cleansession && opts.returned.sessionPresent != 0;
  if (sessionPresent_) {
    return 0;  // the broker kept the subscriptions with the session
  }
  // A new session starts without subscriptions: take up again the topics held.
  for (const std::string& topic : topics_) {
    if (MQTTClient_subscribe(Handle(handle_), topic.c_str(), kQos) != MQTTCLIENT_SUCCESS) {
      refused_.insert(topic);
    }
  }
  return 0;
}

int MqttClient::Subscribe(const std::string& topic) {
  topics_.insert(topic);
  if (handle_ == nullptr) {
    return MQTTCLIENT_FAILURE;
  }
  return MQTTClient_subscribe(Handle(handle_), topic.c_str(), kQos);
}

int MqttClient::Unsubscribe(const std::string& topic) {
  topics_.erase(topic);
  if (handle_ == nullptr) {
    return MQTTCLIENT_FAILURE;
  }
  return MQTTClient_unsubscribe(Handle(handle_), topic.c_str());
}

int MqttClient::Receive(MqttMessage& message, bool& delivered, std::chrono::milliseconds timeout) {
  delivered = false;
  if (handle_ == nullptr) {
    return MQTTCLIENT_FAILURE;
  }
  char* topic = nullptr;
  int topicLen = 0;
  MQTTClient_message* msg = nullptr;
  int rc = MQTTClient_receive(Handle(handle_), &topic, &topicLen, &msg,
                              static_cast<unsigned long>(std::max<int64_t>(0, timeout.count())));
  if (rc == MQTTCLIENT_TOPICNAME_TRUNCATED) {
    rc = 0;  // a topic with zero bytes in it: delivered whole through topicLen
  }
  if (msg != nullptr) {
    delivered = true;
    const std::size_t length = topic == nullptr ? 0
                               : topicLen > 0   ? static_cast<std::size_t>(topicLen)
                                                : std::strlen(topic);
    message.topic.assign(topic != nullptr ? topic : "", length);
    const auto* bytes = static_cast<const unsigned char*>(msg->payload);
    message.payload.assign(bytes,
                           bytes + (msg->payloadlen > 0 && bytes != nullptr ? msg->payloadlen : 0));
    message.duplicate = msg->dup != 0;
    MQTTClient_freeMessage(&msg);
  }
  if (topic != nullptr) {
    MQTTClient_free(topic);
  }
  return rc;
}

void MqttClient::Disconnect(int timeoutMs) {
  if (handle_ != nullptr) {
    MQTTClient_disconnect(Handle(handle_), timeoutMs);
  }
}

void MqttClient::Destroy() {
  if (handle_ != nullptr) {
    MQTTClient client = Handle(handle_);
    // Paho frees a connection's TLS session only when it disconnects.
    if (MQTTClient_isConnected(client)) {
      MQTTClient_disconnect(client, 0);
    }
    MQTTClient_destroy(&client);
    handle_ = nullptr;
  }
}

}  // namespace rovik::alarm
