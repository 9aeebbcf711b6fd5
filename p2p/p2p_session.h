// One P2PAPI instance: a connection to one camera, its reader thread and its two callbacks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "p2p/p2p_api.h"

class P2PSession {
 public:
  static constexpr int kConnectTimeoutMs = 3000;
  static constexpr int kReplyTimeoutMs = 3000;

  explicit P2PSession(int32_t handle);
  P2PSession(const P2PSession&) = delete;
  P2PSession& operator=(const P2PSession&) = delete;
  ~P2PSession();  // closes

  void SetAVCallback(P2PAPI_AVDataCallback callback, intptr_t user);
  void SetMessageCallback(P2PAPI_MessageCallback callback, intptr_t user);

  // Connects and logs in, then starts the reader. P2PAPI_OK or an error code.
  int32_t Connect(const std::string& address, const std::string& user,
                  const std::string& password);
  // Ends the connection and joins the reader (unless called on the reader itself).
  void Close();
  // Sends a start request and waits for the camera's answer: P2PAPI_OK or P2PAPI_REFUSED.
  int32_t Start(uint16_t request, const void* payload, size_t length);
  // Sends one frame: P2PAPI_OK, or P2PAPI_ERR_NOT_CONNECTED.
  int32_t Send(const std::vector<uint8_t>& frame);

  bool connected() const;
  // True on any session's reader thread (inside a callback).
  static bool OnReaderThread();

 private:
  void ReaderLoop(int fd);
  void Dispatch(uint16_t type, const uint8_t* payload, uint32_t length);
  void Notify(intptr_t v1, intptr_t v2, intptr_t v3);

  const int32_t handle_;

  std::mutex callbackLock_;  // guards avCallback_, avUser_, messageCallback_, messageUser_
  P2PAPI_AVDataCallback avCallback_ = nullptr;
  intptr_t avUser_ = 0;
  P2PAPI_MessageCallback messageCallback_ = nullptr;
  intptr_t messageUser_ = 0;

  std::mutex sendLock_;  // serialises writes on the socket; taken before stateLock_

  mutable std::mutex stateLock_;  // guards fd_, connected_, closing_, replyFor_, replyResult_,
                                  // replied_, reader_
  std::condition_variable replyArrived_;
  int fd_ = -1;
  bool connected_ = false;
  bool closing_ = false;
  uint16_t replyFor_ = 0;
  int32_t replyResult_ = 0;
  bool replied_ = false;
  std::thread reader_;  // started by Connect; joined by Close or the destructor
};
