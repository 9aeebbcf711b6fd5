#include "p2p/p2p_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace rovik::p2p {

P2PConnection::P2PConnection(int fd) : fd_(fd) {
  // A fixed, small send buffer: what a camera that stops reading can hold up stays bounded.
  int bytes = kSendBufferBytes;
  setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

P2PConnection::~P2PConnection() { close(fd_); }

int64_t P2PConnection::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

void P2PConnection::SetStream(int stream, bool on) {
  if (on) {
    heardMs_ = NowMs();
    streams_.fetch_or(stream);
  } else {
    streams_.fetch_and(~stream);
  }
}

void P2PConnection::Heard() { heardMs_ = NowMs(); }

int P2PConnection::QuietWaitMs() const {
  // Without a stream the reader still looks once a second, so that a stream switched on while
  // it waits has its bound kept.
  constexpr int kIdleLookMs = 1000;
  if (streams_.load() == 0) return kIdleLookMs;
  const int64_t left = heardMs_.load() + kQuietLimitMs - NowMs();
  if (left <= 0) return 0;
  return static_cast<int>(left < kIdleLookMs ? left : kIdleLookMs);
}

size_t P2PConnection::WriteUntil(const uint8_t* data, size_t length, Clock::time_point deadline,
                                 bool* error) {
  size_t done = 0;
  while (done < length && !ended_) {
    const ssize_t n = send(fd_, data + done, length - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      *error = true;
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd_, POLLOUT, 0};
    // End() shuts the socket down, which wakes this wait at once.
    if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
      *error = true;
      break;
    }
  }
  if (ended_) *error = true;
  return done;
}

bool P2PConnection::FlushUnsentLocked(Clock::time_point deadline, bool* error) {
  if (unsent_.empty()) return true;
  const size_t n = WriteUntil(unsent_.data(), unsent_.size(), deadline, error);
  unsent_.erase(unsent_.begin(), unsent_.begin() + static_cast<std::ptrdiff_t>(n));
  return unsent_.empty();
}

bool P2PConnection::TakeTurn(Clock::time_point deadline) {
  std::unique_lock<std::mutex> hold(turnLock_);
  if (!turnFree_.wait_until(hold, deadline, [this] { return !sending_; })) return false;
  sending_ = true;
  return true;
}

bool P2PConnection::TryTakeTurn() {
  std::lock_guard<std::mutex> hold(turnLock_);
  if (sending_) return false;
  sending_ = true;
  return true;
}

void P2PConnection::GiveTurn() {
  {
    std::lock_guard<std::mutex> hold(turnLock_);
    sending_ = false;
  }
  turnFree_.notify_one();
}

bool P2PConnection::Send(const std::vector<uint8_t>& frame) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
  // Another sender holds the turn at most until the same bound: if it is still stuck by then,
  // the camera is not reading and that sender ends the connection.
  if (!TakeTurn(deadline)) return false;
  bool whole = false;
  if (!ended_) {
    bool error = false;
    whole = FlushUnsentLocked(deadline, &error);
    if (whole) whole = WriteUntil(frame.data(), frame.size(), deadline, &error) == frame.size();
    if (!whole) End(false);
  }
  GiveTurn();
  return whole;
}

P2PConnection::Offer P2PConnection::TrySend(const std::vector<uint8_t>& frame) {
  if (ended_) return Offer::kFailed;
  if (!TryTakeTurn()) return Offer::kDropped;
  const Offer offer = OfferLocked(frame);
  GiveTurn();
  return offer;
}

P2PConnection::Offer P2PConnection::OfferLocked(const std::vector<uint8_t>& frame) {
  const auto now = Clock::now();
  bool error = false;
  if (!FlushUnsentLocked(now, &error)) {
    if (error || now - unsentSince_ > std::chrono::milliseconds(kSendTimeoutMs)) {
      End(false);
      return Offer::kFailed;
    }
    return Offer::kDropped;
  }
  const size_t n = error ? 0 : WriteUntil(frame.data(), frame.size(), now, &error);
  if (error) {
    End(false);
    return Offer::kFailed;
  }
  if (n == 0) return Offer::kDropped;
  if (n < frame.size()) {
    // Cut by a full socket: the rest must follow before anything else, or the stream breaks.
    unsent_.assign(frame.begin() + static_cast<std::ptrdiff_t>(n), frame.end());
    unsentSince_ = now;
  }
  return Offer::kSent;
}

void P2PConnection::End(bool byOwner) {
  std::call_once(endOnce_, [&] {
    endedByOwner_ = byOwner;
    ended_ = true;
    shutdown(fd_, SHUT_RDWR);  // wakes the reader's recv and any sender's poll
  });
}

}  // namespace rovik::p2p
