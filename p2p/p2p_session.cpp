#include "p2p/p2p_session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "p2p/p2p_wire.h"
#include "p2p/tcp_socket.h"

namespace {

// Reads until a whole frame is there or the time is up: for the login reply only.
bool ReadFrameWithin(int fd, WireStream& stream, WireFrame* frame, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t buffer[512];
  while (!stream.Next(frame)) {
    if (stream.broken()) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    if (!stream.Feed(buffer, static_cast<size_t>(n))) return false;
  }
  return true;
}

thread_local bool t_onReader = false;

}  // namespace

bool P2PSession::OnReaderThread() { return t_onReader; }

P2PSession::P2PSession(int32_t handle) : handle_(handle) {}

P2PSession::~P2PSession() {
  // The API never lets the last reference go on the session's own reader thread.
  Close();
}

void P2PSession::SetAVCallback(P2PAPI_AVDataCallback callback, intptr_t user) {
  std::lock_guard<std::mutex> hold(callbackLock_);
  avCallback_ = callback;
  avUser_ = user;
}

void P2PSession::SetMessageCallback(P2PAPI_MessageCallback callback, intptr_t user) {
  std::lock_guard<std::mutex> hold(callbackLock_);
  messageCallback_ = callback;
  messageUser_ = user;
}

int32_t P2PSession::Connect(const std::string& address, const std::string& user,
                            const std::string& password) {
  Close();
  const int fd = TcpConnect(address, kConnectTimeoutMs);
  if (fd < 0) return P2PAPI_ERR_CONNECT;
  const std::vector<uint8_t> login = EncodeLogin(user, password);
  WireStream stream;
  WireFrame reply;
  int32_t result = 1;
  if (!WriteAll(fd, login.data(), login.size()) ||
      !ReadFrameWithin(fd, stream, &reply, kReplyTimeoutMs) || reply.type != kWireLoginReply ||
      !ParseInt32(reply.payload, reply.length, &result)) {
    close(fd);
    return P2PAPI_ERR_CONNECT;
  }
  if (result != 0) {
    close(fd);
    return P2PAPI_ERR_LOGIN;
  }
  std::lock_guard<std::mutex> hold(stateLock_);
  fd_ = fd;
  connected_ = true;
  closing_ = false;
  reader_ = std::thread(&P2PSession::ReaderLoop, this, fd);
  return P2PAPI_OK;
}

void P2PSession::Close() {
  std::thread reader;
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    closing_ = true;
    connected_ = false;
    if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);  // wakes the reader; it closes the socket
    replyArrived_.notify_all();
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) {
      reader = std::move(reader_);
    }
  }
  if (reader.joinable()) reader.join();
  // Senders hold sendLock_ while they write: the socket is closed only between two sends.
  std::lock_guard<std::mutex> sending(sendLock_);
  std::lock_guard<std::mutex> hold(stateLock_);
  if (!reader_.joinable() && fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

int32_t P2PSession::Send(const std::vector<uint8_t>& frame) {
  std::lock_guard<std::mutex> sending(sendLock_);
  int fd = -1;
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (!connected_ || fd_ < 0) return P2PAPI_ERR_NOT_CONNECTED;
    fd = fd_;
  }
  return WriteAll(fd, frame.data(), frame.size()) ? P2PAPI_OK : P2PAPI_ERR_NOT_CONNECTED;
}

int32_t P2PSession::Start(uint16_t request, const void* payload, size_t length) {
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (!connected_) return P2PAPI_REFUSED;
    replyFor_ = request;
    replied_ = false;
  }
  if (Send(EncodeWireFrame(request, payload, length)) != P2PAPI_OK) return P2PAPI_REFUSED;
  std::unique_lock<std::mutex> hold(stateLock_);
  const bool answered = replyArrived_.wait_for(
      hold, std::chrono::milliseconds(kReplyTimeoutMs), [this] { return replied_ || !connected_; });
  if (!answered || !replied_) return P2PAPI_REFUSED;
  return replyResult_ == 0 ? P2PAPI_OK : P2PAPI_REFUSED;
}

bool P2PSession::connected() const {
  std::lock_guard<std::mutex> hold(stateLock_);
  return connected_;
}

void P2PSession::Notify(intptr_t v1, intptr_t v2, intptr_t v3) {
  P2PAPI_MessageCallback callback;
  intptr_t user;
  {
    std::lock_guard<std::mutex> hold(callbackLock_);
    callback = messageCallback_;
    user = messageUser_;
  }
  if (callback != nullptr) callback(handle_, v1, v2, v3, user);
}

void P2PSession::Dispatch(uint16_t type, const uint8_t* payload, uint32_t length) {
  switch (type) {
    case kWireVideoFrame:
    case kWireAudioData: {
      P2PAPI_AVDataCallback callback;
      intptr_t user;
      {
        std::lock_guard<std::mutex> hold(callbackLock_);
        callback = avCallback_;
        user = avUser_;
      }
      const int32_t kind = type == kWireVideoFrame ? P2PAPI_MEDIA_VIDEO : P2PAPI_MEDIA_AUDIO;
      if (callback != nullptr) callback(handle_, kind, payload, static_cast<int32_t>(length), user);
      break;
    }
    case kWireMessage: {
      int64_t v[3];
      if (ParseMessage(payload, length, v)) {
        Notify(static_cast<intptr_t>(v[0]), static_cast<intptr_t>(v[1]), static_cast<intptr_t>(v[2]));
      }
      break;
    }
    case kWireStartReply: {
      uint16_t request = 0;
      int32_t result = 0;
      if (ParseStartReply(payload, length, &request, &result)) {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (request == replyFor_) {
          replyResult_ = result;
          replied_ = true;
          replyArrived_.notify_all();
        }
      }
      break;
    }
    default:
      break;  // frames of later versions are skipped
  }
}

void P2PSession::ReaderLoop(int fd) {
  t_onReader = true;
  Notify(P2PAPI_MSG_STATUS, P2PAPI_STATUS_CONNECTED, 0);
  WireStream stream;
  std::vector<uint8_t> buffer(64 << 10);
  for (;;) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || !stream.Feed(buffer.data(), static_cast<size_t>(n))) break;
    WireFrame frame;
    while (stream.Next(&frame)) Dispatch(frame.type, frame.payload, frame.length);
    if (stream.broken()) break;
  }
  bool lost = false;
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    lost = !closing_;
    connected_ = false;
    replyArrived_.notify_all();
  }
  if (lost) Notify(P2PAPI_MSG_STATUS, P2PAPI_STATUS_LOST, 0);
}
