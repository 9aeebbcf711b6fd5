#include "alarm/cloud/http_transport.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "alarm/cloud/http_url.h"
#include "alarm/record/utf_text.h"

namespace rovik::alarm {

namespace {

constexpr char kUserAgent[] = "RovikAlarm";

// The header lines of the two request kinds, as the service expects them. The form kind's last
// line is not a header at all; it is dropped by the validity check below.
const char* const kJsonHeaders[] = {"Accept: application/json", "Content-Type: application/json",
                                    "charsets: utf-8"};
const char* const kFormHeaders[] = {"Content-Type:application/x-www-form-urlencoded;charset=UTF-8",
                                    "Accept:*/*", "application/json"};

// A header line is sent only when it is a "Name: value" line: a non-empty token name, a colon,
// and a value without line breaks.
bool IsHeaderLine(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (char c : line.substr(0, colon)) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || std::strchr("()<>@,;:\\\"/[]?={}", c) != nullptr) return false;
  }
  return line.find_first_of("\r\n") == std::string_view::npos;
}

struct Transfer {
  CURL* handle = nullptr;
  std::string body;
  size_t maxBytes = 0;
  bool rejectedStatus = false;  // status other than 200: the body is not read
  bool overflow = false;
  const std::atomic<bool>* abort = nullptr;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  long status = 0;
  curl_easy_getinfo(t->handle, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    t->rejectedStatus = true;
    return 0;  // stops the transfer
  }
  if (t->body.size() + n > t->maxBytes) {
    t->overflow = true;
    return 0;
  }
  t->body.append(data, n);
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* t = static_cast<const Transfer*>(user);
  return (t->abort && t->abort->load()) ? 1 : 0;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

std::string PerformHttpRequest(const HttpRequest& request, const std::atomic<bool>* abort,
                               const HttpTransportLimits& limits) {
  if (abort && abort->load()) return kHttpReplyException;
  const auto parts = SplitHttpUrl(Utf16ToUtf8(request.url));
  if (!parts || (parts->scheme != "http" && parts->scheme != "https")) return kHttpReplyException;

  GlobalInit();
  std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  if (!handle) return kHttpReplyException;
  CURL* h = handle.get();

  const bool ipv6 = parts->host.find(':') != std::string::npos;
  const std::string target = parts->scheme + "://" +
                             (ipv6 ? "[" + parts->host + "]" : parts->host) + ":" +
                             std::to_string(parts->port) + parts->path;

  std::unique_ptr<curl_slist, SlistDeleter> headers;
  auto addHeader = [&](const char* line) {
    curl_slist* next = curl_slist_append(headers.get(), line);
    if (next) {
      headers.release();
      headers.reset(next);
    }
  };
  for (const char* line : request.isJson ? kJsonHeaders : kFormHeaders) {
    if (IsHeaderLine(line)) addHeader(line);
  }
  addHeader("Expect:");  // the body goes out with the request, without a 100-continue round

  // The body up to its first zero byte.
  const size_t bodySize = strnlen(request.body.data(), request.body.size());

  Transfer transfer;
  transfer.handle = h;
  transfer.maxBytes = limits.maxReplyBytes;
  transfer.abort = abort;

  curl_easy_setopt(h, CURLOPT_URL, target.c_str());
  // Certificate and host name are always verified (libcurl's defaults, never switched off); a
  // private service adds its own CA.
  if (!request.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, request.caFile.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodySize));
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.lowSpeedTime.count()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);

  const CURLcode rc = curl_easy_perform(h);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (transfer.rejectedStatus) return HttpStatusReply(status);
  if (rc != CURLE_OK) return kHttpReplyException;
  if (status != 200) return HttpStatusReply(status);
  return std::move(transfer.body);
}

void ExecuteRequest(HttpRequest& request, const std::atomic<bool>* abort) {
  std::string reply;
  try {
    reply = PerformHttpRequest(request, abort);
  } catch (...) {
    reply = kHttpReplyException;
  }
  if (request.events) request.events->OnHttpResult(reply, 1, request.requestCode, request.context);
}

}  // namespace rovik::alarm
