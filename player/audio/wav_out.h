// CWavOut: the playback device with its 16 chunk buffers. The feeder writes one chunk at a time;
// a chunk is dropped when all 16 buffers are queued on the device, so playback never lags by
// more than 16 chunks (640 ms).
//
// A device can stall with a buffer in its own thread's hands (a sound server that stopped
// reading): its close is then refused. The buffers, the free list and its lock live in a shared
// core that such a device keeps alive: Close hands the core and the device to a process-wide
// owner that closes the device once its thread has let go, so that nothing the device's thread
// still uses is ever freed under it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "player/audio/backends/audio_backend.h"
#include "player/media/pcm_format.h"

namespace rovik::player {

class CWavOut {
 public:
  static constexpr int kBufferCount = 16;
  // How long Close waits for buffers a device never returns before it takes them back by force.
  static constexpr int kCloseWaitMillis = 2000;
  static constexpr int kClosePollMillis = 80;

  CWavOut();  // on the process's back end
  explicit CWavOut(const AudioBackend& backend);
  CWavOut(const CWavOut&) = delete;
  CWavOut& operator=(const CWavOut&) = delete;
  virtual ~CWavOut();

  // Opens the device and puts the 16 buffers on the free list. 1 when open (or already open),
  // 0 when the device could not be opened.
  int Open();
  // Queues one 640-byte chunk, or drops it when no buffer is free (also while closed).
  void Write(const uint8_t* chunk);
  // Waits for the queued buffers (at most kCloseWaitMillis), then resets and closes the device.
  // A device that refuses to close is left to the process-wide owner (above); the object is
  // closed either way and may be opened again.
  void Close();

  bool isOpen() const;
  int freeCount() const;
  int64_t writtenChunks() const;
  int64_t droppedChunks() const;

  // Devices whose close was refused and that are still not closed. Each call (and each Open)
  // tries to close them again.
  static int StalledDevices();

  struct Core;  // what the device's thread touches: the buffers, the free list, their lock

 private:
  const AudioBackend& backend_;
  const AudioFormat format_;
  // Replaced by a fresh one when a stalled device keeps the old; Open, Write and Close are
  // therefore never called at the same time (the feeder is joined before Close).
  std::shared_ptr<Core> core_;
};

}  // namespace rovik::player
