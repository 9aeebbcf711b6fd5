// One TCP connection of a P2PAPI instance: the socket, the end mark its reader and its senders
// share, and sends that never wait on the camera for long. The socket is closed when the last
// holder (the session, its reader, a sender in progress) lets go of the connection.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace rovik::p2p {

class P2PConnection {
 public:
  // How long a send may wait for a camera that does not read before the connection is ended.
  static constexpr int kSendTimeoutMs = 1000;
  // Bytes the kernel may hold for a camera that is slow to read; beyond that a send waits.
  static constexpr int kSendBufferBytes = 64 << 10;
  // While video or audio is on, a camera that sends nothing for this long is taken as gone (a
  // hung camera, or one whose power was cut behind a NAT, keeps the connection open but silent).
  static constexpr int kQuietLimitMs = 10000;

  enum class Offer { kSent, kDropped, kFailed };

  explicit P2PConnection(int fd);  // takes the connected socket
  P2PConnection(const P2PConnection&) = delete;
  P2PConnection& operator=(const P2PConnection&) = delete;
  ~P2PConnection();  // closes the socket

  int fd() const { return fd_; }

  // Writes one whole frame within kSendTimeoutMs. False when the camera did not take it in
  // time or is gone; the connection is then ended.
  bool Send(const std::vector<uint8_t>& frame);
  // Writes one frame only as far as the socket takes it now, for data that may be lost (talk-back
  // audio): kDropped when there is no room (or another send is in progress), kFailed when the
  // connection has ended, or its unsent rest has waited longer than kSendTimeoutMs (it is then
  // ended). A frame cut by a full socket is finished before the next one.
  Offer TrySend(const std::vector<uint8_t>& frame);

  // Ends the connection: wakes its reader and every waiting sender. byOwner: closed on purpose
  // (no loss is reported); otherwise the camera failed. Idempotent; the first reason stays.
  void End(bool byOwner);
  bool ended() const { return ended_; }
  bool endedByOwner() const { return endedByOwner_; }

  // Streams the camera was asked for (bits of kStreamVideo, kStreamAudio): while any is on, the
  // camera must not go quiet. Switching one on starts the quiet bound afresh.
  static constexpr int kStreamVideo = 1;
  static constexpr int kStreamAudio = 2;
  void SetStream(int stream, bool on);
  // The reader's bookkeeping: bytes arrived now.
  void Heard();
  // How long the reader may wait for bytes before it must look again (ms); 0 when the camera
  // has been quiet past the bound while a stream is on.
  int QuietWaitMs() const;

 private:
  using Clock = std::chrono::steady_clock;

  // Writes from *data until done or the deadline passes (now: no waiting); the bytes written.
  size_t WriteUntil(const uint8_t* data, size_t length, Clock::time_point deadline, bool* error);
  Offer OfferLocked(const std::vector<uint8_t>& frame);
  // Writes the rest of a cut frame; true when nothing is left.
  bool FlushUnsentLocked(Clock::time_point deadline, bool* error);

  static int64_t NowMs();

  const int fd_;
  std::atomic<int> streams_{0};
  std::atomic<int64_t> heardMs_{0};  // steady clock, ms: the last bytes, or the last stream start
  std::atomic<bool> ended_{false};
  std::atomic<bool> endedByOwner_{false};
  std::once_flag endOnce_;

  // One sender at a time holds the turn; a sender waits for it at most until its own deadline.
  bool TakeTurn(Clock::time_point deadline);
  bool TryTakeTurn();
  void GiveTurn();

  std::mutex turnLock_;  // guards sending_
  std::condition_variable turnFree_;
  bool sending_ = false;
  // Owned by the sender holding the turn.
  std::vector<uint8_t> unsent_;
  Clock::time_point unsentSince_;
};

}  // namespace rovik::p2p
