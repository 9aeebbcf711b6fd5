// TLS for the connection to the push service's broker. A broker address with the scheme ssl:// or
// mqtts:// is reached through Paho's TLS client: the server's certificate is verified against the
// system's trust store, or against a private CA file when the deployment names one, and must name
// the host connected to. A certificate that does not verify ends the attempt as a failed connect;
// the reasons OpenSSL and Paho give are written to the debug log.
#pragma once

#include <memory>
#include <string>

namespace rovik::alarm {

// How one broker connection is secured.
struct MqttTlsSettings {
  bool enabled = false;  // false: plain TCP
  std::string caFile;    // PEM file of the trusted CA certificates; empty: the system's trust store
  std::string server;    // "scheme://host:port", named in the debug log
};

// The TLS settings for a broker address `serverText` ("scheme://host:port") of the given scheme
// ("tcp", "ssl", "mqtts"), with the deployment's CA file (may be empty).
MqttTlsSettings BrokerTlsSettings(const std::string& scheme, const std::string& serverText,
                                  const std::string& caFile);

// One connect attempt's TLS side: Paho's SSL options for the connect options, and the collection
// of what went wrong. Made on the thread that connects, right before MQTTClient_connect.
class MqttTlsAttempt {
 public:
  explicit MqttTlsAttempt(const MqttTlsSettings& settings);
  ~MqttTlsAttempt();
  MqttTlsAttempt(const MqttTlsAttempt&) = delete;
  MqttTlsAttempt& operator=(const MqttTlsAttempt&) = delete;

  // The MQTTClient_SSLOptions to put into the connect options; null for plain TCP. Valid while
  // this object lives.
  void* PahoSslOptions();
  // The connect ended with `rc`: a failure of a TLS attempt goes to the debug log with its reasons.
  void Finish(int rc);
  // The reasons collected during the attempt, one per line (tests read them).
  std::string Reasons() const;

 private:
  void StopCollecting();

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace rovik::alarm
