// One P2PAPI instance: its connection to one camera, the reader thread of that connection and
// its two callbacks. Any call may come from any thread, a callback of this or another instance
// included: nothing here waits for a reader from a reader thread (see ThreadReaper), and no lock
// is held while a callback runs or while the camera is waited for.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "p2p/p2p_api.h"
#include "p2p/protocol/p2p_wire.h"

namespace rovik::p2p {

class P2PConnection;

class P2PSession : public std::enable_shared_from_this<P2PSession> {
 public:
  static constexpr int kConnectTimeoutMs = 3000;
  static constexpr int kReplyTimeoutMs = 3000;

  explicit P2PSession(int32_t handle);
  P2PSession(const P2PSession&) = delete;
  P2PSession& operator=(const P2PSession&) = delete;
  ~P2PSession();  // closes

  void SetAVCallback(P2PAPI_AVDataCallback callback, intptr_t user);
  void SetMessageCallback(P2PAPI_MessageCallback callback, intptr_t user);

  // Connects and logs in (ending any earlier connection first), then starts a reader for the new
  // connection. P2PAPI_OK or an error code; a failure is also reported through the message
  // callback, on this thread, as (1, P2PAPI_STATUS_CONNECT_FAILED, code).
  int32_t Connect(const std::string& address, const std::string& user, const std::string& password);
  // Ends the connection. Its reader is joined here, or, on a reader thread, by a later call.
  // Nothing is delivered for the connection after its current callback.
  void Close();
  // Closes for good: a connect in progress or later is refused.
  void Destroy();
  // Sends a start request and waits for the camera's answer: P2PAPI_OK or P2PAPI_REFUSED. On
  // this connection's own reader thread the answer cannot be read while waiting: the request is
  // sent and counts as accepted.
  int32_t Start(uint16_t request, const void* payload, size_t length);
  // Sends a stop request (STOP_VIDEO, STOP_AUDIO, STOP_TALK) as Send does; the stream no longer
  // keeps the camera under the quiet bound.
  int32_t Stop(uint16_t request);
  // Sends one frame within the send bound: P2PAPI_OK, or P2PAPI_ERR_NOT_CONNECTED (a camera that
  // did not take it in time has its connection ended and reported lost).
  int32_t Send(const std::vector<uint8_t>& frame);
  // Sends a frame that may be lost (talk-back): dropped when the camera is not keeping up.
  // P2PAPI_OK (sent or dropped) or P2PAPI_ERR_NOT_CONNECTED.
  int32_t SendDroppable(const std::vector<uint8_t>& frame);

  bool connected() const;

 private:
  static void ReaderLoop(std::shared_ptr<P2PSession> self,
                         std::shared_ptr<P2PConnection> connection, WireStream stream);
  int32_t ConnectOnce(const std::string& address, const std::string& user,
                      const std::string& password);
  std::shared_ptr<P2PConnection> Current() const;
  void Dispatch(uint16_t type, const uint8_t* payload, uint32_t length);
  void Notify(intptr_t v1, intptr_t v2, intptr_t v3);

  static constexpr int kRequestKinds = 16;  // start requests are frame types below this

  const int32_t handle_;

  std::mutex callbackLock_;  // guards avCallback_, avUser_, messageCallback_, messageUser_
  P2PAPI_AVDataCallback avCallback_ = nullptr;
  intptr_t avUser_ = 0;
  P2PAPI_MessageCallback messageCallback_ = nullptr;
  intptr_t messageUser_ = 0;

  mutable std::mutex stateLock_;  // guards connection_, reader_, destroyed_, replies_,
                                  // replyResults_
  std::condition_variable replyArrived_;
  std::shared_ptr<P2PConnection> connection_;
  std::thread reader_;  // reads connection_; joined (or handed to ThreadReaper) by Close
  bool destroyed_ = false;
  uint32_t replies_[kRequestKinds] = {};  // answers counted per request type
  int32_t replyResults_[kRequestKinds] = {};
};

}  // namespace rovik::p2p
