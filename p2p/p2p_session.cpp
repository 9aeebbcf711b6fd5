#include "p2p/p2p_session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "p2p/p2p_connection.h"
#include "p2p/protocol/tcp_socket.h"
#include "p2p/thread_reaper.h"

namespace rovik::p2p {

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

// The connection whose reader runs on this thread, if any.
thread_local const P2PConnection* t_readerOf = nullptr;

}  // namespace

P2PSession::P2PSession(int32_t handle) : handle_(handle) {}

P2PSession::~P2PSession() {
  // Runs where the last reference goes, which may be this session's own ending reader: Close
  // then hands that thread to the reaper instead of joining it.
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

std::shared_ptr<P2PConnection> P2PSession::Current() const {
  std::lock_guard<std::mutex> hold(stateLock_);
  return connection_;
}

int32_t P2PSession::Connect(const std::string& address, const std::string& user,
                            const std::string& password) {
  const int32_t result = ConnectOnce(address, user, password);
  if (result != P2PAPI_OK && result != P2PAPI_ERR_HANDLE) {
    Notify(P2PAPI_MSG_STATUS, P2PAPI_STATUS_CONNECT_FAILED, result);
  }
  return result;
}

int32_t P2PSession::ConnectOnce(const std::string& address, const std::string& user,
                                const std::string& password) {
  Close();
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (destroyed_) return P2PAPI_ERR_HANDLE;
  }
  const int fd = TcpConnect(address, kConnectTimeoutMs);
  if (fd < 0) return P2PAPI_ERR_CONNECT;
  auto connection = std::make_shared<P2PConnection>(fd);  // owns fd from here
  WireStream stream;
  WireFrame reply;
  int32_t result = 1;
  if (!connection->Send(EncodeLogin(user, password)) ||
      !ReadFrameWithin(fd, stream, &reply, kReplyTimeoutMs) || reply.type != kWireLoginReply ||
      !ParseInt32(reply.payload, reply.length, &result)) {
    return P2PAPI_ERR_CONNECT;
  }
  if (result != 0) return P2PAPI_ERR_LOGIN;

  std::shared_ptr<P2PConnection> earlier;
  std::thread earlierReader;
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (destroyed_) return P2PAPI_ERR_HANDLE;  // destroyed while this connect was under way
    // Another connect that finished meanwhile gives way to this one.
    earlier = std::move(connection_);
    earlierReader = std::move(reader_);
    connection_ = connection;
    reader_ =
        std::thread(&P2PSession::ReaderLoop, shared_from_this(), connection, std::move(stream));
  }
  if (earlier) earlier->End(true);
  ThreadReaper::Get().JoinOrRetire(std::move(earlierReader));
  return P2PAPI_OK;
}

void P2PSession::Close() {
  std::shared_ptr<P2PConnection> connection;
  std::thread reader;
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    connection = std::move(connection_);
    reader = std::move(reader_);
    replyArrived_.notify_all();
  }
  if (connection) connection->End(true);
  ThreadReaper::Get().JoinOrRetire(std::move(reader));
}

void P2PSession::Destroy() {
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    destroyed_ = true;
  }
  Close();
}

int32_t P2PSession::Send(const std::vector<uint8_t>& frame) {
  const std::shared_ptr<P2PConnection> connection = Current();
  if (!connection || connection->ended()) return P2PAPI_ERR_NOT_CONNECTED;
  return connection->Send(frame) ? P2PAPI_OK : P2PAPI_ERR_NOT_CONNECTED;
}

namespace {

// The stream a start or stop request is about, as P2PConnection counts them; 0 for talk-back.
int StreamOf(uint16_t request) {
  switch (request) {
    case kWireStartVideo:
    case kWireStopVideo:
      return P2PConnection::kStreamVideo;
    case kWireStartAudio:
    case kWireStopAudio:
      return P2PConnection::kStreamAudio;
    default:
      return 0;
  }
}

}  // namespace

int32_t P2PSession::Stop(uint16_t request) {
  const std::shared_ptr<P2PConnection> connection = Current();
  if (connection && StreamOf(request) != 0) connection->SetStream(StreamOf(request), false);
  return Send(EncodeWireFrame(request, nullptr, 0));
}

