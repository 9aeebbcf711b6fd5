#include "alarm/cloud/http_request.h"

#include <string>

namespace rovik::alarm {

namespace {

void Append(HttpRequest& request, const std::string& text) {
  request.body += text;
  request.bodyLength = static_cast<int>(request.body.size());
}

}  // namespace

void AddFormField(HttpRequest& request, const std::string& name, const std::string& value) {
  Append(request, name + "=" + value + "&");
}

void AddLastFormField(HttpRequest& request, const std::string& name, const std::string& value) {
  Append(request, name + "=" + value);
}

std::string HttpStatusReply(long status) {
  return "{\"errno\":1,\"error\":\"" + std::to_string(status) + "\"}";
}

}  // namespace rovik::alarm
