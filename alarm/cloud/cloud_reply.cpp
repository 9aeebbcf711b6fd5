#include "alarm/cloud/cloud_reply.h"

#include <json/json.h>

#include <cctype>
#include <cmath>
#include <memory>

#include "alarm/cloud/cloud_api.h"
#include "platform/debug_log.h"

namespace rovik::alarm {

namespace {

// Replies are capped by the transport at 1 MiB; nesting is bounded so a hostile reply cannot
// exhaust the stack.
constexpr size_t kMaxReply = 1024 * 1024;

std::optional<Json::Value> Parse(std::string_view reply) {
  if (reply.empty() || reply.size() > kMaxReply) return std::nullopt;
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["stackLimit"] = 64;
  builder["rejectDupKeys"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  try {
    if (!reader->parse(reply.data(), reply.data() + reply.size(), &value, &errors)) {
      return std::nullopt;
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return value;
}

long long ErrnoOf(const Json::Value& v) {
  if (!v.isObject()) return 0;
  const Json::Value& e = v["errno"];
  if (e.isBool()) return e.asBool() ? 1 : 0;
  if (e.isInt64()) return e.asInt64();
  if (e.isUInt64()) return 1;  // above the signed range: certainly not 0
  if (e.isDouble()) {
    const double d = e.asDouble();
    if (!std::isfinite(d)) return 1;
    if (d >= 9.2e18 || d <= -9.2e18) return 1;
    return static_cast<long long>(d);
  }
  return 0;
}

// A present, non-null scalar member as text; nullopt for null, arrays and objects.
std::optional<std::string> ScalarText(const Json::Value& object, const char* name) {
  if (!object.isMember(name)) return std::nullopt;
  const Json::Value& m = object[name];
  if (m.isNull() || m.isArray() || m.isObject()) return std::nullopt;
  return m.asString();
}

// The broker client speaks TLS for ssl:// and mqtts:// (in any case); every other address is
// reached in clear.
bool TlsBrokerAddress(std::string_view address) {
  const size_t sep = address.find("://");
  if (sep == std::string_view::npos) return false;
  std::string scheme(address.substr(0, sep));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "ssl" || scheme == "mqtts";
}

}  // namespace

long long HttpReplyErrno(std::string_view reply) {
  auto v = Parse(reply);
  return v ? ErrnoOf(*v) : 0;
}

std::optional<std::string> BrokerAddressFromReply(std::string_view reply, bool requireTls) {
  auto v = Parse(reply);
  if (!v || !v->isObject() || ErrnoOf(*v) != 0) return std::nullopt;
  std::optional<std::string> address = ScalarText(*v, "c");
  if (address && requireTls && !TlsBrokerAddress(*address)) {
    rovik::platform::DebugLog("RovikAlarm",
                              "broker address " + rovik::platform::Printable(*address) +
                                  " refused: the push service is reached over TLS, and "
                                  "this broker would get the login in clear");
    return std::nullopt;
  }
  return address;
}

std::optional<std::string> BrokerAddressFromReply(std::string_view reply) {
  return BrokerAddressFromReply(reply, BrokerNeedsTls());
}

std::optional<std::string> DeviceLoginFromReply(std::string_view reply) {
  auto v = Parse(reply);
  if (!v || !v->isObject() || v->size() == 0 || ErrnoOf(*v) != 0) return std::nullopt;
  std::string text;
  for (const char* name : {"c", "u", "p"}) {
    if (auto part = ScalarText(*v, name)) {
      text += *part;
      if (name[0] != 'p') text += "~";
    }
  }
  return text;
}

bool HeartbeatRefused(std::string_view reply) {
  auto v = Parse(reply);
  return v && v->isObject() && v->size() > 0 && ErrnoOf(*v) != 0;
}

}  // namespace rovik::alarm
