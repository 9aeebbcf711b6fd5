// Sending one request over HTTP with libcurl and turning the outcome into the reply text.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "alarm/cloud/http_request.h"

namespace rovik::alarm {

struct HttpTransportLimits {
  std::chrono::milliseconds connectTimeout{15000};
  // A transfer slower than 1 byte/s for this long is given up.
  std::chrono::seconds lowSpeedTime{60};
  size_t maxReplyBytes = 1024 * 1024;
};

// Sends request as an HTTP POST (user agent "RovikAlarm", the header lines of its kind, its body
// up to the first zero byte; proxies from the usual environment variables) and returns the
// reply text: the body of a 200 reply byte for byte, else {"errno":1,"error":"<status>"}, else
// {"errno":1,"error":"Exception"} for a transport failure, an oversized body, or an abort.
// A set abort flag ends the transfer at the next progress callback.
std::string PerformHttpRequest(const HttpRequest& request, const std::atomic<bool>* abort = nullptr,
                               const HttpTransportLimits& limits = {});

// Sends the request and hands the reply to its sink (if any): the worker's step per request.
void ExecuteRequest(HttpRequest& request, const std::atomic<bool>* abort = nullptr);

}  // namespace rovik::alarm
