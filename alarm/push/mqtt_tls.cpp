#include "alarm/push/mqtt_tls.h"

#include <MQTTClient.h>

#include <mutex>

#include "platform/debug_log.h"

namespace rovik::alarm {

struct MqttTlsAttempt::State {
  MqttTlsSettings settings;
  MQTTClient_SSLOptions ssl = MQTTClient_SSLOptions_initializer;
  bool collecting = false;  // the callbacks write into `reasons`
  std::string reasons;      // guarded by g_lock while collecting
};

namespace {

// Paho reports TLS failures in two ways: OpenSSL's error queue through the options' error
// callback (a certificate chain that does not verify, an unreadable CA file), and its trace (the
// host-name check after the handshake). Both callbacks are process-wide plain functions, so they
// write into the one attempt that is collecting at the time.

std::mutex g_lock;                 // guards g_reasons and the text it points to
std::string* g_reasons = nullptr;  // the reasons of the attempt collecting now, if any

// OpenSSL's queued error "thread:error:code:library:function:reason:file:line:" as
// "library: reason"; anything else as it is.
std::string_view OpensslReason(std::string_view line, std::string& out) {
  std::string_view fields[6];
  std::size_t start = 0;
  for (std::string_view& field : fields) {
    const std::size_t colon = line.find(':', start);
    if (colon == std::string_view::npos) {
      return line;
    }
    field = line.substr(start, colon - start);
    start = colon + 1;
  }
  if (fields[1] != "error") {
    return line;
  }
  out.assign(fields[3]).append(": ").append(fields[5]);
  return out;
}

// Paho's trace line "yyyymmdd hhmmss.mmm text" as "text".
std::string_view WithoutTimestamp(std::string_view line) {
  if (line.size() > 9 && line[8] == ' ' &&
      line.substr(0, 8).find_first_not_of("0123456789") == std::string_view::npos) {
    const std::size_t blank = line.find(' ', 9);
    return blank == std::string_view::npos ? line : line.substr(blank + 1);
  }
  return line;
}

void Collect(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  std::string shortened;
  line = OpensslReason(WithoutTimestamp(line), shortened);
  if (line.empty() || line.find("X509_V_OK") != std::string_view::npos) {
    return;  // nothing, or the verification that went well
  }
  const std::string entry = std::string(line) + "\n";
  std::lock_guard<std::mutex> guard(g_lock);
  // Paho may handshake twice in one connect (MQTT 3.1.1, then 3.1): each reason once.
  if (g_reasons != nullptr && g_reasons->size() < 4096 &&
      g_reasons->find(entry) == std::string::npos) {
    g_reasons->append(entry);
  }
}

int OnSslError(const char* text, size_t length, void*) {
  if (text != nullptr) {
    Collect(std::string_view(text, length));
  }
  return 1;  // go on with the next queued error
}

void OnTrace(enum MQTTCLIENT_TRACE_LEVELS level, char* message) {
  if (message == nullptr) {
    return;
  }
  const std::string_view text(message);
  // The host-name check and certificate lines of the handshake; the rest is protocol chatter.
  if (level >= MQTTCLIENT_TRACE_ERROR || text.find("X509") != std::string_view::npos) {
    Collect(text);
  }
}

// While an attempt collects, Paho traces at protocol level (where the host-name check reports);
// otherwise only fatal lines, which nobody collects.
void Trace(bool collecting) {
  static std::once_flag installed;
  MQTTClient_setTraceLevel(collecting ? MQTTCLIENT_TRACE_PROTOCOL : MQTTCLIENT_TRACE_FATAL);
  std::call_once(installed, [] { MQTTClient_setTraceCallback(&OnTrace); });
}

}  // namespace

MqttTlsSettings BrokerTlsSettings(const std::string& scheme, const std::string& serverText,
                                  const std::string& caFile) {
  MqttTlsSettings settings;
  settings.enabled = scheme == "ssl" || scheme == "mqtts";
  settings.caFile = settings.enabled ? caFile : std::string();
  settings.server = serverText;
  return settings;
}

MqttTlsAttempt::MqttTlsAttempt(const MqttTlsSettings& settings)
    : state_(std::make_unique<State>()) {
  state_->settings = settings;
  if (!settings.enabled) {
    return;
  }
  MQTTClient_SSLOptions& ssl = state_->ssl;
  // Only the named CA file when there is one, else the system's default trust store.
  ssl.trustStore = settings.caFile.empty() ? nullptr : state_->settings.caFile.c_str();
  ssl.enableServerCertAuth = 1;  // the chain must verify
  ssl.verify = 1;                // and the certificate must name the host connected to
  ssl.disableDefaultTrustStore = 0;
  ssl.ssl_error_cb = &OnSslError;
  ssl.ssl_error_context = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_reasons != nullptr) {
      return;  // another attempt collects; this one reports its result code only
    }
    g_reasons = &state_->reasons;
    state_->collecting = true;
  }
  Trace(true);
}

MqttTlsAttempt::~MqttTlsAttempt() { StopCollecting(); }

void MqttTlsAttempt::StopCollecting() {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!state_->collecting) {
      return;
    }
    g_reasons = nullptr;
    state_->collecting = false;
  }
  Trace(false);
}

void* MqttTlsAttempt::PahoSslOptions() { return state_->settings.enabled ? &state_->ssl : nullptr; }

std::string MqttTlsAttempt::Reasons() const {
  std::lock_guard<std::mutex> guard(g_lock);
  return state_->reasons;
}

void MqttTlsAttempt::Finish(int rc) {
  StopCollecting();
  if (!state_->settings.enabled || rc == MQTTCLIENT_SUCCESS) {
    return;
  }
  std::string why = state_->reasons;
  while (!why.empty() && why.back() == '\n') {
    why.pop_back();
  }
  for (std::size_t at = why.find('\n'); at != std::string::npos; at = why.find('\n', at)) {
    why.replace(at, 1, "; ");
  }
  if (why.empty()) {
    why = rc > 0 ? "the broker refused the connection (code " + std::to_string(rc) + ")"
                 : "no TLS error reported; the connection failed or was closed";
  }
  const std::string& ca = state_->settings.caFile;
  rovik::platform::DebugLog("RovikAlarm", "TLS connection to " + state_->settings.server +
                                              (ca.empty() ? std::string(" (system trust store)")
                                                          : " (CA file " + ca + ")") +
                                              " failed (" + std::to_string(rc) + "): " + why);
}

}  // namespace rovik::alarm
