#include "alarm/cloud/cloud_api.h"

#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

#include "alarm/cloud/http_request_queue.h"
#include "alarm/cloud/http_url.h"
#include "alarm/record/utf_text.h"
#include "platform/debug_log.h"
#include "platform/module_path.h"

namespace rovik::alarm {

namespace {

struct Addresses {
  std::u16string serverBase = kDefaultServerBase;
  std::u16string brokerLookup = kDefaultBrokerLookupUrl;
  std::u16string deviceReg = kDefaultDeviceRegUrl;
  std::string brokerCaFile;  // empty: the system's trust store
};

std::mutex g_mutex;
Addresses g_addresses;  // guarded by g_mutex: written at start-up, read by the request builders

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

// At most `limit` bytes from the start of a file; nullopt when it cannot be opened.
std::optional<std::string> ReadHead(const std::filesystem::path& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(limit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<size_t>(in.gcount()));
  // The text ends at the first zero byte.
  if (const size_t zero = bytes.find('\0'); zero != std::string::npos) bytes.resize(zero);
  return bytes;
}

std::unique_ptr<HttpRequest> NewRequest(IHttpEvents* events, int code, std::u16string url,
                                        int isJson) {
  auto request = std::make_unique<HttpRequest>();
  request->events = events;
  request->requestCode = code;
  request->context = 0;
  request->url = std::move(url);
  request->isJson = isJson;
  return request;
}

void SetBody(HttpRequest& request, std::string body) {
  request.body = std::move(body);
  request.bodyLength = static_cast<int>(request.body.size());
}

bool Queue(std::unique_ptr<HttpRequest> request) {
  HttpRequestQueue* queue = HttpRequestQueue::GetInstance();
  if (!queue) return false;
  return queue->Post(std::move(request));
}

}  // namespace

std::u16string TrimServerAddress(std::u16string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  while (start < text.size() && text[start] == u'<') ++start;
  text.erase(0, start);
  while (!text.empty() && text.back() == u'>') text.pop_back();
  return text;
}

void LoadServerAddressFrom(const std::filesystem::path& programFolder) {
  const std::filesystem::path file = programFolder / "FILE";
  if (auto text = ReadHead(file / "RovikInfo.txt", 260)) {
    std::u16string base = Utf8ToUtf16(*text);
    if (base.size() > 259) base.resize(259);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_addresses.serverBase = TrimServerAddress(std::move(base));
  }
  // Push-service endpoints of this deployment: one URL a line; a blank line keeps the default.
  // An optional third line names the CA file that a private service's TLS broker is verified
  // against (relative to the program folder unless absolute).
  if (auto text = ReadHead(file / "RovikPush.txt", 4096)) {
    std::vector<std::u16string> lines;
    std::u16string all = Utf8ToUtf16(*text);
    size_t start = 0;
    while (start <= all.size() && lines.size() < 3) {
      size_t nl = all.find(u'\n', start);
      lines.push_back(
          TrimServerAddress(all.substr(start, nl == std::u16string::npos ? nl : nl - start)));
      if (nl == std::u16string::npos) break;
      start = nl + 1;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (lines.size() > 0 && !lines[0].empty()) g_addresses.brokerLookup = lines[0];
    if (lines.size() > 1 && !lines[1].empty()) g_addresses.deviceReg = lines[1];
    if (lines.size() > 2 && !lines[2].empty()) {
      const std::filesystem::path ca(Utf16ToUtf8(lines[2]));
      g_addresses.brokerCaFile = (ca.is_absolute() ? ca : programFolder / ca).string();
    }
  }
}

void LoadServerAddress() {
  const std::string folder = rovik::platform::ProgramFolder();
  if (!folder.empty()) LoadServerAddressFrom(folder);
}

void ResetServerAddress() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_addresses = Addresses{};
}

std::u16string ServerBase() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_addresses.serverBase;
}

std::u16string ClientApiAddress() { return ServerBase() + u"/api/client/ipc/"; }

std::u16string BrokerLookupUrl() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_addresses.brokerLookup;
}

std::string BrokerCaFile() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_addresses.brokerCaFile;
}

bool BrokerNeedsTls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto lookup = SplitHttpUrl(Utf16ToUtf8(g_addresses.brokerLookup));
  return (lookup && lookup->scheme == "https") || !g_addresses.brokerCaFile.empty();
}

std::u16string DeviceRegUrl() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_addresses.deviceReg;
}

std::unique_ptr<HttpRequest> MakeHeartbeatRequest(IHttpEvents* events, const std::string& account,
                                                  const std::string& password,
                                                  const std::string& accountList) {
  auto request = NewRequest(events, HTTP_REQ_HEARTBEAT, ClientApiAddress() + u"windows_heart", 0);
  AddFormField(*request, "phone", account);
  AddFormField(*request, "password", password);
  AddLastFormField(*request, "phone_list", accountList);
  return request;
}

std::unique_ptr<HttpRequest> MakeBrokerLookupRequest(IHttpEvents* events) {
  auto request = NewRequest(events, HTTP_REQ_BROKER_LOOKUP, BrokerLookupUrl(), 1);
  request->caFile = BrokerCaFile();
  // The key and the version go out unquoted: the push service expects exactly this text.
  SetBody(*request, std::string("{\"a\":") + kPushAppKey + ",\"n\":1,\"v\":v1.0.0,\"o\":1}");
  return request;
}

std::unique_ptr<HttpRequest> MakeDeviceRegRequest(IHttpEvents* events) {
  auto request = NewRequest(events, HTTP_REQ_DEVICE_REG, DeviceRegUrl(), 1);
  request->caFile = BrokerCaFile();
  SetBody(*request, std::string("{\"a\": \"") + kPushAppKey + "\",\"p\":2}");
  return request;
}

bool SendHeartbeat(IHttpEvents* events, const std::string& account, const std::string& password,
                   const std::string& accountList) {
  auto request = MakeHeartbeatRequest(events, account, password, accountList);
  const std::string url = Utf16ToUtf8(request->url);
  if (PlainHttpToAnotherMachine(url)) {
    rovik::platform::DebugLog("RovikAlarm",
                              "heartbeat not sent: it carries the account password, and " +
                                  rovik::platform::Printable(url) +
                                  " is neither https:// nor this machine");
    return false;
  }
  return Queue(std::move(request));
}

bool RequestBrokerAddress(IHttpEvents* events) { return Queue(MakeBrokerLookupRequest(events)); }

bool RegisterDevice(IHttpEvents* events) { return Queue(MakeDeviceRegRequest(events)); }

}  // namespace rovik::alarm