int32_t P2PSession::SendDroppable(const std::vector<uint8_t>& frame) {
  const std::shared_ptr<P2PConnection> connection = Current();
  if (!connection) return P2PAPI_ERR_NOT_CONNECTED;
  return connection->TrySend(frame) == P2PConnection::Offer::kFailed ? P2PAPI_ERR_NOT_CONNECTED
                                                                     : P2PAPI_OK;
}

int32_t P2PSession::Start(uint16_t request, const void* payload, size_t length) {
  if (request >= kRequestKinds) return P2PAPI_REFUSED;
  const std::shared_ptr<P2PConnection> connection = Current();
  if (!connection || connection->ended()) return P2PAPI_REFUSED;
  const std::vector<uint8_t> frame = EncodeWireFrame(request, payload, length);
  if (t_readerOf == connection.get()) {
    // Called from this connection's own callback: the answer would be read by this very thread.
    if (!connection->Send(frame)) return P2PAPI_REFUSED;
    if (StreamOf(request) != 0) connection->SetStream(StreamOf(request), true);
    return P2PAPI_OK;
  }
  uint32_t asked;
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    asked = replies_[request];
  }
  if (!connection->Send(frame)) return P2PAPI_REFUSED;
  std::unique_lock<std::mutex> hold(stateLock_);
  const bool answered =
      replyArrived_.wait_for(hold, std::chrono::milliseconds(kReplyTimeoutMs),
                             [&] { return replies_[request] != asked || connection->ended(); });
  if (!answered || replies_[request] == asked || replyResults_[request] != 0) return P2PAPI_REFUSED;
  if (StreamOf(request) != 0) connection->SetStream(StreamOf(request), true);
  return P2PAPI_OK;
}

bool P2PSession::connected() const {
  const std::shared_ptr<P2PConnection> connection = Current();
  return connection && !connection->ended();
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
        // value1 P2PAPI_MSG_STATUS is the library's own: a camera cannot report a state.
        if (v[0] == P2PAPI_MSG_STATUS) v[0] = P2PAPI_MSG_CAMERA_RESERVED;
        Notify(static_cast<intptr_t>(v[0]), static_cast<intptr_t>(v[1]),
               static_cast<intptr_t>(v[2]));
      }
      break;
    }
    case kWireStartReply: {
      uint16_t request = 0;
      int32_t result = 0;
      if (ParseStartReply(payload, length, &request, &result) && request < kRequestKinds) {
        std::lock_guard<std::mutex> hold(stateLock_);
        ++replies_[request];
        replyResults_[request] = result;
        replyArrived_.notify_all();
      }
      break;
    }
    default:
      break;  // frames of later versions are skipped
  }
}

void P2PSession::ReaderLoop(std::shared_ptr<P2PSession> self,
                            std::shared_ptr<P2PConnection> connection, WireStream stream) {
  ThreadReaper::MarkReaderThread();
  t_readerOf = connection.get();
  if (!connection->ended()) self->Notify(P2PAPI_MSG_STATUS, P2PAPI_STATUS_CONNECTED, 0);
  std::vector<uint8_t> buffer(64 << 10);
  WireFrame frame;
  for (;;) {
    // Frames already here (after the login reply, or from the last read) first.
    while (!connection->ended() && stream.Next(&frame)) {
      self->Dispatch(frame.type, frame.payload, frame.length);
    }
    if (connection->ended() || stream.broken()) break;
    // Bounded wait: a camera that keeps the connection but sends nothing while a stream is on
    // is taken as gone.
    const int wait = connection->QuietWaitMs();
    if (wait == 0) break;
    pollfd p{connection->fd(), POLLIN, 0};
    const int ready = poll(&p, 1, wait);
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    if (ready < 0) break;
    const ssize_t n = recv(connection->fd(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0 || !stream.Feed(buffer.data(), static_cast<size_t>(n))) break;
    connection->Heard();
  }
  connection->End(false);  // a camera that went away or broke the stream: no effect after Close
  {
    std::lock_guard<std::mutex> hold(self->stateLock_);
    self->replyArrived_.notify_all();
  }
  if (!connection->endedByOwner()) {
    self->Notify(P2PAPI_MSG_STATUS, P2PAPI_STATUS_LOST, 0);
  }
  t_readerOf = nullptr;
}

}  // namespace rovik::p2p
