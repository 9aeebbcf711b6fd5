// The event sink of an HTTP request: receives the one reply text of each request on the HTTP
// worker thread.
#pragma once

#include <string>

namespace rovik::alarm {

class IHttpEvents {
 public:
  virtual ~IHttpEvents() = default;
  // reply: the server's body (status 200) or a failure text whose "errno" is 1; flag: always 1;
  // requestCode and context: as the caller put them into the request.
  virtual void OnHttpResult(const std::string& reply, int flag, int requestCode, int context) = 0;
  // A request that will never be sent, and so never get a reply (the queue ended with it still
  // waiting): a sink that counts its requests learns that this one is settled.
  virtual void OnHttpDropped(int /*requestCode*/, int /*context*/) {}
};

}  // namespace rovik::alarm
