// One queued HTTP request and the functions that build its form body.
#pragma once

#include <string>

#include "alarm/cloud/http_events.h"

namespace rovik::alarm {

struct HttpRequest {
  IHttpEvents* events = nullptr;  // not owned; null = the reply is dropped
  int requestCode = 0;            // passed back in OnHttpResult
  std::u16string url;             // scheme://host[:port]/path
  int context = 0;                // passed back in OnHttpResult
  int isJson = 0;                 // 1 = JSON headers; 0 = form headers
  std::string body;               // sent up to its first zero byte
  int bodyLength = 0;             // bytes in body, kept up to date by the form functions
  std::string caFile;             // PEM the server's certificate must chain to, besides the
                                  // system's trust store; empty: the trust store alone
};

// Appends name "=" value "&" to the body (no percent-encoding).
void AddFormField(HttpRequest& request, const std::string& name, const std::string& value);
// Appends name "=" value, the last field of a form, without a trailing "&".
void AddLastFormField(HttpRequest& request, const std::string& name, const std::string& value);

// The reply texts of failed requests.
inline constexpr char kHttpReplyException[] = "{\"errno\":1,\"error\":\"Exception\"}";
// {"errno":1,"error":"<status>"} for a status other than 200.
std::string HttpStatusReply(long status);

}  // namespace rovik::alarm
