// The queue of compressed frames between a caller's thread and a worker (the player thread, or a
// recorder's thread). It drops everything until the first key frame, and a key frame that finds
// more than ten frames still waiting discards them so a slow consumer catches up at once.
//
// Beyond that rule the queue has a hard limit, for streams whose key frames are far apart: it
// never holds more than kMaxFrames frames (about two seconds of video) nor more than kMaxBytes
// bytes. A frame that would pass the limit discards every waiting frame; the frame itself is
// kept when it is a key frame, else it is dropped too and so is every frame after it up to the
// next key frame (a decoder cannot use them without the frames they build on). Every frame
// discarded by either rule is counted (Dropped).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace rovik::player {

// One compressed frame: the queue's private copy of the caller's bytes and what travels with it.
struct QueuedFrame {
  std::vector<uint8_t> bytes;  // the frame, exactly as handed in
  int32_t keyFlag = 0;         // 1: decoding (or a recording) can start here
  uint32_t frameValue = 0;     // opaque value of the caller, never interpreted
  int32_t width = 0;           // picture size: 0 in a player's input queue,
  int32_t height = 0;          // the shown picture's size in a recorder's queue

  int32_t length() const { return static_cast<int32_t>(bytes.size()); }
  const uint8_t* data() const { return bytes.data(); }
};

class FrameQueue {
 public:
  // A key frame behind more than this many waiting frames flushes them.
  static constexpr size_t kFlushLimit = 10;
  // The hard limit: frames and bytes waiting at most.
  static constexpr size_t kMaxFrames = 64;
  static constexpr size_t kMaxBytes = size_t{32} << 20;
  // Buffers kept for the next copies, and the largest one kept (a rare large key frame's is
  // freed rather than held).
  static constexpr size_t kSpares = 4;
  static constexpr size_t kMostSpareBytes = size_t{1} << 20;

  FrameQueue() = default;
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;

  // Copies the frame into the queue. Returns false when it was dropped: still waiting for the
  // first key frame (or, after the hard limit was reached, for the next one), a negative
  // length, bytes missing for a non-empty frame, a key flag other than 0 or 1, or no memory for
  // the copy.
  bool Push(const uint8_t* bytes, int32_t length, int32_t keyFlag, uint32_t frameValue,
            int32_t width, int32_t height);

  // Takes the oldest frame; false when the queue is empty. The bytes `out` held before go back
  // to the queue for a later frame's copy: a consumer that keeps one QueuedFrame across its
  // loop makes the queue allocate nothing once it runs.
  bool Pop(QueuedFrame& out);

  // As Pop, but waits up to `timeout` for a frame to arrive (or for Wake).
  bool PopWait(QueuedFrame& out, std::chrono::milliseconds timeout);

  // Ends every PopWait now; used when the consumer is being stopped.
  void Wake();

  // Frees every waiting frame. The key-frame rule is not reset: after the first key frame the
  // queue accepts every frame for its whole life.
  void Clear();

  size_t Count() const;
  size_t Bytes() const;
  bool WaitingForKey() const;
  // Frames discarded so far by the key-frame flush and by the hard limit.
  uint64_t Dropped() const;

 private:
  void DiscardAll();                 // lock_ held
  void TakeFront(QueuedFrame& out);  // lock_ held, frames_ not empty

  // guards frames_, spares_, bytes_, waitingForKey_, skipping_, dropped_, wakeCount_
  mutable std::mutex lock_;
  std::condition_variable arrived_;  // signalled on push and on Wake
  std::deque<QueuedFrame> frames_;
  std::vector<std::vector<uint8_t>> spares_;  // empty buffers for the next copies
  size_t bytes_ = 0;                          // frame bytes in frames_
  bool waitingForKey_ = true;
  bool skipping_ = false;  // waiting for a key frame after the hard limit was reached
  uint64_t dropped_ = 0;
  uint64_t wakeCount_ = 0;
};

}  // namespace rovik::player
