// The monitor's requests to the service: the heartbeat to the service's HTTP server, and the
// broker lookup and device registration at the push service. Requests are built here and handed
// to the HTTP request queue; replies arrive at the given event sink (see cloud_reply.h).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "alarm/cloud/http_request.h"

namespace rovik::alarm {

inline constexpr int HTTP_REQ_HEARTBEAT = 5507;
inline constexpr int HTTP_REQ_BROKER_LOOKUP = 5510;
inline constexpr int HTTP_REQ_DEVICE_REG = 5511;

// Identifies the program to the push service.
inline constexpr char kPushAppKey[] = "7c21e9d04a5b83f6e2c1d970";

// Built-in addresses, used until the address files say otherwise. All of them TLS: the heartbeat
// carries an account password, and the registration answers with the broker login.
inline constexpr char16_t kDefaultServerBase[] = u"https://cloud.rovik.example";
inline constexpr char16_t kDefaultBrokerLookupUrl[] = u"https://lookup.push.rovik.example:9999";
inline constexpr char16_t kDefaultDeviceRegUrl[] =
    u"https://reg.push.rovik.example:8383/device/reg/";

// Reads <program folder>/FILE/RovikInfo.txt (the server base) and, when present,
// <program folder>/FILE/RovikPush.txt (line 1 the broker lookup URL, line 2 the device
// registration URL, optional line 3 the CA file a TLS broker is verified against, relative to
// the program folder unless absolute). A missing file leaves the addresses as they are.
void LoadServerAddress();
void LoadServerAddressFrom(const std::filesystem::path& programFolder);
// Back to the built-in addresses (tests).
void ResetServerAddress();

// The server base (scheme and host, no trailing slash) and the client API address
// (server base + "/api/client/ipc/").
std::u16string ServerBase();
std::u16string ClientApiAddress();
std::u16string BrokerLookupUrl();
std::u16string DeviceRegUrl();
// The CA file (PEM) of a private push service: an ssl:// or mqtts:// broker and the HTTPS broker
// lookup and device registration are verified against it; empty: the system's trust store.
std::string BrokerCaFile();
// True when the broker must be reached over TLS: the broker lookup goes over https://, or a CA
// file is configured. A plain broker address in the lookup reply is then refused.
bool BrokerNeedsTls();

// The trimming of the server address file's text: blanks at the end, blanks at the start,
// every "<" at the start, every ">" at the end.
std::u16string TrimServerAddress(std::u16string text);

// The requests, filled but not queued.
std::unique_ptr<HttpRequest> MakeHeartbeatRequest(IHttpEvents* events, const std::string& account,
                                                  const std::string& password,
                                                  const std::string& accountList);
std::unique_ptr<HttpRequest> MakeBrokerLookupRequest(IHttpEvents* events);
std::unique_ptr<HttpRequest> MakeDeviceRegRequest(IHttpEvents* events);

// Build and queue; false (the request dropped) when the request queue no longer exists. The
// heartbeat, which carries the account's password, is not queued for a plain http:// URL of
// another machine (PlainHttpToAnotherMachine): it is dropped with one debug-log line.
bool SendHeartbeat(IHttpEvents* events, const std::string& account, const std::string& password,
                   const std::string& accountList);
bool RequestBrokerAddress(IHttpEvents* events);
bool RegisterDevice(IHttpEvents* events);

}  // namespace rovik::alarm
